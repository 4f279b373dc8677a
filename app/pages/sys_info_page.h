// The System Info page: the program version and the machine's operating
// system, processor, memory, base board and BIOS, as the system inventory
// found them at start-up, in seven rows of a label and a value. The page
// reads nothing from the machine itself and has no buttons.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog/page.h"
#include "inventory/system_info.h"

namespace zel {

class CSysInfoPage final : public Page {
 public:
  static constexpr int IDD = 133;            // dialog template
  static constexpr int kTitleString = 246;   // "System Info"
  static constexpr int kBackgroundBitmap = 178;
  static constexpr COLORREF kLabelColour = RGB(128, 128, 128);
  static constexpr COLORREF kValueColour = RGB(1, 182, 251);

  // One row: the label control and its string, the value control and the
  // system-information text it shows.
  struct Row {
    int labelId;
    int stringId;
    int valueId;
    std::string SystemInformation::*value;
  };
  static const Row kRows[7];

  // `info` is read when the page is initialised and must outlive the page.
  CSysInfoPage(const SystemInformation& info, Shell& shell, uint16_t languageId);

  bool OnInitDialog() override;
  void OnSize(int width, int height) override;

 private:
  void LayOut();
  void Fill();

  const SystemInformation& info_;
  int width_ = 0;
};

}  // namespace zel
