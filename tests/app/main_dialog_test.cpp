// The main window without a toolkit: page and drive selection, Previous and
// Next, Refresh, Home, Close, the refusals while an operation runs and the
// routing of the workers' notifications, on simulated machines through the
// scripted Shell.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog/scripted_shell.h"
#include "app/pages/diagnostics_page.h"
#include "app/pages/drive_info_page.h"
#include "app/startup.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class QuietHost final : public StartupHost {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void CloseWindow() override { ++closes; }
  int RunMainWindow(CQuarn_SSDZelvDlg&) override { return 0; }
  std::vector<std::string> messages;
  int closes = 0;
};

// `count` SATA drives of the maker, disk numbers 0.., sizes 100, 200, ... GB.
std::string Drives(int count, const std::string& extra = "") {
  std::string json = R"({"drives": [)";
  for (int i = 0; i < count; ++i) {
    if (i) json += ", ";
    json += R"({"index": )" + std::to_string(i) + R"(, "model": "QUARN SSD KD755 )" +
            std::to_string(i) + R"(", "serial": "S)" + std::to_string(i) + R"(", "size": )" +
            std::to_string((i + 1) * 100) + "000000000" + extra + "}";
  }
  return json + "]";
}

class MainDialogTest : public test::SimTest {
 protected:
  CQuarn_SSDZelvDlg& Start(const std::string& machine) {
    UseMachine(machine);
    WmiDiskTable().clear();
    SetLogLevel(1);
    state_ = std::make_unique<AppState>();
    dialog_ = std::make_unique<CQuarn_SSDZelvDlg>(*state_, host_);
    EXPECT_TRUE(dialog_->InitBeforeWindow({Dir() + "/SSDZelvane.exe"}));
    EXPECT_EQ(platform::Current().Windows().FindWindowW("QUARN SSD Zelvane"), 0)
        << "the title is set only by the normal start's window";
    EXPECT_TRUE(dialog_->InitMainWindow(shell_));
    return *dialog_;
  }
  void TearDown() override {
    dialog_.reset();
    test::SimTest::TearDown();
  }
  const Control& C(int id) { return *dialog_->Model().Find(id); }
  std::vector<std::string> DriveLabels() {
    std::vector<std::string> labels;
    for (int id : {1005, 1006, 1007})
      labels.push_back(C(id).visible ? C(id).text : std::string("-"));
    return labels;
  }

  QuietHost host_;
  ScriptedShell shell_;
  std::unique_ptr<AppState> state_;
  std::unique_ptr<CQuarn_SSDZelvDlg> dialog_;
};

TEST_F(MainDialogTest, BuildsTheWindowInOrderWithItsLogLines) {
  Start(Drives(2) + "}");
  EXPECT_NE(platform::Current().Windows().FindWindowW("QUARN SSD Zelvane"), 0);
  std::vector<std::string> lines = TraceLines();
  std::vector<std::string> expected = {
      "Enter CQuarn_SSDZelvDlg::OnInitDialog()",       "Check tmp folder done!",
      "Enter CQuarn_SSDZelvDlg::InitControlBitmaps()", "Exit CQuarn_SSDZelvDlg::InitControlBitmaps()",
      "Enter CQuarn_SSDZelvDlg::SetWindowRegionAndPosition()",
      "Exit CQuarn_SSDZelvDlg::SetWindowRegionAndPosition()",
      "Enter CQuarn_SSDZelvDlg::InitPropertyPages()",  "Exit CQuarn_SSDZelvDlg::InitPropertyPages()",
      "Enter CQuarn_SSDZelvDlg::SetControlPosition()", "Exit CQuarn_SSDZelvDlg::SetControlPosition()",
      "Enter CQuarn_SSDZelvDlg::InitControlInfo()",    "Exit CQuarn_SSDZelvDlg::InitControlInfo()",
      "Exit CQuarn_SSDZelvDlg::OnInitDialog()"};
  // The expected lines appear in this order (pages log lines of their own between them).
  auto at = lines.begin();
  for (const std::string& e : expected) {
    at = std::find(at, lines.end(), e);
    ASSERT_NE(at, lines.end()) << "missing or out of order: " << e;
  }
  EXPECT_EQ(C(1012).text, "       Drive Info");
  EXPECT_EQ(C(1012).colour, RGB(255, 255, 255));
  EXPECT_TRUE(C(1012).font.bold);
  EXPECT_TRUE(C(1000).pushed);
  EXPECT_FALSE(C(1013).visible) << "the ATA Command Summary button stays hidden";
  EXPECT_EQ(C(1003).text, "System \nOptimization");
  EXPECT_EQ(C(1000).toolTip, "Show the drive information");
  EXPECT_EQ(C(600).text, "SSD ZELVANE Property Sheet");
}

