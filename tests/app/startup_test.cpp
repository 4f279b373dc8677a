#include "app/startup.h"
#include "report/system_report.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/strings.h"
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/errors.h"
#include "platform/sim/sim_registry.h"
#include "report/dvt_mode.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

// A window side that records what the start-up asked of it.
class RecordingHost final : public StartupHost {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void CloseWindow() override { ++closes; }
  int RunMainWindow(CQuarn_SSDZelvDlg&) override {
    ++windows;
    return 0;
  }
  std::vector<std::string> messages;
  int closes = 0;
  int windows = 0;
};

constexpr char kTwoDrives[] = R"({
  "drives": [
    {"index": 0, "model": "QUARN SSD KD765KK 512GB", "serial": "QA0"},
    {"index": 2, "model": "QUARN SSD K986 256GB", "serial": "QA2"}
  ]
})";

class StartupTest : public test::SimTest {
 protected:
  std::string MachineJson() const override { return kTwoDrives; }
  void SetUp() override {
    test::SimTest::SetUp();
    NewState();
    WmiDiskTable().clear();  // the process-wide tables start empty, as in a new process
    SetLogLevel(1);
  }

  int Start(std::vector<std::string> args) {
    args.insert(args.begin(), Dir() + "/SSDZelvane.exe");
    CQuarn_SSDZelvApp app;
    return app.InitInstance(*state_, args, host_);
  }
  // A fresh application state, as a new process has.
  void NewState() { state_ = std::make_unique<AppState>(); }
  AppState& State() { return *state_; }
  bool Logged(const std::string& text) const {
    return TraceLog().find(" " + text + "\r\n") != std::string::npos;
  }
  // Requests that reached disk `n` by its number.
  size_t RequestsToDisk(int n) {
    size_t count = 0;
    for (const auto& r : Machine().RequestLog())
      if (r.path == "\\\\.\\PhysicalDrive" + std::to_string(n)) ++count;
    return count;
  }

  RecordingHost host_;
  std::unique_ptr<AppState> state_;
};

TEST(StartupLanguage, IdentifierTagAndFont) {
  struct Case {
    uint32_t platformLanguage, id;
    const char* tag;
    const char* font;
  } cases[] = {
      {1033, 1033, "en-US", "Ariel"}, {1028, 1028, "zh-TW", "Ariel"},
      {2052, 2052, "zh-CN", "Ariel"}, {1041, 1041, "en-US", "Ariel"},
      {1042, 1042, "en-US", "Gulim"}, {1049, 1049, "en-US", "Ariel"},
      {3076, 3076, "en-US", "Ariel"},  // Chinese (Hong Kong) keeps its own identifier
      {0x0004, 2052, "zh-CN", "Ariel"},  // Chinese without a country
      {0x0011, 1041, "en-US", "Ariel"},  // Japanese without a country
      {0x0400, 1033, "en-US", "Ariel"},  // the user's default
      {0x0000, 1033, "en-US", "Ariel"},
  };
  for (const Case& c : cases) {
    uint32_t id = ConvertDefaultLocale(c.platformLanguage);
    EXPECT_EQ(id, c.id) << c.platformLanguage;
    EXPECT_EQ(UiLanguageTagFor(id), c.tag) << c.platformLanguage;
    EXPECT_STREQ(TitleFontFor(id), c.font) << c.platformLanguage;
  }
}

TEST_F(StartupTest, DialogTakesLanguageFromThePlatformAndLoadsPageNames) {
  UseMachine(R"({"uiLanguage": 1028})");
  CQuarn_SSDZelvDlg dialog(State(), host_);
  EXPECT_EQ(State().UiLanguageId, 1028u);
  EXPECT_EQ(State().UiLanguageTag, "zh-TW");
  EXPECT_TRUE(Logged("UserDefaultUILanguage:0x0404"));
  EXPECT_EQ(State().PageNames[3], "System \nOptimization");
  EXPECT_EQ(State().PageNames[5], "ATA Command Summary");
}

