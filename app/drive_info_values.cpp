#include "app/drive_info_values.h"

#include <algorithm>

#include "app/strings.h"
#include "health/identify_decoding.h"
#include "health/smart_health.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel {

namespace {

constexpr int kStrModel = 248;
constexpr int kStrFirmware = 249;
constexpr int kStrSerial = 250;
constexpr int kStrWwn = 251;
constexpr int kStrConnectionSpeed = 252;
constexpr int kStrNoPartition = 260;

constexpr uint32_t kLanguageKorean = 1042;
constexpr uint32_t kLanguageRussian = 1049;

constexpr const char* kMakerTag = "QUARN";

std::string LabelLine(int labelId, const std::string& value) {
  return Format("%s: %s", LoadStringText(labelId).c_str(), value.c_str());
}

LogicalDriveValues MakeLogicalDrive(const LogicalDriveEntry& e) {
  LogicalDriveValues v;
  v.Name = e.DriveName;
  v.FileSystem = e.FileSystem;
  v.SizeMB = e.SizeMB;
  v.FreeMB = e.FreeSpaceMB;
  v.TotalGB = static_cast<double>(e.SizeMB) / 1024.0;
  v.FreeGB = static_cast<double>(e.FreeSpaceMB) / 1024.0;
  v.TotalText = Format("Total: %.1f GB", v.TotalGB);
  v.FreeText = Format("Free: %.1f GB", v.FreeGB);
  if (e.SizeMB == 0) {
    v.FreePercentText = "Free: N/A";
  } else {
    v.HasFreePercent = true;
    v.FreePercent = static_cast<double>(e.FreeSpaceMB) * 100.0 / static_cast<double>(e.SizeMB);
    v.FreePercentText = Format("Free: %.1f %%", v.FreePercent);
    // Free space above the size (a volume reported inconsistently) counts as
    // an empty volume rather than wrapping around in unsigned arithmetic.
    if (e.FreeSpaceMB < e.SizeMB) {
      unsigned __int128 used = e.SizeMB - e.FreeSpaceMB;
      v.UsagePercent = static_cast<int>(used * 100 / e.SizeMB);
    }
  }
  return v;
}

int TemperatureBandOf(uint16_t temperature) {
  if (temperature == kNoTemperature) return kThermometerHot;
  if (temperature <= 30) return kThermometerCool;
  if (temperature <= 70) return kThermometerNormal;
  return kThermometerHot;
}

Rgb TemperatureColourOf(int band) {
  switch (band) {
    case kThermometerCool: return {86, 209, 255};
    case kThermometerNormal: return {158, 226, 116};
    default: return {255, 81, 110};
  }
}

}  // namespace

const char* DriveInfoFontFace(uint32_t uiLanguageId) {
  return uiLanguageId == kLanguageKorean ? "Gulim" : "Ariel";
}

int DriveInfoDetailsButtonPointSize(uint32_t uiLanguageId) {
  return uiLanguageId == kLanguageRussian || uiLanguageId == kLanguageKorean ? 9 : 10;
}

uint32_t StepPartitionIndex(uint32_t index, size_t count, int step) {
  if (count < 2) return index;
  uint32_t last = static_cast<uint32_t>(count - 1);
  if (index > last) index = last;
  if (step < 0) return index == 0 ? 0 : index - 1;
  if (step > 0) return index == last ? last : index + 1;
  return index;
}

