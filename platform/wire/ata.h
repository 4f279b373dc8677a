// Byte layouts of the ATA request forms as a 32-bit process sends them: the
// buffered ATA pass-through block, the direct ATA pass-through structure,
// the legacy IDE pass-through block, the SMART receive request and reply,
// and the two packed register words. Every field sits at an explicit
// little-endian offset; the compile-time checks beside each layout pin the
// offsets to one another and to the structure size, so a wrong offset
// breaks the build rather than a drive.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

namespace zel::wire {

// --- Task-file registers ------------------------------------------------------
// Eight bytes in the order the pass-through structures hold them. On the way
// back the drive's error register comes in the features position and its
// status register in the command position.
struct AtaTaskFile {
  static constexpr uint32_t kSize = 8;
  static constexpr uint32_t kFeatures = 0;  // error register in a reply
  static constexpr uint32_t kSectorCount = 1;
  static constexpr uint32_t kLbaLow = 2;    // sector number
  static constexpr uint32_t kLbaMid = 3;    // cylinder low
  static constexpr uint32_t kLbaHigh = 4;   // cylinder high
  static constexpr uint32_t kDevice = 5;    // drive / head
  static constexpr uint32_t kCommand = 6;   // status register in a reply
  static constexpr uint32_t kReserved = 7;

  uint8_t Features = 0;
  uint8_t SectorCount = 0;
  uint8_t LbaLow = 0;
  uint8_t LbaMid = 0;
  uint8_t LbaHigh = 0;
  uint8_t Device = 0;
  uint8_t Command = 0;
  uint8_t Reserved = 0;

  uint8_t Error() const { return Features; }
  uint8_t Status() const { return Command; }

  void Encode(uint8_t* out) const;
  static AtaTaskFile Decode(const uint8_t* in);
  bool operator==(const AtaTaskFile&) const = default;
};
static_assert(AtaTaskFile::kReserved + 1 == AtaTaskFile::kSize);

// Status and error register bits.
inline constexpr uint8_t kAtaStatusError = 0x01;
inline constexpr uint8_t kAtaStatusDrdy = 0x40;
inline constexpr uint8_t kAtaErrorAbort = 0x04;

// --- Packed register words ----------------------------------------------------
// The seven registers in two 32-bit words, low byte first:
// word 1 = features, sector count, LBA low, LBA mid;
// word 2 = LBA high, device, command, zero.
uint32_t PackRegisterWord1(uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid);
uint32_t PackRegisterWord2(uint8_t lbaHigh, uint8_t device, uint8_t command);
AtaTaskFile UnpackRegisterWords(uint32_t word1, uint32_t word2);

// --- ATA_PASS_THROUGH_EX (32-bit) ---------------------------------------------
// The header of the buffered request. Its data area follows at
// DataBufferOffset inside the same block.
struct AtaPassThroughEx {
  static constexpr uint32_t kSize = 40;
  static constexpr uint32_t kLength = 0;               // USHORT
  static constexpr uint32_t kAtaFlags = 2;             // USHORT
  static constexpr uint32_t kPathId = 4;               // UCHAR
  static constexpr uint32_t kTargetId = 5;             // UCHAR
  static constexpr uint32_t kLun = 6;                  // UCHAR
  static constexpr uint32_t kReservedAsUchar = 7;      // UCHAR
  static constexpr uint32_t kDataTransferLength = 8;   // ULONG
  static constexpr uint32_t kTimeOutValue = 12;        // ULONG, seconds
  static constexpr uint32_t kReservedAsUlong = 16;     // ULONG
  static constexpr uint32_t kDataBufferOffset = 20;    // ULONG_PTR, 4 bytes in a 32-bit process
  static constexpr uint32_t kPreviousTaskFile = 24;    // 8 bytes
  static constexpr uint32_t kCurrentTaskFile = 32;     // 8 bytes

  uint16_t Length = 0;
  uint16_t AtaFlags = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
  uint8_t ReservedAsUchar = 0;
  uint32_t DataTransferLength = 0;
  uint32_t TimeOutValue = 0;
  uint32_t ReservedAsUlong = 0;
  uint32_t DataBufferOffset = 0;
  AtaTaskFile PreviousTaskFile;
  AtaTaskFile CurrentTaskFile;

