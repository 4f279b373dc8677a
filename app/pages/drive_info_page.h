// The Drive Info page: identity lines, connection speed, the logical drives
// of the selected drive with size, free space and a usage bar, and the
// health panel (health icon, remaining-life gauge, total bytes written,
// temperature with its three-band thermometer). Two buttons open the details
// popup in its two modes.
//
// The page computes no value of its own: GetDriveInfoValues decodes the
// record; the page chooses texts (from the string table, in the page's
// language), colours, fonts and which controls show.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "app/dialog/page.h"
#include "inventory/underlying_util.h"

namespace zel {

class CPopupDialog;

class CDriveInfoPage final : public Page {
 public:
  static constexpr int IDD = 129;
  static constexpr int kTitleString = 242;
  // Controls.
  static constexpr int kModel = 1040, kFirmware = 1013, kSerial = 1014, kWwn = 1015;
  static constexpr int kConnection = 1016;
  static constexpr int kDriveDetails = 1018, kSmartDetails = 1041;
  static constexpr int kPartitionHeader = 1019, kPartitionName = 1021;
  static constexpr int kPartitionTotal = 1022, kPartitionFree = 1023, kPartitionFreePercent = 1026;
  static constexpr int kPreviousPartition = 1024, kNextPartition = 1025;
  static constexpr int kUsageBar = 1027;
  static constexpr int kBytesWrittenIcon = 1028, kBytesWrittenTitle = 1029;
  static constexpr int kBytesWrittenValueIcon = 1030, kBytesWrittenValue = 1031;
  static constexpr int kTemperatureIcon = 1032, kTemperatureTitle = 1033;
  static constexpr int kThermometer = 1034, kTemperatureValue = 1035;
  static constexpr int kHealthHeader = 1036, kHealthIcon = 1038;
  static constexpr int kLifeHeader = 1037, kLifeGauge = 1039;
  static constexpr int kDecoration = 1020;

  // Colours the page names.
  static constexpr COLORREF kGrey = RGB(128, 128, 128);
  static constexpr COLORREF kWhite = RGB(255, 255, 255);
  static constexpr COLORREF kBytesWrittenColour = RGB(109, 189, 12);
  static constexpr COLORREF kFreePercentColour = RGB(1, 168, 177);

  // Runs a popup modally; the window toolkit supplies one. Without one the
  // popup is built and kept (LastPopup), which is what a test looks at.
  using PopupRunner = std::function<void(CPopupDialog&)>;

  // `state` must outlive the page.
  CDriveInfoPage(AppState& state, Shell& shell, uint16_t languageId);
  ~CDriveInfoPage() override;

  bool OnInitDialog() override;
  void OnSize(int width, int height) override;

  // Fills every control from the selected drive's record.
  void InitControlInfo();
  // Fills the partition area from the logical drive list.
  void UpdatePartitionControlInfo();
  // Rereads the logical drives of the selected drive, then InitControlInfo.
  // The main window calls it when the user selects another drive.
  void RefreshForSelectedDrive();

  void OnBnClickedButtonPreviousPartition() { StepPartition(-1); }
  void OnBnClickedButtonNextPartition() { StepPartition(+1); }
  void OnBnClickedButtonDriveDetails() { OpenPopup(1); }
  void OnBnClickedButtonSmartDetails() { OpenPopup(2); }

  void SetPopupRunner(PopupRunner runner) { popupRunner_ = std::move(runner); }
  // The popup the page opened last (null before the first).
  CPopupDialog* LastPopup() { return lastPopup_.get(); }
  // The logical drives read for the selected drive.
  const std::vector<LogicalDriveEntry>& LogicalDrives() const { return logicalDrives_; }

 private:
  bool HasSelectedDrive() const;
  void ReadLogicalDrives();
  void LayOut();
  void EnablePartitionButtons();
  void StepPartition(int step);
  void OpenPopup(int mode);

  AppState& state_;
  std::vector<LogicalDriveEntry> logicalDrives_;
  uint32_t logicalDriveCount_ = 0;
  int8_t remainingLife_ = 100;
  PopupRunner popupRunner_;
  std::unique_ptr<CPopupDialog> lastPopup_;
};

}  // namespace zel
