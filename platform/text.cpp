#include "platform/text.h"

#include <algorithm>
#include <cstdint>

namespace zel {

namespace {

// Decodes one code point at `i`; invalid sequences yield the byte itself.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  auto b = static_cast<unsigned char>(s[i]);
  auto cont = [&](size_t k) -> int {
    if (i + k >= s.size()) return -1;
    auto c = static_cast<unsigned char>(s[i + k]);
    return (c & 0xC0) == 0x80 ? (c & 0x3F) : -1;
  };
  if (b < 0x80) {
    ++i;
    return b;
  }
  if ((b & 0xE0) == 0xC0 && b >= 0xC2) {
    int c1 = cont(1);
    if (c1 >= 0) {
      i += 2;
      return static_cast<char32_t>(((b & 0x1F) << 6) | c1);
    }
  } else if ((b & 0xF0) == 0xE0) {
    int c1 = cont(1), c2 = cont(2);
    if (c1 >= 0 && c2 >= 0) {
      char32_t cp = static_cast<char32_t>(((b & 0x0F) << 12) | (c1 << 6) | c2);
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) {
        i += 3;
        return cp;
      }
    }
  } else if ((b & 0xF8) == 0xF0 && b <= 0xF4) {
    int c1 = cont(1), c2 = cont(2), c3 = cont(3);
    if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
      char32_t cp = static_cast<char32_t>(((b & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3);
      if (cp >= 0x10000 && cp <= 0x10FFFF) {
        i += 4;
        return cp;
      }
    }
  }
  ++i;
  return b;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    char32_t cp = DecodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t byteCount) {
  std::u16string units;
  for (size_t i = 0; i + 1 < byteCount; i += 2) {
    char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) break;
    units += c;
  }
  return Utf16ToUtf8(units);
}

std::string Utf8ToUtf16LeBytes(std::string_view utf8, bool withNul) {
  std::u16string units = Utf8ToUtf16(utf8);
  if (withNul) units += u'\0';
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t c : units) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

size_t Utf16Length(std::string_view utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) n += DecodeUtf8(utf8, i) >= 0x10000 ? 2 : 1;
  return n;
}

std::string TruncateUtf16(std::string_view utf8, size_t maxUnits) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    // An ASCII byte is one unit (most texts are ASCII throughout).
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      if (units + 1 > maxUnits) break;
      ++units;
      ++i;
      continue;
    }
    size_t next = i;
    size_t w = DecodeUtf8(utf8, next) >= 0x10000 ? 2 : 1;
    if (units + w > maxUnits) break;
    units += w;
    i = next;
  }
  return std::string(utf8.substr(0, i));
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) AppendUtf8(out, c);
  return out;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string ToUpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EqualsNoCaseAscii(std::string_view a, std::string_view b) {
  // Compared in place: lookups by name run for every object of a query, so
  // no copies are made.
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string TrimBlanks(std::string_view text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return std::string();
  size_t e = text.find_last_not_of(" \t\r\n");
  return std::string(text.substr(b, e - b + 1));
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

}  // namespace zel

#include <climits>
#include <cwchar>

namespace zel {

std::string ToLocaleMultibyte(std::string_view utf8, bool* complete) {
  // ASCII is the same in every code page the platform offers, and leaves a
  // stateful encoding in its initial state: the ASCII start of the text is
  // taken as it is, one character at a time only from the first other one.
  size_t ascii = 0;
  while (ascii < utf8.size() && static_cast<unsigned char>(utf8[ascii]) < 0x80) ++ascii;
  std::string out(utf8.substr(0, ascii));
  if (ascii == utf8.size()) {
    if (complete) *complete = true;
    return out;
  }
  std::u16string units = Utf8ToUtf16(utf8.substr(ascii));
  std::mbstate_t state{};
  char buf[MB_LEN_MAX > 16 ? MB_LEN_MAX : 16];
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units.size()) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    size_t n = std::wcrtomb(buf, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<size_t>(-1)) {
      if (complete) *complete = false;
      return out;
    }
    out.append(buf, n);
  }
  if (complete) *complete = true;
  return out;
}

std::string ToLocaleMultibyteReplacing(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {  // ASCII is the same in every code page the platform offers
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // One character at a time: its UTF-8 sequence by the lead byte (a byte
    // that leads nothing stands for itself).
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    length = std::min(length, utf8.size() - i);
    for (size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80) {
        length = k;
        break;
      }
    bool complete = false;
    std::string one = ToLocaleMultibyte(utf8.substr(i, length), &complete);
    if (complete) {
      out += one;
    } else {
      out += replacement;
    }
    i += length;
  }
  return out;
}

std::string FromLocaleMultibyte(std::string_view bytes) {
  std::string out;
  std::mbstate_t state{};
  size_t i = 0;
  while (i < bytes.size()) {
    wchar_t wc = 0;
    size_t n = std::mbrtowc(&wc, bytes.data() + i, bytes.size() - i, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      state = std::mbstate_t{};
      out += Latin1ToUtf8(bytes.substr(i, 1));
      ++i;
      continue;
    }
    if (n == 0) {  // an embedded NUL
      out += '\0';
      ++i;
      continue;
    }
    std::u32string one(1, static_cast<char32_t>(wc));
    std::u16string u16;
    char32_t cp = one[0];
    if (cp >= 0x10000) {
      cp -= 0x10000;
      u16 += static_cast<char16_t>(0xD800 + (cp >> 10));
      u16 += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      u16 += static_cast<char16_t>(cp);
    }
    out += Utf16ToUtf8(u16);
    i += n;
  }
  return out;
}

}  // namespace zel

namespace zel {

namespace {

bool IsCrtSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 99;
}

}  // namespace

UnsignedNumber ParseUnsigned(std::u16string_view t, int base) {
  size_t i = 0;
  while (i < t.size() && IsCrtSpace(t[i])) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == u'+' || t[i] == u'-')) {
    negative = t[i] == u'-';
    ++i;
  }
  if (base == 16 && i + 2 < t.size() && t[i] == u'0' && (t[i + 1] == u'x' || t[i + 1] == u'X') &&
      DigitValue(t[i + 2]) < 16)
    i += 2;
  size_t digitsStart = i;
  uint64_t v = 0;
  bool overflow = false;
  while (i < t.size() && DigitValue(t[i]) < base) {
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(t[i]));
    if (v > 0xFFFFFFFFull) {
      overflow = true;
      v = 0xFFFFFFFFull;
    }
    ++i;
  }
  UnsignedNumber n;
  if (i == digitsStart) {
    n.stray = !t.empty();
    return n;
  }
  uint32_t u = static_cast<uint32_t>(v);
  n.value = overflow ? 0xFFFFFFFFu : (negative ? 0u - u : u);
  n.stray = i < t.size();
  return n;
}

UnsignedNumber ParseUnsigned(std::string_view utf8, int base) {
  return ParseUnsigned(std::u16string_view(Utf8ToUtf16(utf8)), base);
}

}  // namespace zel
