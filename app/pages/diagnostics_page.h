// The Diagnostics page: the quick and full self-tests of the selected drive
// side by side (title, model, description, Run, Cancel, progress bar), and
// the Alert Setting area below them. The self-test areas start the worker,
// refuse while another long operation runs and follow its notifications.
// The Alert Setting controls are laid out but not yet wired to the service
// and the thresholds.
#pragma once

#include <cstdint>

#include "app/app_state.h"
#include "app/dialog/page.h"
#include "maintenance/self_test.h"
#include "platform/windows.h"

namespace zel {

// The two request blocks, one per test, each living as long as the program.
struct QuickSelfTestRequest : SelfTestRequest {};
struct FullSelfTestRequest : SelfTestRequest {};

class CDiagnoticsPage final : public Page {
 public:
  static constexpr int IDD = 130;
  static constexpr int kTitleString = 243;
  static constexpr int kBackgroundBitmap = 191;
  // Controls.
  static constexpr int kQuickTitle = 1064, kFullTitle = 1065;
  static constexpr int kQuickModel = 1066, kFullModel = 1086;
  static constexpr int kQuickText = 1067, kFullText = 1069;
  static constexpr int kQuickBar = 1119, kFullBar = 1120;
  static constexpr int kQuickRun = 1041, kQuickCancel = 1072;
  static constexpr int kFullRun = 1073, kFullCancel = 1074;
  static constexpr int kAlertTitle = 1075, kServiceLabel = 1077, kServiceCheck = 1116;
  static constexpr int kTemperatureLabel = 1076, kTemperatureEdit = 1112, kTemperatureApply = 1131;
  static constexpr int kLifeLabel = 1078, kLifeEdit = 1114, kLifeApply = 1132;

  // `state` must outlive the page.
  CDiagnoticsPage(AppState& state, Shell& shell, uint16_t languageId);

  bool OnInitDialog() override;
  void OnSize(int width, int height) override;
  // The main window selected another drive (or the page is shown first).
  void RefreshForSelectedDrive();

  void OnBnClickedButtonQuickRun() { Run(kSelfTestQuick); }
  void OnBnClickedButtonQuickCancel() { Cancel(kSelfTestQuick); }
  void OnBnClickedButtonFullRun() { Run(kSelfTestFull); }
  void OnBnClickedButtonFullCancel() { Cancel(kSelfTestFull); }
  void OnBnClickedButtonTemperatureApply();
  void OnBnClickedButtonLifeApply();
  // The service check box was clicked: the model already holds its new state.
  void OnBnClickedCheckService();

  // SSDZELVMSG_PROGRESS as the main window forwards it.
  void OnProgress(platform::WPARAM wParam, platform::LPARAM lParam);

  static SelfTestRequest& RequestBlock(int32_t kind);

 private:
  void Run(int32_t kind);
  void Cancel(int32_t kind);
  void LayOut();
  // Fills the thresholds and the service box from the registry and the
  // service manager.
  void ShowAlertSettings();
  void EnableThresholds(bool enabled);
  void Apply(int editId, uint32_t (*store)(int32_t));

  AppState& state_;
};

}  // namespace zel
