#include "app/pages/diagnostics_page.h"

#include "app/dialog/shell.h"
#include "app/startup.h"
#include "maintenance/alert_settings.h"
#include "platform/worker.h"

namespace zel {
namespace {

constexpr int kBusyString = 247;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrey = RGB(128, 128, 128);

struct Area {
  int title, model, text, bar, run, cancel;
  int titleString, textString;
  int passedString, abortedString, failedString;
};
constexpr Area kQuick = {CDiagnoticsPage::kQuickTitle, CDiagnoticsPage::kQuickModel,
                         CDiagnoticsPage::kQuickText, CDiagnoticsPage::kQuickBar,
                         CDiagnoticsPage::kQuickRun, CDiagnoticsPage::kQuickCancel,
                         261, 263, 268, 269, 270};
constexpr Area kFull = {CDiagnoticsPage::kFullTitle, CDiagnoticsPage::kFullModel,
                        CDiagnoticsPage::kFullText, CDiagnoticsPage::kFullBar,
                        CDiagnoticsPage::kFullRun, CDiagnoticsPage::kFullCancel,
                        262, 264, 271, 272, 273};
const Area& AreaOf(int32_t kind) { return kind == kSelfTestFull ? kFull : kQuick; }

}  // namespace

SelfTestRequest& CDiagnoticsPage::RequestBlock(int32_t kind) {
  if (kind == kSelfTestFull) return platform::ProgramRequestBlock<FullSelfTestRequest>();
  return platform::ProgramRequestBlock<QuickSelfTestRequest>();
}

CDiagnoticsPage::CDiagnoticsPage(AppState& state, Shell& shell, uint16_t languageId)
    : Page(IDD, kTitleString, shell, languageId), state_(state) {
  for (int id : {kQuickTitle, kFullTitle, kQuickModel, kFullModel, kQuickText, kFullText,
                 kQuickBar, kFullBar, kQuickRun, kQuickCancel, kFullRun, kFullCancel, kAlertTitle,
                 kServiceLabel, kServiceCheck, kTemperatureLabel, kTemperatureEdit,
                 kTemperatureApply, kLifeLabel, kLifeEdit, kLifeApply})
    Model().Item(id);
}

bool CDiagnoticsPage::OnInitDialog() {
  SetBackgroundBitmap(kBackgroundBitmap);
  const uint16_t lang = LanguageId();
  const ControlFont font{PageFontFace(lang), 0, false};
  const ControlFont buttonFont{PageFontFace(lang), (lang == 1049 || lang == 1041) ? 9 : 11, false};
  for (const Area* a : {&kQuick, &kFull}) {
    Model().SetText(a->title, String(a->titleString));
    Model().Item(a->title).colour = kWhite;
    Model().SetText(a->text, String(a->textString));
    Model().Item(a->text).colour = kGrey;
    Model().SetText(a->run, String(266));
    Model().SetText(a->cancel, String(267));
    Model().Enable(a->cancel, false);
    Model().Show(a->bar, false);
    for (int id : {a->title, a->model, a->text}) Model().Item(id).font = font;
    for (int id : {a->run, a->cancel}) Model().Item(id).font = buttonFont;
  }
  Model().SetText(kAlertTitle, "Alert Setting");
  Model().Item(kAlertTitle).colour = kWhite;
  Model().SetText(kServiceLabel, "Service");
  Model().SetText(kTemperatureLabel, "Temperature Over");
  Model().SetText(kLifeLabel, "Estimated Life Under");
  Model().SetText(kTemperatureApply, "Apply");
  Model().SetText(kLifeApply, "Apply");
  LayOut();
  RefreshForSelectedDrive();
  return true;
}

void CDiagnoticsPage::OnSize(int width, int height) {
  Page::OnSize(width, height);
  LayOut();
}

void CDiagnoticsPage::LayOut() {
  struct Place {
    int id, x, y, w, h;
  } places[] = {
      {kQuickTitle, 21, 10, 200, 20},   {kFullTitle, 290, 10, 200, 20},
      {kQuickModel, 24, 45, 250, 34},   {kFullModel, 295, 45, 250, 34},
      {kQuickText, 24, 80, 250, 150},   {kFullText, 295, 80, 250, 150},
      {kQuickBar, 21, 208, 0, 0},       {kFullBar, 290, 208, 0, 0},
      {kQuickRun, 30, 240, 0, 0},       {kQuickCancel, 125, 240, 0, 0},
      {kFullRun, 300, 240, 0, 0},       {kFullCancel, 395, 240, 0, 0},
      {kAlertTitle, 21, 295, 200, 20},  {kServiceLabel, 25, 330, 130, 20},
      {kServiceCheck, 25, 357, 0, 0},   {kTemperatureLabel, 120, 330, 160, 20},
      {kTemperatureEdit, 120, 359, 50, 30}, {kTemperatureApply, 225, 362, 0, 0},
      {kLifeLabel, 356, 330, 160, 20},  {kLifeEdit, 356, 359, 50, 30},
      {kLifeApply, 437, 362, 0, 0},
  };
  for (const Place& p : places) Model().Item(p.id).rect = {p.x, p.y, p.w, p.h};
}

void CDiagnoticsPage::RefreshForSelectedDrive() {
  std::string model;
  if (state_.SelectedDrive >= 0 &&
      static_cast<size_t>(state_.SelectedDrive) < state_.PhysicalDriveTable.size())
    model = state_.PhysicalDriveTable[state_.SelectedDrive].ModelName;
  Model().SetText(kQuickModel, model);
  Model().SetText(kFullModel, model);
  ShowAlertSettings();
}

void CDiagnoticsPage::ShowAlertSettings() {
  Model().SetText(kTemperatureEdit, std::to_string(ShownAlertTemperature()));
  Model().SetText(kLifeEdit, std::to_string(ShownAlertRemainingLife()));
  platform::SERVICE_STATUS status;
  const bool stopped = QueryServiceStatusByName(kZelvaneServiceName, &status) != 0 &&
                       status.dwCurrentState == platform::SERVICE_STOPPED;
  Model().Item(kServiceCheck).checked = !stopped;
  EnableThresholds(stopped);
}

void CDiagnoticsPage::EnableThresholds(bool enabled) {
  for (int id : {kTemperatureEdit, kTemperatureApply, kLifeEdit, kLifeApply})
    Model().Enable(id, enabled);
}

void CDiagnoticsPage::OnBnClickedButtonTemperatureApply() {
  Apply(kTemperatureEdit, SetAlertTemperature);
}

void CDiagnoticsPage::OnBnClickedButtonLifeApply() { Apply(kLifeEdit, SetAlertRemainingLife); }

void CDiagnoticsPage::Apply(int editId, uint32_t (*store)(int32_t)) {
  if (state_.RunningOperationCode.load() != 0) {
    ShowString(UserShell(), LanguageId(), kBusyString);
    return;
  }
  int32_t value = 0;
  if (!ParseThresholdText(Model().Item(editId).text, &value)) {
    UserShell().MessageBox(FixedMessage("error input"));
    return;
  }
  // A failed write is not shown; the box keeps the typed text.
  store(value);
}

void CDiagnoticsPage::OnBnClickedCheckService() {
  Control& box = Model().Item(kServiceCheck);
  if (state_.RunningOperationCode.load() != 0) {
    ShowString(UserShell(), LanguageId(), kBusyString);
    box.checked = !box.checked;
    return;
  }
  // Switching on restarts the service, so it starts with the stored values.
  SetServiceRunning(kZelvaneServiceName, 0);
  if (box.checked) {
    SetServiceRunning(kZelvaneServiceName, 1);
    EnableThresholds(false);
    return;
  }
  EnableThresholds(true);
  ServiceStopRequest& request = platform::ProgramRequestBlock<ServiceStopRequest>();
  const bool haveDrive = state_.SelectedDrive >= 0 &&
                         static_cast<size_t>(state_.SelectedDrive) < state_.PhysicalDriveTable.size();
  request.DriveNumber =
      haveDrive ? static_cast<int32_t>(state_.PhysicalDriveTable[state_.SelectedDrive].PhysicalDriveIndex)
                : 0;
  request.DriveIndex = state_.SelectedDrive;
  request.Kind = kServiceStopKind;
  request.WindowTitle = kMainWindowTitle;
  StartServiceStopWorker(request, state_.RunningOperationCode);
}

void CDiagnoticsPage::Run(int32_t kind) {
  if (state_.RunningOperationCode.load() != 0) {
    ShowString(UserShell(), LanguageId(), kBusyString);
    return;
  }
  if (state_.SelectedDrive < 0 ||
      static_cast<size_t>(state_.SelectedDrive) >= state_.PhysicalDriveTable.size())
    return;
  const Area& a = AreaOf(kind);
  Model().Enable(a.run, false);
  Model().Enable(a.cancel, true);
  state_.RunningOperationCode.store(kind);
  const PhysicalDriveRecord& drive = state_.PhysicalDriveTable[state_.SelectedDrive];
  SelfTestRequest& request = RequestBlock(kind);
  request.DriveNumber = drive.PhysicalDriveIndex;
  request.Result.store(0);
  request.DriveIndex = state_.SelectedDrive;
  request.Kind = kind;
  request.WindowTitle = kMainWindowTitle;
  request.BusType = drive.BusType;
  request.Drive = drive;
  request.Note.clear();
  if (!StartSelfTestWorker(request, state_.RunningOperationCode)) {
    // No worker will end the operation: the page is idle again.
    Model().Enable(a.run, true);
    Model().Enable(a.cancel, false);
  }
}

void CDiagnoticsPage::Cancel(int32_t kind) {
  if (state_.RunningOperationCode.load() == kind) SelfTestCancelFlag().store(true);
  if (state_.SelectedDrive >= 0 &&
      static_cast<size_t>(state_.SelectedDrive) < state_.PhysicalDriveTable.size())
    AbortSelfTest(state_.PhysicalDriveTable[state_.SelectedDrive]);
}

void CDiagnoticsPage::OnProgress(platform::WPARAM wParam, platform::LPARAM lParam) {
  auto* request = reinterpret_cast<SelfTestRequest*>(lParam);
  if (!request) return;
  const int32_t kind = request->Kind;
  if (kind == kServiceStopKind) {
    const uint8_t phase = platform::ProgressPhase(wParam);
    if (phase == platform::SSDZELVMSG_WPARAM_PROGRESSSTART) {
      ShowString(UserShell(), LanguageId(), 340);
    } else if (phase == platform::SSDZELVMSG_WPARAM_PROGRESSEND) {
      state_.RunningOperationCode.store(0);
      ShowString(UserShell(), LanguageId(), 341);
      SelfTestCancelFlag().store(false);
    }
    return;
  }
  if (kind != kSelfTestQuick && kind != kSelfTestFull) return;
  const Area& a = AreaOf(kind);
  Control& bar = Model().Item(a.bar);
  switch (platform::ProgressPhase(wParam)) {
    case platform::SSDZELVMSG_WPARAM_PROGRESSSTART:
      bar.rangeLow = 0;
      bar.rangeHigh = 100;
      bar.position = 0;
      bar.visible = true;
      break;
    case platform::SSDZELVMSG_WPARAM_PROGRESSUPDATE:
      // The percentage travels in the high half of the value, the kind in the low.
      bar.position = static_cast<int32_t>(static_cast<uint32_t>(platform::ProgressValue(wParam)) >> 16);
      bar.visible = true;
      break;
    case platform::SSDZELVMSG_WPARAM_PROGRESSEND: {
      const int32_t result = request->Result.load();
      if (result == kSelfTestPassed) {
        bar.position = 100;
        ShowString(UserShell(), LanguageId(), a.passedString);
      } else if (result == kSelfTestAborted) {
        ShowString(UserShell(), LanguageId(), a.abortedString);
      } else if (result >= 103 && result <= 110) {
        ShowString(UserShell(), LanguageId(), a.failedString);
      }
      if (!request->Note.empty()) UserShell().MessageBox(FixedMessage(request->Note));
      bar.visible = false;
      state_.RunningOperationCode.store(0);
      Model().Enable(a.run, true);
      Model().Enable(a.cancel, false);
      SelfTestCancelFlag().store(false);
      break;
    }
    default:
      break;
  }
}

}  // namespace zel
