// The main window of the desktop program without a toolkit: the page and
// drive buttons, Previous and Next over more than three drives, Refresh,
// Home and Close, the refusals while a long operation runs, and the routing
// of the workers' notifications to the page that started them.
#include <string>

#include "app/dialog/page.h"
#include "app/dialog/shell.h"
#include "app/pages/diagnostics_page.h"
#include "app/pages/drive_info_page.h"
#include "app/pages/sys_info_page.h"
#include "app/pages/utility_page.h"
#include "app/startup.h"
#include "app/strings.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "maintenance/alert_settings.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/worker.h"

namespace zel {

using namespace zel::platform;

namespace {

constexpr int kBusyString = 247;
constexpr int kDriveInfo = 0, kDiagnostics = 1, kUtilities = 2, kSysOptimization = 3,
              kSysInfo = 4, kAtaCmdSummary = 5;
// The pages' dialog templates, in page order.
constexpr int kPageTemplates[6] = {129, 130, 131, 132, 133, 184};
constexpr int kPageTitleIds[6] = {242, 243, 244, 245, 246, 333};
constexpr const char* kPageToolTips[5] = {"Show the drive information", "Diagnostics tools",
                                          "SSD utilities", "System optimization tools",
                                          "Show the system information"};
constexpr COLORREF kWhite = RGB(255, 255, 255);
// The drive buttons' text colours: selected, normal and disabled.
constexpr COLORREF kDriveSelected = RGB(255, 0, 0);

}  // namespace

CQuarn_SSDZelvDlg::~CQuarn_SSDZelvDlg() {
  if (window_ != 0) Current().Windows().HideWindowTitle(window_);
}

bool CQuarn_SSDZelvDlg::InitMainWindow(Shell& shell) {
  shell_ = &shell;
  LogEnter("CQuarn_SSDZelvDlg::OnInitDialog");
  LogTrace("Check tmp folder done!");
  // The title is set only here, in the normal start: a second instance
  // started while this one verifies a drive is not refused.
  window_ = Current().Windows().ShowWindowTitle(kMainWindowTitle);
  if (window_ == 0) return false;
  InitControlBitmaps();
  SetWindowRegionAndPosition();
  InitPropertyPages();
  SetControlPosition();
  InitControlInfo();
  LogExit("CQuarn_SSDZelvDlg::OnInitDialog");
  return true;
}

void CQuarn_SSDZelvDlg::InitControlBitmaps() {
  LogEnter("CQuarn_SSDZelvDlg::InitControlBitmaps");
  // The toolkit paints the background and the buttons; here each control
  // gets its kind and the drive buttons their text colour.
  for (int id : kPageButtons) model_.Item(id).kind = ControlKind::Button;
  for (int id : kDriveButtons) {
    model_.Item(id).kind = ControlKind::Button;
    model_.Item(id).colour = RGB(0x50, 0x50, 0x50);
  }
  for (int id : {kPrevious, kNext, kRefresh, kHome, kClose}) model_.Item(id).kind = ControlKind::Button;
  model_.Item(kTitle).kind = ControlKind::Label;
  model_.Item(kSheet).kind = ControlKind::Decoration;
  LogExit("CQuarn_SSDZelvDlg::InitControlBitmaps");
}

void CQuarn_SSDZelvDlg::SetWindowRegionAndPosition() {
  LogEnter("CQuarn_SSDZelvDlg::SetWindowRegionAndPosition");
  // The window's shape and its place in the middle of the screen belong to
  // the toolkit, which draws the window.
  LogExit("CQuarn_SSDZelvDlg::SetWindowRegionAndPosition");
}

void CQuarn_SSDZelvDlg::InitPropertyPages() {
  LogEnter("CQuarn_SSDZelvDlg::InitPropertyPages");
  const uint16_t lang = static_cast<uint16_t>(state_.UiLanguageId);
  pages_[kDriveInfo] = std::make_unique<CDriveInfoPage>(state_, *shell_, lang);
  pages_[kDiagnostics] = std::make_unique<CDiagnoticsPage>(state_, *shell_, lang);
  pages_[kUtilities] = std::make_unique<CUtilityPage>(state_, *shell_, lang);
  // Pages still to come: their buttons work and they show an empty page.
  pages_[kSysOptimization] =
      std::make_unique<Page>(kPageTemplates[kSysOptimization], kPageTitleIds[kSysOptimization], *shell_, lang);
  pages_[kSysInfo] = std::make_unique<CSysInfoPage>(state_.SystemInfo, *shell_, lang);
  pages_[kAtaCmdSummary] =
      std::make_unique<Page>(kPageTemplates[kAtaCmdSummary], kPageTitleIds[kAtaCmdSummary], *shell_, lang);
  for (auto& page : pages_) page->OnInitDialog();
  pageCount_ = kPageCount + 1;
  Control& sheet = model_.Item(kSheet);
  sheet.text = "SSD ZELVANE Property Sheet";
  sheet.visible = true;
  LogExit("CQuarn_SSDZelvDlg::InitPropertyPages");
}

void CQuarn_SSDZelvDlg::SetControlPosition() {
  LogEnter("CQuarn_SSDZelvDlg::SetControlPosition");
  // The client area: the page column on the left, the sheet of 575 x 420
  // pixels at (228, 200).
  constexpr int W = 820;
  const int pageY[6] = {120, 186, 252, 318, 384, 450};
  for (int i = 0; i < kPageCount; ++i) model_.Item(kPageButtons[i]).rect = {20, pageY[i], 190, 58};
  const int driveX[3] = {235, 368, 501};
  for (int i = 0; i < 3; ++i) model_.Item(kDriveButtons[i]).rect = {driveX[i], 152, 125, 42};
  model_.Item(kPrevious).rect = {W - 166, 161, 32, 28};
  model_.Item(kNext).rect = {W - 128, 161, 32, 28};
  model_.Item(kRefresh).rect = {W - 90, 158, 34, 34};
  model_.Item(kHome).rect = {W - 52, 158, 34, 34};
  model_.Item(kClose).rect = {W - 45, 11, 30, 26};
  model_.Item(kTitle).rect = {234, 116, 560, 30};
  model_.Item(kSheet).rect = {228, 200, 575, 420};
  LogExit("CQuarn_SSDZelvDlg::SetControlPosition");
}

void CQuarn_SSDZelvDlg::InitControlInfo() {
  LogEnter("CQuarn_SSDZelvDlg::InitControlInfo");
  const ControlFont font{TitleFontFor(state_.UiLanguageId), 11, true};
  for (int i = 0; i < kPageCount; ++i) {
    Control& button = model_.Item(kPageButtons[i]);
    button.text = pages_[i] ? pages_[i]->Title() : LoadStringText(kPageTitleIds[i]);
    button.font = font;
    if (i < 5) button.toolTip = kPageToolTips[i];
  }
  model_.Item(kPageButtons[kAtaCmdSummary]).visible = false;
  Control& title = model_.Item(kTitle);
  title.font = font;
  title.colour = kWhite;
  model_.Item(kPrevious).toolTip = "Move to the previous disk";
  model_.Item(kNext).toolTip = "Move to the next disk";
  model_.Item(kRefresh).toolTip = "Refresh all drives information";
  model_.Item(kHome).toolTip = "Go back to home page";
  model_.Item(kPrevious).accessibleName = "Previous disks";
  model_.Item(kNext).accessibleName = "Next disks";
  model_.Item(kRefresh).accessibleName = "Refresh";
  model_.Item(kHome).accessibleName = "Home";
  model_.Item(kClose).accessibleName = "Close";
  for (int id : kDriveButtons) model_.Item(id).font = font;
  SelectPage(kDriveInfo);
  OnBnClickedRefresh();
  LogExit("CQuarn_SSDZelvDlg::InitControlInfo");
}

Page* CQuarn_SSDZelvDlg::PageAt(int page) {
  if (page < 0 || page >= kPageCount) return nullptr;
  return pages_[page].get();
}

bool CQuarn_SSDZelvDlg::Busy() const { return state_.RunningOperationCode.load() != 0; }

void CQuarn_SSDZelvDlg::ShowBusy() {
  if (shell_) ShowString(*shell_, static_cast<uint16_t>(state_.UiLanguageId), kBusyString);
}

bool CQuarn_SSDZelvDlg::OnCommand(int id) {
  for (int i = 0; i < kPageCount; ++i)
    if (id == kPageButtons[i]) {
      SelectPage(i);
      return true;
    }
  for (int k = 1; k <= 3; ++k)
    if (id == kDriveButtons[k - 1]) {
      OnBnClickedDriveButton(k);
      return true;
    }
  switch (id) {
    case kPrevious: OnBnClickedPrevious(); return true;
    case kNext: OnBnClickedNext(); return true;
    case kRefresh: OnBnClickedRefresh(); return true;
    case kHome: OnBnClickedHome(); return true;
    case kClose: OnBnClickedClose(); return true;
    default: return false;
  }
}

bool CQuarn_SSDZelvDlg::OnPageCommand(int id) {
  Page* page = PageAt(currentPage_);
  if (auto* info = dynamic_cast<CDriveInfoPage*>(page)) {
    switch (id) {
      case CDriveInfoPage::kDriveDetails: info->OnBnClickedButtonDriveDetails(); return true;
      case CDriveInfoPage::kSmartDetails: info->OnBnClickedButtonSmartDetails(); return true;
      case CDriveInfoPage::kPreviousPartition: info->OnBnClickedButtonPreviousPartition(); return true;
      case CDriveInfoPage::kNextPartition: info->OnBnClickedButtonNextPartition(); return true;
      default: return false;
    }
  }
  if (auto* utility = dynamic_cast<CUtilityPage*>(page)) {
    if (id != CUtilityPage::kEraseRun) return false;
    utility->OnBnClickedButtonUtilityRun();
    return true;
  }
  if (auto* diag = dynamic_cast<CDiagnoticsPage*>(page)) {
    switch (id) {
      case CDiagnoticsPage::kQuickRun: diag->OnBnClickedButtonQuickRun(); return true;
      case CDiagnoticsPage::kQuickCancel: diag->OnBnClickedButtonQuickCancel(); return true;
      case CDiagnoticsPage::kFullRun: diag->OnBnClickedButtonFullRun(); return true;
      case CDiagnoticsPage::kFullCancel: diag->OnBnClickedButtonFullCancel(); return true;
      case CDiagnoticsPage::kTemperatureApply: diag->OnBnClickedButtonTemperatureApply(); return true;
      case CDiagnoticsPage::kLifeApply: diag->OnBnClickedButtonLifeApply(); return true;
      case CDiagnoticsPage::kServiceCheck: diag->OnBnClickedCheckService(); return true;
      default: return false;
    }
  }
  return false;
}

void CQuarn_SSDZelvDlg::RefreshCurrentPage() {
  Page* page = PageAt(currentPage_);
  if (auto* info = dynamic_cast<CDriveInfoPage*>(page)) info->RefreshForSelectedDrive();
  else if (auto* diag = dynamic_cast<CDiagnoticsPage*>(page)) diag->RefreshForSelectedDrive();
  else if (auto* utility = dynamic_cast<CUtilityPage*>(page)) utility->RefreshForSelectedDrive();
}

void CQuarn_SSDZelvDlg::SelectPage(int page) {
  if (page < 0 || page >= kPageCount) return;
  if (Busy()) {
    ShowBusy();
    return;
  }
  // System Info shows no drive: its page hides the drive and small buttons.
  const bool drives = page != kSysInfo;
  const int32_t count = state_.PhysicalDriveCount;
  const bool all = page == kAtaCmdSummary;
  model_.Show(kDriveButtons[0], drives);
  model_.Show(kDriveButtons[1], drives && (all || count >= 2));
  model_.Show(kDriveButtons[2], drives && (all || count >= 3));
  for (int id : {kPrevious, kNext, kRefresh, kHome}) model_.Show(id, drives);

  if (page != currentPage_ || firstShow_) {
    firstShow_ = 0;
    std::string title = PageAt(page) ? PageAt(page)->Title() : LoadStringText(kPageTitleIds[page]);
    model_.SetText(kTitle, "       " + title);
    model_.Item(kPageButtons[currentPage_]).pushed = false;
    currentPage_ = page;
  }
  model_.Item(kPageButtons[currentPage_]).pushed = true;
  if (page <= kSysOptimization) RefreshCurrentPage();
}

void CQuarn_SSDZelvDlg::LabelDriveButtons() {
  for (int k = 1; k <= 3; ++k) {
    const int32_t position = firstVisibleDrive_ + k - 1;
    Control& button = model_.Item(kDriveButtons[k - 1]);
    if (position >= 0 && position < state_.PhysicalDriveCount &&
        static_cast<size_t>(position) < state_.PhysicalDriveTable.size()) {
      const PhysicalDriveRecord& d = state_.PhysicalDriveTable[position];
      button.text = Format("Disk%d\n%dGB", d.PhysicalDriveIndex, static_cast<int>(d.DiskSizeGB));
      button.accessibleName = Format("Disk%d %dGB", d.PhysicalDriveIndex, static_cast<int>(d.DiskSizeGB));
    } else {
      button.text.clear();
      button.accessibleName.clear();
    }
  }
}

void CQuarn_SSDZelvDlg::PressDriveButton(int k) {
  for (int i = 1; i <= 3; ++i) {
    Control& button = model_.Item(kDriveButtons[i - 1]);
    button.pushed = i == k;
    button.colour = i == k ? kDriveSelected : RGB(0x50, 0x50, 0x50);
  }
}

void CQuarn_SSDZelvDlg::OnBnClickedDriveButton(int k) {
  if (Busy()) {
    ShowBusy();
    return;
  }
  if (k < 1 || k > 3) return;
  const int32_t position = firstVisibleDrive_ + k - 1;
  if (position >= state_.PhysicalDriveCount) return;
  PressDriveButton(k);
  state_.SelectedDrive = position;
  state_.DriveInfoPartition = 0;
  RefreshCurrentPage();
}

void CQuarn_SSDZelvDlg::OnBnClickedPrevious() {
  if (Busy()) {
    ShowBusy();
    return;
  }
  if (state_.PhysicalDriveCount <= 3 || firstVisibleDrive_ <= 0) return;
  --firstVisibleDrive_;
  --lastVisibleDrive_;
  PressDriveButton(0);
  model_.Enable(kNext, true);
  if (firstVisibleDrive_ == 0) model_.Enable(kPrevious, false);
  LabelDriveButtons();
  OnBnClickedDriveButton(1);
}

void CQuarn_SSDZelvDlg::OnBnClickedNext() {
  if (Busy()) {
    ShowBusy();
    return;
  }
  const int32_t count = state_.PhysicalDriveCount;
  if (count <= 3 || lastVisibleDrive_ >= count - 1) return;
  ++firstVisibleDrive_;
  ++lastVisibleDrive_;
  PressDriveButton(0);
  model_.Enable(kPrevious, true);
  if (lastVisibleDrive_ == count - 1) model_.Enable(kNext, false);
  LabelDriveButtons();
  OnBnClickedDriveButton(3);
}

void CQuarn_SSDZelvDlg::OnBnClickedRefresh() {
  if (Busy()) {
    ShowBusy();
    return;
  }
  model_.Enable(kRefresh, false);
  UnderlyingUtil util;
  util.GetHbaInfo(state_.HbaList);
  if (state_.DrivesLoaded) {
    // Right after the start the table is fresh: keep it.
    state_.DrivesLoaded = 0;
  } else if (!UpdateDrivesInfo()) {
    // No drive left: the message is shown and the window closes.
    ended_ = true;
    return;
  }
  state_.SelectedDrive = 0;
  state_.DriveInfoPartition = 0;
  firstVisibleDrive_ = 0;
  model_.Enable(kPrevious, false);
  model_.Enable(kNext, false);
  LabelDriveButtons();
  const int32_t count = state_.PhysicalDriveCount;
  const bool drives = currentPage_ != kSysInfo;
  model_.Show(kDriveButtons[0], drives);
  model_.Show(kDriveButtons[1], drives && count >= 2);
  model_.Show(kDriveButtons[2], drives && count >= 3);
  lastVisibleDrive_ = count >= 3 ? 2 : count - 1;
  if (count > 3) model_.Enable(kNext, true);
  OnBnClickedDriveButton(1);
  model_.Enable(kRefresh, true);
}

void CQuarn_SSDZelvDlg::OnBnClickedHome() {
  // One refusal is enough: the drive button that follows would refuse too.
  if (Busy()) {
    ShowBusy();
    return;
  }
  SelectPage(kDriveInfo);
  OnBnClickedDriveButton(1);
}

void CQuarn_SSDZelvDlg::OnBnClickedClose() {
  if (Busy()) {
    ShowBusy();
    return;
  }
  ended_ = true;
  if (window_ != 0) {
    Current().Windows().HideWindowTitle(window_);
    window_ = 0;
  }
}

void CQuarn_SSDZelvDlg::SetKindReader(int page, KindReader reader) {
  if (page >= 0 && page < kPageCount) kindReaders_[page] = std::move(reader);
}

void CQuarn_SSDZelvDlg::OnProgress(WPARAM wParam, LPARAM lParam) {
  const uint8_t phase = ProgressPhase(wParam);
  // The kind, read the way the current page's request block defines it.
  int32_t kind = 0;
  if (currentPage_ == kDiagnostics) {
    if (lParam == reinterpret_cast<LPARAM>(&CDiagnoticsPage::RequestBlock(kQuickSelfTest)))
      kind = CDiagnoticsPage::RequestBlock(kQuickSelfTest).Kind;
    else if (lParam == reinterpret_cast<LPARAM>(&CDiagnoticsPage::RequestBlock(kFullSelfTest)))
      kind = CDiagnoticsPage::RequestBlock(kFullSelfTest).Kind;
    else if (lParam == reinterpret_cast<LPARAM>(&platform::ProgramRequestBlock<ServiceStopRequest>()))
      kind = platform::ProgramRequestBlock<ServiceStopRequest>().Kind;
    else if (kindReaders_[kDiagnostics])
      kind = kindReaders_[kDiagnostics](lParam);
  } else if (currentPage_ == kUtilities &&
             lParam == reinterpret_cast<LPARAM>(&CUtilityPage::RequestBlock())) {
    kind = CUtilityPage::RequestBlock().Kind;
  } else if ((currentPage_ == kUtilities || currentPage_ == kAtaCmdSummary) &&
             kindReaders_[currentPage_]) {
    kind = kindReaders_[currentPage_](lParam);
  }
  const int32_t value = phase == SSDZELVMSG_WPARAM_PROGRESSSTART ? 0 : ProgressValue(wParam);
  const bool startOrEnd =
      phase == SSDZELVMSG_WPARAM_PROGRESSSTART || phase == SSDZELVMSG_WPARAM_PROGRESSEND;
  if ((kind == kQuickSelfTest || kind == kFullSelfTest) && currentPage_ == kDiagnostics &&
      (startOrEnd || phase == SSDZELVMSG_WPARAM_PROGRESSUPDATE)) {
    static_cast<CDiagnoticsPage*>(PageAt(kDiagnostics))->OnProgress(wParam, lParam);
  } else if (kind == kServiceStop && currentPage_ == kDiagnostics && startOrEnd) {
    // The page's own service-stop worker shows 340 and 341 on the page.
    if (lParam == reinterpret_cast<LPARAM>(&platform::ProgramRequestBlock<ServiceStopRequest>()))
      static_cast<CDiagnoticsPage*>(PageAt(kDiagnostics))->OnProgress(wParam, lParam);
    else if (progressSink_)
      progressSink_(kDiagnostics, phase, lParam, value);
  } else if (kind == kSecurityErase && currentPage_ == kUtilities) {
    if (lParam == reinterpret_cast<LPARAM>(&CUtilityPage::RequestBlock()))
      static_cast<CUtilityPage*>(PageAt(kUtilities))->OnProgress(wParam, lParam);
    else if (progressSink_)
      progressSink_(kUtilities, phase, lParam, value);
  } else if (kind == kCommandSummaryRead && currentPage_ == kAtaCmdSummary) {
    if (progressSink_) progressSink_(kAtaCmdSummary, phase, lParam, value);
  }
  // Every other combination is dropped.
}

void CQuarn_SSDZelvDlg::PumpMessages() {
  MSG m;
  while (Current().Windows().PeekMessageW(&m)) {
    if (m.message == SSDZELVMSG_PROGRESS && (window_ == 0 || m.hwnd == window_))
      OnProgress(m.wParam, m.lParam);
  }
}

}  // namespace zel
