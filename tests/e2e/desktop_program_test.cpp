// SSDZelvane run as a script runs it: on a machine file, in a folder of its
// own, with no display; what it wrote and its exit status are read back.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "app/startup.h"
#include "e2e/program_runner.h"
#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

using test::Timed;
using test::Untimed;

std::string SummaryOf(int smart, int identify) {
  return Timed({"Total: " + std::to_string(smart) + " SMART attributes from config file.",
                "Checked SMART attributes from config file.",
                "Total: " + std::to_string(identify) + " Identify Table from config file.",
                "Checked Identify Table from config file."});
}

// The texts appear in the log in this order.
void ExpectInOrder(const std::string& log, const std::vector<std::string>& texts) {
  size_t at = 0;
  for (const std::string& t : texts) {
    size_t found = log.find(t, at);
    ASSERT_NE(found, std::string::npos) << "missing, or out of order: " << t;
    at = found + t.size();
  }
}

constexpr char kReport0[] = "SSDZelvane_DVT_fail_QKK7650000000001.log";
// A criteria file every SATA drive of the demo machine passes.
constexpr char kAnySataDrive[] = "#SMART start\r\n05,64,0,0A,6,FFFF,0,,\r\n#SMART end\r\n";

class DesktopProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    machine_ = WriteMachine();
  }
  std::string machine_;
};

