#include "health/identify_decoding.h"

#include <cstdint>
#include <cstring>

#include "device/ata_command.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel {

namespace {

// Byte positions of the text fields in the two identity pages.
struct TextField {
  size_t offset;
  size_t length;
  size_t maxUnits;  // capacity of the record member, without its NUL
};

// ATA IDENTIFY DEVICE: words 10-19, 23-26 and 27-46.
constexpr TextField kAtaSerial{20, 20, kSerialNumberChars};
constexpr TextField kAtaFirmware{46, 8, kFirmwareRevisionChars};
constexpr TextField kAtaModel{54, 40, kModelNameChars};
static_assert(kAtaSerial.offset == 2 * 10 && kAtaSerial.offset + kAtaSerial.length == 2 * 20);
static_assert(kAtaFirmware.offset == 2 * 23 && kAtaFirmware.offset + kAtaFirmware.length == 2 * 27);
static_assert(kAtaModel.offset == 2 * 27 && kAtaModel.offset + kAtaModel.length == 2 * 47);

// NVMe Identify Controller: SN, MN and FR.
constexpr TextField kNvmeSerial{4, 20, kSerialNumberChars};
constexpr TextField kNvmeModel{24, 40, kModelNameChars};
constexpr TextField kNvmeFirmware{64, 8, kFirmwareRevisionChars};
static_assert(kNvmeSerial.offset + kNvmeSerial.length == kNvmeModel.offset);
static_assert(kNvmeModel.offset + kNvmeModel.length == kNvmeFirmware.offset);
static_assert(kNvmeFirmware.offset + kNvmeFirmware.length == 72);

constexpr int kWordSataCapabilities2 = 77;
constexpr int kWordWorldWideName = 108;
constexpr int kWordTransportMajor = 222;

// Copies one field into a NUL-terminated work buffer one byte longer than the
// field, drops its trailing blanks and converts it from the locale's
// multibyte encoding, limited to the member's capacity.
std::string DecodeTextField(const uint8_t* page, const TextField& field) {
  char work[64] = {};
  static_assert(sizeof work > 40, "work buffer must hold the longest field and its NUL");
  std::memcpy(work, page + field.offset, field.length);
  TrimTrailingBlanks(work);
  return TruncateUtf16(FromLocaleMultibyte(std::string_view(work)), field.maxUnits);
}

void SwapField(PhysicalDriveRecord& record, const TextField& field) {
  ATACommand::SwapWordBytes(record.IdentifyData.data() + field.offset,
                            static_cast<uint32_t>(field.length));
}

}  // namespace

void TrimTrailingBlanks(char* text) {
  size_t n = std::strlen(text);
  size_t end = n;
  while (end > 0 && text[end - 1] == ' ') --end;
  for (size_t i = end; i < n; ++i) text[i] = '\0';
}

void DecodeIdentifyStrings(PhysicalDriveRecord& record) {
  if (record.BusType == kBusNvme) {
    const uint8_t* page = record.NvmeIdentifyData.data();
    record.SerialNumber = DecodeTextField(page, kNvmeSerial);
    record.ModelName = DecodeTextField(page, kNvmeModel);
    record.FirmwareRevision = DecodeTextField(page, kNvmeFirmware);
    return;
  }
  // ATA sends the two characters of each word in reverse order; the swapped
  // form stays in the record for the readers of the raw words.
  const uint8_t* page = record.IdentifyData.data();
  SwapField(record, kAtaSerial);
  record.SerialNumber = DecodeTextField(page, kAtaSerial);
  SwapField(record, kAtaFirmware);
  record.FirmwareRevision = DecodeTextField(page, kAtaFirmware);
  SwapField(record, kAtaModel);
  record.ModelName = DecodeTextField(page, kAtaModel);
}

std::string GetSataVersionText(const PhysicalDriveRecord& record) {
  uint16_t word = record.IdentifyWord(kWordTransportMajor);
  if ((word >> 12) != 0x1) return "N/A";  // not a serial transport
  static constexpr const char* kVersions[] = {"ATA8-AST", "SATA 1.0a", "SATA II Ext", "SATA 2.5",
                                              "SATA 2.6", "SATA 3.0",  "SATA 3.1"};
  for (int bit = 11; bit >= 0; --bit) {
    if (word & (1u << bit)) return bit <= 6 ? kVersions[bit] : "SATA >3.1";
  }
  return "SATA >3.1";  // serial, but no version bit: newer than the table
}

std::string GetSataLinkSpeedText(const PhysicalDriveRecord& record) {
  if (GetSataVersionText(record) == "N/A") return "N/A";
  uint16_t word = record.IdentifyWord(kWordSataCapabilities2);
  if (word & 0x1) return "N/A";
  switch ((word >> 1) & 0x7) {
    case 0: return "N/A";
    case 1: return "1.5 Gb/s";
    case 2: return "3.0 Gb/s";
    case 3: return "6.0 Gb/s";
    default: return ">6.0 Gb/s";
  }
}

std::string GetWorldWideNameText(const PhysicalDriveRecord& record) {
  return Format("%04X%04X%04X%04X", record.IdentifyWord(kWordWorldWideName),
                record.IdentifyWord(kWordWorldWideName + 1),
                record.IdentifyWord(kWordWorldWideName + 2),
                record.IdentifyWord(kWordWorldWideName + 3));
}

