#include "health/nvme_fields.h"

#include <iterator>
#include <string_view>

#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/wire/nvme_health.h"

namespace zel {

namespace {

// Offsets of the Identify Controller page that the rows are cut from.
constexpr size_t kReserved1Start = 78;     // 11 dumps of 16 bytes, then 254-255
constexpr size_t kReserved2Start = 265;    // 15 dumps of 16 bytes, then 505-511
constexpr size_t kReserved4Start = 531;    // 10 dumps of 16 bytes, then 691-703
constexpr size_t kReserved5Start = 704;    // 84 dumps of 16 bytes up to 2047
constexpr size_t kPowerStateStart = 2048;  // 32 descriptors of 32 bytes
constexpr size_t kPowerStateSize = 32;
constexpr int kPowerStateCount = 32;
constexpr size_t kVendorStart = 3072;  // 64 dumps of 16 bytes up to 4095

static_assert(kReserved1Start + 11 * 16 == 254);
static_assert(kReserved2Start + 15 * 16 == 505);
static_assert(kReserved4Start + 10 * 16 == 691);
static_assert(kReserved5Start + 84 * 16 == kPowerStateStart);
static_assert(kPowerStateStart + kPowerStateCount * kPowerStateSize == kVendorStart);
static_assert(kVendorStart + 64 * 16 == kNvmeIdentifyPageSize);

constexpr char kFormatNvmAttributesText[] =
    "Bit 0 indicates whether the format operation applies to all namespaces or is specific to a "
    "particular namespace. If set to 1 then all namespaces shall be configured with the same "
    "attributes and a format of any namespace results in a format of all namespaces. If cleared "
    "to 0 then the controller supports format on a per namespace basis. Bit 1 indicates whether "
    "secure erase functionality applies to all namespaces or is specific to a particular "
    "namespace. If set to 1 then a secure erase of a particular namespace as part of a format "
    "results in a secure erase of all namespaces. If cleared to 0 then a secure erase as part of "
    "a format is performed on a per namespace basis. Bit 2 indicates whether cryptographic erase "
    "is supported as part of the secure erase functionality. If set to 1 then cryptographic erase "
    "is supported. If cleared to 0 then cryptographic erase is not supported.";
static_assert(sizeof(kFormatNvmAttributesText) - 1 == 883);

class RowWriter {
 public:
  explicit RowWriter(const uint8_t* page) : page_(page) { rows_.reserve(kNvmeIdentifyRowCount); }

  void Add(std::string item, std::string value, std::string description) {
    rows_.push_back({std::move(item), std::move(value), std::move(description)});
  }
  // A reserved or vendor-specific range: the item text is also the description.
  void AddDump(const std::string& item, size_t offset, size_t count) {
    Add(item, Dump(offset, count), item);
  }
  // Runs of 16-byte dumps whose items number the bytes from the run's start.
  void AddDumpRun(const char* itemFormat, size_t start, int runs) {
    for (int j = 0; j < runs; ++j)
      AddDump(Format(itemFormat, 16 * j, 16 * j + 15), start + 16 * static_cast<size_t>(j), 16);
  }

  std::string Dump(size_t offset, size_t count) const { return NvmeHexDump(page_ + offset, count); }
  uint8_t U8(size_t offset) const { return page_[offset]; }
  uint16_t U16(size_t offset) const { return GetLE16(page_ + offset); }
  uint32_t U32(size_t offset) const { return GetLE32(page_ + offset); }

  // A text field: the bytes up to the first NUL, from the current code page,
  // untrimmed, at most `maxChars` characters.
  std::string Text(size_t offset, size_t length, size_t maxChars) const {
    const char* begin = reinterpret_cast<const char*>(page_ + offset);
    std::string_view bytes(begin, length);
    size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    return TruncateUtf16(FromLocaleMultibyte(bytes), maxChars);
  }

  std::vector<NvmeFieldRow> Take() { return std::move(rows_); }

