// The helpers beside the file calls: wild cards, file times, and the machine
// before any platform is installed, on which every file call fails cleanly.
#include "platform/file_util.h"

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

using namespace zel::platform;

TEST(Wildcards, MatchAsThePlatformsListingDoes) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  } const cases[] = {
      {"ZelvaneDvt*.txt", "ZelvaneDvt1.txt", true},
      {"ZelvaneDvt*.txt", "zelvanedvt.TXT", true},
      {"ZelvaneDvt*.txt", "ZelvaneDvt1.txt.bak", false},
      {"ZelvaneDvt*.txt", "MyZelvaneDvt1.txt", false},
      {"*.*", "noextension", true},
      {"*.*", ".", true},
      {"*", "", true},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"*x*y", "axxby", true},
      {"*x*y", "axxbyz", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.matches) << c.pattern << " / " << c.name;
}

TEST(FileTimes, HundredNanosecondStepsFrom1601) {
  // 1970-01-01 is 116444736000000000 steps: 0x019DB1DE D53E8000.
  FILETIME epoch = FileTimeFromUnixMs(0);
  EXPECT_EQ(epoch.dwHighDateTime, 0x019DB1DEu);
  EXPECT_EQ(epoch.dwLowDateTime, 0xD53E8000u);
  // 2025-03-04T05:06:07.500Z
  FILETIME t = FileTimeFromUnixMs(1741064767500);
  EXPECT_EQ(t.dwHighDateTime, 0x01DB8CC3u);
  EXPECT_EQ(t.dwLowDateTime, 0x22EC8980u + 5000000u);
  EXPECT_EQ(UnixMsFromFileTime(t), 1741064767500);
}

TEST(UnsignedNumbers, ReadAsThePlatformsConversionReadsThem) {
  struct Case {
    const char* text;
    int base;
    uint32_t value;
    bool stray;
  } const cases[] = {
      {"12", 10, 12, false},        {" \t+7", 10, 7, false},      {"-1", 10, 0xFFFFFFFFu, false},
      {"4294967296", 10, 0xFFFFFFFFu, false},                       {"12ab", 10, 12, true},
      {"abc", 10, 0, true},         {"", 10, 0, false},           {"0x1F", 16, 0x1F, false},
      {"0x", 16, 0, true},          {"ff ", 16, 0xFF, true},
  };
  for (const Case& c : cases) {
    UnsignedNumber n = ParseUnsigned(std::string_view(c.text), c.base);
    EXPECT_EQ(n.value, c.value) << c.text;
    EXPECT_EQ(n.stray, c.stray) << c.text;
  }
}

TEST(NullPlatformFiles, EveryCallFailsCleanly) {
  ScopedPlatform none(nullptr);
  Files& f = Current().Files();
  EXPECT_EQ(f.CreateFileW("C:\\a.txt", GENERIC_READ, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  uint8_t b[1];
  uint32_t n = 7;
  EXPECT_FALSE(f.WriteFile(5, b, 1, &n));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(f.GetFileAttributesW("C:\\"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  WIN32_FIND_DATAW d;
  EXPECT_EQ(f.FindFirstFileW("*.*", &d), INVALID_HANDLE_VALUE);
  uint64_t free = 0;
  EXPECT_FALSE(f.GetDiskFreeSpaceExW("C:\\", nullptr, nullptr, &free));
  char16_t buffer[8];
  EXPECT_EQ(f.GetLogicalDriveStringsW(8, buffer), 0u);
  EXPECT_EQ(f.GetFullPathNameW("x"), "");
  std::string bytes;
  uint32_t error = 0;
  EXPECT_FALSE(ReadWholeFile(f, "a.txt", &bytes, &error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(AppendToFile(f, "a.txt", "x", &error));
}

}  // namespace
}  // namespace zel
