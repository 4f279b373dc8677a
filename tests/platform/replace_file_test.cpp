// Files written and read on a user's say-so: a target is replaced whole or
// not at all and only when it is a regular file; a script is created new,
// never through a planted link; a user-named file is read only when it is a
// regular file of bounded size. On the simulated machine's real folders (the
// host file calls the Linux backend shares) and on its volumes.
#include "platform/file_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using namespace zel::platform;

class ReplaceFileTest : public test::SimTest {
 protected:
  Files& F() { return Machine().Files(); }
  // The names in the test's folder, to see that no temporary file stays.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(Dir())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(ReplaceFileTest, RegularOrMissingTargetsAreReplacedWhole) {
  const std::string path = Dir() + "/report.txt";
  uint32_t error = 99;
  ASSERT_TRUE(ReplaceFileSafely(F(), path, "first, the longer one", &error));
  EXPECT_EQ(error, ERROR_SUCCESS);
  ASSERT_TRUE(ReplaceFileSafely(F(), path, "second", &error));
  EXPECT_EQ(test::ReadFile(path), "second");
  EXPECT_EQ(Names(), (std::vector<std::string>{"report.txt"}));
}

TEST_F(ReplaceFileTest, TargetsThatAreNotRegularFilesAreRefusedUntouched) {
  const std::string other = Dir() + "/other.txt";
  test::WriteFile(other, "someone else's file");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* refusal;
  } const cases[] = {
      {"folder", [](const std::string& p) { fs::create_directory(p); }, "a folder"},
      {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, "a device, FIFO or socket"},
      {"link", [&](const std::string& p) { fs::create_symlink(other, p); }, "a symbolic link"},
      {"dangling", [&](const std::string& p) { fs::create_symlink(Dir() + "/nowhere", p); }, "a symbolic link"},
  };
  for (const Case& c : cases) {
    const std::string path = Dir() + "/" + c.name;
    c.make(path);
    const auto before = fs::symlink_status(path).type();
    uint32_t error = 0;
    std::string refusal;
    EXPECT_FALSE(ReplaceFileSafely(F(), path, "report", &error, &refusal)) << c.name;
    EXPECT_EQ(error, ERROR_BAD_FILE_TYPE) << c.name;
    EXPECT_EQ(refusal, c.refusal) << c.name;
    EXPECT_EQ(fs::symlink_status(path).type(), before) << c.name;
    EXPECT_EQ(NotRegularFileReason(F(), path), c.refusal) << c.name;
  }
  EXPECT_EQ(test::ReadFile(other), "someone else's file");
  EXPECT_FALSE(fs::exists(Dir() + "/nowhere"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"dangling", "fifo", "folder", "link", "other.txt"}));
}

TEST_F(ReplaceFileTest, AFailedWriteLeavesTheEarlierFileAndNoTemporaryOne) {
  // A volume of 64 KiB with 8 KiB free: the earlier report stays as it was.
  UseMachine(R"({"volumes": [{"letter": "E", "size": 65536, "free": 8192,
                 "files": [{"path": "report.log", "content": "last week's report"}]}]})");
  uint32_t error = 0;
  bool created = false;
  EXPECT_FALSE(ReplaceFileSafely(F(), "E:\\report.log", std::string(20000, 'r'), &error, nullptr,
                                 &created));
  EXPECT_TRUE(created);
  EXPECT_EQ(error, ERROR_DISK_FULL);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(F(), "E:\\report.log", &bytes, &error));
  EXPECT_EQ(bytes, "last week's report");
  EXPECT_EQ(ListMatching(F(), "E:\\*", &error), std::vector<std::string>{"report.log"});
  uint64_t toCaller = 0, total = 0, free = 0;
  ASSERT_TRUE(F().GetDiskFreeSpaceExW("E:\\", &toCaller, &total, &free));
  EXPECT_EQ(free, 8192u);

  // With room, the same call replaces it.
  ASSERT_TRUE(ReplaceFileSafely(F(), "E:\\report.log", "new", &error));
  ASSERT_TRUE(ReadWholeFile(F(), "E:\\report.log", &bytes, &error));
  EXPECT_EQ(bytes, "new");
}