namespace {

struct WordRange {
  int first;
  int last;
  std::string_view text;
};

// The dictionary as runs of words that share one description.
constexpr WordRange kWordRanges[] = {
    {0, 0, "General configuration"},
    {1, 1, "Obsolete"},
    {2, 2, "Specific configuration"},
    {3, 3, "Obsolete"},
    {4, 5, "Retired"},
    {6, 6, "Obsolete"},
    {7, 8, "Reserved"},
    {9, 9, "Retired"},
    {10, 19, "Serial number (20 ASCII characters)"},
    {20, 21, "Retired"},
    {22, 22, "Obsolete"},
    {23, 26, "Firmware revision (8 ASCII characters)"},
    {27, 46, "Model number (40 ASCII characters)"},
    {47, 47, "READ/WRITE MULTIPLE"},
    {48, 48, "Trusted Computing feature set options"},
    {49, 50, "Capabilities"},
    {51, 52, "Obsolete"},
    {53, 53, "Field Validaty"},
    {54, 58, "Obsolete"},
    {59, 59, "Multiple sector setting"},
    {60, 61, "Total number of user addressable logical sectors"},
    {62, 62, "Obsolete"},
    {63, 63, "Multiword DMA transfer"},
    {64, 64, "PIO modes supported"},
    {65, 65, "Minimum Multiword DMA transfer cycle time per word (ns)"},
    // The apostrophe of this text has always been the pair U+00A1 U+00A6.
    {66, 66, "Manufacturer\u00A1\u00A6s recommended Multiword DMA transfer cycle time (ns)"},
    {67, 67, "Minimum PIO transfer cycle time without flow control (ns)"},
    {68, 68, "Minimum PIO transfer cycle time with IORDY flow control (ns)"},
    {69, 69, "Additional supported"},
    {70, 74, "Reserved"},
    {75, 75, "Queue depth"},
    {76, 76, "Serial ATA capabilities"},
    {77, 77, "Serial ATA additional capabilities"},
    {78, 78, "Serial ATA features supported"},
    {79, 79, "Serial ATA features enabled"},
    {80, 80, "Major version number"},
    {81, 81, "Minor version number"},
    {82, 84, "Command set supported"},
    {85, 87, "Command set enabled"},
    {88, 88, "Ultra DMA modes"},
    {89, 89, "Time required for security erase unit completion"},
    {90, 90, "Time required for Enhanced security erase completion"},
    {91, 91, "Current advanced power management value"},
    {92, 92, "Master Password Identifier"},
    {93, 93, "Hardware reset result"},
    {94, 94, "Curren automatic acoustic management value"},
    {95, 95, "Stream Minimum Request Size"},
    {96, 96, "Streaming Transfer Time - DMA"},
    {97, 97, "Streaming Access Latency - DMA and PIO"},
    {98, 99, "Streaming Performance Granularity"},
    {100, 103, "Total Number of User Addressable Sectors for the 48-bit Address feature set"},
    {104, 104, "Streaming Transfer Time - PIO"},
    {105, 105, "Maximum 512-byte blocks of LBA range entries per DATA SET MANAGEMENT command"},
    {106, 106, "Physical sector size / Logical Sector Size"},
    {107, 107, "Inter-seek delay for ISO-7779 acoustic testing in microseconds"},
    {108, 111, "World Wild Name"},
    {112, 116, "Reserved"},
    {117, 118, "Logical Sector Size"},
    {119, 119, "Command set supported"},
    {120, 120, "Command set enabled"},
    {121, 126, "Reserved for expanded supported and enabled settings"},
    {127, 127, "Obsolete"},
    {128, 128, "Security status"},
    {129, 159, "Vendor specific"},
    {160, 160, "CFA power mode 1"},
    {161, 167, "Reserved for CFA"},
    {168, 168, "Device Nominal Form Factor"},
    {169, 169, "Data Set Management Support"},
    {170, 175, "Reserved"},
    {176, 205, "Current media serial number (60 ASCII characters)"},
    {206, 206, "SCT Command Transport"},
    {207, 208, "Reserved"},
    {209, 209, "Alignment of logical blocks within a larger physical block"},
    {210, 211, "Write-Read-Verify Sector Count Mode 3 Only"},
    {212, 213, "Write-Read-Verify Sector Count Mode 2 Only"},
    {214, 214, "NV Cache Capabilities"},
    {215, 215, "NV Cache Size in Logical Blocks (LSW)"},
    {216, 216, "NV Cache Size in Logical Blocks (MSW)"},
    {217, 217, "NV Cache Read Transfer Speed in MB/s"},
    {218, 218, "NV Cache Write Transfer Speed in MB/s"},
    {219, 219, "NV Cache Options"},
    {220, 220, "Write-Read-Verify feature set current mode"},
    {221, 221, "Reserved"},
    {222, 222, "Transport Major revision number"},
    {223, 223, "Transport Minor revision number"},
    {224, 233, "Reserved"},
    {234, 234, "Minimum number of 512 byte units per DOWNLOAD MICROCODE command mode 3"},
    {235, 235, "Maximum number of 512 byte units per DOWNLOAD MICROCODE command mode 3"},
    {236, 254, "Reserved"},
    {255, 255, "Integrity word"},
};

// The runs must follow each other without gap or overlap from word 0 to 255.
constexpr bool RangesCoverEveryWordOnce() {
  int next = 0;
  for (const WordRange& r : kWordRanges) {
    if (r.first != next || r.last < r.first || r.text.empty()) return false;
    next = r.last + 1;
  }
  return next == 256;
}
static_assert(RangesCoverEveryWordOnce(), "the word dictionary must name each word exactly once");

constexpr std::array<std::string_view, 256> BuildWordDescriptions() {
  std::array<std::string_view, 256> table{};
  for (const WordRange& r : kWordRanges)
    for (int w = r.first; w <= r.last; ++w) table[w] = r.text;
  return table;
}

}  // namespace

// Built at compile time, so it is ready before any other static object runs.
constinit const std::array<std::string_view, 256> IdentifyWordDescriptions =
    BuildWordDescriptions();

}  // namespace zel
