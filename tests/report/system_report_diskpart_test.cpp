// diskpart's "detail disk" for the system report: the script file, the
// command line, the captured text and its failures, and the simulated
// machine's diskpart that answers it.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"
#include "report/system_report.h"
#include "report/system_report_support.h"

namespace zel {
namespace {

// The installed machine with its process runner watched: every command line
// and the script file's content at the moment diskpart starts.
class WatchedProcesses final : public platform::Processes {
 public:
  explicit WatchedProcesses(platform::Processes& inner) : inner_(inner) {}
  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    commandLines.push_back(commandLine);
    scripts.push_back(test::ReadFile(kDiskpartScriptName));
    return inner_.RunAndCapture(commandLine, output);
  }
  std::intptr_t CreateMutexW(const std::string& n) override { return inner_.CreateMutexW(n); }

  std::vector<std::string> commandLines;
  std::vector<std::string> scripts;

 private:
  platform::Processes& inner_;
};

class WatchedPlatform final : public platform::Platform {
 public:
  explicit WatchedPlatform(sim::SimMachine& machine) : machine_(machine), processes_(machine.Procs()) {}
  platform::DeviceIo& Devices() override { return machine_.Devices(); }
  platform::System& Sys() override { return machine_.Sys(); }
  platform::DeviceTree& Tree() override { return machine_.Tree(); }
  platform::Com& Wmi() override { return machine_.Wmi(); }
  platform::Registry& Reg() override { return machine_.Reg(); }
  platform::Processes& Procs() override { return processes_; }
  platform::Files& Files() override { return machine_.Files(); }
  platform::WindowMessages& Windows() override { return machine_.Windows(); }
  platform::DiskUses& Uses() override { return machine_.Uses(); }
  WatchedProcesses& Watched() { return processes_; }

 private:
  sim::SimMachine& machine_;
  WatchedProcesses processes_;
};

class DiskpartTest : public test::ReportTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "model": "QUARN KD785KK 512GB"}]})";
  }
  // Watches the machine installed now, for the rest of the test.
  WatchedProcesses& Watch() {
    Unwatch();
    watched_ = std::make_shared<WatchedPlatform>(Machine());
    scope_ = std::make_unique<platform::ScopedPlatform>(watched_);
    return watched_->Watched();
  }
  void Unwatch() {
    scope_.reset();
    watched_.reset();
  }
  void TearDown() override {
    Unwatch();
    test::ReportTest::TearDown();
  }

  // The simulated diskpart run on a script of our own.
  std::string RunScript(const std::string& script) {
    test::WriteFile(Dir() + "/script.txt", script);
    std::string output;
    EXPECT_TRUE(Machine().Procs().RunAndCapture("C:\\Windows\\System32\\diskpart.exe /s script.txt", &output));
    return output;
  }

 private:
  std::shared_ptr<WatchedPlatform> watched_;
  std::unique_ptr<platform::ScopedPlatform> scope_;
};

TEST_F(DiskpartTest, RunsDiskpartOnItsOwnScriptAndDeletesIt) {
  WatchedProcesses& watched = Watch();
  std::string text;
  GetDiskpartMsg(0, &text);
  EXPECT_EQ(watched.commandLines,
            std::vector<std::string>{"C:\\Windows\\System32\\diskpart.exe /s .//tmpxxxquarn.bat"});
  EXPECT_EQ(watched.scripts, std::vector<std::string>{"select disk 0\r\ndetail disk\r\n"});
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/tmpxxxquarn.bat"));
  EXPECT_NE(text.find("\r\nDisk 0 is now the selected disk.\r\n\r\nQUARN KD785KK 512GB\r\n"),
            std::string::npos);
  EXPECT_NE(text.find("\r\nThere are no volumes.\r\n"), std::string::npos);
}

TEST_F(DiskpartTest, FailuresGiveAnErrorLineInTheTextAndTheLog) {
  struct Case {
    const char* name;
    const char* machine;
    bool scriptIsAFolder;
    const char* line;
    bool started;
  } cases[] = {
      {"diskpart cannot start", R"({"diskpart": {"fails": true}})", false,
       "GetDiskpartMsg::CreateProcess fail : 0x2\n", true},
      {"start refused with its own code", R"({"diskpart": {"fails": true, "error": 5}})", false,
       "GetDiskpartMsg::CreateProcess fail : 0x5\n", true},
      // Without its own script diskpart is not started at all, so nothing
      // left behind by an earlier run can answer for another disk.
      {"script cannot be written", R"({"drives": [{"index": 0}]})", true,
       "GetDiskpartMsg::CreateFile fail : 0x5\n", false},
  };
  for (const Case& c : cases) {
    Unwatch();
    UseMachine(c.machine);
    ResetLogForNewRun();
    SetLogLevel(1);
    std::filesystem::remove_all(Dir() + "/tmpxxxquarn.bat");
    if (c.scriptIsAFolder) std::filesystem::create_directories(Dir() + "/tmpxxxquarn.bat/inside");
    WatchedProcesses& watched = Watch();
    std::string text = "left over";
    GetDiskpartMsg(0, &text);
    EXPECT_EQ(text, c.line) << c.name;
    EXPECT_EQ(watched.commandLines.size(), c.started ? 1u : 0u) << c.name;
    std::string line(c.line);
    line.pop_back();
    EXPECT_EQ(TraceLog(), "00000000 " + line + "\r\n") << c.name;
    if (!c.scriptIsAFolder) {
      EXPECT_FALSE(std::filesystem::exists(Dir() + "/tmpxxxquarn.bat")) << c.name;
    }
  }
}

