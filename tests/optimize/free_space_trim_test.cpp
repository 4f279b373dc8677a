// Free-space TRIM on the simulated machine: the count and fill passes with
// their filler counts and progress, the 5 GiB boundary, skipped volumes, the
// bound on a fill that makes no progress, the request that trims a volume
// which must be asked, and the removal of TRIM folders.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "optimize/free_space_trim.h"
#include "optimize_fixture.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/sim/sim_files.h"

namespace zel {
namespace {

constexpr uint64_t GiB = 1ull << 30;

// What a run told its progress sink, in order.
class Recorder final : public SsdOptimizeProgress {
 public:
  void Range(uint64_t total) override { events.push_back(Format("range %llu", (unsigned long long)total)); }
  void Position(uint64_t p) override { events.push_back(Format("pos %llu", (unsigned long long)p)); }
  void VolumeStarted(const std::string& root) override { events.push_back("start " + root); }
  void VolumeFinished(const VolumeTrimOutcome& o) override {
    events.push_back(Format("done %s %d", o.root.c_str(), o.fillerFiles));
  }
  std::vector<std::string> events;
};

std::string OneVolume(uint64_t freeBytes, const std::string& extra = "") {
  return Format(R"({"drives": [{"index": 0, "model": "QUARN KD785KK 512GB"}],
                    "registry": {"keys": {"SYSTEM\\CurrentControlSet\\Control\\FileSystem": {"NtfsDisable8dot3NameCreation": 1}}},
                    "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": %llu %s}]})",
                (unsigned long long)freeBytes, extra.c_str());
}

class FreeSpaceTrim : public test::OptimizeFixture {
 protected:
  SsdOptimizeResult Run(Recorder* recorder = nullptr) {
    Recorder local;
    std::atomic<bool> cancel{false};
    return RunSsdOptimize(0, recorder ? *recorder : local, cancel);
  }
  uint64_t FreeOf(char letter) {
    sim::SimFiles::VolumeState state;
    EXPECT_TRUE(Machine().FileSystem().VolumeOf(letter, &state));
    return state.freeBytes;
  }
};

TEST_F(FreeSpaceTrim, FillerCountFollowsTheFreeSpaceAboveTheReserve) {
  struct Case {
    uint64_t free;
    int fillers;
  } cases[] = {
      {12 * GiB, 4},         // made at 12, 10, 8 and 6 GiB; the fill stops at 4
      {5 * GiB, 0},          // exactly the reserve: not filled
      {5 * GiB + 1, 1},      // one byte above: one filler file
      {7 * GiB, 2},          // made at 7 and at exactly 5 GiB
      {4 * GiB, 0},
  };
  for (const Case& c : cases) {
    UseMachine(OneVolume(c.free));
    SsdOptimizeResult r = Run();
    EXPECT_EQ(r.total, uint64_t(c.fillers)) << c.free;
    ASSERT_EQ(r.volumes.size(), 1u);
    EXPECT_EQ(r.volumes[0].fillerFiles, c.fillers) << c.free;
    EXPECT_EQ(r.volumes[0].filled, c.fillers > 0) << c.free;
    // Nothing is left behind: the folder is gone and the space is back.
    EXPECT_EQ(FreeOf('C'), c.free);
    EXPECT_EQ(platform::Current().Files().GetFileAttributesW("C:\\tmpxxxquarn"), platform::INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(FreeSpaceTrim, TheBarGoesFromZeroToTheCountOneStepPerFillerFile) {
  UseMachine(OneVolume(12 * GiB));
  Recorder rec;
  Run(&rec);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"range 4", "pos 0", "start C:", "pos 1", "pos 2",
                                                  "pos 3", "pos 4", "done C: 4"}));
  EXPECT_TRUE(Logged("SetDeleteNotificationRegistry::RegSetValueEx():0 ."));
  auto notify = Stored("SYSTEM\\CurrentControlSet\\Control\\FileSystem", "DisableDeleteNotification");
  EXPECT_EQ(notify, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(FreeSpaceTrim, OnlyTrimmingFileSystemsOfTheDriveAreFilledVolumeByVolume) {
  UseMachine(R"({"drives": [{"index": 0, "model": "QUARN KD785KK 512GB"},
                            {"index": 1, "model": "QUARN KD785KK 256GB"}],
                 "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": 8589934592},
                             {"letter": "D", "disk": 0, "fileSystem": "FAT32", "size": 107374182400, "free": 53687091200},
                             {"letter": "E", "disk": 0, "fileSystem": "ntfs", "size": 107374182400, "free": 53687091200},
                             {"letter": "F", "disk": 1, "size": 107374182400, "free": 53687091200},
                             {"letter": "G", "disk": 0, "size": 107374182400, "free": 7516192768}]})");
  Recorder rec;
  SsdOptimizeResult r = Run(&rec);
  // C: 8 GiB gives 2, G: 7 GiB gives 2; D is FAT32, E's name is not exactly
  // "NTFS", F lies on another disk.
  EXPECT_EQ(rec.events, (std::vector<std::string>{"range 4", "pos 0", "start C:", "pos 1", "pos 2",
                                                  "done C: 2", "done D: 0", "done E: 0", "start G:",
                                                  "pos 3", "pos 4", "done G: 2"}));
  EXPECT_EQ(FreeOf('D'), 53687091200u);
}