  void Encode(uint8_t* out) const;
  static AtaPassThroughEx Decode(const uint8_t* in);
};
static_assert(AtaPassThroughEx::kAtaFlags == AtaPassThroughEx::kLength + 2);
static_assert(AtaPassThroughEx::kPathId == AtaPassThroughEx::kAtaFlags + 2);
static_assert(AtaPassThroughEx::kReservedAsUchar == AtaPassThroughEx::kPathId + 3);
static_assert(AtaPassThroughEx::kDataTransferLength == AtaPassThroughEx::kReservedAsUchar + 1);
static_assert(AtaPassThroughEx::kTimeOutValue == AtaPassThroughEx::kDataTransferLength + 4);
static_assert(AtaPassThroughEx::kReservedAsUlong == AtaPassThroughEx::kTimeOutValue + 4);
static_assert(AtaPassThroughEx::kDataBufferOffset == AtaPassThroughEx::kReservedAsUlong + 4);
static_assert(AtaPassThroughEx::kPreviousTaskFile == AtaPassThroughEx::kDataBufferOffset + 4);
static_assert(AtaPassThroughEx::kCurrentTaskFile ==
              AtaPassThroughEx::kPreviousTaskFile + AtaTaskFile::kSize);
static_assert(AtaPassThroughEx::kSize == AtaPassThroughEx::kCurrentTaskFile + AtaTaskFile::kSize);

// The buffered block the system sends: the 40-byte header, four bytes of
// padding, then up to 32,768 data bytes.
inline constexpr uint32_t kAtaBufferedDataOffset = 44;
inline constexpr uint32_t kAtaBufferedMaxData = 32768;
inline constexpr uint32_t kAtaBufferedBlockSize = kAtaBufferedDataOffset + kAtaBufferedMaxData;
static_assert(kAtaBufferedDataOffset >= AtaPassThroughEx::kSize);
static_assert(kAtaBufferedDataOffset % 4 == 0);
static_assert(kAtaBufferedBlockSize == 32812);

// --- ATA_PASS_THROUGH_DIRECT (32-bit) -----------------------------------------
// Same header shape; DataBuffer is a pointer to the caller's data, which in
// a 32-bit process is the 4-byte address at offset 20.
struct AtaPassThroughDirect {
  static constexpr uint32_t kSize = 40;
  static constexpr uint32_t kLength = 0;
  static constexpr uint32_t kAtaFlags = 2;
  static constexpr uint32_t kPathId = 4;
  static constexpr uint32_t kTargetId = 5;
  static constexpr uint32_t kLun = 6;
  static constexpr uint32_t kReservedAsUchar = 7;
  static constexpr uint32_t kDataTransferLength = 8;
  static constexpr uint32_t kTimeOutValue = 12;
  static constexpr uint32_t kReservedAsUlong = 16;
  static constexpr uint32_t kDataBuffer = 20;          // PVOID, 4 bytes in a 32-bit process
  static constexpr uint32_t kPreviousTaskFile = 24;
  static constexpr uint32_t kCurrentTaskFile = 32;

  uint16_t Length = 0;
  uint16_t AtaFlags = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
  uint8_t ReservedAsUchar = 0;
  uint32_t DataTransferLength = 0;
  uint32_t TimeOutValue = 0;
  uint32_t ReservedAsUlong = 0;
  uint32_t DataBuffer = 0;
  AtaTaskFile PreviousTaskFile;
  AtaTaskFile CurrentTaskFile;

  void Encode(uint8_t* out) const;
  static AtaPassThroughDirect Decode(const uint8_t* in);
};
static_assert(AtaPassThroughDirect::kDataTransferLength == AtaPassThroughEx::kDataTransferLength);
static_assert(AtaPassThroughDirect::kDataBuffer == AtaPassThroughEx::kDataBufferOffset);
static_assert(AtaPassThroughDirect::kPreviousTaskFile == AtaPassThroughDirect::kDataBuffer + 4);
static_assert(AtaPassThroughDirect::kCurrentTaskFile ==
              AtaPassThroughDirect::kPreviousTaskFile + AtaTaskFile::kSize);
static_assert(AtaPassThroughDirect::kSize ==
              AtaPassThroughDirect::kCurrentTaskFile + AtaTaskFile::kSize);

// The data buffer of a direct request must start on this boundary.
inline constexpr uint32_t kAtaDirectAlignment = 16;

// The low 32 bits of an address, as a 32-bit process stores a pointer.
inline uint32_t Address32(const void* p) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// --- IDE_PASS_THROUGH (legacy) ------------------------------------------------
// Eight register bytes, the 32-bit data length, then the data. The system
// allocates length + 15 bytes for it (the structure's own size, 16, with its
// one-byte data array counted in the length).
struct IdePassThrough {
  static constexpr uint32_t kRegisters = 0;       // IDEREGS, 8 bytes
  static constexpr uint32_t kDataBufferSize = 8;  // ULONG
  static constexpr uint32_t kData = 12;
  static constexpr uint32_t kExtra = 15;          // block size = data length + kExtra

