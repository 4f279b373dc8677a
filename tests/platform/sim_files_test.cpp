// The simulated machine's files, folders and volumes: free space that follows
// the files, the platform's rules for names, attributes, folders, listings
// and sharing, fault injection, and the real folders beside the volumes.
#include "platform/sim/sim_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

constexpr uint64_t kGiB = 1ull << 30;

// C: 12 GiB free of 100 GiB, 4 KiB clusters; D: FAT32; E: an empty CD-ROM drive.
constexpr const char* kMachine = R"({
  "volumes": [
    {"letter": "C", "disk": 0, "size": 107374182400, "free": 12884901888,
     "files": [
       {"path": "tmpxxxquarn\\old0.tmp", "size": 2147483648},
       {"path": "tmpxxxquarn\\keep\\.hold", "attributes": ["hidden"]},
       {"path": "Tools\\ZelvaneDvt1.txt", "content": "#SMART start\r\n", "written": "2025-03-04T05:06:07Z"},
       {"path": "Tools\\locked.txt", "content": "x", "attributes": ["readonly"]},
       {"path": "Logs", "folder": true}
     ]},
    {"letter": "d", "disk": 1, "fileSystem": "FAT32", "size": 8388608, "free": 8192, "clusterSize": 512},
    {"letter": "E", "deviceType": "cdrom"}
  ]})";

class SimFiles : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = test::MustLoad(kMachine); }
  Files& F() { return machine_->Files(); }
  uint64_t FreeOf(const std::string& root) {
    uint64_t toCaller = 0, total = 0, free = 0;
    EXPECT_TRUE(F().GetDiskFreeSpaceExW(root, &toCaller, &total, &free)) << GetLastError();
    EXPECT_EQ(toCaller, free);
    return free;
  }
  std::vector<std::string> List(const std::string& pattern, uint32_t* error = nullptr) {
    uint32_t e = 0;
    std::vector<std::string> names;
    WIN32_FIND_DATAW d;
    HANDLE h = F().FindFirstFileW(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) {
      if (error) *error = GetLastError();
      return names;
    }
    do names.push_back(d.cFileName);
    while (F().FindNextFileW(h, &d));
    e = GetLastError();
    EXPECT_TRUE(F().FindClose(h));
    if (error) *error = e;
    return names;
  }
  std::shared_ptr<sim::SimMachine> machine_;
};

