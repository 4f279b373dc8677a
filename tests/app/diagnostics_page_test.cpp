// The Diagnostics page's two self-test areas through the scripted Shell,
// with the worker really running on the simulated machine's virtual clock
// and the test draining the window's queue as the main window would.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/dialog/scripted_shell.h"
#include "app/pages/diagnostics_page.h"
#include "device/ata_command.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class DiagnosticsPage : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "model": "QUARN SSD KD765KK 512GB",
                "selfTest": {"shortSeconds": 20, "extendedSeconds": 40}}]})";
  }
  void Start() {
    ATACommand ata;
    state_.PhysicalDriveTable.clear();
    ASSERT_EQ(ata.UpdatePhysicalDrivesInfo(state_.PhysicalDriveTable), 1);
    state_.SelectedDrive = 0;
    state_.RunningOperationCode = 0;
    SelfTestCancelFlag() = false;
    window_ = platform::Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
    shellHolder_ = std::make_unique<ScriptedShell>();
    page_ = std::make_unique<CDiagnoticsPage>(state_, *shellHolder_, 1033);
    page_->OnInitDialog();
  }
  // Drains notifications into the page until the end one; returns the
  // phases and the bar positions seen.
  std::vector<std::pair<int, int>> DrainToEnd(std::function<void(int phase)> each = nullptr) {
    std::vector<std::pair<int, int>> seen;
    platform::MSG m;
    while (platform::Current().Windows().GetMessageW(&m, 5000)) {
      page_->OnProgress(m.wParam, m.lParam);
      int phase = platform::ProgressPhase(m.wParam);
      seen.push_back({phase, page_->Model().Item(CDiagnoticsPage::kQuickBar).position});
      if (each) each(phase);
      if (phase == 3) break;
    }
    return seen;
  }
  AppState state_;
  std::unique_ptr<ScriptedShell> shellHolder_;
  platform::HWND window_ = 0;
  std::unique_ptr<CDiagnoticsPage> page_;
};

TEST_F(DiagnosticsPage, StartsIdleWithTheSelectedDrivesModel) {
  Start();
  const DialogModel& m = page_->Model();
  for (int id : {1072, 1074}) EXPECT_FALSE(m.Find(id)->enabled) << id;
  for (int id : {1041, 1073}) EXPECT_TRUE(m.Find(id)->enabled) << id;
  for (int id : {1119, 1120}) EXPECT_FALSE(m.Find(id)->visible) << id;
  EXPECT_EQ(m.Find(1066)->text, "QUARN SSD KD765KK 512GB");
  EXPECT_EQ(m.Find(1086)->text, "QUARN SSD KD765KK 512GB");
  EXPECT_EQ(m.Find(1064)->text, "Quick Diagnostics Scan");
  EXPECT_EQ(m.Find(1075)->text, "Alert Setting");
}

TEST_F(DiagnosticsPage, QuickTestRunsToSuccessAndTheOtherRunIsRefused) {
  Start();
  page_->OnBnClickedButtonQuickRun();
  EXPECT_EQ(state_.RunningOperationCode, 1);
  EXPECT_FALSE(page_->Model().Find(1041)->enabled);
  EXPECT_TRUE(page_->Model().Find(1072)->enabled);
  bool refused = false;
  auto seen = DrainToEnd([&](int phase) {
    if (phase == 1 && !refused) {
      page_->OnBnClickedButtonFullRun();
      refused = true;
    }
  });
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 0}, {2, 20}, {2, 50}, {2, 70}, {3, 100}}));
  EXPECT_EQ(shellHolder_->Texts(), (std::vector<std::string>{
                                "There is a process running! Any action is not allowed!",
                                "Diagnotics quick scan is done successsfully!"}));
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_TRUE(page_->Model().Find(1041)->enabled);
  EXPECT_FALSE(page_->Model().Find(1072)->enabled);
  EXPECT_FALSE(page_->Model().Find(1119)->visible);
}

TEST_F(DiagnosticsPage, EndingsShowTheirMessage) {
  struct Case {
    const char* selfTest;
    std::vector<std::string> texts;
  } cases[] = {
      {R"({"shortSeconds": 20, "result": "0x73"})", {"Diagnotics quick scan fails!"}},
      {R"({"shortSeconds": 20, "status": "0x00"}, "smart": {"bytes": [{"offset": 367, "hex": "0B"}]})",
       {"Diagnotics quick scan fails!",
        "This drive does not support a self-test; no test was run."}},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0, "selfTest": )") + c.selfTest + "}]}");
    Start();
    page_->OnBnClickedButtonQuickRun();
    DrainToEnd();
    EXPECT_EQ(shellHolder_->Texts(), c.texts) << c.selfTest;
    EXPECT_EQ(state_.RunningOperationCode, 0);
  }
}

TEST_F(DiagnosticsPage, CancelAbortsInTheDriveAndShowsTheAbortOnce) {
  // A test long enough (200,000 readings) that the worker cannot finish it
  // before the page has pressed Cancel.
  UseMachine(R"({"drives": [{"index": 0, "selfTest": {"shortSeconds": 1000000}}]})");
  Start();
  page_->OnBnClickedButtonQuickRun();
  bool cancelled = false;
  DrainToEnd([&](int phase) {
    if (phase == 2 && !cancelled) {
      page_->OnBnClickedButtonQuickCancel();
      cancelled = true;
    }
  });
  // The worker may see the flag before or after the drive shows the abort:
  // an aborted result or none, never a pass, and the page is idle again.
  std::vector<std::string> texts = shellHolder_->Texts();
  EXPECT_TRUE(texts.empty() ||
              texts == std::vector<std::string>{"Diagnotics quick scan is aborted!"});
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_FALSE(SelfTestCancelFlag());
  bool aborted = false;
  for (const auto& r : Machine().RequestLog())
    if (r.code == 0x4D02C && r.in.size() > 38 && r.in[38] == 0xB0 && r.in[32] == 0xD4 &&
        r.in[34] == 0x7F)
      aborted = true;
  EXPECT_TRUE(aborted);
}

TEST_F(DiagnosticsPage, WithoutTheMainWindowTheWorkerResetsTheCode) {
  Start();
  platform::Current().Windows().HideWindowTitle(window_);
  page_->OnBnClickedButtonFullRun();
  for (int i = 0; i < 5000 && state_.RunningOperationCode != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(state_.RunningOperationCode, 0);
}

}  // namespace
}  // namespace zel