TEST_F(FreeSpaceTrim, AVolumeWhoseFreeSpaceCannotBeReadIsNeverFilled) {
  UseMachine(OneVolume(12 * GiB, R"(, "faults": [{"call": "GetDiskFreeSpaceExW", "error": 21}])"));
  Recorder rec;
  SsdOptimizeResult r = Run(&rec);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"range 0", "pos 0", "done C: 0"}));
  EXPECT_FALSE(r.volumes.at(0).freeKnown);
  EXPECT_TRUE(Logged("SsdOptimizeThreadProc::GetDiskFreeSpaceEx(C:) fail. Error code = 0x15"));
}

TEST_F(FreeSpaceTrim, AFillWhoseFillerFilesNeverAppearEndsAfterThreeInARow) {
  UseMachine(OneVolume(12 * GiB, R"(, "faults": [{"call": "CreateFileW", "path": ".tmp", "error": 5}])"));
  uint64_t before = Machine().Clock().NowMs();
  Recorder rec;
  SsdOptimizeResult r = Run(&rec);
  EXPECT_EQ(r.volumes.at(0).fillerFiles, 3);
  EXPECT_TRUE(r.volumes.at(0).stalled);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"range 4", "pos 0", "start C:", "pos 1", "pos 2",
                                                  "pos 3", "done C: 3"}));
  // Each filler file was waited for: 10 tries, 500 ms apart.
  EXPECT_EQ(Machine().Clock().NowMs() - before, 3u * 10u * 500u);
  EXPECT_TRUE(Logged("SsdOptimizeThreadProc::C:: 3 filler files in a row did not lower the free "
                     "space, fill of the volume stopped."));
}

TEST_F(FreeSpaceTrim, AVolumeThatMustBeAskedIsTrimmedAfterItsFolderIsDeleted) {
  UseMachine(OneVolume(6 * GiB, R"(, "fileSystem": "ext4", "trimOnRequest": true)"));
  SsdOptimizeResult r = Run();
  ASSERT_EQ(r.volumes.size(), 1u);
  EXPECT_EQ(r.volumes[0].fillerFiles, 1);
  EXPECT_TRUE(r.volumes[0].trimmed);
  EXPECT_TRUE(r.volumes[0].trim.requested);
  // Asked after the filler file was deleted: the whole free space again.
  EXPECT_EQ(r.volumes[0].trim.bytesTrimmed, 6 * GiB);
  EXPECT_TRUE(Logged("SsdOptimizeThreadProc::TrimFreeSpace(C:) trimmed 6442450944 bytes."));
}

TEST_F(FreeSpaceTrim, ALeftoverFolderIsRemovedByTheCountPassAndTheVolumeFilled) {
  UseMachine(OneVolume(8 * GiB, R"(, "files": [{"path": "tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp", "size": 2147483648},
                                               {"path": "tmpxxxquarn\\sub\\deep.tmp", "size": 4096, "attributes": ["readonly"]}])"));
  SsdOptimizeResult r = Run();
  // 8 GiB free with the leftovers; 10 GiB and their one cluster once they
  // are gone.
  EXPECT_EQ(r.total, 3u);
  EXPECT_EQ(r.volumes.at(0).fillerFiles, 3);
  EXPECT_EQ(FreeOf('C'), 10 * GiB + 4096);
}

