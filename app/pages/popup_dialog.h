// The details popup: one list for the selected drive, in mode 1 (drive
// details: NVMe Identify Controller fields, or the 256 IDENTIFY words) or
// mode 2 (SMART details: NVMe health fields, or the SMART attributes), with
// a header naming the drive and, in mode 1, its storage controller. It reads
// the copied record and the controller list made at start-up; it sends
// nothing to the drive.
#pragma once

#include <cstdint>
#include <string>

#include "app/app_state.h"
#include "app/dialog/dialog_model.h"
#include "app/dialog/shell.h"

namespace zel {

class CPopupDialog {
 public:
  static constexpr int IDD = 183;
  static constexpr int kList = 1062, kHeader = 1063, kClose = 1;
  static constexpr COLORREF kHeaderColour = RGB(120, 120, 120);
  // The window's size in pixels.
  static constexpr int kWidth = 650, kHeight = 450;

  // `mode`: 1 drive details, 2 SMART details; `driveIndex`: position of the
  // drive in the state's table. Builds the SMART name dictionaries.
  CPopupDialog(int mode, int32_t driveIndex, const AppState& state, Shell& shell,
               uint16_t languageId);

  // Lays out and fills the header and the list.
  bool OnInitDialog();

  int Mode() const { return mode_; }
  // The window's caption: "Drive Details" or "SMART Details".
  std::string Caption() const;
  DialogModel& Model() { return model_; }
  const DialogModel& Model() const { return model_; }
  // The popup's close button was pressed: the modal loop ends.
  void OnBnClickedClose() { ended_ = true; }
  bool Ended() const { return ended_; }

 private:
  int mode_;
  int32_t driveIndex_;
  const AppState& state_;
  Shell& shell_;
  uint16_t languageId_;
  DialogModel model_{IDD};
  bool ended_ = false;
};

}  // namespace zel
