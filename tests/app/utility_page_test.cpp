// The Utilities page's Security Erase section through the scripted Shell:
// the controls, Run's refusals and confirmations with what reached the
// drive, and the worker's end notification drained as the main window
// would.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/dialog/scripted_shell.h"
#include "app/pages/utility_page.h"
#include "device/ata_command.h"
#include "platform/platform.h"
#include "platform/sim/sata_drive.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

constexpr const char* kWindows7 = R"("os": {"major": 6, "minor": 1, "build": 7601})";

class UtilityPage : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return std::string("{") + kWindows7 + R"(, "drives": [{"index": 0, "model": "QUARN SSD KD765KK 512GB",
                "security": {"supported": true, "eraseTime": 1, "eraseSeconds": 30}},
               {"index": 1, "kind": "nvme", "model": "QUARN NVMe KN900"}]})";
  }
  void Start(int selected = 0, std::vector<std::string> commandLine = {"SSDZelvane.exe"}) {
    ATACommand ata;
    state_.PhysicalDriveTable.clear();
    ASSERT_GE(ata.UpdatePhysicalDrivesInfo(state_.PhysicalDriveTable), 1);
    state_.SelectedDrive = selected;
    state_.RunningOperationCode = 0;
    state_.CommandLine = std::move(commandLine);
    window_ = platform::Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
    shell_ = std::make_unique<ScriptedShell>();
    page_ = std::make_unique<CUtilityPage>(state_, *shell_, 1033);
    page_->OnInitDialog();
    Machine().ClearRequestLog();
  }
  // The ATA commands the drives received, as command bytes.
  std::vector<int> Commands() {
    std::vector<int> out;
    for (const auto& r : Machine().RequestLog())
      if (r.code == 0x4D02C && r.in.size() >= 40) out.push_back(r.in[38]);
    return out;
  }
  // Drains notifications into the page until the end one.
  std::vector<int> DrainToEnd() {
    std::vector<int> phases;
    platform::MSG m;
    while (platform::Current().Windows().GetMessageW(&m, 5000)) {
      page_->OnProgress(m.wParam, m.lParam);
      phases.push_back(platform::ProgressPhase(m.wParam));
      if (phases.back() == 3) break;
    }
    return phases;
  }
  bool RunEnabled() { return page_->Model().Find(CUtilityPage::kEraseRun)->enabled; }

  AppState state_;
  std::unique_ptr<ScriptedShell> shell_;
  platform::HWND window_ = 0;
  std::unique_ptr<CUtilityPage> page_;
};

TEST_F(UtilityPage, ShowsTheSectionAndEnablesRunOnlyForSataOnVersion61) {
  Start();
  const DialogModel& m = page_->Model();
  EXPECT_EQ(m.Find(1061)->text, "Security Erase");
  EXPECT_EQ(m.Find(1052)->text, "QUARN SSD KD765KK 512GB");
  EXPECT_EQ(m.Find(1041)->text, "Run");
  EXPECT_EQ(m.Find(1058)->text, "Firmware Update");
  EXPECT_EQ(m.Find(1059)->text, "Zelvane Upgrade");
  EXPECT_EQ(m.Find(1060)->text, "Export Log");
  EXPECT_FALSE(m.Find(1062)->visible);
  EXPECT_EQ(m.Find(1053)->rect, (ControlRect{35, 95, 460, 120}));
  EXPECT_TRUE(RunEnabled());

  state_.SelectedDrive = 1;
  page_->RefreshForSelectedDrive();
  EXPECT_EQ(page_->Model().Find(1052)->text, "QUARN NVMe KN900");
  EXPECT_FALSE(RunEnabled());

  UseMachine(R"({"os": {"major": 6, "minor": 2}, "drives": [{"index": 0, "model": "QUARN SSD"}]})");
  Start();
  EXPECT_FALSE(RunEnabled());
  // A Run that reaches the handler all the same stops at the version check.
  page_->OnBnClickedButtonUtilityRun();
  EXPECT_EQ(shell_->Texts(), std::vector<std::string>{"Win 8 or above not support security erase!"});
  EXPECT_TRUE(Commands().empty());
}

TEST_F(UtilityPage, DecryptLogShowsWithDashAAnywhereInTheArguments) {
  struct Case {
    std::vector<std::string> commandLine;
    bool visible;
  } cases[] = {
      {{"SSDZelvane.exe"}, false},
      {{"SSDZelvane.exe", "-a"}, true},
      {{"SSDZelvane.exe", "-dvt", "-abc"}, true},
      {{"C:\\tools-a\\SSDZelvane.exe"}, false},
  };
  for (const Case& c : cases) {
    Start(0, c.commandLine);
    EXPECT_EQ(page_->Model().Find(1062)->visible, c.visible) << c.commandLine.back();
  }
}

