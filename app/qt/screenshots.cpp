#include "app/qt/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include "app/pages/diagnostics_page.h"
#include "app/pages/drive_info_page.h"
#include "app/pages/popup_dialog.h"
#include "app/qt/main_window.h"
#include "platform/platform.h"
#include "platform/worker.h"

namespace zel::qt {

namespace {

using D = CQuarn_SSDZelvDlg;

bool Save(QWidget& widget, const QString& dir, const QString& name, std::string* error) {
  QApplication::processEvents();
  const QString path = QDir(dir).filePath(name);
  if (!widget.grab().save(path, "PNG")) {
    *error = "could not write " + path.toStdString();
    return false;
  }
  return true;
}

// The table position of the first drive that fits, or -1.
template <class Fits>
int32_t FindDrive(const AppState& state, Fits fits) {
  for (int32_t i = 0; i < state.PhysicalDriveCount && static_cast<size_t>(i) < state.PhysicalDriveTable.size(); ++i)
    if (fits(state.PhysicalDriveTable[i])) return i;
  return -1;
}

}  // namespace

std::vector<std::string> ScreenshotNames() {
  return {"drive-info-sata.png",      "diagnostics.png",        "utilities.png",
          "system-optimization.png",  "system-info.png",        "drive-info-nvme.png",
          "drive-info-other-maker.png", "popup-drive-details.png", "popup-smart-details.png",
          "diagnostics-self-test.png"};
}

bool SelectDrivePosition(MainWindow& window, CQuarn_SSDZelvDlg& dialog, int32_t position) {
  if (position < 0 || position >= dialog.State().PhysicalDriveCount) return false;
  for (int guard = 0; position > dialog.LastVisibleDrive() && guard < 64; ++guard) window.Click(D::kNext);
  for (int guard = 0; position < dialog.FirstVisibleDrive() && guard < 64; ++guard) window.Click(D::kPrevious);
  const int k = position - dialog.FirstVisibleDrive() + 1;
  if (k < 1 || k > 3) return false;
  window.Click(D::kDriveButtons[k - 1]);
  return dialog.State().SelectedDrive == position;
}

bool SaveScreenshots(MainWindow& window, CQuarn_SSDZelvDlg& dialog, const std::string& dirName,
                     std::string* error) {
  const QString dir = QString::fromStdString(dirName);
  if (!QDir().mkpath(dir)) {
    *error = "could not make the folder " + dirName;
    return false;
  }
  window.show();
  AppState& state = dialog.State();
  const int32_t sata = FindDrive(state, [](const PhysicalDriveRecord& r) {
    return r.BusType != kBusNvme && r.ModelName.find("QUARN") != std::string::npos;
  });
  const int32_t nvme = FindDrive(state, [](const PhysicalDriveRecord& r) { return r.BusType == kBusNvme; });
  const int32_t other = FindDrive(state, [](const PhysicalDriveRecord& r) {
    return r.ModelName.find("QUARN") == std::string::npos;
  });

  window.Click(D::kPageButtons[0]);
  SelectDrivePosition(window, dialog, sata >= 0 ? sata : 0);
  const char* pages[5] = {"drive-info-sata.png", "diagnostics.png", "utilities.png",
                          "system-optimization.png", "system-info.png"};
  for (int i = 0; i < 5; ++i) {
    window.Click(D::kPageButtons[i]);
    if (!Save(window, dir, pages[i], error)) return false;
  }
  window.Click(D::kPageButtons[0]);
  if (nvme >= 0 && SelectDrivePosition(window, dialog, nvme) &&
      !Save(window, dir, "drive-info-nvme.png", error))
    return false;
  if (other >= 0 && SelectDrivePosition(window, dialog, other) &&
      !Save(window, dir, "drive-info-other-maker.png", error))
    return false;

  // The popups of the SATA drive, opened with the page's buttons.
  window.Click(D::kPageButtons[0]);
  SelectDrivePosition(window, dialog, sata >= 0 ? sata : 0);
  auto* info = dynamic_cast<CDriveInfoPage*>(dialog.PageAt(0));
  if (info) {
    bool saved = true;
    QString name;
    info->SetPopupRunner([&](CPopupDialog& popup) {
      PopupWindow shown(popup, &window);
      shown.show();
      saved = Save(shown, dir, name, error);
    });
    name = "popup-drive-details.png";
    window.ClickPage(CDriveInfoPage::kDriveDetails);
    name = "popup-smart-details.png";
    if (saved) window.ClickPage(CDriveInfoPage::kSmartDetails);
    info->SetPopupRunner([&window](CPopupDialog& popup) { window.RunPopup(popup); });
    if (!saved) return false;
  }

  // The Diagnostics page while a quick self-test runs: the worker's
  // notifications are taken one by one until the bar has moved.
  window.Click(D::kPageButtons[1]);
  window.ClickPage(CDiagnoticsPage::kQuickRun);
  bool pictured = false;
  platform::MSG m;
  for (int guard = 0; state.RunningOperationCode.load() != 0 && guard < 10000; ++guard) {
    if (!platform::Current().Windows().GetMessageW(&m, 5000)) break;
    if (m.message != platform::SSDZELVMSG_PROGRESS) continue;
    dialog.OnProgress(m.wParam, m.lParam);
    window.Sync();
    if (!pictured && platform::ProgressPhase(m.wParam) == platform::SSDZELVMSG_WPARAM_PROGRESSUPDATE) {
      if (!Save(window, dir, "diagnostics-self-test.png", error)) return false;
      pictured = true;
    }
  }
  if (!pictured && !Save(window, dir, "diagnostics-self-test.png", error)) return false;
  window.Click(D::kPageButtons[0]);
  return true;
}

}  // namespace zel::qt
