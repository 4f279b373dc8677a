// The vendor access codes of the maker's drive controllers, as the commands
// that send them (device/ata_commands.cpp) write them. The drives keep their
// own copy in their firmware (the simulated drive in
// platform/sim/sata_drive_commands.h), so a wrong value here makes the drive
// refuse the command, and the tests state the bytes themselves.
#pragma once

#include <cstdint>

namespace zel::vendor {

// SET FEATURES (0xEF) with this code in features and sector count unlocks
// the controller's vendor command pair (0x88 request, 0x86 reply).
inline constexpr uint8_t kEnableFeatures = 0x5A;
inline constexpr uint8_t kEnableCount = 0xC3;

// Command 0xFA with these five bytes in features, sector count, LBA low,
// LBA mid and LBA high opens the identifier area for reading.
inline constexpr uint8_t kUidAccessFeatures = 0x7E;
inline constexpr uint8_t kUidAccessCount = 0x51;
inline constexpr uint8_t kUidAccessLbaLow = 0xA9;
inline constexpr uint8_t kUidAccessLbaMid = 0x3C;
inline constexpr uint8_t kUidAccessLbaHigh = 0xD2;

// The fixed parts of the vendor request/reply pair and of the identifier
// read; these belong to the command set, not to the access codes above.
inline constexpr uint8_t kVendorRequestCommand = 0x88;
inline constexpr uint8_t kVendorReplyCommand = 0x86;
inline constexpr uint8_t kVendorUidCommand = 0xFA;
inline constexpr uint8_t kVendorRequestLbaLow = 0xFF;
inline constexpr uint8_t kVendorReplyLbaLow = 0x9E;
inline constexpr uint8_t kVendorLbaMid = 0x34;
inline constexpr uint8_t kVendorLbaHigh = 0x12;
// The first eight bytes of the request block: a tag and the big-endian
// address of the statistics area.
inline constexpr uint8_t kVendorRequestTag[4] = {0xFF, 0xE5, 0x9E, 0x00};
inline constexpr uint32_t kVendorStatisticsAddress = 0x00022C00;
inline constexpr uint8_t kUidReadFeatures = 0x26;
inline constexpr uint8_t kUidReadCount = 0x10;

}  // namespace zel::vendor
