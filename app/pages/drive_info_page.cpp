#include "app/pages/drive_info_page.h"

#include <algorithm>

#include "app/drive_info_values.h"
#include "app/pages/popup_dialog.h"
#include "health/smart_health.h"
#include "inventory/pcie_link.h"
#include "log/log.h"
#include "platform/format.h"

namespace zel {

namespace {

constexpr int kStrModel = 248, kStrFirmware = 249, kStrSerial = 250, kStrWwn = 251;
constexpr int kStrConnection = 252, kStrLogicalDrives = 253, kStrHealth = 254, kStrLife = 255;
constexpr int kStrBytesWritten = 256, kStrTemperature = 257;
constexpr int kStrDriveDetails = 258, kStrSmartDetails = 259, kStrNoPartition = 260;

COLORREF ToColour(const Rgb& c) { return RGB(c.Red, c.Green, c.Blue); }

}  // namespace

CDriveInfoPage::CDriveInfoPage(AppState& state, Shell& shell, uint16_t languageId)
    : Page(IDD, kTitleString, shell, languageId), state_(state) {
  // The template's controls, and what each one is.
  const struct {
    int id;
    ControlKind kind;
  } controls[] = {
      {kModel, ControlKind::Label},          {kFirmware, ControlKind::Label},
      {kSerial, ControlKind::Label},         {kWwn, ControlKind::Label},
      {kConnection, ControlKind::Label},     {kDriveDetails, ControlKind::Button},
      {kSmartDetails, ControlKind::Button},  {kDecoration, ControlKind::Decoration},
      {kPartitionHeader, ControlKind::Label}, {kPartitionName, ControlKind::Label},
      {kPreviousPartition, ControlKind::Button}, {kNextPartition, ControlKind::Button},
      {kPartitionTotal, ControlKind::Label}, {kPartitionFree, ControlKind::Label},
      {kUsageBar, ControlKind::ProgressBar}, {kPartitionFreePercent, ControlKind::Label},
      {kHealthHeader, ControlKind::Label},   {kHealthIcon, ControlKind::StateIcon},
      {kLifeHeader, ControlKind::Label},     {kLifeGauge, ControlKind::Gauge},
      {kBytesWrittenIcon, ControlKind::StateIcon}, {kBytesWrittenTitle, ControlKind::Label},
      {kBytesWrittenValueIcon, ControlKind::StateIcon}, {kBytesWrittenValue, ControlKind::Label},
      {kTemperatureIcon, ControlKind::StateIcon}, {kTemperatureTitle, ControlKind::Label},
      {kThermometer, ControlKind::StateIcon}, {kTemperatureValue, ControlKind::Label},
  };
  for (const auto& c : controls) Model().Item(c.id).kind = c.kind;
  Model().Item(kPreviousPartition).accessibleName = "Previous logical drive";
  Model().Item(kNextPartition).accessibleName = "Next logical drive";
  Model().Item(kHealthIcon).rangeHigh = 1;
  Model().Item(kThermometer).rangeHigh = 2;
  Model().Item(kBytesWrittenIcon).rangeHigh = 0;
}

CDriveInfoPage::~CDriveInfoPage() = default;

bool CDriveInfoPage::HasSelectedDrive() const {
  return state_.SelectedDrive >= 0 &&
         static_cast<size_t>(state_.SelectedDrive) < state_.PhysicalDriveTable.size();
}

void CDriveInfoPage::ReadLogicalDrives() {
  logicalDrives_.clear();
  logicalDriveCount_ = 0;
  if (!HasSelectedDrive()) return;
  UnderlyingUtil util;
  util.GetLogicalDriveInfo(state_.PhysicalDriveTable[state_.SelectedDrive].PhysicalDriveIndex,
                           logicalDrives_);
  logicalDriveCount_ = static_cast<uint32_t>(logicalDrives_.size());
}

bool CDriveInfoPage::OnInitDialog() {
  LogEnter("CDriveInfoPage::OnInitDialog");
  ReadLogicalDrives();
  LayOut();
  InitControlInfo();
  LogExit("CDriveInfoPage::OnInitDialog");
  return true;
}

void CDriveInfoPage::OnSize(int width, int height) {
  Page::OnSize(width, height);
  LayOut();
}

void CDriveInfoPage::LayOut() {
  // Identity on the left, the details buttons on the right; below, the
  // logical drives on the left and the health panel on the right; the
  // bytes-written and temperature rows at the bottom.
  const struct {
    int id, x, y, w, h;
  } places[] = {
      {kModel, 24, 14, 380, 20},          {kFirmware, 24, 36, 380, 20},
      {kSerial, 24, 58, 380, 20},         {kWwn, 24, 80, 380, 20},
      {kConnection, 24, 102, 380, 20},    {kDriveDetails, 410, 24, 145, 32},
      {kSmartDetails, 410, 70, 145, 32},  {kDecoration, 24, 134, 531, 2},
      {kPartitionHeader, 24, 146, 250, 22}, {kPartitionName, 24, 174, 150, 20},
      {kPreviousPartition, 200, 172, 30, 24}, {kNextPartition, 236, 172, 30, 24},
      {kPartitionTotal, 24, 200, 240, 20},  {kPartitionFree, 24, 222, 240, 20},
      {kUsageBar, 24, 248, 242, 14},        {kPartitionFreePercent, 24, 266, 242, 18},
      {kHealthHeader, 300, 146, 120, 22},   {kHealthIcon, 300, 174, 64, 64},
      {kLifeHeader, 420, 146, 150, 40},     {kLifeGauge, 440, 186, 96, 96},
      {kBytesWrittenIcon, 24, 310, 40, 40}, {kBytesWrittenTitle, 72, 308, 200, 20},
      {kBytesWrittenValueIcon, 72, 331, 4, 20}, {kBytesWrittenValue, 82, 330, 190, 24},
      {kTemperatureIcon, 300, 310, 4, 4},   {kTemperatureTitle, 348, 308, 200, 20},
      {kThermometer, 300, 304, 40, 56},     {kTemperatureValue, 358, 330, 190, 24},
  };
  for (const auto& p : places) Model().Item(p.id).rect = {p.x, p.y, p.w, p.h};

  Control& bar = Model().Item(kUsageBar);
  bar.rangeLow = 0;
  bar.rangeHigh = 100;
  bar.position = 0;
  const uint32_t index = state_.DriveInfoPartition;
  if (!logicalDrives_.empty() && logicalDriveCount_ != 0 && index < logicalDrives_.size()) {
    const LogicalDriveEntry& e = logicalDrives_[index];
    if (e.SizeMB != 0 && e.FreeSpaceMB <= e.SizeMB)
      bar.position = static_cast<int32_t>((e.SizeMB - e.FreeSpaceMB) * 100 / e.SizeMB);
  }

  Control& gauge = Model().Item(kLifeGauge);
  gauge.rangeLow = 0;
  gauge.rangeHigh = 100;
  if (HasSelectedDrive()) {
    int32_t life = GetRemainingLife(state_.PhysicalDriveTable[state_.SelectedDrive]);
    LogTraceF("GUI disk remaining life: %d", life);
    gauge.position = std::clamp<int32_t>(life, 0, 100);
  }
}

void CDriveInfoPage::InitControlInfo() {
  LogEnter("CDriveInfoPage::InitControlInfo");
  if (!HasSelectedDrive()) return;
  const PhysicalDriveRecord record = state_.PhysicalDriveTable[state_.SelectedDrive];
  const PcieLinkInfo link =
      record.BusType == kBusNvme ? GetPcieLinkInfo(record.PhysicalDriveIndex) : PcieLinkInfo{};
  const DriveInfoValues v =
      GetDriveInfoValues(record, logicalDrives_, link, state_.DriveInfoPartition);

  const uint16_t lang = LanguageId();
  const std::string face = PageFontFace(lang);
  auto style = [&](int id, COLORREF colour, int size) {
    Control& c = Model().Item(id);
    c.colour = colour;
    c.font = ControlFont{face, size, false};
  };
  auto line = [&](int id, int labelString, const std::string& value) {
    Model().SetText(id, Format("%s: %s", String(labelString).c_str(), value.c_str()));
    style(id, kGrey, 9);
  };

  line(kModel, kStrModel, v.Model);
  line(kFirmware, kStrFirmware, v.Firmware);
  line(kSerial, kStrSerial, v.Serial);
  line(kWwn, kStrWwn, v.WorldWideName);
  line(kConnection, kStrConnection, v.ConnectionSpeed);

  for (auto [id, str] : {std::pair{kPartitionHeader, kStrLogicalDrives},
                         std::pair{kHealthHeader, kStrHealth}, std::pair{kLifeHeader, kStrLife}}) {
    Model().SetText(id, String(str));
    style(id, kWhite, 11);
  }
  UpdatePartitionControlInfo();
  Model().SetText(kBytesWrittenTitle, String(kStrBytesWritten));
  style(kBytesWrittenTitle, kGrey, 9);

  Model().SetText(kBytesWrittenValue, v.TotalBytesWrittenText);
  style(kBytesWrittenValue, kBytesWrittenColour, 11);

  Model().SetText(kTemperatureTitle, String(kStrTemperature));
  style(kTemperatureTitle, kGrey, 9);
  Model().SetText(kTemperatureValue, v.TemperatureText);
  style(kTemperatureValue, ToColour(v.TemperatureColour), 11);
  Model().Item(kThermometer).position = v.TemperatureBand;
  Model().Item(kThermometer).accessibleName = String(kStrTemperature) + ": " + v.TemperatureText;

  Control& health = Model().Item(kHealthIcon);
  health.position = v.HealthIconState;
  health.accessibleName = String(kStrHealth) + ": " + v.HealthText;

  remainingLife_ = static_cast<int8_t>(v.RemainingLife);
  Control& gauge = Model().Item(kLifeGauge);
  gauge.rangeLow = 0;
  gauge.rangeHigh = 100;
  gauge.position = remainingLife_;
  gauge.accessibleName = String(kStrLife) + ": " + v.RemainingLifeText;

  const int buttonSize = DriveInfoDetailsButtonPointSize(lang);
  Model().SetText(kDriveDetails, String(kStrDriveDetails));
  Model().SetText(kSmartDetails, String(kStrSmartDetails));
  for (int id : {kDriveDetails, kSmartDetails}) Model().Item(id).font = ControlFont{face, buttonSize, false};

  EnablePartitionButtons();
  LogExit("CDriveInfoPage::InitControlInfo");
}

void CDriveInfoPage::UpdatePartitionControlInfo() {
  LogEnter("CDriveInfoPage::UpdatePartitionControlInfo");
  const std::string face = PageFontFace(LanguageId());
  for (int id : {kPartitionName, kPartitionTotal, kPartitionFree}) {
    Model().Item(id).colour = kGrey;
    Model().Item(id).font = ControlFont{face, 9, false};
  }
  Model().Item(kPartitionFreePercent).colour = kFreePercentColour;
  Model().Item(kPartitionFreePercent).font = ControlFont{face, 8, false};

  const int lines[] = {kPartitionTotal, kPartitionFree, kPartitionFreePercent, kUsageBar};
  if (logicalDrives_.empty()) {
    if (logicalDriveCount_ == 0) Model().SetText(kPartitionName, String(kStrNoPartition));
    for (int id : lines) Model().Show(id, false);
    LogExit("CDriveInfoPage::UpdatePartitionControlInfo");
    return;
  }
  for (int id : lines) Model().Show(id, true);
  // An index left from a longer list shows the last logical drive.
  uint32_t index = std::min<uint32_t>(state_.DriveInfoPartition,
                                      static_cast<uint32_t>(logicalDrives_.size() - 1));
  state_.DriveInfoPartition = index;
  const LogicalDriveEntry& e = logicalDrives_[index];
  Model().SetText(kPartitionName, logicalDriveCount_ == 0 ? String(kStrNoPartition) : e.DriveName);
  Model().SetText(kPartitionTotal, Format("Total: %.1f GB", static_cast<double>(e.SizeMB) / 1024.0));
  Model().SetText(kPartitionFree, Format("Free: %.1f GB", static_cast<double>(e.FreeSpaceMB) / 1024.0));
  Control& bar = Model().Item(kUsageBar);
  bar.rangeLow = 0;
  bar.rangeHigh = 100;
  if (e.SizeMB == 0) {
    Model().SetText(kPartitionFreePercent, "Free: N/A");
    bar.position = 0;
  } else {
    Model().SetText(kPartitionFreePercent,
                    Format("Free: %.1f %%", static_cast<double>(e.FreeSpaceMB) * 100.0 /
                                                static_cast<double>(e.SizeMB)));
    // Free space above the size (an inconsistent report) shows an empty bar.
    bar.position = e.FreeSpaceMB <= e.SizeMB
                       ? static_cast<int32_t>((e.SizeMB - e.FreeSpaceMB) * 100 / e.SizeMB)
                       : 0;
  }
  LogExit("CDriveInfoPage::UpdatePartitionControlInfo");
}

void CDriveInfoPage::EnablePartitionButtons() {
  const uint32_t count = logicalDriveCount_;
  const uint32_t index = state_.DriveInfoPartition;
  Model().Enable(kPreviousPartition, count >= 2 && index != 0);
  Model().Enable(kNextPartition, count >= 2 && index < count - 1);
}

void CDriveInfoPage::StepPartition(int step) {
  if (logicalDriveCount_ < 2) return;
  const uint32_t index = state_.DriveInfoPartition;
  const uint32_t next = StepPartitionIndex(index, logicalDriveCount_, step);
  if (next == index) return;
  state_.DriveInfoPartition = next;
  UpdatePartitionControlInfo();
  EnablePartitionButtons();
}

void CDriveInfoPage::RefreshForSelectedDrive() {
  ReadLogicalDrives();
  InitControlInfo();
}

void CDriveInfoPage::OpenPopup(int mode) {
  if (!HasSelectedDrive()) return;
  lastPopup_ = std::make_unique<CPopupDialog>(mode, state_.SelectedDrive, state_, UserShell(),
                                              LanguageId());
  lastPopup_->OnInitDialog();
  if (popupRunner_) popupRunner_(*lastPopup_);
}

}  // namespace zel
