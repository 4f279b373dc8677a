#include "platform/wql/object_model.h"

#include <algorithm>

#include "platform/text.h"

namespace zel::wql {

using namespace zel::platform;

void Object::Set(std::string_view name, Variant value) {
  for (auto& [n, v] : properties_)
    if (EqualsNoCaseAscii(n, name)) {
      v = std::move(value);
      return;
    }
  properties_.emplace_back(std::string(name), std::move(value));
}

bool Object::Remove(std::string_view name) {
  auto it = std::find_if(properties_.begin(), properties_.end(),
                         [&](const auto& p) { return EqualsNoCaseAscii(p.first, name); });
  if (it == properties_.end()) return false;
  properties_.erase(it);
  return true;
}

const Variant* Object::Find(std::string_view name) const {
  for (const auto& [n, v] : properties_)
    if (EqualsNoCaseAscii(n, name)) return &v;
  return nullptr;
}

void ObjectModel::Invalidate() {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  indexed_ = false;
  index_.clear();
  classIndexed_ = false;
  byClass_.clear();
  byText_.clear();
  associationsIndexed_ = false;
  associations_.clear();
}

void ObjectModel::DeclareClass(std::string_view name, std::string_view keyProperty) {
  Invalidate();
  for (ClassInfo& c : classes_)
    if (EqualsNoCaseAscii(c.name, name)) {
      c.key = std::string(keyProperty);
      return;
    }
  classes_.push_back(ClassInfo{std::string(name), std::string(keyProperty), {}});
}

void ObjectModel::DeclareAssociation(std::string_view name, std::vector<std::string> references) {
  Invalidate();
  for (ClassInfo& c : classes_)
    if (EqualsNoCaseAscii(c.name, name)) {
      c.references = std::move(references);
      return;
    }
  classes_.push_back(ClassInfo{std::string(name), std::string(), std::move(references)});
}

const ClassInfo* ObjectModel::FindClass(std::string_view name) const {
  for (const ClassInfo& c : classes_)
    if (EqualsNoCaseAscii(c.name, name)) return &c;
  return nullptr;
}

std::vector<const ClassInfo*> ObjectModel::AssociationClasses() const {
  std::vector<const ClassInfo*> out;
  for (const ClassInfo& c : classes_)
    if (c.IsAssociation()) out.push_back(&c);
  return out;
}

Object& ObjectModel::Add(Object object) {
  Invalidate();
  if (!FindClass(object.ClassName())) DeclareClass(object.ClassName());
  objects_.push_back(std::make_unique<Object>(std::move(object)));
  return *objects_.back();
}

void ObjectModel::FillOnDemand(std::vector<std::string> classNames, std::function<void(ObjectModel&)> fill) {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  pending_.push_back(PendingFill{std::move(classNames), std::move(fill)});
}

void ObjectModel::MakeInstances(std::string_view className) const {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  for (size_t i = 0; i < pending_.size();) {
    bool wanted = false;
    for (const std::string& name : pending_[i].classNames) {
      const ClassInfo* info = className.empty() ? FindClass(name) : nullptr;
      if (className.empty() ? info && info->IsAssociation() : EqualsNoCaseAscii(name, className)) wanted = true;
    }
    if (!wanted) {
      ++i;
      continue;
    }
    // Taken out before it runs: a fill that looks its own classes up does
    // not start itself again.
    std::function<void(ObjectModel&)> fill = std::move(pending_[i].fill);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
    // The model is never made const (it is handed out as const after
    // construction), so filling it from a const lookup is sound; the index
    // mutex keeps other readers out meanwhile.
    fill(const_cast<ObjectModel&>(*this));
    ++fillsRun_;
    i = 0;
  }
}

std::vector<const Object*> ObjectModel::InstancesOf(std::string_view className) const {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  MakeInstances(className);
  if (!classIndexed_) {
    for (const auto& o : objects_) byClass_[ToLowerAscii(o->ClassName())].push_back(o.get());
    classIndexed_ = true;
  }
  auto it = byClass_.find(ToLowerAscii(className));
  return it == byClass_.end() ? std::vector<const Object*>() : it->second;
}

std::vector<Object*> ObjectModel::InstancesOf(std::string_view className) {
  MakeInstances(className);
  Invalidate();
  std::vector<Object*> out;
  for (const auto& o : objects_)
    if (EqualsNoCaseAscii(o->ClassName(), className)) out.push_back(o.get());
  return out;
}

const Object* ObjectModel::FindByKey(std::string_view className, std::string_view keyValue) const {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  MakeInstances(className);
  if (!indexed_) {
    for (const auto& o : objects_) {
      const ClassInfo* info = FindClass(o->ClassName());
      if (!info || info->key.empty()) continue;
      const Variant* key = o->Find(info->key);
      if (!key) continue;
      std::optional<std::string> text = ComparableText(*key);
      if (!text) continue;
      index_.emplace(ToLowerAscii(o->ClassName()) + '\0' + ToLowerAscii(*text), o.get());
    }
    indexed_ = true;
  }
  auto it = index_.find(ToLowerAscii(className) + '\0' + ToLowerAscii(keyValue));
  return it == index_.end() ? nullptr : it->second;
}

std::vector<std::pair<size_t, const Object*>> ObjectModel::InstancesWithText(
    std::string_view className, std::string_view property, std::string_view text) const {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  MakeInstances(className);
  std::string lowerClass = ToLowerAscii(className);
  auto [entry, fresh] = byText_.try_emplace(lowerClass + '\0' + ToLowerAscii(property));
  if (fresh) {
    for (size_t i = 0; i < objects_.size(); ++i) {
      const Object& o = *objects_[i];
      if (ToLowerAscii(o.ClassName()) != lowerClass) continue;
      const Variant* v = o.Find(property);
      if (!v) continue;
      if (std::optional<std::string> t = ComparableText(*v))
        entry->second[ToLowerAscii(*t)].emplace_back(i, &o);
    }
  }
  auto it = entry->second.find(ToLowerAscii(text));
  return it == entry->second.end() ? std::vector<std::pair<size_t, const Object*>>() : it->second;
}

std::vector<const Object*> ObjectModel::AssociationsOf(const Object& target) const {
  std::lock_guard<std::recursive_mutex> lock(indexMutex_);
  MakeInstances({});
  // Resolving a reference may fill the class it names, which adds objects
  // and drops the indexes: then the index is built again from the start.
  while (!associationsIndexed_) {
    const size_t fillsBefore = fillsRun_;
    associations_.clear();
    for (size_t i = 0; i < objects_.size(); ++i) {
      const Object* o = objects_[i].get();
      const ClassInfo* info = FindClass(o->ClassName());
      if (!info || !info->IsAssociation()) continue;
      std::vector<const Object*> seen;
      for (const std::string& ref : info->references) {
        const Variant* v = o->Find(ref);
        const Object* referenced = v ? ResolveReference(*v) : nullptr;
        if (!referenced || std::find(seen.begin(), seen.end(), referenced) != seen.end()) continue;
        seen.push_back(referenced);
        associations_[referenced].push_back(o);
      }
    }
    associationsIndexed_ = fillsRun_ == fillsBefore;
  }
  auto it = associations_.find(&target);
  return it == associations_.end() ? std::vector<const Object*>() : it->second;
}

const Object* ObjectModel::Resolve(const ObjectPath& path) const {
  const ClassInfo* info = FindClass(path.className);
  if (!info || !EqualsNoCaseAscii(info->key, path.keyName)) return nullptr;
  if (const Object* o = FindByKey(path.className, path.value)) return o;
  return FindByKey(path.className, path.raw);
}

const Object* ObjectModel::ResolveReference(const Variant& reference) const {
  if (reference.vt != VT_BSTR) return nullptr;
  std::optional<ObjectPath> path = ParseObjectPath(reference.text);
  if (!path) return nullptr;
  return Resolve(*path);
}

std::string ObjectModel::PathOf(std::string_view className, std::string_view keyValue) const {
  const ClassInfo* info = FindClass(className);
  std::string key = info && !info->key.empty() ? info->key : "DeviceID";
  std::string name = info ? info->name : std::string(className);
  return "\\\\" + computerName_ + "\\root\\cimv2:" + name + "." + key + "=\"" +
         EscapeWql(keyValue) + "\"";
}

std::string ObjectModel::PathOf(const Object& object) const {
  const ClassInfo* info = FindClass(object.ClassName());
  std::string keyValue;
  if (info && !info->key.empty())
    if (const Variant* key = object.Find(info->key))
      keyValue = ComparableText(*key).value_or(std::string());
  return PathOf(object.ClassName(), keyValue);
}

std::string EscapeWql(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string UnescapeWql(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 1 < text.size() &&
        (text[i + 1] == '\\' || text[i + 1] == '"' || text[i + 1] == '\'')) {
      out += text[++i];
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

}  // namespace

std::optional<ObjectPath> ParseObjectPath(std::string_view text) {
  size_t pos = 0;
  auto skipBlanks = [&] {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  };
  skipBlanks();
  // "\\HOST\root\cimv2:" in front of the relative path.
  if (text.substr(pos, 2) == "\\\\") {
    size_t colon = text.find(':', pos);
    if (colon == std::string_view::npos) return std::nullopt;
    pos = colon + 1;
  }
  ObjectPath path;
  auto ident = [&](std::string* out) {
    size_t start = pos;
    if (pos >= text.size() || !IsIdentStart(text[pos])) return false;
    while (pos < text.size() && IsIdentChar(text[pos])) ++pos;
    *out = std::string(text.substr(start, pos - start));
    return true;
  };
  if (!ident(&path.className)) return std::nullopt;
  if (pos >= text.size() || text[pos] != '.') return std::nullopt;
  ++pos;
  if (!ident(&path.keyName)) return std::nullopt;
  skipBlanks();
  if (pos >= text.size() || text[pos] != '=') return std::nullopt;
  ++pos;
  skipBlanks();
  if (pos >= text.size()) return std::nullopt;
  char quote = text[pos];
  if (quote == '\'' || quote == '"') {
    size_t start = ++pos;
    while (pos < text.size() && text[pos] != quote) {
      if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
      ++pos;
    }
    if (pos >= text.size()) return std::nullopt;
    path.raw = std::string(text.substr(start, pos - start));
    ++pos;
  } else {
    size_t start = pos;
    while (pos < text.size() && ((text[pos] >= '0' && text[pos] <= '9') || text[pos] == '-')) ++pos;
    if (pos == start) return std::nullopt;
    path.raw = std::string(text.substr(start, pos - start));
  }
  skipBlanks();
  if (pos != text.size()) return std::nullopt;
  path.value = UnescapeWql(path.raw);
  return path;
}

std::optional<std::string> ComparableText(const Variant& value) {
  switch (value.vt) {
    case VT_BSTR:
      return value.text;
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
      return std::to_string(value.integer);
    case VT_UI8:
      return std::to_string(static_cast<uint64_t>(value.integer));
    default:
      return std::nullopt;
  }
}

}  // namespace zel::wql
