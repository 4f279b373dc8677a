// The window offscreen on the demo machine: real widgets are clicked and
// what they show is read back.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <set>

#include "app/dialog/scripted_shell.h"
#include "app/pages/diagnostics_page.h"
#include "app/pages/drive_info_page.h"
#include "app/qt/main_window.h"
#include "app/qt/skin.h"
#include "app/startup.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "support/sim_fixture.h"

namespace zel::qt {
namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_qt";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    auto* a = new QApplication(argc, argv);
    InstallFontSubstitutes();
    return a;
  }();
  return *app;
}

class NoHost final : public StartupHost {
 public:
  void ShowMessage(const std::string&) override {}
  void CloseWindow() override {}
  int RunMainWindow(CQuarn_SSDZelvDlg&) override { return 0; }
};

class MainWindowTest : public test::SimTest {
 protected:
  std::string MachineJson() const override { return test::ReadFile(test::FixturePath("demo.json")); }
  void SetUp() override {
    test::SimTest::SetUp();
    App();
    WmiDiskTable().clear();
    SetLogLevel(1);
    SelfTestCancelFlag() = false;
    dialog_ = std::make_unique<CQuarn_SSDZelvDlg>(state_, host_);
    ASSERT_TRUE(dialog_->InitBeforeWindow({Dir() + "/SSDZelvane.exe"}));
    ASSERT_TRUE(dialog_->InitMainWindow(shell_));
    window_ = std::make_unique<MainWindow>(*dialog_);
    window_->show();
    QApplication::processEvents();
  }
  void TearDown() override {
    window_.reset();
    dialog_.reset();
    test::SimTest::TearDown();
  }
  void Press(int id) {
    auto* b = qobject_cast<QAbstractButton*>(window_->MainControls().WidgetOf(id));
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isVisible() && b->isEnabled()) << id;
    b->click();
  }
  void PressOnPage(int page, int id) {
    auto* b = qobject_cast<QAbstractButton*>(window_->PageWidget(page).WidgetOf(id));
    ASSERT_NE(b, nullptr) << id;
    ASSERT_TRUE(b->isEnabled()) << id;
    b->click();
  }
  QString LabelOnPage(int page, int id) {
    auto* l = qobject_cast<QLabel*>(window_->PageWidget(page).WidgetOf(id));
    return l ? l->text() : QString("<none>");
  }
  QString Title() { return qobject_cast<QLabel*>(window_->MainControls().WidgetOf(1012))->text(); }

  NoHost host_;
  ScriptedShell shell_;
  AppState state_;
  std::unique_ptr<CQuarn_SSDZelvDlg> dialog_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, PageButtonsShowTheirPages) {
  EXPECT_EQ(Title(), "       Drive Info");
  EXPECT_EQ(LabelOnPage(0, 1040), "Model: QUARN SSD KD765KK 512GB");
  struct Case {
    int button, page;
    const char* title;
  } cases[] = {{1001, 1, "       Diagnostics"}, {1004, 4, "       System Info"},
               {1002, 2, "       Utilities"}, {1000, 0, "       Drive Info"}};
  for (const Case& c : cases) {
    Press(c.button);
    EXPECT_EQ(window_->Sheet().currentIndex(), c.page) << c.button;
    EXPECT_EQ(Title(), c.title);
    EXPECT_EQ(window_->MainControls().WidgetOf(1005)->isVisible(), c.page != 4) << c.button;
  }
  Press(1004);
  EXPECT_EQ(LabelOnPage(4, 1052), "Zelvane Version:");
  EXPECT_FALSE(LabelOnPage(4, 1047).isEmpty());
}

