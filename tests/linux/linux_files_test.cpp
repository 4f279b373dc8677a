// Files, folders and volumes of the real machine, on a temporary folder: the
// lettered volumes of the mount table, the platform's rules carried out on a
// POSIX file system, free space from statvfs and the one errno map.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <string>
#include <vector>

#include "linux/tree.h"
#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/linux/linux_platform.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

class LinuxFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.CopyFixture("linux/mixed");
    tree_.File("/proc/self/mountinfo",
               "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
               "30 28 8:1 / /data rw - ext4 /dev/sda1 rw\n");
    tree_.File("/data/Tools/keep.txt", "kept");
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    platform_ = MakeLinuxPlatform(o);
  }
  Files& F() { return platform_->Files(); }
  std::string Root() const { return tree_.Root(); }
  std::vector<std::string> List(const std::string& pattern, uint32_t* error = nullptr) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW d;
    HANDLE h = F().FindFirstFileW(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return names;
    }
    do names.push_back(d.cFileName);
    while (F().FindNextFileW(h, &d));
    if (error) *error = GetLastError();
    F().FindClose(h);
    return names;
  }

  test::TempTree tree_;
  std::shared_ptr<Platform> platform_;
};

TEST_F(LinuxFiles, LetteredPathsLeadBelowTheirMountAndNeverLeaveIt) {
  uint32_t error = 0;
  ASSERT_TRUE(WriteWholeFile(F(), "D:\\Tools\\report.txt", "abc\r\n", &error)) << error;
  EXPECT_EQ(test::ReadFile(Root() + "/data/Tools/report.txt"), "abc\r\n");
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(F(), "d:/Tools/./keep.txt", &bytes, &error));  // names keep their case on Linux
  EXPECT_EQ(bytes, "kept\n");

  struct Case {
    const char* path;
    uint32_t error;
  } const cases[] = {
      {"D:\\..\\etc\\passwd", ERROR_PATH_NOT_FOUND},   // ".." may not leave the volume
      {"Q:\\file.txt", ERROR_PATH_NOT_FOUND},          // no such letter
      {"D:file.txt", ERROR_INVALID_NAME},              // relative to a drive
      {"\\\\.\\PhysicalDrive0", ERROR_INVALID_NAME},   // a device is no file
      {"D:\\Tools\\missing.txt", ERROR_FILE_NOT_FOUND},
      {"D:\\Nowhere\\missing.txt", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(F().GetFileAttributesW(c.path), INVALID_FILE_ATTRIBUTES) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
}

TEST_F(LinuxFiles, AttributesFoldersAndDeletionFollowThePlatformsRules) {
  const std::string dir = Root() + "/work";
  ASSERT_TRUE(F().CreateDirectoryW(dir));
  EXPECT_FALSE(F().CreateDirectoryW(dir));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(F().CreateDirectoryW(Root() + "/no/such"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(F().GetFileAttributesW(dir), FILE_ATTRIBUTE_DIRECTORY);

  // "\" separates folders as "/" does.
  ASSERT_TRUE(AppendToFile(F(), dir + "\\a.txt", "a", nullptr));
  EXPECT_EQ(F().GetFileAttributesW(dir + "/a.txt"), FILE_ATTRIBUTE_ARCHIVE);
  ASSERT_TRUE(AppendToFile(F(), dir + "/.hidden", "h", nullptr));
  EXPECT_EQ(F().GetFileAttributesW(dir + "/.hidden"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);

  // Read-only refuses writing and deletion, even to root, until made normal.
  ASSERT_TRUE(F().SetFileAttributesW(dir + "/a.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(F().GetFileAttributesW(dir + "/a.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(F().CreateFileW(dir + "/a.txt", GENERIC_WRITE, 0, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().DeleteFileW(dir + "/a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(F().SetFileAttributesW(dir + "/a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(F().DeleteFileW(dir + "/a.txt"));
  EXPECT_FALSE(F().DeleteFileW(dir + "/a.txt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  // Folders: not opened or deleted as files, removed only empty.
  EXPECT_EQ(F().CreateFileW(dir, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().DeleteFileW(dir));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().RemoveDirectoryW(dir));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(F().RemoveDirectoryW(dir + "/.hidden"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_TRUE(F().DeleteFileW(dir + "/.hidden"));
  EXPECT_TRUE(F().RemoveDirectoryW(dir));
  EXPECT_EQ(F().GetFileAttributesW(dir), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxFiles, OpeningFollowsTheDispositionsAndSharingWithinTheProcess) {
  const std::string path = Root() + "/shared.log";
  HANDLE w = F().CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, 0);
  ASSERT_NE(w, INVALID_HANDLE_VALUE);
  EXPECT_EQ(F().CreateFileW(path, GENERIC_WRITE, 0, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  HANDLE r = F().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  EXPECT_NE(r, INVALID_HANDLE_VALUE);
  EXPECT_EQ(F().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  uint32_t n = 0;
  EXPECT_TRUE(F().WriteFile(w, reinterpret_cast<const uint8_t*>("12345"), 5, &n));
  EXPECT_EQ(n, 5u);
  uint8_t buf[8] = {};
  EXPECT_FALSE(F().ReadFile(w, buf, sizeof buf, &n));  // not opened for reading
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(F().ReadFile(r, buf, sizeof buf, &n));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), n), "12345");
  EXPECT_TRUE(F().ReadFile(r, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);  // the end
  EXPECT_TRUE(F().CloseHandle(r));
  EXPECT_TRUE(F().CloseHandle(w));
  EXPECT_FALSE(F().CloseHandle(w));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  HANDLE again = F().CreateFileW(path, GENERIC_WRITE, 0, OPEN_ALWAYS, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  F().CloseHandle(again);
}

TEST_F(LinuxFiles, FileTimesAreTheLastWriteInThePlatformsUnits) {
  const std::string path = Root() + "/SSDZelvane.exe";
  test::WriteFile(path, "program");
  // 2025-03-04T05:06:07Z
  struct timespec times[2] = {{1741064767, 0}, {1741064767, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  HANDLE h = F().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME written;
  ASSERT_TRUE(F().GetFileTime(h, nullptr, nullptr, &written));
  F().CloseHandle(h);
  EXPECT_EQ(written.dwHighDateTime, 0x01DB8CC3u);
  EXPECT_EQ(written.dwLowDateTime, 0x22EC8980u);
}

TEST_F(LinuxFiles, ListingsGiveDotsFirstThenNamesWithoutRegardToCase) {
  test::WriteFile(Root() + "/data/Tools/ZelvaneDvt2.txt", "2");
  test::WriteFile(Root() + "/data/Tools/zelvanedvt1.TXT", "1");
  ASSERT_TRUE(F().CreateDirectoryW("D:\\Tools\\Beta"));
  uint32_t error = 0;
  EXPECT_EQ(List("D:\\Tools\\*.*", &error),
            (std::vector<std::string>{".", "..", "Beta", "keep.txt", "zelvanedvt1.TXT", "ZelvaneDvt2.txt"}));
  EXPECT_EQ(error, ERROR_NO_MORE_FILES);
  EXPECT_EQ(ListMatching(F(), "D:\\Tools\\ZelvaneDvt*.txt", &error),
            (std::vector<std::string>{"zelvanedvt1.TXT", "ZelvaneDvt2.txt"}));
  EXPECT_EQ(List("D:\\*"), std::vector<std::string>{"Tools"});  // a volume's root lists no dots
  List("D:\\Tools\\*.doc", &error);
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  List("D:\\Nowhere\\*.*", &error);
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

TEST_F(LinuxFiles, FreeSpaceVolumeRootsAndDriveStrings) {
  struct statvfs vfs {};
  ASSERT_EQ(::statvfs(Root().c_str(), &vfs), 0);
  uint64_t toCaller = 0, total = 0, free = 0;
  ASSERT_TRUE(F().GetDiskFreeSpaceExW("D:\\", &toCaller, &total, &free));
  EXPECT_EQ(total, static_cast<uint64_t>(vfs.f_blocks) * vfs.f_frsize);
  EXPECT_LE(toCaller, free);
  EXPECT_GT(total, 0u);
  uint32_t spc = 0, bps = 0, freeClusters = 0, totalClusters = 0;
  ASSERT_TRUE(F().GetDiskFreeSpaceW("D:\\", &spc, &bps, &freeClusters, &totalClusters));
  EXPECT_EQ(bps, 512u);
  EXPECT_EQ(static_cast<uint64_t>(spc) * bps, static_cast<uint64_t>(vfs.f_frsize));
  EXPECT_FALSE(F().GetDiskFreeSpaceExW("D:\\Nowhere", &toCaller, &total, &free));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

  std::string root;
  EXPECT_TRUE(F().GetVolumePathNameW("d:\\Tools\\keep.txt", &root, 520));
  EXPECT_EQ(root, "D:\\");
  EXPECT_FALSE(F().GetVolumePathNameW("D:\\Tools\\keep.txt", &root, 3));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);

  char16_t buffer[16];
  EXPECT_EQ(F().GetLogicalDriveStringsW(2, buffer), 9u);  // too small: the length needed
  EXPECT_EQ(F().GetLogicalDriveStringsW(16, buffer), 8u);
  EXPECT_EQ(std::u16string(buffer, 9), std::u16string(u"C:\\\0D:\\\0\0", 9));
}

}  // namespace
}  // namespace zel