TEST_F(StartupTest, CommandLineScanTakesTheFirstRecognisedOption) {
  struct Case {
    std::vector<std::string> args;
    bool dvt, smuid;
    uint32_t disk;
    const char* logged;  // the number error, or null
  } cases[] = {
      {{}, false, false, 1, nullptr},
      {{"-DVT"}, true, false, 1, nullptr},
      {{"-dvt", "3"}, true, false, 3, nullptr},
      {{"-dvt", "2x"}, true, false, 2, "DVT Disk number error: Disk-2x!!!"},
      {{"-dvt", "x"}, true, false, 0, "DVT Disk number error: Disk-x!!!"},
      {{"-SMUID", "7z"}, false, true, 7, "Disk number error: Disk-7z!!!"},
      {{"-smuid", "2", "-dvt", "3"}, false, true, 2, nullptr},
      {{"-dvt", "4", "-smuid", "5"}, true, false, 4, nullptr},
      {{"-a", "-Dvt", "6", "-dvt", "5"}, true, false, 5, nullptr},  // only the two spellings count
      {{"-dvt", "99999999999"}, true, false, 0xFFFFFFFFu, nullptr},
  };
  for (const Case& c : cases) {
    ResetLogForNewRun();
    SetLogLevel(1);
    fs::remove(Dir() + "/SSDZelvane.log");
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "SSDZelvane");
    CommandLineOptions o = ScanCommandLine(args);
    std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
    EXPECT_EQ(o.dvt, c.dvt) << what;
    EXPECT_EQ(o.smuid, c.smuid) << what;
    EXPECT_EQ(o.diskNumber, c.disk) << what;
    if (c.logged) {
      EXPECT_TRUE(Logged(c.logged)) << what;
    } else {
      EXPECT_EQ(TraceLog(), "") << what;
    }
  }
}

TEST(StartupBuildNumber, FormatOfTheLastWriteTime) {
  struct Case {
    uint16_t year, month, day, hour, minute;
    const char* number;
  } cases[] = {
      {2017, 9, 27, 16, 46, "Q91B102E"},
      {2001, 12, 1, 0, 0, "AC010000"},
      {2026, 1, 31, 23, 59, "Z11F173B"},
      {2027, 10, 5, 8, 7, "[A050807"},  // the year's character goes on past 'Z'
      {1936, 1, 1, 0, 0, ""},           // no character for that year
  };
  for (const Case& c : cases) {
    platform::SystemTime t;
    t.wYear = c.year;
    t.wMonth = c.month;
    t.wDay = c.day;
    t.wHour = c.hour;
    t.wMinute = c.minute;
    EXPECT_EQ(FormatBuildNumber(t), c.number) << c.year;
  }
}

void SetLastWrite(const std::string& path, int64_t unixSeconds) {
  auto sinceEpoch = std::chrono::seconds(unixSeconds);
  fs::last_write_time(path, fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(sinceEpoch)));
}

TEST_F(StartupTest, BuildNumberComesFromTheRunningProgramsOwnFile) {
  // The program lies in bin/; the current directory holds another file of
  // the same name, which must not be taken.
  fs::create_directory(Dir() + "/bin");
  test::WriteFile(Dir() + "/bin/SSDZelvane.exe", "program");
  SetLastWrite(Dir() + "/bin/SSDZelvane.exe", 1506530818);  // 2017-09-27 16:46:58 UTC
  test::WriteFile(Dir() + "/SSDZelvane.exe", "decoy");
  SetLastWrite(Dir() + "/SSDZelvane.exe", 1262304000);  // 2010-01-01
  Machine().SetProgramPath(Dir() + "/bin/SSDZelvane.exe");

  EXPECT_EQ(ReadBuildNumber(), "Q91B102E");
  EXPECT_NE(test::ReadFile(Dir() + "/bin/SSDZelvane.log")
                .find("Build number:Q91B102E, Creation Time(UTC):2017 9 27 16 46!\r\n"),
            std::string::npos);
}

TEST_F(StartupTest, MissingProgramFileLeavesTheBuildNumberEmptyAndStartGoesOn) {
  EXPECT_EQ(Start({"-dvt", "0"}), kExitCouldNotRun);  // no criteria file: the run could not take place
  EXPECT_TRUE(Logged("Open SSDZelvane.exe fail:2!"));
  EXPECT_EQ(State().BuildNumber, "");
  EXPECT_TRUE(Logged("DVT tool usage error!!!"));
}

