// The text helpers every trace line passes through: cutting a text at a
// number of UTF-16 units, and converting it to the code page of the locale.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace zel {
namespace {

TEST(Text, TruncateUtf16CountsUnitsNotBytes) {
  struct Case {
    const char* text;
    size_t maxUnits;
    const char* expected;
  } const cases[] = {
      {"abcdef", 3, "abc"},
      {"abc", 10, "abc"},
      {"", 4, ""},
      {"a\xC3\xA9z", 2, "a\xC3\xA9"},                  // é: two bytes, one unit
      {"a\xE2\x82\xAC\xE2\x82\xAC", 2, "a\xE2\x82\xAC"},  // €: three bytes, one unit
      {"a\xF0\x9F\x98\x80", 2, "a"},                  // a character outside the BMP is two units
      {"a\xF0\x9F\x98\x80z", 3, "a\xF0\x9F\x98\x80"},
      {"ab\xF0\x9F\x98\x80", 0, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TruncateUtf16(c.text, c.maxUnits), c.expected) << c.text;
}

// ASCII goes through as it is; the first character the code page lacks ends
// the output there and says it is incomplete.
TEST(Text, ToLocaleMultibyteStopsAtTheFirstCharacterTheCodePageLacks) {
  std::string saved = std::setlocale(LC_CTYPE, nullptr);
  struct Case {
    const char* locale;
    const char* text;
    const char* expected;
    bool complete;
  } const cases[] = {
      {"C", "plain ASCII\r\n", "plain ASCII\r\n", true},
      {"C", "ab\xC3\xA9z", "ab", false},
      {"C", "\xC3\xA9", "", false},
      {"C.UTF-8", "ab\xC3\xA9z", "ab\xC3\xA9z", true},
      {"C.UTF-8", "\xF0\x9F\x98\x80!", "\xF0\x9F\x98\x80!", true},
  };
  for (const Case& c : cases) {
    if (!std::setlocale(LC_CTYPE, c.locale)) {
      ADD_FAILURE() << "locale " << c.locale << " is not available";
      continue;
    }
    bool complete = !c.complete;
    EXPECT_EQ(ToLocaleMultibyte(c.text, &complete), c.expected) << c.locale << " " << c.text;
    EXPECT_EQ(complete, c.complete) << c.locale << " " << c.text;
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

}  // namespace
}  // namespace zel