TEST_F(MainWindowTest, DriveButtonsAndNextChangeWhatTheDriveInfoPageShows) {
  auto driveText = [&](int id) {
    return static_cast<QAbstractButton*>(window_->MainControls().WidgetOf(id))->text();
  };
  EXPECT_EQ(driveText(1005).left(6), "Disk0\n");
  Press(1006);
  EXPECT_EQ(LabelOnPage(0, 1040), "Model: QUARN SSD K986 256GB");
  Press(1009);
  EXPECT_EQ(driveText(1005).left(6), "Disk1\n");
  EXPECT_EQ(state_.SelectedDrive, 3);
  EXPECT_EQ(LabelOnPage(0, 1040),
            QString::fromStdString("Model: " + state_.PhysicalDriveTable[3].ModelName));
  Press(1011);
  EXPECT_EQ(state_.SelectedDrive, 1) << "Home: the first visible drive";
  Press(1010);
  EXPECT_EQ(driveText(1005).left(6), "Disk0\n");
  EXPECT_EQ(LabelOnPage(0, 1040), "Model: QUARN SSD KD765KK 512GB");
}

TEST_F(MainWindowTest, QuickSelfTestRunsToItsEndFromTheDiagnosticsPage) {
  Press(1001);
  PressOnPage(1, CDiagnoticsPage::kQuickRun);
  EXPECT_EQ(state_.RunningOperationCode, 1);
  EXPECT_FALSE(window_->PageWidget(1).WidgetOf(CDiagnoticsPage::kQuickRun)->isEnabled());
  EXPECT_TRUE(window_->PageWidget(1).WidgetOf(CDiagnoticsPage::kQuickCancel)->isEnabled());
  // A page change is refused while it runs.
  Press(1000);
  EXPECT_EQ(window_->Sheet().currentIndex(), 1);
  QElapsedTimer clock;
  clock.start();
  while (state_.RunningOperationCode != 0 && clock.elapsed() < 20000) {
    QTimer::singleShot(30, [] {});
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  ASSERT_EQ(state_.RunningOperationCode, 0);
  QApplication::processEvents();
  std::vector<std::string> texts = shell_.Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "There is a process running! Any action is not allowed!");
  EXPECT_EQ(texts[1], "Diagnotics quick scan is done successsfully!");
  EXPECT_TRUE(window_->PageWidget(1).WidgetOf(CDiagnoticsPage::kQuickRun)->isEnabled());
  EXPECT_FALSE(window_->PageWidget(1).WidgetOf(CDiagnoticsPage::kQuickCancel)->isEnabled());
  EXPECT_FALSE(window_->PageWidget(1).WidgetOf(CDiagnoticsPage::kQuickBar)->isVisible());
}

TEST_F(MainWindowTest, PopupShowsTheListAndClosesWithItsButton) {
  int rows = -1;
  QTimer::singleShot(0, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* popup = dynamic_cast<PopupWindow*>(top);
      if (!popup || !popup->isVisible()) continue;
      if (auto* list = qobject_cast<QTableWidget*>(popup->Controls().WidgetOf(1062))) rows = list->rowCount();
      qobject_cast<QAbstractButton*>(popup->Controls().WidgetOf(1))->click();
    }
  });
  PressOnPage(0, CDriveInfoPage::kDriveDetails);
  EXPECT_EQ(rows, 256);
}

TEST_F(MainWindowTest, EveryButtonHasANameAndTabReachesIt) {
  std::set<QWidget*> buttons;
  for (QAbstractButton* b : window_->findChildren<QAbstractButton*>())
    if (b->isVisible()) {
      buttons.insert(b);
      EXPECT_FALSE(b->accessibleName().isEmpty()) << b->text().toStdString();
    }
  ASSERT_GE(buttons.size(), 12u);
  std::set<QWidget*> reached;
  QWidget* w = window_.get();
  for (int i = 0; i < 500; ++i) {
    w = w->nextInFocusChain();
    if (w == window_.get()) break;
    if (buttons.count(w) && (w->focusPolicy() & Qt::TabFocus)) reached.insert(w);
  }
  EXPECT_EQ(reached, buttons);
}

}  // namespace
}  // namespace zel::qt