TEST_F(StartupTest, NormalStartLogsItsStepsInOrderAndHandsOverToTheWindow) {
  test::WriteFile(Dir() + "/SSDZelvane.exe", "program");
  EXPECT_EQ(Start({}), 0);  // the recording window's status
  EXPECT_EQ(host_.windows, 1);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(State().PhysicalDriveCount, 2);
  EXPECT_EQ(State().DrivesLoaded, 1);
  EXPECT_EQ(GetLogLevel(), 1u);
  EXPECT_FALSE(State().SystemInfo.ToolVersion.empty());

  std::string log = TraceLog();
  std::vector<std::string> steps = {"UserDefaultUILanguage:0x0409", "This build was compiled at ",
                                    "Build number:", "Enter UnderlyingUtil::GetSystemInfo()",
                                    "Enter CQuarn_SSDZelvDlg::UpdateDrivesInfo()",
                                    "Enter ATACommand::UpdatePhysicalDrivesInfo()",
                                    "Exit CQuarn_SSDZelvDlg::UpdateDrivesInfo()"};
  size_t at = 0;
  for (const std::string& step : steps) {
    size_t found = log.find(step, at);
    ASSERT_NE(found, std::string::npos) << step;
    at = found;
  }
  EXPECT_EQ(log.find("Zelvane DVT Start!!!"), std::string::npos);
}

TEST_F(StartupTest, ControllerListIsRebuiltAfterTheFirstDiscoverySoItsDrivesHaveNumbers) {
  ASSERT_EQ(Start({}), 0);
  ASSERT_EQ(State().HbaList.size(), 1u);
  const HbaEntry& hba = State().HbaList[0];
  ASSERT_EQ(hba.AttachedDeviceCount, 2);
  EXPECT_EQ(hba.AttachedDevices[0].PhysicalDriveIndex, 0);
  EXPECT_EQ(hba.AttachedDevices[1].PhysicalDriveIndex, 2);

  // When making it again fails, the first list stays rather than a part of one.
  UseMachine(std::string(kTwoDrives).insert(
      1, R"("wmi": {"faults": {"queries": [{"class": "Win32_IDEController", "skip": 1}]}},)"));
  NewState();
  WmiDiskTable().clear();
  ResetLogForNewRun();
  ASSERT_EQ(Start({}), 0);
  EXPECT_TRUE(Logged("GetHbaInfo() Connect to WMI Class Win32_IDEController fail 2"));
  ASSERT_EQ(State().HbaList.size(), 1u);
  EXPECT_EQ(State().HbaList[0].AttachedDeviceCount, 2);
  EXPECT_EQ(State().HbaList[0].AttachedDevices[0].PhysicalDriveIndex, -1);
}

TEST_F(StartupTest, FailedInventoryEndsTheStartSilentlyBeforeDiscovery) {
  UseMachine(std::string(kTwoDrives).insert(1, R"("wmi": {"faults": {"connect": "0x80041003"}},)"));
  EXPECT_EQ(Start({"-dvt", "0"}), kExitCouldNotRun);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.windows, 0);
  EXPECT_TRUE(Logged("ConnectWmiService fail 1"));
  EXPECT_EQ(TraceLog().find("UpdateDrivesInfo"), std::string::npos);
  EXPECT_EQ(TraceLog().find("Zelvane DVT"), std::string::npos);
  EXPECT_TRUE(Machine().RequestLog().empty());
}

TEST_F(StartupTest, NoUsableDriveShowsString360AndEnds) {
  for (const char* machine : {"{}", R"({"drives": [{"index": 0, "bus": "usb"}]})"}) {
    UseMachine(machine);
    host_ = RecordingHost();
    NewState();
    EXPECT_EQ(Start({"-dvt", "0"}), kExitCouldNotRun) << machine;
    ASSERT_EQ(host_.messages.size(), 1u) << machine;
    EXPECT_EQ(host_.messages[0], LoadStringText(360));
    EXPECT_EQ(host_.closes, 1);
    EXPECT_EQ(host_.windows, 0);
    EXPECT_EQ(State().DrivesLoaded, 0);
    EXPECT_TRUE(Logged("Enter CQuarn_SSDZelvDlg::UpdateDrivesInfo()"));
    EXPECT_FALSE(Logged("Exit CQuarn_SSDZelvDlg::UpdateDrivesInfo()"));
    EXPECT_EQ(TraceLog().find("Zelvane DVT"), std::string::npos);
  }
}