  static uint32_t BlockSize(uint32_t dataLength) { return dataLength + kExtra; }
  static void EncodeHeader(uint8_t* out, const AtaTaskFile& registers, uint32_t dataLength);
  static AtaTaskFile DecodeRegisters(const uint8_t* in) { return AtaTaskFile::Decode(in); }
  static uint32_t DecodeDataBufferSize(const uint8_t* in) { return GetLE32(in + kDataBufferSize); }
};
static_assert(IdePassThrough::kDataBufferSize == IdePassThrough::kRegisters + AtaTaskFile::kSize);
static_assert(IdePassThrough::kData == IdePassThrough::kDataBufferSize + 4);
static_assert(IdePassThrough::kExtra >= IdePassThrough::kData);

// --- SENDCMDINPARAMS (byte-packed, 33 bytes) ----------------------------------
struct SendCmdInParams {
  static constexpr uint32_t kSize = 33;
  static constexpr uint32_t kBufferSize = 0;    // DWORD cBufferSize
  static constexpr uint32_t kDriveRegs = 4;     // IDEREGS, 8 bytes
  static constexpr uint32_t kDriveNumber = 12;  // BYTE
  static constexpr uint32_t kReserved = 13;     // BYTE[3]
  static constexpr uint32_t kDwReserved = 16;   // DWORD[4]
  static constexpr uint32_t kBuffer = 32;       // BYTE[1]
  // The smallest input a driver accepts: the structure without its data byte.
  static constexpr uint32_t kMinimumSize = kBuffer;

  uint32_t cBufferSize = 0;
  AtaTaskFile irDriveRegs;
  uint8_t bDriveNumber = 0;

  void Encode(uint8_t* out) const;  // writes kSize bytes; reserved bytes zero
  static SendCmdInParams Decode(const uint8_t* in);
};
static_assert(SendCmdInParams::kDriveRegs == SendCmdInParams::kBufferSize + 4);
static_assert(SendCmdInParams::kDriveNumber == SendCmdInParams::kDriveRegs + AtaTaskFile::kSize);
static_assert(SendCmdInParams::kReserved == SendCmdInParams::kDriveNumber + 1);
static_assert(SendCmdInParams::kDwReserved == SendCmdInParams::kReserved + 3);
static_assert(SendCmdInParams::kBuffer == SendCmdInParams::kDwReserved + 16);
static_assert(SendCmdInParams::kSize == SendCmdInParams::kBuffer + 1);

// --- SENDCMDOUTPARAMS (byte-packed) -------------------------------------------
// cBufferSize, DRIVERSTATUS (driver error, IDE error register, two reserved
// bytes, two reserved DWORDs), then the data.
struct SendCmdOutParams {
  static constexpr uint32_t kBufferSize = 0;   // DWORD
  static constexpr uint32_t kDriverError = 4;  // BYTE
  static constexpr uint32_t kIdeError = 5;     // BYTE
  static constexpr uint32_t kReserved = 6;     // BYTE[2] + DWORD[2]
  static constexpr uint32_t kBuffer = 16;
  static constexpr uint32_t kHeaderSize = kBuffer;
  // The reply to a 512-byte read: header and one sector.
  static constexpr uint32_t kSmartReplySize = kHeaderSize + 512;

  // bDriverError values.
  static constexpr uint8_t kSmartNoError = 0;
  static constexpr uint8_t kSmartIdeError = 1;

  uint32_t cBufferSize = 0;
  uint8_t bDriverError = 0;
  uint8_t bIDEError = 0;

  void EncodeHeader(uint8_t* out) const;  // writes kHeaderSize bytes
  static SendCmdOutParams DecodeHeader(const uint8_t* in);
};
static_assert(SendCmdOutParams::kIdeError == SendCmdOutParams::kDriverError + 1);
static_assert(SendCmdOutParams::kBuffer == SendCmdOutParams::kReserved + 2 + 8);
static_assert(SendCmdOutParams::kSmartReplySize == 528);

// SMART READ DATA / THRESHOLDS / IDENTIFY pages are one sector.
inline constexpr uint32_t kAtaSectorSize = 512;

}  // namespace zel::wire
