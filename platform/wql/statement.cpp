#include "platform/wql/statement.h"

#include <algorithm>

#include "platform/text.h"

namespace zel::wql {

using namespace zel::platform;

namespace {

struct Token {
  enum class Kind { Ident, Number, String, Star, Equals, Path, End, Bad } kind = Kind::End;
  std::string text;  // identifier, digits, unescaped string, path contents
  std::string raw;   // a string as written between its quotes
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    Token t;
    if (pos_ >= text_.size()) return t;
    char c = text_[pos_];
    if (IsIdentStart(c)) {
      size_t start = pos_;
      while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
      t.kind = Token::Kind::Ident;
      t.text = std::string(text_.substr(start, pos_ - start));
    } else if (IsDigit(c) || (c == '-' && pos_ + 1 < text_.size() && IsDigit(text_[pos_ + 1]))) {
      size_t start = pos_++;
      while (pos_ < text_.size() && IsDigit(text_[pos_])) ++pos_;
      t.kind = Token::Kind::Number;
      t.text = std::string(text_.substr(start, pos_ - start));
      if (pos_ < text_.size() && IsIdentChar(text_[pos_])) t.kind = Token::Kind::Bad;
    } else if (c == '\'' || c == '"') {
      size_t start = ++pos_;
      while (pos_ < text_.size() && text_[pos_] != c) {
        if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
        ++pos_;
      }
      if (pos_ >= text_.size()) {
        t.kind = Token::Kind::Bad;
        return t;
      }
      t.kind = Token::Kind::String;
      t.raw = std::string(text_.substr(start, pos_ - start));
      t.text = UnescapeWql(t.raw);
      ++pos_;
    } else if (c == '{') {
      size_t start = ++pos_;
      char quote = 0;
      while (pos_ < text_.size()) {
        char d = text_[pos_];
        if (quote) {
          if (d == '\\' && pos_ + 1 < text_.size()) {
            ++pos_;
          } else if (d == quote) {
            quote = 0;
          }
        } else if (d == '\'' || d == '"') {
          quote = d;
        } else if (d == '}') {
          break;
        }
        ++pos_;
      }
      if (pos_ >= text_.size()) {
        t.kind = Token::Kind::Bad;
        return t;
      }
      t.kind = Token::Kind::Path;
      t.text = std::string(text_.substr(start, pos_ - start));
      ++pos_;
    } else if (c == '*') {
      ++pos_;
      t.kind = Token::Kind::Star;
    } else if (c == '=') {
      ++pos_;
      t.kind = Token::Kind::Equals;
    } else {
      t.kind = Token::Kind::Bad;
    }
    return t;
  }

 private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsIdentStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  }
  static bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

  std::string_view text_;
  size_t pos_ = 0;
};

bool IsKeyword(const Token& t, std::string_view word) {
  return t.kind == Token::Kind::Ident && EqualsNoCaseAscii(t.text, word);
}

// A condition literal as an integer property's decimal text ("007" is "7",
// "-0" is "0"); nothing when the literal is no number.
std::optional<std::string> NumberText(const std::string& literal) {
  if (literal.empty()) return std::nullopt;
  size_t digitsFrom = literal[0] == '-' ? 1 : 0;
  if (digitsFrom >= literal.size()) return std::nullopt;
  for (size_t i = digitsFrom; i < literal.size(); ++i)
    if (literal[i] < '0' || literal[i] > '9') return std::nullopt;
  size_t first = digitsFrom;
  while (first + 1 < literal.size() && literal[first] == '0') ++first;
  std::string normal = (digitsFrom ? "-" : "") + literal.substr(first);
  if (normal == "-0") normal = "0";
  return normal;
}

// Does a property value equal the literal of a condition? A text equals the
// literal unescaped or as written, without case; an integer equals a number
// or a quoted number.
bool ValueMatches(const Variant& value, const Statement& s) {
  if (value.vt == VT_BSTR)
    return EqualsNoCaseAscii(value.text, s.value) || EqualsNoCaseAscii(value.text, s.rawValue);
  std::optional<std::string> text = ComparableText(value);
  std::optional<std::string> number = NumberText(s.value);
  return text && number && *number == *text;
}

// The instances of a condition's class that satisfy it, in order of
// addition. Every match has one of the literal's comparable forms as its
// text, so the property index gives the candidates and ValueMatches decides.
std::vector<const Object*> MatchingInstances(const ObjectModel& model, const Statement& s) {
  std::vector<std::string> forms{s.value, s.rawValue};
  if (std::optional<std::string> number = NumberText(s.value)) forms.push_back(*number);
  std::vector<std::pair<size_t, const Object*>> candidates;
  for (const std::string& form : forms)
    for (const auto& c : model.InstancesWithText(s.className, s.property, form))
      candidates.push_back(c);
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  std::vector<const Object*> out;
  for (const auto& [position, o] : candidates) {
    const Variant* v = o->Find(s.property);
    if (v && ValueMatches(*v, s)) out.push_back(o);
  }
  return out;
}

}  // namespace

