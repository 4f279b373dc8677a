// The Utilities page: the Security Erase section (title, the selected
// drive's model, the description and Run), and the buttons of the page's
// other functions (Firmware Update, Zelvane Upgrade, Export Log, Decrypt
// Log). Run checks the drive, asks twice and starts the erase worker; the
// page follows the worker's notifications. The other buttons are laid out
// with their texts but not yet wired: they do nothing so far.
#pragma once

#include <cstdint>

#include "app/app_state.h"
#include "app/dialog/page.h"
#include "maintenance/security_erase.h"
#include "platform/windows.h"

namespace zel {

class CUtilityPage final : public Page {
 public:
  static constexpr int IDD = 131;
  static constexpr int kTitleString = 244;
  static constexpr int kBackgroundBitmap = 179;
  // Controls.
  static constexpr int kEraseTitle = 1061;
  static constexpr int kModel = 1052;
  static constexpr int kEraseText = 1053;
  static constexpr int kEraseRun = 1041;
  static constexpr int kFirmwareUpdate = 1058;
  static constexpr int kZelvaneUpgrade = 1059;
  static constexpr int kExportLog = 1060;
  static constexpr int kDecryptLog = 1062;

  // `state` must outlive the page.
  CUtilityPage(AppState& state, Shell& shell, uint16_t languageId);

  bool OnInitDialog() override;
  void OnSize(int width, int height) override;
  // The main window selected another drive (or the page is shown first):
  // the model label, and Run enabled only for a drive that is not NVMe on
  // platform version 6.1.
  void RefreshForSelectedDrive();

  // Run of the Security Erase section: the checks in their order, two
  // confirmations, then the worker.
  void OnBnClickedButtonUtilityRun();

  // SSDZELVMSG_PROGRESS as the main window forwards it.
  void OnProgress(platform::WPARAM wParam, platform::LPARAM lParam);

  // The erase's request block, living as long as the program.
  static SecurityEraseRequest& RequestBlock();

 private:
  const PhysicalDriveRecord* SelectedDrive() const;
  void LayOut();

  AppState& state_;
};

}  // namespace zel