DriveInfoValues GetDriveInfoValues(const PhysicalDriveRecord& record,
                                   const std::vector<LogicalDriveEntry>& logicalDrives,
                                   const PcieLinkInfo& link, uint32_t partitionIndex) {
  DriveInfoValues v;
  v.DriveIndex = record.PhysicalDriveIndex;
  v.BusType = record.BusType;
  v.IsNvme = record.BusType == kBusNvme;
  v.IsMakersDrive = Contains(record.ModelName, kMakerTag);

  // Identity lines.
  v.Model = record.ModelName;
  v.Firmware = record.FirmwareRevision;
  v.Serial = record.SerialNumber;
  v.WorldWideName = GetWorldWideNameText(record);
  v.ModelLine = LabelLine(kStrModel, v.Model);
  v.FirmwareLine = LabelLine(kStrFirmware, v.Firmware);
  v.SerialLine = LabelLine(kStrSerial, v.Serial);
  v.WorldWideNameLine = LabelLine(kStrWwn, v.WorldWideName);

  // Connection speed: the PCI Express generation and width for NVMe drives,
  // the negotiated SATA speed for the others.
  v.SataVersion = GetSataVersionText(record);
  v.SataLinkSpeed = GetSataLinkSpeedText(record);
  if (v.IsNvme) {
    v.PcieLink = link;
    v.ConnectionSpeed = Format("PCIe Gen%d x%d", static_cast<int>(link.CurrentLinkSpeed),
                               static_cast<int>(link.CurrentLinkWidth));
  } else {
    v.ConnectionSpeed = Format("SATA %s", v.SataLinkSpeed.c_str());
  }
  v.ConnectionLine = LabelLine(kStrConnectionSpeed, v.ConnectionSpeed);

  // Partition area. A stale index (the list got shorter since it was set)
  // shows the last logical drive instead of reading past the list.
  for (const LogicalDriveEntry& e : logicalDrives) v.LogicalDrives.push_back(MakeLogicalDrive(e));
  const size_t count = v.LogicalDrives.size();
  if (count == 0) {
    v.PartitionNameText = LoadStringText(kStrNoPartition);
    v.PartitionLinesShown = false;
  } else {
    v.CurrentPartition = std::min<uint32_t>(partitionIndex, static_cast<uint32_t>(count - 1));
    v.PartitionNameText = v.LogicalDrives[v.CurrentPartition].Name;
    v.PartitionLinesShown = true;
  }
  if (count >= 2) {
    v.PreviousPartitionEnabled = v.CurrentPartition != 0;
    v.NextPartitionEnabled = v.CurrentPartition < count - 1;
  }

  // Total bytes written: the maker's counters only.
  if (v.IsMakersDrive) {
    int64_t gb = GetTotalBytesWritten(record);
    if (gb >= 0) {
      v.HasTotalBytesWritten = true;
      v.TotalBytesWrittenGB = gb;
      v.TotalBytesWrittenTB = static_cast<double>(gb) / 1024.0;
    }
  }
  v.TotalBytesWrittenText =
      v.HasTotalBytesWritten ? Format("%.2fTB", v.TotalBytesWrittenTB) : std::string("N/A");

  // Temperature and its band; no temperature is drawn in the hot band.
  v.Temperature = GetDriveTemperature(record);
  v.HasTemperature = v.Temperature != kNoTemperature;
  v.TemperatureText = v.HasTemperature ? Format("%d \u00B0C", v.Temperature) : std::string("N/A");
  v.TemperatureBand = TemperatureBandOf(v.Temperature);
  v.TemperatureColour = TemperatureColourOf(v.TemperatureBand);

  // Health icon: warning and bad look the same; two families always show
  // the good icon.
  v.DiskStatus = CheckDiskStatus(record);
  bool good = v.DiskStatus == kDiskStatusGood || Contains(record.ModelName, "KD765") ||
              Contains(record.ModelName, "KW4555LD");
  v.HealthIconState = good ? kHealthIconGood : kHealthIconWarning;
  v.HealthText = good ? "Good" : "Warning";

  // Remaining life: the maker's drives (other than K385) report their own;
  // every other drive shows a full gauge. The value is limited in full width
  // before it is stored, so a large negative life (NVMe Percentage Used far
  // above 100) shows 0 rather than wrapping into the gauge's range.
  int32_t life = 100;
  if (StartsWith(record.ModelName, kMakerTag) && !Contains(record.ModelName, "K385"))
    life = GetRemainingLife(record);
  v.RemainingLife = std::clamp<int32_t>(life, 0, 100);
  v.RemainingLifeText = Format("%d%%", v.RemainingLife);

  return v;
}

}  // namespace zel