std::optional<Statement> ParseStatement(std::string_view text) {
  Lexer lex(text);
  Statement s;
  Token t = lex.Next();
  if (IsKeyword(t, "SELECT")) {
    s.kind = Statement::Kind::Select;
    if (lex.Next().kind != Token::Kind::Star) return std::nullopt;
    if (!IsKeyword(lex.Next(), "FROM")) return std::nullopt;
    Token cls = lex.Next();
    if (cls.kind != Token::Kind::Ident) return std::nullopt;
    s.className = cls.text;
    t = lex.Next();
    if (t.kind == Token::Kind::End) return s;
    if (!IsKeyword(t, "WHERE")) return std::nullopt;
    Token prop = lex.Next();
    if (prop.kind != Token::Kind::Ident) return std::nullopt;
    if (lex.Next().kind != Token::Kind::Equals) return std::nullopt;
    Token literal = lex.Next();
    if (literal.kind == Token::Kind::Number) {
      s.valueIsNumber = true;
      s.value = s.rawValue = literal.text;
    } else if (literal.kind == Token::Kind::String) {
      s.value = literal.text;
      s.rawValue = literal.raw;
    } else {
      return std::nullopt;
    }
    s.hasCondition = true;
    s.property = prop.text;
    if (lex.Next().kind != Token::Kind::End) return std::nullopt;
    return s;
  }
  if (IsKeyword(t, "ASSOCIATORS")) {
    s.kind = Statement::Kind::Associators;
    if (!IsKeyword(lex.Next(), "OF")) return std::nullopt;
    Token path = lex.Next();
    if (path.kind != Token::Kind::Path || !ParseObjectPath(path.text)) return std::nullopt;
    s.sourcePath = path.text;
    t = lex.Next();
    if (t.kind == Token::Kind::End) return s;
    if (!IsKeyword(t, "WHERE")) return std::nullopt;
    bool any = false;
    for (t = lex.Next(); t.kind != Token::Kind::End; t = lex.Next()) {
      std::string* slot = nullptr;
      if (IsKeyword(t, "ResultClass")) slot = &s.resultClass;
      if (IsKeyword(t, "AssocClass")) slot = &s.assocClass;
      if (!slot || !slot->empty()) return std::nullopt;
      if (lex.Next().kind != Token::Kind::Equals) return std::nullopt;
      Token cls = lex.Next();
      if (cls.kind != Token::Kind::Ident) return std::nullopt;
      *slot = cls.text;
      any = true;
    }
    if (!any) return std::nullopt;
    return s;
  }
  return std::nullopt;
}

std::vector<std::string> ClassesOf(const Statement& s) {
  std::vector<std::string> out;
  if (s.kind == Statement::Kind::Select) {
    out.push_back(s.className);
    return out;
  }
  if (std::optional<ObjectPath> p = ParseObjectPath(s.sourcePath)) out.push_back(p->className);
  if (!s.resultClass.empty()) out.push_back(s.resultClass);
  if (!s.assocClass.empty()) out.push_back(s.assocClass);
  return out;
}

QueryResult Execute(const ObjectModel& model, std::string_view text) {
  std::optional<Statement> s = ParseStatement(text);
  if (!s) {
    QueryResult r;
    r.status = WBEM_E_INVALID_QUERY;
    return r;
  }
  return Execute(model, *s);
}

QueryResult Execute(const ObjectModel& model, const Statement& s) {
  QueryResult r;
  if (s.kind == Statement::Kind::Select) {
    if (!model.FindClass(s.className)) {
      r.status = WBEM_E_INVALID_CLASS;
      return r;
    }
    r.objects = s.hasCondition ? MatchingInstances(model, s) : model.InstancesOf(s.className);
    return r;
  }

  std::optional<ObjectPath> path = ParseObjectPath(s.sourcePath);
  const Object* source = path ? model.Resolve(*path) : nullptr;
  if (!source) {
    r.deferred = WBEM_E_NOT_FOUND;
    return r;
  }
  // Every association instance with a reference to the source contributes
  // the objects its other references name; each object comes once. The
  // association classes are taken in the order they were declared.
  std::vector<const Object*> linked = model.AssociationsOf(*source);
  auto consider = [&](const ClassInfo& info) {
    for (const Object* assoc : linked) {
      if (!EqualsNoCaseAscii(assoc->ClassName(), info.name)) continue;
      for (const std::string& ref : info.references) {
        const Variant* v = assoc->Find(ref);
        const Object* other = v ? model.ResolveReference(*v) : nullptr;
        if (!other || other == source) continue;
        if (!s.resultClass.empty() && !EqualsNoCaseAscii(other->ClassName(), s.resultClass))
          continue;
        if (std::find(r.objects.begin(), r.objects.end(), other) == r.objects.end())
          r.objects.push_back(other);
      }
    }
  };
  if (!s.assocClass.empty()) {
    const ClassInfo* info = model.FindClass(s.assocClass);
    if (info && info->IsAssociation()) consider(*info);
  } else {
    for (const ClassInfo* info : model.AssociationClasses()) consider(*info);
  }
  return r;
}

}  // namespace zel::wql