TEST_F(UtilityPage, RefusalsAndAnsweringNoSendNothingAndLeaveTheCodeAtZero) {
  struct Case {
    const char* name;
    std::vector<int> answers;
    std::vector<std::string> texts;
  } cases[] = {
      {"no at the first", {IDNO}, {"The operation will erase all data. Are you sure to do it?"}},
      {"no at the last",
       {IDYES, IDNO},
       {"The operation will erase all data. Are you sure to do it?",
        "The last warning. Are you sure to do security erase?"}},
  };
  for (const Case& c : cases) {
    Start();
    for (int a : c.answers) shell_->AnswerBox(a);
    page_->OnBnClickedButtonUtilityRun();
    EXPECT_EQ(shell_->Texts(), c.texts) << c.name;
    EXPECT_EQ(shell_->Boxes().back().caption, "Warning") << c.name;
    EXPECT_EQ(shell_->Boxes().back().buttons, MessageButtons::YesNo) << c.name;
    EXPECT_EQ(state_.RunningOperationCode, 0) << c.name;
    EXPECT_TRUE(RunEnabled()) << c.name;
    EXPECT_TRUE(Commands().empty()) << c.name;
  }

  Start();
  state_.RunningOperationCode = 1;
  page_->OnBnClickedButtonUtilityRun();
  EXPECT_EQ(shell_->Texts(),
            std::vector<std::string>{"There is a process running! Any action is not allowed!"});
  EXPECT_EQ(shell_->Unanswered(), 0);

  UseMachine(std::string("{") + kWindows7 +
             R"(, "drives": [{"index": 0, "model": "QUARN SSD", "security": {"supported": true, "frozen": true}}]})");
  Start();
  page_->OnBnClickedButtonUtilityRun();
  EXPECT_EQ(shell_->Texts(), std::vector<std::string>{
                                 "Target drive is frozen. Can't do security erase. Please try to hot plug the drive."});
  EXPECT_TRUE(Commands().empty());
}

TEST_F(UtilityPage, ConfirmedRunErasesAndTheEndNotificationMakesThePageIdle) {
  Start();
  shell_->AnswerBox(IDYES);
  shell_->AnswerBox(IDYES);
  page_->OnBnClickedButtonUtilityRun();
  EXPECT_EQ(state_.RunningOperationCode, 4);
  EXPECT_FALSE(RunEnabled());
  EXPECT_EQ(DrainToEnd(), (std::vector<int>{1, 3}));
  std::vector<MessageBoxRequest> boxes = shell_->Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[2].text, "Security Erase done. Please reboot system.");
  EXPECT_EQ(boxes[2].caption, "Done");
  EXPECT_FALSE(boxes[2].owned);
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_TRUE(RunEnabled());
  // SET PASSWORD, PREPARE, ERASE UNIT, IDENTIFY at 0 to 30 s, FLUSH, STANDBY.
  EXPECT_EQ(Commands(), (std::vector<int>{0xF1, 0xF3, 0xF4, 0xEC, 0xEC, 0xEC, 0xEC, 0xEC, 0xEC,
                                          0xEC, 0xEA, 0xE0}));
}

TEST_F(UtilityPage, AFailedEraseShowsItsErrorAndThatThePasswordIsGoneAgain) {
  UseMachine(std::string("{") + kWindows7 +
             R"(, "drives": [{"index": 0, "model": "QUARN SSD", "security": {"supported": true},
                 "faults": [{"form": "any", "command": "0xF4", "effect": "abort"}]}]})");
  Start();
  shell_->AnswerBox(IDYES);
  shell_->AnswerBox(IDYES);
  page_->OnBnClickedButtonUtilityRun();
  DrainToEnd();
  std::vector<MessageBoxRequest> boxes = shell_->Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[2].text, "Security Erase command fail.");
  EXPECT_EQ(boxes[2].caption, "Error");
  EXPECT_EQ(boxes[3].text,
            "The temporary security password was removed again; the drive will not be locked at "
            "its next power-up.");
  EXPECT_EQ(boxes[3].caption, "Error");
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_EQ(Commands(), (std::vector<int>{0xF1, 0xF3, 0xF4, 0xF6}));
  auto* sata = dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(0));
  EXPECT_EQ(sata->SecurityWord() & 0x0002, 0);
}

TEST_F(UtilityPage, WithoutTheMainWindowTheWorkerResetsTheCode) {
  Start();
  platform::Current().Windows().HideWindowTitle(window_);
  shell_->AnswerBox(IDYES);
  shell_->AnswerBox(IDYES);
  page_->OnBnClickedButtonUtilityRun();
  for (int i = 0; i < 5000 && state_.RunningOperationCode != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_TRUE(Commands().empty());
}

}  // namespace
}  // namespace zel