TEST_F(ReplaceFileTest, MovesOnAVolumeReplaceOnlyWhenAskedAndNeverAFolder) {
  UseMachine(R"({"volumes": [{"letter": "E", "size": 1048576, "free": 524288,
                 "files": [{"path": "a.txt", "content": "A"}, {"path": "b.txt", "content": "B"},
                           {"path": "ro.txt", "content": "R", "attributes": ["readonly"]},
                           {"path": "dir", "folder": true}]},
                {"letter": "F", "size": 1048576, "free": 524288}]})");
  struct Case {
    const char* from;
    const char* to;
    uint32_t flags;
    uint32_t error;  // ERROR_SUCCESS when the move is made
  } const cases[] = {
      {"E:\\a.txt", "E:\\b.txt", 0, ERROR_ALREADY_EXISTS},
      {"E:\\a.txt", "E:\\dir", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"E:\\a.txt", "E:\\ro.txt", MOVEFILE_REPLACE_EXISTING, ERROR_ACCESS_DENIED},
      {"E:\\a.txt", "F:\\a.txt", MOVEFILE_REPLACE_EXISTING, ERROR_NOT_SAME_DEVICE},
      {"E:\\a.txt", "E:\\b.txt", MOVEFILE_REPLACE_EXISTING, ERROR_SUCCESS},
      {"E:\\b.txt", "E:\\dir\\c.txt", 0, ERROR_SUCCESS},
  };
  for (const Case& c : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(F().MoveFileExW(c.from, c.to, c.flags), c.error == ERROR_SUCCESS) << c.from << c.to;
    if (c.error != ERROR_SUCCESS) {
      EXPECT_EQ(GetLastError(), c.error) << c.from << " " << c.to;
    }
  }
  std::string bytes;
  uint32_t error = 0;
  ASSERT_TRUE(ReadWholeFile(F(), "E:\\dir\\c.txt", &bytes, &error));
  EXPECT_EQ(bytes, "A");
  EXPECT_EQ(F().GetFileAttributesW("E:\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(F().GetFileAttributesW("E:\\b.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ReplaceFileTest, NewFilesAreNeverWrittenThroughAPlantedLink) {
  const std::string victim = Dir() + "/victim.txt";
  test::WriteFile(victim, "precious");
  const std::string script = Dir() + "/script.bat";
  fs::create_symlink(victim, script);
  uint32_t error = 0;
  bool opened = false;
  ASSERT_TRUE(WriteNewFile(F(), script, "select disk 0\r\n", &error, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(test::ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(script));
  EXPECT_EQ(test::ReadFile(script), "select disk 0\r\n");
}

TEST_F(ReplaceFileTest, UserNamedFilesAreReadOnlyWhenRegularAndBounded) {
  test::WriteFile(Dir() + "/small.bin", "12345");
  fs::create_symlink(Dir() + "/small.bin", Dir() + "/link.bin");
  fs::create_directory(Dir() + "/folder");
  ASSERT_EQ(::mkfifo((Dir() + "/fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    uint64_t limit;
    uint32_t error;  // ERROR_SUCCESS when read
    const char* refusal;
  } const cases[] = {
      {"small.bin", 5, ERROR_SUCCESS, ""},
      {"link.bin", 5, ERROR_SUCCESS, ""},  // a link to a regular file reads as that file
      {"small.bin", 4, ERROR_FILE_TOO_LARGE, ""},
      {"folder", 100, ERROR_BAD_FILE_TYPE, "a folder"},
      {"fifo", 100, ERROR_BAD_FILE_TYPE, "a device, FIFO or socket"},
      {"missing", 100, ERROR_FILE_NOT_FOUND, ""},
  };
  for (const Case& c : cases) {
    std::string bytes, refusal;
    uint32_t error = 99;
    EXPECT_EQ(ReadRegularFile(F(), Dir() + "/" + c.name, c.limit, &bytes, &error, &refusal),
              c.error == ERROR_SUCCESS)
        << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_EQ(refusal, c.refusal) << c.name;
    if (c.error == ERROR_SUCCESS) {
      EXPECT_EQ(bytes, "12345") << c.name;
    }
  }
  // A device reads without end: the limit ends the read.
  std::string bytes;
  uint32_t error = 0;
  EXPECT_EQ(NotRegularFileReason(F(), "/dev/zero"), "a device, FIFO or socket");
  EXPECT_FALSE(ReadRegularFile(F(), "/dev/zero", 1 << 20, &bytes, &error));
  EXPECT_EQ(error, ERROR_BAD_FILE_TYPE);
}

}  // namespace
}  // namespace zel
