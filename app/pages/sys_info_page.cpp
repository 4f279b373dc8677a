#include "app/pages/sys_info_page.h"

#include <algorithm>

namespace zel {

namespace {

// The layout: labels in one column, rows 24 pixels apart, each value to the
// right of its label, as wide as the page leaves it.
constexpr int kLeft = 30;
constexpr int kTop = 30;
constexpr int kRowStep = 24;
constexpr int kLabelWidth = 170;
constexpr int kRowHeight = 20;
constexpr int kValueLeft = kLeft + kLabelWidth + 10;
constexpr int kRightMargin = 20;
constexpr int kMinValueWidth = 100;
constexpr int kDefaultWidth = 560;

}  // namespace

const CSysInfoPage::Row CSysInfoPage::kRows[7] = {
    {1052, 274, 1089, &SystemInformation::ToolVersion},
    {1042, 275, 1047, &SystemInformation::OsName},
    {1043, 276, 1048, &SystemInformation::CpuName},
    {1044, 277, 1049, &SystemInformation::TotalMemoryMB},
    {1045, 278, 1050, &SystemInformation::BoardVendor},
    {1046, 279, 1051, &SystemInformation::BoardModel},
    {1128, 324, 1129, &SystemInformation::BiosVersion},
};

CSysInfoPage::CSysInfoPage(const SystemInformation& info, Shell& shell, uint16_t languageId)
    : Page(IDD, kTitleString, shell, languageId), info_(info) {
  // The template's fourteen controls, row by row.
  for (const Row& row : kRows) {
    Model().Item(row.labelId);
    Model().Item(row.valueId);
  }
}

bool CSysInfoPage::OnInitDialog() {
  // The background is a resource of the program that the window toolkit
  // draws; the page only names it. (There is nothing to load here that could
  // fail, so the page has no "could not load" box of its own.)
  SetBackgroundBitmap(kBackgroundBitmap);
  LayOut();
  Fill();
  return true;
}

void CSysInfoPage::OnSize(int width, int height) {
  (void)height;
  width_ = width;
  LayOut();
}

void CSysInfoPage::LayOut() {
  int width = width_ > 0 ? width_ : kDefaultWidth;
  int valueWidth = std::max(kMinValueWidth, width - kValueLeft - kRightMargin);
  for (int i = 0; i < 7; ++i) {
    int y = kTop + i * kRowStep;
    Model().Item(kRows[i].labelId).rect = {kLeft, y, kLabelWidth, kRowHeight};
    Model().Item(kRows[i].valueId).rect = {kValueLeft, y, valueWidth, kRowHeight};
  }
}

void CSysInfoPage::Fill() {
  // Texts are UTF-8 throughout, so no locale is switched for them: a process-
  // wide locale change here would reach every thread's number formatting.
  const ControlFont font{PageFontFace(LanguageId()), 0, false};
  for (const Row& row : kRows) {
    Control& label = Model().Item(row.labelId);
    label.text = String(row.stringId);
    label.colour = kLabelColour;
    label.font = font;
    Control& value = Model().Item(row.valueId);
    value.text = info_.*row.value;
    value.colour = kValueColour;
    value.font = font;
  }
}

}  // namespace zel