TEST_F(MainDialogTest, FiveDrivesWithNextTwiceAndBack) {
  CQuarn_SSDZelvDlg& d = Start(Drives(5) + "}");
  EXPECT_EQ(DriveLabels(), (std::vector<std::string>{"Disk0\n100GB", "Disk1\n200GB", "Disk2\n300GB"}));
  EXPECT_FALSE(C(1008).enabled);
  EXPECT_TRUE(C(1009).enabled);
  EXPECT_TRUE(C(1005).pushed);
  EXPECT_EQ(state_->SelectedDrive, 0);

  d.OnCommand(1009);
  EXPECT_EQ(DriveLabels(), (std::vector<std::string>{"Disk1\n200GB", "Disk2\n300GB", "Disk3\n400GB"}));
  EXPECT_TRUE(C(1008).enabled) << "Previous is enabled after the first Next";
  EXPECT_TRUE(C(1009).enabled);
  EXPECT_EQ(state_->SelectedDrive, 3) << "Next selects the third button";
  EXPECT_TRUE(C(1007).pushed);

  d.OnCommand(1009);
  EXPECT_EQ(DriveLabels(), (std::vector<std::string>{"Disk2\n300GB", "Disk3\n400GB", "Disk4\n500GB"}));
  EXPECT_FALSE(C(1009).enabled);
  EXPECT_EQ(d.FirstVisibleDrive(), 2);
  EXPECT_EQ(d.LastVisibleDrive(), 4);
  EXPECT_EQ(state_->SelectedDrive, 4);
  d.OnCommand(1009);  // at the end: nothing moves
  EXPECT_EQ(d.FirstVisibleDrive(), 2);

  d.OnCommand(1008);
  EXPECT_EQ(d.FirstVisibleDrive(), 1);
  EXPECT_TRUE(C(1009).enabled) << "Next is usable again after Previous";
  EXPECT_EQ(state_->SelectedDrive, 1) << "Previous selects the first button";
  d.OnCommand(1006);
  EXPECT_EQ(state_->SelectedDrive, 2);
  EXPECT_TRUE(C(1006).pushed);
  EXPECT_FALSE(C(1005).pushed);

  // Home: the Drive Info page and the first visible drive.
  d.OnCommand(1002);
  d.OnCommand(1011);
  EXPECT_EQ(d.CurrentPage(), 0);
  EXPECT_EQ(state_->SelectedDrive, 1) << "Home selects the first visible drive";
  // Refresh: back to the first three drives.
  d.OnCommand(1010);
  EXPECT_EQ(d.FirstVisibleDrive(), 0);
  EXPECT_EQ(state_->SelectedDrive, 0);
  EXPECT_FALSE(C(1008).enabled);
  EXPECT_TRUE(C(1009).enabled);
  EXPECT_TRUE(C(1010).enabled);
  EXPECT_TRUE(shell_.Texts().empty());
}