TEST_F(StartupTest, VendorIdentifierReadGoesOnlyToTheDiskOfTheFirstOption) {
  ASSERT_EQ(Start({}), 0);
  size_t afterDiscovery = RequestsToDisk(2);
  Machine().ClearRequestLog();
  NewState();
  ResetLogForNewRun();

  // -smuid wins over the -dvt after it: the read on disk 2, then a normal start.
  EXPECT_EQ(Start({"-smuid", "2", "-dvt", "3"}), 0);
  EXPECT_EQ(host_.windows, 2);
  EXPECT_EQ(RequestsToDisk(2), afterDiscovery + 2);  // the access, then the read
  EXPECT_EQ(RequestsToDisk(0), 0u);
  EXPECT_EQ(TraceLog().find("Zelvane DVT"), std::string::npos);
}

TEST_F(StartupTest, VerificationRunEndsTheProgramWithItsStatus) {
  test::WriteFile(Dir() + "/ZelvaneDvtA.txt", "#SMART start\r\n05,64,1,0A,6,0,0,,\r\n#SMART end\r\n");
  EXPECT_EQ(Start({"-dvt", "0"}), kDvtPassed);
  EXPECT_EQ(host_.windows, 0);
  EXPECT_TRUE(fs::exists(Dir() + "/SSDZelvane_pass.log"));

  test::WriteFile(Dir() + "/ZelvaneDvtA.txt", "#SMART start\r\n05,1,1,0A,6,0,0,,\r\n#SMART end\r\n");
  ResetLogForNewRun();
  EXPECT_EQ(Start({"-DVT", "0"}), kDvtFailed);
  EXPECT_NE(test::ReadFile(Dir() + "/SSDZelvane_fail.log").find("Current value bigger than MAX."),
            std::string::npos);

  ResetLogForNewRun();
  EXPECT_EQ(Start({"-dvt", "1"}), kDvtCouldNotRun);  // no disk 1 on this machine
  EXPECT_TRUE(Logged("Physical drive 1 not found!!!"));
}

TEST_F(StartupTest, StoredLogLevelIsReadButTheLogStaysOn) {
  for (uint32_t stored : {0u, 2u, 7u}) {
    UseMachine(std::string(kTwoDrives).insert(
        1, R"("registry": {"keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {"LogLevel": )" +
               std::to_string(stored) + "}}},"));
    ResetLogForNewRun();
    NewState();
    test::WriteFile(Dir() + "/ZelvaneDvtA.txt", "#SMART start\r\n05,64,1,0A,6,0,0,,\r\n#SMART end\r\n");
    EXPECT_EQ(Start({"-dvt", "0"}), kDvtPassed) << stored;
    EXPECT_EQ(State().StoredLogLevel, stored);
    EXPECT_EQ(GetLogLevel(), 1u);
    // Even a stored 0 leaves the verification mode its result files.
    EXPECT_NE(test::ReadFile(Dir() + "/SSDZelvane_dvt.log").find("Total: 1 SMART attributes"),
              std::string::npos)
        << stored;
    EXPECT_EQ(sim::RegistryOf(Machine()).OpenHandles(), 0u);
  }
}

TEST_F(StartupTest, SecondInstanceEndsSilentlyAndLeavesTheFirstOnesLogAlone) {
  test::WriteFile(Dir() + "/SSDZelvane.log", "the first instance's log\r\n");
  std::intptr_t window = Machine().Windows().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(window, 0);
  EXPECT_EQ(Start({"-dvt", "0"}), kExitCouldNotRun);
  EXPECT_EQ(host_.windows, 0);
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(TraceLog(), "the first instance's log\r\n");
  EXPECT_TRUE(Machine().RequestLog().empty());

  // Once the window is gone the next start runs.
  Machine().Windows().HideWindowTitle(window);
  EXPECT_EQ(Start({}), 0);
  EXPECT_EQ(host_.windows, 1);
}

TEST_F(StartupTest, InstanceMutexIsCreatedAndHeld) {
  ASSERT_EQ(Start({}), 0);
  platform::SetLastError(0);
  EXPECT_NE(Machine().Procs().CreateMutexW(kInstanceMutexName), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
}

}  // namespace
}  // namespace zel