TEST_F(SimFiles, FreeSpaceFallsAsFillerFilesAreCreatedAndRisesAsTheyAreDeleted) {
  EXPECT_EQ(FreeOf("C:\\"), 12 * kGiB);
  std::string out;
  ASSERT_TRUE(machine_->Procs().RunAndCapture(
      "fsutil file createnew C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp 2147483648", &out));
  EXPECT_EQ(out, "File C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp is created\r\n");
  EXPECT_EQ(FreeOf("C:\\"), 10 * kGiB);
  EXPECT_EQ(FreeOf("c:\\tmpxxxquarn"), 10 * kGiB);  // any folder of the volume
  ASSERT_TRUE(machine_->Procs().RunAndCapture(
      "fsutil file createnew C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf1.tmp 2147483648", &out));
  EXPECT_EQ(FreeOf("C:\\"), 8 * kGiB);

  // The filler file opens once it is there, with no sharing, as the fill
  // loop tries it; it reads as zeros and has its size.
  HANDLE h = F().CreateFileW("C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp", GENERIC_READ, 0,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  uint64_t size = 0;
  EXPECT_TRUE(F().GetFileSizeEx(h, &size));
  EXPECT_EQ(size, 2147483648u);
  uint8_t buf[4] = {1, 1, 1, 1};
  uint32_t got = 0;
  EXPECT_TRUE(F().ReadFile(h, buf, 4, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 4), std::vector<uint8_t>({0, 0, 0, 0}));
  EXPECT_TRUE(F().CloseHandle(h));

  for (const char* name : {"xxxtmpxxxquarnxxxwtf0.tmp", "xxxtmpxxxquarnxxxwtf1.tmp", "old0.tmp"})
    EXPECT_TRUE(F().DeleteFileW(std::string("C:\\tmpxxxquarn\\") + name)) << name;
  EXPECT_EQ(FreeOf("C:\\"), 14 * kGiB);  // the listed file's space comes back too

  // A file the free space cannot hold is not made.
  EXPECT_FALSE(machine_->Procs().RunAndCapture("fsutil file createnew D:\\big 8193", &out));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(F().GetFileAttributesW("D:\\big"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(FreeOf("D:\\"), 8192u);
}

TEST_F(SimFiles, WritesTakeWholeClustersAndAFullVolumeRefusesTheWrite) {
  // D: has 512-byte clusters and 8192 bytes free.
  HANDLE h = F().CreateFileW("D:\\a.bin", GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  const std::string block(513, 'z');
  uint32_t written = 0;
  ASSERT_TRUE(F().WriteFile(h, reinterpret_cast<const uint8_t*>(block.data()), 513, &written));
  EXPECT_EQ(written, 513u);
  EXPECT_EQ(FreeOf("D:\\"), 8192u - 1024u);
  const std::string big(8192 - 513 + 1, 'y');  // ends one byte beyond the volume's room
  EXPECT_FALSE(F().WriteFile(h, reinterpret_cast<const uint8_t*>(big.data()),
                             static_cast<uint32_t>(big.size()), &written));
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(FreeOf("D:\\"), 8192u - 1024u);
  EXPECT_TRUE(F().CloseHandle(h));

  // Truncating gives the space back; the content is what was written.
  std::string bytes;
  uint32_t error = 0;
  ASSERT_TRUE(ReadWholeFile(F(), "D:\\a.bin", &bytes, &error));
  EXPECT_EQ(bytes, block);
  ASSERT_TRUE(WriteWholeFile(F(), "D:\\a.bin", "", &error));
  EXPECT_EQ(FreeOf("D:\\"), 8192u);
  // Appending goes to the end whatever the position.
  ASSERT_TRUE(AppendToFile(F(), "D:\\a.bin", "one\r\n", &error));
  ASSERT_TRUE(AppendToFile(F(), "D:\\a.bin", "two\r\n", &error));
  ASSERT_TRUE(ReadWholeFile(F(), "D:\\a.bin", &bytes, &error));
  EXPECT_EQ(bytes, "one\r\ntwo\r\n");
}

TEST_F(SimFiles, PathsOnNoVolumeOrOfTheWrongShapeFail) {
  struct Case {
    const char* path;
    uint32_t error;
  } const cases[] = {
      {"Q:\\file.txt", ERROR_PATH_NOT_FOUND},            // no such letter: never a real folder
      {"C:file.txt", ERROR_INVALID_NAME},                // relative to a drive
      {"C:\\Tools\\a|b", ERROR_INVALID_NAME},
      {"C:\\missing\\file.txt", ERROR_PATH_NOT_FOUND},   // a folder on the way is missing
      {"C:\\Tools\\missing.txt", ERROR_FILE_NOT_FOUND},  // only the name is missing
      {"E:\\setup.exe", ERROR_NOT_READY},                // no disc
      {"\\\\.\\PhysicalDrive0", ERROR_PATH_NOT_FOUND},   // a device is no file
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(F().CreateFileW(c.path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0),
              INVALID_HANDLE_VALUE)
        << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
    SetLastError(0);
    EXPECT_EQ(F().GetFileAttributesW(c.path), INVALID_FILE_ATTRIBUTES) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  // ".." stops at the root; "/" separates as "\" does; letters without case.
  EXPECT_EQ(F().GetFileAttributesW("c:/../../Tools/zelvanedvt1.TXT"), FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(SimFiles, AttributesFoldersAndDeletionFollowThePlatformsRules) {
  EXPECT_EQ(F().GetFileAttributesW("C:\\"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(F().GetFileAttributesW("C:\\tmpxxxquarn"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(F().GetFileAttributesW("C:\\tmpxxxquarn\\keep\\.hold"), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(F().GetFileAttributesW("C:\\Tools\\locked.txt"), FILE_ATTRIBUTE_READONLY);

  // A read-only file is neither written nor deleted until it is made normal.
  EXPECT_EQ(F().CreateFileW("C:\\Tools\\locked.txt", GENERIC_WRITE, 0, OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().DeleteFileW("C:\\Tools\\locked.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(F().SetFileAttributesW("C:\\Tools\\locked.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(F().GetFileAttributesW("C:\\Tools\\locked.txt"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(F().DeleteFileW("C:\\Tools\\locked.txt"));

  // Folders: not opened as files, not deleted as files, removed only empty.
  EXPECT_EQ(F().CreateFileW("C:\\Logs", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().DeleteFileW("C:\\Logs"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(F().RemoveDirectoryW("C:\\tmpxxxquarn"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(F().RemoveDirectoryW("C:\\Tools\\ZelvaneDvt1.txt"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(F().CreateDirectoryW("C:\\Logs"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(F().CreateDirectoryW("C:\\no\\such"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(F().CreateDirectoryW("C:\\Logs\\2026"));
  EXPECT_TRUE(F().SetFileAttributesW("C:\\Logs\\2026", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(F().GetFileAttributesW("C:\\Logs\\2026"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(F().RemoveDirectoryW("C:\\Logs\\2026"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(F().SetFileAttributesW("C:\\Logs\\2026", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(F().GetFileAttributesW("C:\\Logs\\2026"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(F().RemoveDirectoryW("C:\\Logs\\2026"));
  EXPECT_TRUE(F().RemoveDirectoryW("C:\\Logs"));
  EXPECT_EQ(F().GetFileAttributesW("C:\\Logs"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimFiles, OpeningFollowsTheDispositionsAndTheSharingOfOpenHandles) {
  HANDLE h = F().CreateFileW("C:\\Logs\\a.log", GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // Reading beside a writer that shares reading works; writing does not,
  // nor reading without sharing the writer's writing.
  HANDLE r = F().CreateFileW("C:\\Logs\\a.log", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             OPEN_EXISTING, 0);
  EXPECT_NE(r, INVALID_HANDLE_VALUE);
  EXPECT_EQ(F().CreateFileW("C:\\Logs\\a.log", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(F().CreateFileW("C:\\Logs\\a.log", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  // An open file is not deleted.
  EXPECT_FALSE(F().DeleteFileW("C:\\Logs\\a.log"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(F().CloseHandle(r));
  EXPECT_TRUE(F().CloseHandle(h));
  EXPECT_FALSE(F().CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  EXPECT_EQ(F().CreateFileW("C:\\Logs\\a.log", GENERIC_WRITE, 0, CREATE_NEW, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  h = F().CreateFileW("C:\\Logs\\a.log", GENERIC_WRITE, 0, OPEN_ALWAYS, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(F().CloseHandle(h));
  EXPECT_EQ(F().CreateFileW("C:\\Logs\\b.log", GENERIC_READ, 0, TRUNCATE_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(SimFiles, ListingsGiveDotsFirstThenNamesWithoutRegardToCase) {
  ASSERT_TRUE(F().CreateDirectoryW("C:\\Tools\\alpha"));
  ASSERT_TRUE(AppendToFile(F(), "C:\\Tools\\Beta.txt", "b", nullptr));
  uint32_t error = 0;
  EXPECT_EQ(List("C:\\Tools\\*.*", &error),
            (std::vector<std::string>{".", "..", "alpha", "Beta.txt", "locked.txt", "ZelvaneDvt1.txt"}));
  EXPECT_EQ(error, ERROR_NO_MORE_FILES);
  EXPECT_EQ(List("C:\\Tools\\zelvanedvt*.TXT"), (std::vector<std::string>{"ZelvaneDvt1.txt"}));
  EXPECT_EQ(List("C:\\*"), (std::vector<std::string>{"Logs", "tmpxxxquarn", "Tools"}));  // no dots at the root
  List("C:\\Tools\\*.doc", &error);
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  List("C:\\Nowhere\\*.*", &error);
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);

  // The records carry size, attributes and the machine file's time.
  WIN32_FIND_DATAW d;
  HANDLE h = F().FindFirstFileW("C:\\Tools\\ZelvaneDvt1.txt", &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  F().FindClose(h);
  EXPECT_EQ(d.nFileSizeLow, 14u);
  EXPECT_EQ(d.nFileSizeHigh, 0u);
  EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
  // 2025-03-04T05:06:07Z is 133855383670000000 hundred-nanosecond steps from 1601.
  EXPECT_EQ(d.ftLastWriteTime.dwHighDateTime, 0x01DB8CC3u);
  EXPECT_EQ(d.ftLastWriteTime.dwLowDateTime, 0x22EC8980u);
}

TEST_F(SimFiles, VolumeRootsGeometryAndDriveStrings) {
  std::string root;
  EXPECT_TRUE(F().GetVolumePathNameW("c:\\tmpxxxquarn\\old0.tmp", &root, 520));
  EXPECT_EQ(root, "C:\\");
  EXPECT_TRUE(F().GetVolumePathNameW("d:\\", &root, 520));
  EXPECT_EQ(root, "D:\\");
  EXPECT_FALSE(F().GetVolumePathNameW("C:\\x", &root, 3));
  EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_FALSE(F().GetVolumePathNameW("report.txt", &root, 520));  // a real folder lies on no volume

  uint32_t spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_TRUE(F().GetDiskFreeSpaceW("C:\\", &spc, &bps, &freeClusters, &total));
  EXPECT_EQ(spc, 8u);
  EXPECT_EQ(bps, 512u);
  EXPECT_EQ(freeClusters, 3145728u);  // 12 GiB / 4 KiB
  EXPECT_EQ(total, 26214400u);        // 100 GiB / 4 KiB
  ASSERT_TRUE(F().GetDiskFreeSpaceW("D:\\", &spc, &bps, &freeClusters, &total));
  EXPECT_EQ(spc, 1u);
  EXPECT_EQ(freeClusters, 16u);

  char16_t buffer[16];
  EXPECT_EQ(F().GetLogicalDriveStringsW(12, buffer), 13u);  // too small: the length needed
  EXPECT_EQ(F().GetLogicalDriveStringsW(16, buffer), 12u);
  EXPECT_EQ(std::u16string(buffer, 13), std::u16string(u"C:\\\0D:\\\0E:\\\0\0", 13));
}

TEST(SimFileFaults, FaultsTakeTheirCallsAndPathsForAsLongAsTheySay) {
  auto machine = test::MustLoad(R"({
    "volumes": [{"letter": "C", "size": 107374182400, "free": 10737418240,
      "files": [{"path": "tmpxxxquarn", "folder": true}],
      "faults": [
        {"call": "GetDiskFreeSpaceExW", "error": 21},
        {"call": "RemoveDirectoryW", "path": "TMPXXXQUARN", "error": 5, "times": 1}
      ]}],
    "files": {"faults": [{"call": "CreateFileW", "path": "report.txt", "error": 32}]}
  })");
  Files& f = machine->Files();
  uint64_t free = 0;
  EXPECT_FALSE(f.GetDiskFreeSpaceExW("C:\\", nullptr, nullptr, &free));
  EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
  EXPECT_FALSE(f.RemoveDirectoryW("C:\\tmpxxxquarn"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(f.RemoveDirectoryW("C:\\tmpxxxquarn"));  // the fault took one call
  uint32_t error = 0;
  EXPECT_FALSE(WriteWholeFile(f, "out/report.txt", "x", &error));
  EXPECT_EQ(error, ERROR_SHARING_VIOLATION);
}

TEST(SimFileLoad, ReportsTheFieldThatIsWrong) {
  struct Case {
    const char* volume;
    const char* error;
  } const cases[] = {
      {R"({"letter": "C", "files": [{"path": "a\\..\\b"}]})", "volumes[0].files[0].path: \"..\""},
      {R"({"letter": "C", "files": [{"path": "a", "content": "xy", "size": 1}]})",
       "volumes[0].files[0].size: smaller than its content"},
      {R"({"letter": "C", "files": [{"path": "a"}, {"path": "a\\b"}]})", "volumes[0].files[1].path"},
      {R"({"letter": "C", "files": [{"path": "a", "attributes": ["shiny"]}]})",
       "volumes[0].files[0].attributes"},
      {R"({"letter": "C", "files": [{"path": "a", "folder": true, "size": 3}]})",
       "volumes[0].files[0]: a folder has no size"},
      {R"({"letter": "C", "clusterSize": 1000})", "volumes[0].clusterSize"},
      {R"({"letter": "C", "faults": [{"error": 5}]})", "volumes[0].faults[0].call"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(std::string(R"({"volumes": [)") + c.volume + "]}", "m.json");
    EXPECT_EQ(r.machine, nullptr) << c.volume;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
}

// Paths that are not on a volume are the real folders of the run: the
// program's folder and the current directory.
class SimRealFolders : public test::SimTest {};

TEST_F(SimRealFolders, RelativePathsAreTheCurrentDirectoryAndTheProgramFolderIsReal) {
  Files& f = Machine().Files();
  uint32_t error = 0;
  ASSERT_TRUE(WriteWholeFile(f, "criteria.txt", "abc", &error));
  EXPECT_EQ(test::ReadFile(Dir() + "/criteria.txt"), "abc");
  std::string program = Machine().Sys().GetModuleFileName();
  ASSERT_TRUE(AppendToFile(f, program + ".note", "n", &error));
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.exe.note"), "n");
  const std::string full = f.GetFullPathNameW("criteria.txt");
  EXPECT_EQ(full.front(), '/');
  EXPECT_EQ(test::ReadFile(full), "abc");
  EXPECT_EQ(f.GetFullPathNameW("C:\\x"), "C:\\x");
  EXPECT_EQ(ListMatching(f, "crit*.TXT", &error), std::vector<std::string>{"criteria.txt"});
}

}  // namespace
}  // namespace zel