 private:
  const uint8_t* page_;
  std::vector<NvmeFieldRow> rows_;
};

std::string Hex2(unsigned v) { return Format("0x%02X", v); }
std::string Hex4(unsigned v) { return Format("0x%04X", v); }
std::string Hex16Digits(uint32_t v) { return Format("0x%016X", v); }

void AddPowerStateRows(RowWriter& w, int d) {
  const size_t base = kPowerStateStart + kPowerStateSize * static_cast<size_t>(d);
  const std::string item = Format("Power State x Descriptor (%d)", d);
  w.Add(item, Hex4(w.U16(base + 0)), "Maximum Power");
  w.Add(item, Hex4(w.U16(base + 2)), "Reserved1");
  w.Add(item, Hex16Digits(w.U32(base + 4)), "Entry Latency");
  w.Add(item, Hex16Digits(w.U32(base + 8)), "Exit Latency");
  w.Add(item, Hex2(w.U8(base + 12) & 0x1Fu), "Relative Read Throughput");
  w.Add(item, Hex2(w.U8(base + 13) & 0x1Fu), "Relative Read Latency");
  w.Add(item, Hex2(w.U8(base + 14) & 0x1Fu), "Relative Write Throughput");
  w.Add(item, Hex2(w.U8(base + 15) & 0x1Fu), "Relative Write Latency");
  w.Add(item, w.Dump(base + 16, 16), "Reserved 6 (0-15)");
}

}  // namespace

std::string NvmeHexDump(const uint8_t* bytes, size_t count) {
  std::string out = "0x";
  out.reserve(2 + 2 * count);
  for (size_t i = 0; i < count; ++i) out += Format("%02X", bytes[i]);
  return out;
}

std::string NvmeCounterText(const uint8_t* counter) {
  uint64_t low = GetLE64(counter);
  uint64_t high = GetLE64(counter + 8);
  if (high == 0) return Format("0x%012llX", static_cast<unsigned long long>(low));
  return Format("0x%llX%016llX", static_cast<unsigned long long>(high),
                static_cast<unsigned long long>(low));
}

std::vector<NvmeFieldRow> NvmeIdentifyRows(const std::array<uint8_t, kNvmeIdentifyPageSize>& page) {
  RowWriter w(page.data());

  // Controller capabilities and features.
  w.Add("VID", Hex4(w.U16(0)), "PCI Vendor ID");
  w.Add("SSVID", Hex4(w.U16(2)), "PCI Subsystem Vendor ID");
  w.Add("SN", w.Text(4, 20, 20), "Serial Number");
  w.Add("MN", w.Text(24, 40, 40), "Model Number");
  w.Add("FR", w.Text(64, 8, 8), "Firmware Revision");
  w.Add("RAB", Hex2(w.U8(72)), "Recommended Arbitration Burst size");
  w.Add("IEEE", Format("0x%02X%02X%02X%02X", w.U8(73), w.U8(74), w.U8(75), w.U8(76)),
        "IEEE OUI Identifier and Multi-Interface Capabilities");
  w.Add("MDTS", Hex2(w.U8(77)), "Maximum Data Transfer Size");
  w.AddDumpRun("Reserved 1 (%d-%d)", kReserved1Start, 11);
  w.AddDump("Reserved (176-177)", 254, 2);

  // Admin command set attributes.
  w.Add("Optional Admin Command Support", Hex4(w.U16(256) & 1u),
        "Bit 0: support Security Send and Security Receive commands. Bit 1: support controller "
        "supports the Format NVM command. Bit 2: supports the Firmware Activate and Firmware "
        "Download commands.");
  w.Add("ACL", Hex2(w.U8(258)), "Abort Command Limit");
  w.Add("UAERL", Hex2(w.U8(259)), "Asynchronous Event Request Limit");
  w.Add("Firmware Updates", Hex2(w.U8(260) & 1u),
        "Bit 0 if set to 1 indicates that the first firmware slot (slot 1) is Read Only. Bits "
        "3:1 indicate the number of firmware slots that the device supports.");
  w.Add("Log Page Attributes", Hex2(w.U8(261)),
        "Bit 0 if set to 1 then the controller supports SMART Health Information Log Page");
  w.Add("Error Log Page Entries", Hex2(w.U8(262)),
        "The number of Error Information log entries that are stored by the controller");
  w.Add("Number of Power States Support", Hex2(w.U8(263)),
        "the number of NVMHCI power states supported by the controller");
  w.Add("Admin Vendor Specific Command Configuration", Hex2(w.U8(264) & 1u),
        "Bit 0: The configuration settings for admin vendor specific command handling");
  w.AddDumpRun("Reserved 2 (%d-%d)", kReserved2Start, 15);
  w.AddDump("Reserved 2(240-247)", 505, 7);

  // NVM command set attributes.
  w.Add("Submission Queue Entry Size", Hex2(w.U8(512)),
        "Bits 3:0 define the required Submission Queue Entry size. Bits 7:4 define the maximum "
        "Submission Queue Entry size");
  w.Add("Completion Queue Entry Size", Hex2(w.U8(513)),
        "Bits 3:0 define the required Completion Queue Entry size. Bits 7:4 define the maximum "
        "Completion Queue Entry size");
  w.Add("RSVD3", w.Dump(514, 2), "Reserved 3 (0-1)");
  w.Add("Number of Namespaces", Hex16Digits(w.U32(516)),
        "The number of valid namespaces present for the controller.");
  w.Add("Optional NVM Command Support", Hex4(w.U16(520)),
        "Bit 0: support the Compare command. Bit 1: support the Write Uncorrectable command. "
        "Bit 2: support the Dataset Management command.");
  w.Add("Fused Operation Support", Hex4(w.U16(522)),
        "Bit 0: support the Compare and Write fused operation.");
  w.Add("Format NVM Attributes", Hex2(w.U8(524)), kFormatNvmAttributesText);
  w.Add("Volatile Write Cache", Hex2(w.U8(525)),
        "Bit 0 if set to 1 indicates that a volatile write cache is present.");
  w.Add("Atomic Write Unit Normal", Hex4(w.U16(526)),
        "This field indicates the atomic write size for the controller during normal "
        "operation.");
  w.Add("Atomic Write Unit Power Fail", Hex4(w.U16(528)),
        "This field indicates the atomic write size for the controller during a power fail "
        "condition.");
  w.Add("NVM Vendor Specific Command Configuration", Hex2(w.U8(530) & 1u),
        "This field indicates the configuration settings for NVM vendor specific command "
        "handling.");
  w.AddDumpRun("Reserved 4 (%d-%d)", kReserved4Start, 10);
  w.AddDump("Reserved 4(160-173)", 691, 13);
  w.AddDumpRun("Reserved 5 (%d-%d)", kReserved5Start, 84);

  for (int d = 0; d < kPowerStateCount; ++d) AddPowerStateRows(w, d);

  w.AddDumpRun("Vendor Specific (%d-%d)", kVendorStart, 64);
  return w.Take();
}

std::vector<NvmeFieldRow> NvmeHealthRows(const std::array<uint8_t, kNvmeHealthLogSize>& log) {
  using L = wire::NvmeHealthLog;
  const uint8_t* p = log.data();
  auto field = [](unsigned v) { return Format("0x%012X", v); };
  std::vector<NvmeFieldRow> rows;
  rows.reserve(kNvmeHealthRowCount);
  rows.push_back({"01h", field(p[L::kCriticalWarning]), "Critical Warning"});
  rows.push_back({"02h", field(L::CompositeTemperatureKelvin(p)), "Temperature"});
  rows.push_back({"03h", field(p[L::kAvailableSpare]),
                  "Percentage of the available remaining spare capacity."});
  rows.push_back({"04h", field(p[L::kAvailableSpareThreshold]),
                  "Threshold of the available remaining spare capacity."});
  rows.push_back({"05h", field(p[L::kPercentageUsed]),
                  "Vendor specific estimate of the percentage of device life used."});

  // The ten 16-byte counters, one row each.
  static constexpr const char* kCounters[][2] = {
      {"06h", "The number of sectors that host has read from the controller."},
      {"07h", "The number of sectors that host has written to the controller."},
      {"08h", "The number of host read commands."},
      {"09h", "The number of host write commands."},
      {"0Ah", "The amount of time the controller is busy with I/O commands."},
      {"0Bh", "The number of power cycles."},
      {"0Ch", "The number of power-on hours."},
      {"0Dh", "The number of unsafe shutdowns."},
      {"0Eh", "The number of unrecovered data integrity error."},
      {"0Fh", "The number of Error Information log entries."},
  };
  static_assert(std::size(kCounters) == L::kCounterCount);
  for (uint32_t n = 0; n < L::kCounterCount; ++n)
    rows.push_back({kCounters[n][0], NvmeCounterText(p + L::Counter(n)), kCounters[n][1]});
  return rows;
}

}  // namespace zel