TEST_F(DiskpartTest, TextIsCutTo1023Characters) {
  UseMachine(R"({"drives": [{"index": 0}],
                 "diskpart": {"banner": "", "disks": {"0": ")" + std::string(3000, 'x') + R"("}}})");
  std::string text;
  GetDiskpartMsg(0, &text);
  ASSERT_EQ(text.size(), 1023u);
  EXPECT_EQ(text.substr(0, 35), "Disk 0 is now the selected disk.\r\n\r");

  // Counted in UTF-16 characters, not bytes.
  std::string wide;
  std::string accented;
  for (int i = 0; i < 1500; ++i) accented += "\xC3\xA9";  // U+00E9
  UseMachine(R"({"drives": [{"index": 0}], "diskpart": {"banner": "", "disks": {"0": ")" + accented +
             R"("}}})");
  std::setlocale(LC_ALL, "");
  GetDiskpartMsg(0, &wide);
  EXPECT_EQ(Utf16Length(wide), 1023u);
  EXPECT_EQ(wide.substr(wide.size() - 2), "\xC3\xA9");
}

TEST_F(DiskpartTest, SimulatedDiskpartReadsTheScriptAsDiskpartDoes) {
  UseMachine(R"({"drives": [{"index": 0}], "diskpart": {"banner": "", "disks": {"5": "Five\nlines"}}})");
  struct Case {
    const char* name;
    const char* script;
    const char* output;
  } cases[] = {
      {"canned text, line feeds as CR LF", "select disk 5\r\ndetail disk\r\n",
       "Disk 5 is now the selected disk.\r\n\r\nFive\r\nlines\r\n\r\n"},
      {"comments, blank lines and short forms", "rem the disk\r\n\r\nsel disk 5\r\ndet disk\r\n",
       "Disk 5 is now the selected disk.\r\n\r\nFive\r\nlines\r\n\r\n"},
      {"no disk selected", "detail disk\n",
       "There is no disk selected.\r\nPlease select a disk and try again.\r\n\r\n"},
      {"no such disk", "select disk 9\r\ndetail disk\r\n",
       "The disk you specified is not valid.\r\n\r\n"
       "There is no disk selected.\r\nPlease select a disk and try again.\r\n\r\n"},
      {"a command it does not know ends the script", "list disk\r\nselect disk 5\r\n",
       "The command \"list disk\" is not available on the simulated machine.\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RunScript(c.script), c.output) << c.name;

  std::string output;
  ASSERT_TRUE(Machine().Procs().RunAndCapture("diskpart /s missing.bat", &output));
  EXPECT_EQ(output, "DiskPart could not open the script file \"missing.bat\".\r\n");

  // Other command lines are not diskpart's.
  platform::SetLastError(0);
  EXPECT_FALSE(Machine().Procs().RunAndCapture("C:\\Windows\\System32\\fsutil.exe fsinfo", &output));
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_FILE_NOT_FOUND);
}

TEST_F(DiskpartTest, MachineFileMistakesNameTheirField) {
  struct Case {
    const char* section;
    const char* error;
  } cases[] = {
      {R"({"fail": true})", "diskpart: unknown field \"fail\""},
      {R"({"disks": {"zero": "x"}})", "diskpart.disks.zero: expected a disk number as the name"},
      {R"({"disks": {"0": 5}})", "diskpart.disks.0: expected a text or a list of texts"},
      {R"({"disks": ["x"]})", "diskpart.disks: expected an object of disk numbers"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(std::string(R"({"diskpart": )") + c.section + "}", "m");
    EXPECT_FALSE(r.machine) << c.section;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
  }
}

TEST(DiskpartMachineFormat, ExamplesOfTheProcessesSectionLoad) {
  const std::string doc = test::ReadFile(std::string(ZEL_FIXTURES_DIR) + "/../docs/machine-format.md");
  const size_t section = doc.find("\n## Processes\n");
  ASSERT_NE(section, std::string::npos);
  int examples = 0;
  for (size_t at = doc.find("```json\n", section); at != std::string::npos;
       at = doc.find("```json\n", at + 1)) {
    const size_t begin = at + 8;
    const std::string json = doc.substr(begin, doc.find("```", begin) - begin);
    sim::LoadResult r = sim::LoadMachineText(json, "Processes example");
    EXPECT_TRUE(r.machine) << r.error << "\n" << json;
    ++examples;
  }
  EXPECT_GE(examples, 2);
}

}  // namespace
}  // namespace zel
