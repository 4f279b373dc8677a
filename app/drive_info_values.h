// The values of the Drive Info page for one drive, free of any window: the
// identity lines, the connection speed, the logical drives with their size,
// free space and usage, and the health panel (total bytes written,
// temperature with its thermometer band, drive health, remaining life), with
// the page's texts, its maker rules and which controls it shows.
//
// The values are computed from explicit inputs (a copy of the drive's record,
// its logical drives and the PCI Express link of its controller); nothing
// here sends a command to a drive. The window, the text output and the JSON
// output all render the same values, so each value comes both as a number
// (or flag) and as the text the page shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/drive_record.h"
#include "inventory/pcie_link.h"
#include "inventory/underlying_util.h"

namespace zel {

struct Rgb {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  bool operator==(const Rgb&) const = default;
};

// How the page draws a text: colour and point size.
struct TextStyle {
  Rgb Colour;
  int PointSize = 0;
  bool operator==(const TextStyle&) const = default;
};

// Fixed styles of the page's texts.
inline constexpr TextStyle kDriveInfoIdentityStyle{{128, 128, 128}, 9};  // identity, partition lines, value titles
inline constexpr TextStyle kDriveInfoHeaderStyle{{255, 255, 255}, 11};   // section headers
inline constexpr TextStyle kDriveInfoBytesWrittenStyle{{109, 189, 12}, 11};
inline constexpr TextStyle kDriveInfoFreePercentStyle{{1, 168, 177}, 8};
inline constexpr int kDriveInfoTemperaturePointSize = 11;

// The labels' font face and the details buttons' point size for a user
// interface language.
const char* DriveInfoFontFace(uint32_t uiLanguageId);
int DriveInfoDetailsButtonPointSize(uint32_t uiLanguageId);

// Thermometer states, chosen from the temperature value.
inline constexpr int kThermometerCool = 0;    // 30 °C or less
inline constexpr int kThermometerNormal = 1;  // 31 to 70 °C
inline constexpr int kThermometerHot = 2;     // 71 °C or more, and no temperature

// Health icon states.
inline constexpr int kHealthIconGood = 0;
inline constexpr int kHealthIconWarning = 1;

// One logical drive of the partition area.
struct LogicalDriveValues {
  std::string Name;        // "C:"
  std::string FileSystem;  // "NTFS"
  uint64_t SizeMB = 0;     // units of 2^20 bytes
  uint64_t FreeMB = 0;
  double TotalGB = 0;      // units of 2^30 bytes
  double FreeGB = 0;
  bool HasFreePercent = false;  // false for a size of 0
  double FreePercent = 0;
  int UsagePercent = 0;         // usage bar position, 0..100
  std::string TotalText;        // "Total: %.1f GB"
  std::string FreeText;         // "Free: %.1f GB"
  std::string FreePercentText;  // "Free: %.1f %%" or "Free: N/A"
};

struct DriveInfoValues {
  int32_t DriveIndex = 0;
  int32_t BusType = 0;
  bool IsNvme = false;
  bool IsMakersDrive = false;  // the model holds "QUARN"

  // Identity: the record's texts and the page's "label: value" lines.
  std::string Model;
  std::string Firmware;
  std::string Serial;
  std::string WorldWideName;  // sixteen hexadecimal digits
  std::string ModelLine;
  std::string FirmwareLine;
  std::string SerialLine;
  std::string WorldWideNameLine;

  // Connection: "SATA 6.0 Gb/s" or "PCIe Gen3 x4", and its page line.
  std::string ConnectionSpeed;
  std::string ConnectionLine;
  std::string SataVersion;    // SATA drives; "N/A" for NVMe drives
  std::string SataLinkSpeed;  // SATA drives; "N/A" for NVMe drives
  PcieLinkInfo PcieLink;      // NVMe drives; zeros for the others

  // Logical drives and the partition area, which shows one of them.
  std::vector<LogicalDriveValues> LogicalDrives;
  uint32_t CurrentPartition = 0;         // index into LogicalDrives
  std::string PartitionNameText;         // current drive's name, or "There is no recognized partition."
  bool PartitionLinesShown = false;      // total, free and free-percent lines and the usage bar
  bool PreviousPartitionEnabled = false;
  bool NextPartitionEnabled = false;

  // Total bytes written: shown for the maker's drives only.
  bool HasTotalBytesWritten = false;
  int64_t TotalBytesWrittenGB = -1;  // -1 when not shown
  double TotalBytesWrittenTB = 0;    // GB / 1024
  std::string TotalBytesWrittenText; // "%.2fTB" or "N/A"

  // Current temperature and its thermometer band.
  bool HasTemperature = false;
  uint16_t Temperature = 0;  // degrees Celsius; 0xFFFF when none
  std::string TemperatureText;  // "%d °C" or "N/A"
  int TemperatureBand = kThermometerHot;
  Rgb TemperatureColour;

  // Drive health: the disk status (1 good, 2 warning, 3 bad) and the icon the
  // page shows for it, with the icon's meaning as a text.
  int DiskStatus = 0;
  int HealthIconState = kHealthIconWarning;
  std::string HealthText;  // "Good" or "Warning"

  // Estimated remaining life: gauge position 0..100, and "%d%%".
  int RemainingLife = 100;
  std::string RemainingLifeText;
};

// The page's values for one drive. `partitionIndex` is the logical drive the
// partition area shows (kept by the main window, 0 after a drive change); an
// index beyond the list shows the last logical drive.
DriveInfoValues GetDriveInfoValues(const PhysicalDriveRecord& record,
                                   const std::vector<LogicalDriveEntry>& logicalDrives,
                                   const PcieLinkInfo& link, uint32_t partitionIndex = 0);

// The partition index after the previous (step -1) or next (step +1) button:
// unchanged with fewer than two logical drives, at the first one going back
// and at the last one going on.
uint32_t StepPartitionIndex(uint32_t index, size_t count, int step);

}  // namespace zel
