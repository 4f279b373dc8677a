// The NVMe detail rows: every field of the Identify Controller page (4,096
// bytes) and the fields of the SMART / Health Information log (512 bytes), as
// item, value and description texts. Field positions follow the NVM Express
// 1.0/1.1 layout; multi-byte fields are little-endian. Nothing is read from a
// drive: the rows come from the pages kept in the drive's record.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zel {

inline constexpr size_t kNvmeIdentifyPageSize = 4096;
inline constexpr size_t kNvmeHealthLogSize = 512;
inline constexpr int kNvmeIdentifyRowCount = 502;
inline constexpr int kNvmeHealthRowCount = 15;

struct NvmeFieldRow {
  std::string Item;
  std::string Value;
  std::string Description;
};

// The 502 Identify Controller rows, in page order: the controller fields,
// the reserved ranges as hex dumps, nine rows for each of the 32 power state
// descriptors and the vendor-specific area as hex dumps.
std::vector<NvmeFieldRow> NvmeIdentifyRows(const std::array<uint8_t, kNvmeIdentifyPageSize>& page);

// The 15 health rows "01h" to "0Fh" of the SMART / Health Information log.
std::vector<NvmeFieldRow> NvmeHealthRows(const std::array<uint8_t, kNvmeHealthLogSize>& log);

// "0x" followed by each byte as two upper-case hex digits, lowest offset first.
std::string NvmeHexDump(const uint8_t* bytes, size_t count);

// A 16-byte little-endian counter of the health log: "0x" and the lower eight
// bytes in at least 12 upper-case hex digits when the upper eight are zero;
// otherwise the whole 128-bit value in hex (upper half, then the lower half
// in 16 digits), so a large counter is never cut to its low half.
std::string NvmeCounterText(const uint8_t* counter);

}  // namespace zel
