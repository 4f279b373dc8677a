// Text helpers. Inside the system every text is UTF-8 in a std::string; where
// the platform counts UTF-16 characters (fixed buffers, line limits) the
// limit is applied in UTF-16 units with these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// Converts UTF-8 to UTF-16. Bytes that are not valid UTF-8 come through as
// their own code points (U+0080..U+00FF), so the conversion never fails.
std::u16string Utf8ToUtf16(std::string_view utf8);
// Converts UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// UTF-16 little-endian bytes (as the platform stores REG_SZ values and
// interface paths), without and with a terminating NUL character.
std::string Utf16LeBytesToUtf8(const uint8_t* bytes, size_t byteCount);
std::string Utf8ToUtf16LeBytes(std::string_view utf8, bool withNul);

// Number of UTF-16 units the text takes.
size_t Utf16Length(std::string_view utf8);
// The longest prefix of the text that fits in `maxUnits` UTF-16 units
// (a surrogate pair is never split).
std::string TruncateUtf16(std::string_view utf8, size_t maxUnits);

// Latin-1 to UTF-8: each byte becomes the code point of its value.
std::string Latin1ToUtf8(std::string_view bytes);

std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool Contains(std::string_view text, std::string_view part);
bool StartsWith(std::string_view text, std::string_view prefix);
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
// The text without the blanks (space, tab, CR, LF) at its start and end.
std::string TrimBlanks(std::string_view text);
// Replaces every occurrence of `from` by `to`.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace zel

namespace zel {

// Converts UTF-8 text to the multibyte encoding of the C runtime's current
// locale (the user's code page once the program has selected the user's
// locale), one character at a time. Conversion stops at the first character
// the locale cannot represent; `*complete` (when given) tells whether the
// whole text was converted.
std::string ToLocaleMultibyte(std::string_view utf8, bool* complete = nullptr);

// The same conversion for whole files: a character the locale cannot
// represent is written as `replacement` and the conversion goes on, so one
// such character never cuts the rest of the text off.
std::string ToLocaleMultibyteReplacing(std::string_view utf8, char replacement = '?');

// The reverse: bytes in the current locale's encoding to UTF-8. A byte
// sequence the locale cannot convert comes through as the code point of
// each byte, so this never fails.
std::string FromLocaleMultibyte(std::string_view bytes);

}  // namespace zel

namespace zel {

// A number converted the way the platform's unsigned wide-string conversion
// (wcstoul) does it: leading white space and a sign are accepted (a minus
// negates), base 16 accepts a "0x" prefix, digits are read up to the first
// character that is not one, a value beyond 32 bits saturates. `stray`
// tells that something is left after the number; a text without any digit
// converts to 0 and is left whole.
struct UnsignedNumber {
  uint32_t value = 0;
  bool stray = false;
};
UnsignedNumber ParseUnsigned(std::u16string_view text, int base);
UnsignedNumber ParseUnsigned(std::string_view utf8, int base);

}  // namespace zel