TEST_F(MainDialogTest, DriveButtonsFollowTheDriveCount) {
  struct Case {
    int drives;
    std::vector<std::string> labels;
  } cases[] = {
      {1, {"Disk0\n100GB", "-", "-"}},
      {2, {"Disk0\n100GB", "Disk1\n200GB", "-"}},
      {3, {"Disk0\n100GB", "Disk1\n200GB", "Disk2\n300GB"}},
  };
  for (const Case& c : cases) {
    CQuarn_SSDZelvDlg& d = Start(Drives(c.drives) + "}");
    EXPECT_EQ(DriveLabels(), c.labels) << c.drives;
    EXPECT_FALSE(C(1008).enabled);
    EXPECT_FALSE(C(1009).enabled);
    d.OnCommand(1009);
    d.OnCommand(1007);  // a button without a drive is ignored
    EXPECT_EQ(d.FirstVisibleDrive(), 0);
    EXPECT_EQ(state_->SelectedDrive, c.drives >= 3 ? 2 : 0);
    dialog_.reset();
  }
}

TEST_F(MainDialogTest, SystemInfoHidesTheDriveAndSmallButtons) {
  CQuarn_SSDZelvDlg& d = Start(Drives(2) + "}");
  d.OnCommand(1004);
  EXPECT_EQ(d.CurrentPage(), 4);
  EXPECT_EQ(C(1012).text, "       System Info");
  EXPECT_TRUE(C(1004).pushed);
  EXPECT_FALSE(C(1000).pushed);
  for (int id : {1005, 1006, 1007, 1008, 1009, 1010, 1011}) EXPECT_FALSE(C(id).visible) << id;
  d.OnCommand(1000);
  EXPECT_TRUE(C(1005).visible);
  EXPECT_TRUE(C(1006).visible);
  EXPECT_FALSE(C(1007).visible) << "two drives: the third button stays hidden";
  for (int id : {1008, 1009, 1010, 1011}) EXPECT_TRUE(C(id).visible) << id;
}

TEST_F(MainDialogTest, AnotherDriveResetsTheDriveInfoPartition) {
  CQuarn_SSDZelvDlg& d = Start(Drives(2) + R"(, "volumes": [
      {"letter": "C", "disk": 0, "size": 107374182400, "free": 53687091200},
      {"letter": "D", "disk": 0, "size": 10737418240, "free": 10737418240},
      {"letter": "E", "disk": 1, "size": 10737418240, "free": 10737418240}]})");
  auto* info = dynamic_cast<CDriveInfoPage*>(d.PageAt(0));
  ASSERT_NE(info, nullptr);
  d.OnPageCommand(CDriveInfoPage::kNextPartition);
  EXPECT_EQ(info->Model().Find(1021)->text, "D:");
  d.OnCommand(1006);
  EXPECT_EQ(info->Model().Find(1021)->text, "E:");
  EXPECT_EQ(info->Model().Find(1040)->text, "Model: QUARN SSD KD755 1");
  d.OnCommand(1005);
  EXPECT_EQ(state_->DriveInfoPartition, 0u);
  EXPECT_EQ(info->Model().Find(1021)->text, "C:");
  EXPECT_FALSE(info->Model().Find(1024)->enabled);
}

TEST_F(MainDialogTest, EverythingIsRefusedWhileASelfTestRunsAndItsEndReachesThePage) {
  CQuarn_SSDZelvDlg& d =
      Start(Drives(2, R"(, "selfTest": {"shortSeconds": 20})") + "}");
  d.OnCommand(1001);
  ASSERT_EQ(d.CurrentPage(), 1);
  SelfTestCancelFlag() = false;
  ASSERT_TRUE(d.OnPageCommand(CDiagnoticsPage::kQuickRun));
  ASSERT_EQ(state_->RunningOperationCode, 1);
  for (int id : {1000, 1002, 1004, 1006, 1008, 1009, 1010, 1011, 2}) d.OnCommand(id);
  EXPECT_EQ(d.CurrentPage(), 1);
  EXPECT_FALSE(d.Ended());
  EXPECT_EQ(state_->SelectedDrive, 0);
  std::vector<std::string> texts = shell_.Texts();
  ASSERT_EQ(texts.size(), 9u);
  for (const std::string& t : texts) EXPECT_EQ(t, "There is a process running! Any action is not allowed!");

  // The worker's notifications reach the Diagnostics page through the window's queue.
  for (int i = 0; i < 500 && state_->RunningOperationCode != 0; ++i) {
    platform::MSG m;
    if (platform::Current().Windows().GetMessageW(&m, 5000)) d.OnProgress(m.wParam, m.lParam);
  }
  EXPECT_EQ(state_->RunningOperationCode, 0);
  EXPECT_EQ(shell_.Texts().back(), "Diagnotics quick scan is done successsfully!");
  d.OnCommand(1000);
  EXPECT_EQ(d.CurrentPage(), 0);
}

