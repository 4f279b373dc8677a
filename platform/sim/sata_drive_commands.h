// The simulated SATA drive's own command set: the command codes, SMART
// sub-operations, vendor access codes and page helpers that its firmware
// recognises. Shared by the files of the drive (sata_drive*.cpp) and by
// nothing else: the drive defines what it answers on its own, as a real
// drive's firmware would, and never reads the constants of the code that
// sends to it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/wire/ata.h"

namespace zel::sim::sata {

// ATA command codes the drive knows.
inline constexpr uint8_t kDataSetManagement = 0x06;
inline constexpr uint8_t kVendorReply = 0x86;
inline constexpr uint8_t kVendorRequest = 0x88;
inline constexpr uint8_t kDownloadMicrocode = 0x92;
inline constexpr uint8_t kSmart = 0xB0;
inline constexpr uint8_t kStandbyImmediate = 0xE0;
inline constexpr uint8_t kCheckPowerMode = 0xE5;
inline constexpr uint8_t kFlushCache = 0xE7;
inline constexpr uint8_t kFlushCacheExt = 0xEA;
inline constexpr uint8_t kIdentify = 0xEC;
inline constexpr uint8_t kSetFeatures = 0xEF;
inline constexpr uint8_t kSecuritySetPassword = 0xF1;
inline constexpr uint8_t kSecurityUnlock = 0xF2;
inline constexpr uint8_t kSecurityErasePrepare = 0xF3;
inline constexpr uint8_t kSecurityEraseUnit = 0xF4;
inline constexpr uint8_t kSecurityFreezeLock = 0xF5;
inline constexpr uint8_t kSecurityDisablePassword = 0xF6;
inline constexpr uint8_t kVendorUid = 0xFA;

// SMART sub-operations (features register).
inline constexpr uint8_t kSmartReadData = 0xD0;
inline constexpr uint8_t kSmartReadThresholds = 0xD1;
inline constexpr uint8_t kSmartAutosave = 0xD2;
inline constexpr uint8_t kSmartExecuteOffline = 0xD4;
inline constexpr uint8_t kSmartReadLog = 0xD5;
inline constexpr uint8_t kSmartWriteLog = 0xD6;
inline constexpr uint8_t kSmartEnable = 0xD8;
inline constexpr uint8_t kSmartDisable = 0xD9;
inline constexpr uint8_t kSmartReturnStatus = 0xDA;
inline constexpr uint8_t kSmartAutoOffline = 0xDB;

// Returned status: ready and seek complete; with the error bit when aborted.
inline constexpr uint8_t kStatusOk = 0x50;
inline constexpr uint8_t kStatusAborted = 0x51;
inline constexpr uint8_t kErrorAbort = 0x04;

// SCT command transport over two log addresses, and the one SCT action the
// drive carries out (reading its configuration identifier).
inline constexpr uint8_t kSctLogStatus = 0xE0;
inline constexpr uint8_t kSctLogData = 0xE1;
inline constexpr uint16_t kSctConfigIdAction = 0xC000;
// Sectors of each host-specific log (addresses 0x80 to 0x9F).
inline constexpr uint32_t kHostLogSectors = 16;

// The controller's vendor access codes, as its firmware checks them.
// SET FEATURES with this code in features and sector count unlocks the
// vendor request/reply pair.
inline constexpr uint8_t kVendorEnableFeatures = 0x5A;
inline constexpr uint8_t kVendorEnableCount = 0xC3;
// The request (0x88) and reply (0x86) carry these LBA bytes; the request
// block starts with a tag and the big-endian address of the statistics area.
inline constexpr uint8_t kVendorRequestLbaLow = 0xFF;
inline constexpr uint8_t kVendorReplyLbaLow = 0x9E;
inline constexpr uint8_t kVendorLbaMid = 0x34;
inline constexpr uint8_t kVendorLbaHigh = 0x12;
inline constexpr uint8_t kVendorRequestTag[4] = {0xFF, 0xE5, 0x9E, 0x00};
inline constexpr uint32_t kVendorStatisticsAddress = 0x00022C00;
// Bytes of the statistics area the reply returns from.
inline constexpr uint32_t kVendorDataSize = 8192;
// Command 0xFA with these five bytes (features, sector count, LBA low, mid,
// high) opens the identifier area; with features 0x26 and count 0x10 it
// reads the 512-byte area.
inline constexpr uint8_t kUidAccess[5] = {0x7E, 0x51, 0xA9, 0x3C, 0xD2};
inline constexpr uint8_t kUidReadFeatures = 0x26;
inline constexpr uint8_t kUidReadCount = 0x10;

// The words the ATA strings of IDENTIFY occupy.
inline constexpr int kSerialWord = 10, kSerialWords = 10;
inline constexpr int kFirmwareWord = 23, kFirmwareWords = 4;
inline constexpr int kModelWord = 27, kModelWords = 20;

// ATA strings hold two characters per word, the first in the high byte, so
// read as bytes of the little-endian page each pair appears swapped.
void PutAtaString(std::array<uint16_t, 256>& w, int first, int words, const std::string& text);
std::string GetAtaString(const std::array<uint16_t, 256>& w, int first, int words);
// The checksum byte 511 that makes the 512 bytes of a page sum to zero.
uint8_t Checksum(const uint8_t* page);

// What a command transfers, as the drive expects it.
struct Protocol {
  bool known = false;
  int dir = 0;  // 0 none, 1 in, 2 out
  uint32_t length = 0;
};
Protocol ProtocolOf(const wire::AtaTaskFile& r);

// Commands a locked drive still carries out: nothing that touches user data.
bool AllowedWhenLocked(uint8_t command);

}  // namespace zel::sim::sata