TEST_F(DesktopProgramTest, PassingVerificationWritesItsFilesAndEndsWith0) {
  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
  // The program's own file, last written 2017-09-27 16:46:58 UTC.
  test::WriteFile(Path("SSDZelvane.exe"), "program");
  fs::last_write_time(Path("SSDZelvane.exe"),
                      fs::file_time_type::clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(1506530818))));

  ProgramRun run = Desktop({"--machine", machine_, "-dvt", "0"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  EXPECT_EQ(Read("SSDZelvane_dvt.log"), SummaryOf(7, 9));
  EXPECT_EQ(Read("SSDZelvane_pass.log"), Timed({""}));
  EXPECT_FALSE(Exists("SSDZelvane_fail.log"));
  std::string report = Read(kReport0);
  EXPECT_EQ(report.substr(0, report.find("\r\n         Identify Table")),
            Untimed({"Spec file: ZelvaneDvtPass.txt\n         Physical Drive: 0, Model: QUARN SSD KD765KK 512GB\n",
                     "ID-SMART ID, CV-Current Value, TV-Threshold Value, RV-Reserved Value\n",
                     "ID:Flag:CV:TV:RV:   Raw Value", "01:000B:64:32:00:000000000000",
                     "05:0033:64:0A:00:000000000000", "09:0032:64:00:00:0000000010E1",
                     "0C:0032:64:00:00:00000000032C", "C2:0022:44:00:00:002D00120020",
                     "CA:0030:61:01:00:000000000003", "E9:0032:64:00:00:000000600000"}));
  // The IDENTIFY table ends the report: no finding follows it.
  EXPECT_NE(report.find("\r\n0F0 "), std::string::npos);
  EXPECT_EQ(report.substr(report.size() - 4), "\r\n\r\n");

  std::string trace = Read("SSDZelvane.log");
  EXPECT_EQ(trace.rfind("00000000 UserDefaultUILanguage:0x0409\r\n", 0), 0u);
  ExpectInOrder(trace, {"This build was compiled at ",
                        "Build number:Q91B102E, Creation Time(UTC):2017 9 27 16 46!\r\n",
                        "Enter UnderlyingUtil::GetSystemInfo()", "Total HBA number:1",
                        "Enter CQuarn_SSDZelvDlg::UpdateDrivesInfo()",
                        "Exit CQuarn_SSDZelvDlg::UpdateDrivesInfo()",
                        "00000000 \r\n\r\nZelvane DVT Start!!!\r\n\r\n",
                        "00000000 Zelvane DVT criteria file :ZelvaneDvtPass.txt\r\n"});
  std::string complete = "00000000 \r\n\r\nZelvane DVT Complete!!!\r\n\r\n";
  EXPECT_EQ(trace.substr(trace.size() - complete.size()), complete);
}

TEST_F(DesktopProgramTest, FailingVerificationListsItsFindingsAndEndsWith1) {
  // An earlier passing run leaves its pass marker: only the status tells.
  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
  ASSERT_EQ(Desktop({"--machine", machine_, "-dvt", "0"}).status, 0);
  std::string earlierPass = Read("SSDZelvane_pass.log");
  fs::remove(Path("ZelvaneDvtPass.txt"));
  CopyFixture("dvt/ZelvaneDvtFailures.txt", "ZelvaneDvtFailures.txt");

  ProgramRun run = Desktop({"--machine", machine_, "-dvt", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("SSDZelvane_dvt.log"), SummaryOf(17, 12));
  EXPECT_EQ(Read("SSDZelvane_pass.log"), earlierPass);

  std::string fail = Read("SSDZelvane_fail.log");
  EXPECT_EQ(fail.rfind(Timed({"SAMRT info format error. SMART ID:0x05", "SAMRT ID:0G format error.",
                              "SMART ID 0xbb not exist!"}),
                       0),
            0u);
  for (const std::string& lines :
       {Timed({"SMART attribute ID:0x05 error. Current value bigger than MAX.", "Current value(0x64)", "MAX(0x0).\n"}),
        Timed({"SMART attribute ID:0x09 error. Raw value(0x10E1) smaller than MIN(0x2000)."}),
        Timed({"SMART attribute ID:0xC2 error. Temperature(1179680) mis-match(32)."}),
        Timed({"SMART attribute ID:0x05 error. Remaining Life(100) mis-match(97)."}),
        Timed({"SAMRT ID:E9 formula format error."}),
        Timed({"SAMRT ID:E9 TBW(0x3000) does not match to Zelvane.", "TBW of Zelvane is 0x1800"}),
        Timed({"Identify data error!!! Word 23 to Word 26:SV1.0A  ; expected:SV1.0B", "Identify Table Error!!!"})})
    EXPECT_NE(fail.find(lines), std::string::npos) << lines;
  size_t tableErrors = 0;
  for (size_t at = fail.find("Identify Table Error!!!"); at != std::string::npos;
       at = fail.find("Identify Table Error!!!", at + 1))
    ++tableErrors;
  EXPECT_EQ(tableErrors, 9u);  // the three bit-form format errors end their lines at once

  std::string findings = Read(kReport0);
  findings = findings.substr(findings.find("\r\n0F0 "));
  for (const std::string& line :
       {Untimed({"Identify data error!!! Word 103 to Word 100: 0x000000003B9E12B0; expected: 0x000000003B9E12B1"}),
        Untimed({"Identify data error!!! Word 60 to Word 61: 0xFFFF0FFF; expected: 0xffff0fff"}),
        Untimed({"2. Identify format error:61-60,0FFFFFFF"}),
        Untimed({"Bit value not match. Word:83, Bit:10, real value:1, expected value:0\nIdentify word:0x7401, Bit number:10"}),
        Untimed({"7. Identify format error:83,10,1x"})})
    EXPECT_NE(findings.find(line), std::string::npos) << line;
}

TEST_F(DesktopProgramTest, VerificationThatCannotRunEndsWith2AndWritesNoResults) {
  ProgramRun run = Desktop({"--machine", machine_, "-dvt", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "Invalid file handle. Error is 2.\n");
  std::string trace = Read("SSDZelvane.log");
  ExpectInOrder(trace, {"00000000 Zelvane DVT criteria file :\r\n", "00000000 DVT tool usage error!!!\r\n"});
  for (const char* file : {kReport0, "SSDZelvane_dvt.log", "SSDZelvane_pass.log", "SSDZelvane_fail.log"})
    EXPECT_FALSE(Exists(file)) << file;

  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  run = Desktop({"--machine", machine_, "-dvt", "9"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(Read("SSDZelvane.log").find("Physical drive 9 not found!!!"), std::string::npos);
  EXPECT_FALSE(Exists("SSDZelvane_dvt.log"));
}

TEST_F(DesktopProgramTest, DiskNumberOfTheCommandLine) {
  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  struct Case {
    std::vector<std::string> args;
    const char* report;      // the report file, named by the drive's serial number
    const char* header;      // its drive line
    const char* traced;      // a trace line the case writes, or null
  } cases[] = {
      {{"-DVT"}, "SSDZelvane_DVT_fail_QK98600000000002.log", "Physical Drive: 1, Model: QUARN SSD K986 256GB", nullptr},
      {{"-dvt", "2x"}, "SSDZelvane_DVT_fail_QKD78500000000003.log", "Physical Drive: 2, Model: QUARN SSD KD785 1TB",
       "DVT Disk number error: Disk-2x!!!"},
      // The options that choose the machine and the registry file are out of
      // the way before the scan: -dvt has no number after it.
      {{"-dvt", "--registry-out", "registry.json"}, "SSDZelvane_DVT_fail_QK98600000000002.log",
       "Physical Drive: 1, Model: QUARN SSD K986 256GB", nullptr},
  };
  for (const Case& c : cases) {
    std::string what = c.args[0] + " " + c.args.back();
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, {"--machine", machine_});
    ProgramRun run = Desktop(args);
    EXPECT_EQ(run.status, 0) << what;
    EXPECT_NE(Read(c.report).find(c.header), std::string::npos) << what;
    std::string trace = Read("SSDZelvane.log");
    if (c.traced) {
      EXPECT_NE(trace.find(c.traced), std::string::npos) << what;
    } else {
      EXPECT_EQ(trace.find("Disk number error"), std::string::npos) << what;
    }
    fs::remove(Path(c.report));
  }
}

TEST_F(DesktopProgramTest, VendorIdentifierOptionFirstMeansANormalStart) {
  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  ProgramRun run = Desktop({"--machine", machine_, "-smuid", "2", "-dvt", "3"});
  // A normal start ends at the hand-over to the window, which has no display here.
  EXPECT_EQ(run.status, kExitNoMainWindow);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "SSDZelvane: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not "
            "set); SSDZelvane --screenshots DIR renders it into pictures instead\n");
  std::string trace = Read("SSDZelvane.log");
  EXPECT_NE(trace.find("Exit ATACommand::SendAtaCommandPhysicalDrive(0x2, 0xA0,"), std::string::npos);
  EXPECT_EQ(trace.find("SendAtaCommandPhysicalDrive(0x3,"), std::string::npos);
  EXPECT_EQ(trace.find("Zelvane DVT"), std::string::npos);
  EXPECT_FALSE(Exists("SSDZelvane_dvt.log"));
}

TEST_F(DesktopProgramTest, RegistryIsWrittenBackToTheFileNamed) {
  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  // A stored log level of 0 does not silence the verification mode.
  std::string machine = WriteMachine(
      "with-registry.json",
      {{"registry", {{"keys", {{"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane", {{"LogLevel", 0}}}}}}}});
  ProgramRun run = Desktop({"--machine", machine, "--registry-out", "registry-after.json", "-dvt", "0"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("SSDZelvane_dvt.log"), SummaryOf(1, 0));
  nlohmann::json written = nlohmann::json::parse(Read("registry-after.json"));
  ASSERT_TRUE(written["keys"].contains("SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane")) << written.dump();
  EXPECT_EQ(written["keys"]["SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane"]["LogLevel"],
            nlohmann::json({{"type", "REG_DWORD"}, {"data", 0}}));
  EXPECT_TRUE(written["keys"].contains("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"));

  // The machine file's own "file" is used when the command line names none.
  machine = WriteMachine("with-file.json", {{"registry", {{"file", "from-machine.json"}}}});
  EXPECT_EQ(Desktop({"--machine", machine, "-dvt", "0"}).status, 0);
  EXPECT_TRUE(Exists("from-machine.json"));

  // A file that cannot be written is told, and the run does not count as passed.
  run = Desktop({"--machine", machine_, "--registry-out", Path("no-such-folder/registry.json"), "-dvt", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "SSDZelvane: the registry could not be written to " + Path("no-such-folder/registry.json") + "\n");

  run = Desktop({"--machine", machine_, "-dvt", "0", "--registry-out"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "SSDZelvane: --registry-out needs a file name\n");
}

TEST_F(DesktopProgramTest, SecondInstanceIsRefusedWhileTheFirstShowsItsWindow) {
  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
  test::WriteFile(Path("SSDZelvane.log"), "the first instance's trace\r\n");
  // This test process stands for the first instance: it shows the main
  // window's title on the same machine.
  sim::LoadResult first = sim::LoadMachineFile(machine_);
  ASSERT_TRUE(first.machine) << first.error;
  std::intptr_t window = first.machine->Windows().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(window, 0);

  ProgramRun run = Desktop({"--machine", machine_, "-dvt", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("SSDZelvane.log"), "the first instance's trace\r\n");
  EXPECT_FALSE(Exists("SSDZelvane_dvt.log"));

  // Another machine is another machine.
  std::string other = WriteMachine("other.json");
  EXPECT_EQ(Desktop({"--machine", other, "-dvt", "0"}).status, 0);

  first.machine->Windows().HideWindowTitle(window);
  fs::remove(Path("SSDZelvane_dvt.log"));
  EXPECT_EQ(Desktop({"--machine", machine_, "-dvt", "0"}).status, 0);
  EXPECT_EQ(Read("SSDZelvane_dvt.log"), SummaryOf(7, 9));
}

TEST_F(DesktopProgramTest, RunsWithoutADisplayOrAWindowToolkit) {
  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
  // No DISPLAY and no WAYLAND_DISPLAY (the runner removes both), and a
  // toolkit platform that does not exist.
  ProgramRun run = Desktop({"--machine", machine_, "-dvt", "0"}, {"QT_QPA_PLATFORM=no-such-platform"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Read("SSDZelvane_dvt.log"), SummaryOf(7, 9));
}

TEST_F(DesktopProgramTest, MachineFromTheEnvironmentAndBadMachineFiles) {
  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  ProgramRun run = RunProgram(std::string(ZEL_BIN_DIR) + "/SSDZelvane", {"-dvt", "0"}, Dir(),
                              {"ZELVANE_MACHINE=" + machine_});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Exists("SSDZelvane_pass.log"));

  test::WriteFile(Path("broken.json"), "{\"drives\": [");
  run = Desktop({"--machine", Path("broken.json"), "-dvt", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("SSDZelvane: " + Path("broken.json") + ": not valid JSON", 0), 0u) << run.err;

  test::WriteFile(Path("misspelt.json"), R"({"drivez": []})");
  run = Desktop({"--machine", Path("misspelt.json")});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("drivez"), std::string::npos) << run.err;

  run = Desktop({"-dvt", "0", "--machine"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--machine needs a machine file"), std::string::npos) << run.err;
}

TEST_F(DesktopProgramTest, NoUsableDriveShowsItsMessageAndEnds) {
  std::string machine = WriteMachine("no-drives.json", {{"drives", nlohmann::json::array()}, {"volumes", nullptr}});
  test::WriteFile(Path("ZelvaneDvtAny.txt"), kAnySataDrive);
  ProgramRun run = Desktop({"--machine", machine, "-dvt", "0"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "SSDZelvane: No available SATA disk! Try using a windows AHCI driver for SATA controllers. "
            "This window will quit.\n");
  EXPECT_FALSE(Exists("SSDZelvane_dvt.log"));
}

}  // namespace
}  // namespace zel::e2e

namespace zel::e2e {
namespace {

TEST_F(DesktopProgramTest, ScreenshotsAreRenderedWithoutADisplay) {
  ProgramRun run = Desktop({"--machine", machine_, "--screenshots", Path("shots")});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* name : {"drive-info-sata.png", "diagnostics.png", "utilities.png",
                           "system-optimization.png", "system-info.png", "drive-info-nvme.png",
                           "drive-info-other-maker.png", "popup-drive-details.png",
                           "popup-smart-details.png", "diagnostics-self-test.png"}) {
    std::string png = Read(std::string("shots/") + name);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
  }
  // The window was built by the normal start.
  EXPECT_NE(Read("SSDZelvane.log").find("Exit CQuarn_SSDZelvDlg::OnInitDialog()"), std::string::npos);

  ProgramRun missing = Desktop({"--machine", machine_, "--screenshots"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "SSDZelvane: --screenshots needs a folder\n");
}

}  // namespace
}  // namespace zel::e2e
