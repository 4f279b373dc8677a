#include "app/pages/utility_page.h"

#include "app/dialog/shell.h"
#include "app/startup.h"
#include "device/ata_command.h"
#include "platform/worker.h"

namespace zel {
namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr int kWarningCaption = 313;
constexpr int kFirstWarning = 312;
constexpr int kLastWarning = 314;

// The page's command line holds "-a" anywhere after the program name.
bool SupportMode(const std::vector<std::string>& commandLine) {
  for (size_t i = 1; i < commandLine.size(); ++i)
    if (commandLine[i].find("-a") != std::string::npos) return true;
  return false;
}

}  // namespace

SecurityEraseRequest& CUtilityPage::RequestBlock() {
  return platform::ProgramRequestBlock<SecurityEraseRequest>();
}

CUtilityPage::CUtilityPage(AppState& state, Shell& shell, uint16_t languageId)
    : Page(IDD, kTitleString, shell, languageId), state_(state) {
  for (int id : {kEraseTitle, kModel, kEraseText, kEraseRun, kFirmwareUpdate, kZelvaneUpgrade,
                 kExportLog, kDecryptLog})
    Model().Item(id);
}

bool CUtilityPage::OnInitDialog() {
  SetBackgroundBitmap(kBackgroundBitmap);
  const uint16_t lang = LanguageId();
  const ControlFont font{PageFontFace(lang), 0, false};
  const ControlFont buttonFont{PageFontFace(lang), lang == 1049 ? 9 : 11, false};
  Model().SetText(kEraseTitle, String(294));
  Model().Item(kEraseTitle).colour = kWhite;
  // The description's text is string 298 (the table has no English text
  // for it yet, so the label stays empty until it has).
  Model().SetText(kEraseText, String(298));
  Model().Item(kEraseText).colour = kGrey;
  Model().SetText(kEraseRun, String(266));
  Model().SetText(kFirmwareUpdate, String(295));
  Model().SetText(kZelvaneUpgrade, String(296));
  Model().SetText(kExportLog, String(297));
  Model().SetText(kDecryptLog, String(319));
  Model().Show(kDecryptLog, SupportMode(state_.CommandLine));
  for (int id : {kEraseTitle, kModel, kEraseText}) Model().Item(id).font = font;
  for (int id : {kEraseRun, kFirmwareUpdate, kZelvaneUpgrade, kExportLog, kDecryptLog})
    Model().Item(id).font = buttonFont;
  LayOut();
  RefreshForSelectedDrive();
  return true;
}

void CUtilityPage::OnSize(int width, int height) {
  Page::OnSize(width, height);
  LayOut();
}

void CUtilityPage::LayOut() {
  struct Place {
    int id, x, y, w, h;
  } places[] = {
      {kEraseTitle, 28, 8, 200, 20},    {kModel, 35, 54, 310, 20},
      {kEraseText, 35, 95, 460, 120},   {kEraseRun, 35, 225, 0, 0},
      {kFirmwareUpdate, 10, 304, 0, 0}, {kZelvaneUpgrade, 195, 304, 0, 0},
      {kExportLog, 380, 304, 0, 0},     {kDecryptLog, 380, 364, 0, 0},
  };
  for (const Place& p : places) Model().Item(p.id).rect = {p.x, p.y, p.w, p.h};
}

const PhysicalDriveRecord* CUtilityPage::SelectedDrive() const {
  if (state_.SelectedDrive < 0 ||
      static_cast<size_t>(state_.SelectedDrive) >= state_.PhysicalDriveTable.size())
    return nullptr;
  return &state_.PhysicalDriveTable[state_.SelectedDrive];
}

void CUtilityPage::RefreshForSelectedDrive() {
  const PhysicalDriveRecord* drive = SelectedDrive();
  Model().SetText(kModel, drive ? drive->ModelName : std::string());
  ATACommand ata;
  const bool windows7 = ata.OsVersion.dwMajorVersion == 6 && ata.OsVersion.dwMinorVersion == 1;
  Model().Enable(kEraseRun, drive && drive->BusType != kBusNvme && windows7);
}

void CUtilityPage::OnBnClickedButtonUtilityRun() {
  if (state_.RunningOperationCode.load() != 0) {
    ShowString(UserShell(), LanguageId(), 247);
    return;
  }
  const PhysicalDriveRecord* selected = SelectedDrive();
  if (!selected) return;
  const PhysicalDriveRecord drive = *selected;
  const SecurityEraseRefusal refusal = CheckSecurityErase(drive, state_.RunningOperationCode.load());
  if (refusal.Refused()) {
    if (refusal.message.stringId != 0)
      ShowString(UserShell(), LanguageId(), refusal.message.stringId);
    else
      UserShell().MessageBox(FixedMessage(refusal.message.text));
    return;
  }
  if (!AskYesNo(UserShell(), LanguageId(), kFirstWarning, kWarningCaption)) return;
  if (!AskYesNo(UserShell(), LanguageId(), kLastWarning, kWarningCaption)) return;

  state_.RunningOperationCode.store(kSecurityEraseKind);
  SecurityEraseRequest& request = RequestBlock();
  request.DriveNumber = drive.PhysicalDriveIndex;
  request.EraseTime = drive.IdentifyWord(89);
  request.Kind = kSecurityEraseKind;
  request.WindowTitle = kMainWindowTitle;
  request.Page = this;
  request.DevicePath = drive.DevicePath;
  request.End = SecurityEraseEnd::Done;
  request.Messages.clear();
  // Run stays disabled while the erase runs; the end notification enables
  // it again. (The page's model belongs to the user-interface thread, so
  // the worker does not touch it.)
  Model().Enable(kEraseRun, false);
  if (!StartSecurityEraseWorker(request, state_.RunningOperationCode))
    Model().Enable(kEraseRun, true);
}

void CUtilityPage::OnProgress(platform::WPARAM wParam, platform::LPARAM lParam) {
  auto* request = reinterpret_cast<SecurityEraseRequest*>(lParam);
  if (!request || request->Kind != kSecurityEraseKind) return;
  if (platform::ProgressPhase(wParam) != platform::SSDZELVMSG_WPARAM_PROGRESSEND) return;
  // The worker's boxes: they have no owner window.
  for (const SecurityEraseMessage& m : request->Messages) {
    MessageBoxRequest box = m.stringId != 0 ? StringMessage(LanguageId(), m.stringId, m.captionId)
                                            : FixedMessage(m.text, String(m.captionId));
    if (m.stringId == 0) box.captionId = m.captionId;
    box.owned = false;
    UserShell().MessageBox(box);
  }
  state_.RunningOperationCode.store(0);
  Model().Enable(kEraseRun, true);
}

}  // namespace zel