TEST_F(MainDialogTest, NotificationsReachOnlyTheCurrentPageOfTheirKind) {
  CQuarn_SSDZelvDlg& d = Start(Drives(1) + "}");
  SelfTestRequest& quick = CDiagnoticsPage::RequestBlock(1);
  quick.Kind = 1;
  quick.Result = 101;  // passed
  quick.Note.clear();
  const auto block = reinterpret_cast<platform::LPARAM>(&quick);
  std::vector<std::pair<int, int>> seen;
  d.SetProgressSink([&](int page, uint8_t phase, platform::LPARAM, int32_t) { seen.push_back({page, phase}); });
  d.SetKindReader(2, [](platform::LPARAM) { return 4; });

  // On the Drive Info page a self-test's end is dropped.
  d.OnProgress(platform::ProgressWParam(3, 0), block);
  EXPECT_TRUE(shell_.Texts().empty());
  // On the Diagnostics page it arrives.
  d.OnCommand(1001);
  d.OnProgress(platform::ProgressWParam(3, 0), block);
  EXPECT_EQ(shell_.Texts(), std::vector<std::string>{"Diagnotics quick scan is done successsfully!"});
  // An erase notification goes to the Utilities page only while it is current.
  d.OnProgress(platform::ProgressWParam(2, 40), 12345);
  d.OnCommand(1002);
  d.OnProgress(platform::ProgressWParam(2, 40), 12345);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{2, 2}}));
}

TEST_F(MainDialogTest, TheAlertAreaIsReachedThroughTheWindowAndTheServiceStopEndsOnThePage) {
  CQuarn_SSDZelvDlg& d = Start(Drives(1) + R"(, "services": {"list": [
      {"name": "QUARN Zelvane Service", "state": "running", "startType": "auto"}]}})");
  d.OnCommand(1001);
  auto* diag = dynamic_cast<CDiagnoticsPage*>(d.PageAt(1));
  ASSERT_NE(diag, nullptr);
  ASSERT_TRUE(diag->Model().Find(CDiagnoticsPage::kServiceCheck)->checked);
  // Unchecking the box starts the stop worker; its start and end come back
  // through the window's queue to the page, which shows 340 and then 341.
  diag->Model().Find(CDiagnoticsPage::kServiceCheck)->checked = false;
  ASSERT_TRUE(d.OnPageCommand(CDiagnoticsPage::kServiceCheck));
  // The worker sets the running-operation code itself: drain until its end
  // notification has been handled.
  for (int i = 0; i < 20 && shell_.Texts().size() < 2; ++i) {
    platform::MSG m;
    if (platform::Current().Windows().GetMessageW(&m, 5000)) d.OnProgress(m.wParam, m.lParam);
  }
  EXPECT_EQ(state_->RunningOperationCode, 0);
  EXPECT_EQ(shell_.Texts(),
            (std::vector<std::string>{
                "Stopping Zelvane Service, all operations are not allowed in the mean time!",
                "Zelvane Service is stopped successfully!"}));
  // A threshold typed into the page and applied through the window.
  diag->Model().Find(CDiagnoticsPage::kTemperatureEdit)->text = "65x";
  EXPECT_TRUE(d.OnPageCommand(CDiagnoticsPage::kTemperatureApply));
  EXPECT_EQ(shell_.Texts().back(), "error input");
}

TEST_F(MainDialogTest, CloseEndsTheWindowAndFreesItsTitle) {
  CQuarn_SSDZelvDlg& d = Start(Drives(1) + "}");
  d.OnCommand(2);
  EXPECT_TRUE(d.Ended());
  EXPECT_EQ(platform::Current().Windows().FindWindowW("QUARN SSD Zelvane"), 0);
}

}  // namespace
}  // namespace zel