TEST_F(FreeSpaceTrim, AFolderThatCannotBeRemovedKeepsTheVolumeOutOfBothPasses) {
  UseMachine(OneVolume(12 * GiB, R"(, "files": [{"path": "tmpxxxquarn\\.hold", "size": 10}])"));
  Recorder rec;
  Run(&rec);
  EXPECT_EQ(rec.events, (std::vector<std::string>{"range 0", "pos 0", "done C: 0"}));
  EXPECT_EQ(platform::Current().Files().GetFileAttributesW("C:\\tmpxxxquarn\\.hold") & platform::FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FreeSpaceTrim, TheNamesAndCommandLineOfTheFillerFiles) {
  EXPECT_EQ(TrimFolderOf("C:"), "C:\\tmpxxxquarn");
  EXPECT_EQ(TrimFillerFileOf("C:\\tmpxxxquarn", 0), "C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp");
  EXPECT_EQ(TrimFillerCommandOf("C:\\tmpxxxquarn", 12),
            "fsutil file createnew C:\\tmpxxxquarn\\xxxtmpxxxquarnxxxwtf12.tmp 2147483648");
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

class DeleteDirectoryTest : public test::OptimizeFixture {
 protected:
  void Volume(const std::string& files, const std::string& faults = "[]") {
    UseMachine(R"({"volumes": [{"letter": "C", "size": 107374182400, "free": 53687091200,
                                "files": )" + files + R"(, "faults": )" + faults + "}]}");
  }
  bool Exists(const std::string& path) {
    return platform::Current().Files().GetFileAttributesW(path) != platform::INVALID_FILE_ATTRIBUTES;
  }
};

TEST_F(DeleteDirectoryTest, RemovesFilesAndSubfoldersButKeepsWhatBeginsWithADot) {
  struct Case {
    const char* what;
    std::string files;
    bool recursive;
    uint32_t result;
    bool folderStays;
    const char* logged;
  } cases[] = {
      {"nothing there", "[]", true, 0, false, nullptr},
      {"files and a read-only file in a subfolder",
       R"([{"path": "t\\a.tmp", "size": 10}, {"path": "t\\s\\b.tmp", "size": 10, "attributes": ["readonly"]}])",
       true, 0, false, nullptr},
      {"a subfolder without the recursive flag", R"([{"path": "t\\a.tmp"}, {"path": "t\\s", "folder": true}])",
       false, 0, true, nullptr},
      {"a file that begins with a dot", R"([{"path": "t\\.hold"}])", true, 145, true,
       "DeleteDirectory::RemoveDirectory(C:\\t) fail. Error code = 0x91"},
      {"a dot file deep down", R"([{"path": "t\\s\\.hold"}])", true, 145, true,
       "DeleteDirectory::DeleteDirectory fail. Error code = 0x91"},
  };
  for (const Case& c : cases) {
    Volume(c.files);
    EXPECT_EQ(DeleteDirectory("C:\\t", c.recursive), c.result) << c.what;
    EXPECT_EQ(Exists("C:\\t"), c.folderStays) << c.what;
    EXPECT_FALSE(Exists("C:\\t\\a.tmp")) << c.what;
    if (c.logged) {
      EXPECT_TRUE(Logged(c.logged)) << c.what;
    }
  }
}

TEST_F(DeleteDirectoryTest, FailedFileCallsAreLoggedWithTheirErrorAndTheRestGoesOn) {
  Volume(R"([{"path": "t\\a.tmp"}, {"path": "t\\b.tmp"}])",
         R"([{"call": "DeleteFileW", "path": "a.tmp", "error": 32},
             {"call": "SetFileAttributesW", "path": "b.tmp", "error": 5}])");
  // a.tmp stays, so the folder cannot be removed; b.tmp is still deleted.
  EXPECT_EQ(DeleteDirectory("C:\\t", true), 145u);
  EXPECT_TRUE(Logged("DeleteDirectory::DeleteFile fail. Error code = 0x20"));
  EXPECT_TRUE(Logged("DeleteDirectory::SetFileAttributes fail. Error code = 0x5"));
  EXPECT_TRUE(Exists("C:\\t\\a.tmp"));
  EXPECT_FALSE(Exists("C:\\t\\b.tmp"));
}

}  // namespace
}  // namespace zel
