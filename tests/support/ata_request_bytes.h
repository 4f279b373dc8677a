// Well-formed ATA requests of the system's request forms, written at literal
// byte offsets (the tests state the bytes themselves rather than going
// through the encoders they test): the buffered and direct ATA
// pass-through headers, the legacy IDE pass-through and the SMART receive
// input. Registers are given in task-file order: features, sector count,
// LBA low, LBA mid, LBA high, device, command.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/bytes.h"

namespace zel::test {

using AtaRegisters = std::array<uint8_t, 7>;

// The 40-byte ATA_PASS_THROUGH_EX header (32-bit form) and, from byte 44,
// `length` bytes of data: length 40, flags, transfer length, time-out in
// seconds, data offset 44, previous task file zero, current task file.
inline std::vector<uint8_t> AtaBufferedBlock(const AtaRegisters& regs, uint16_t flags,
                                             uint32_t length, uint32_t timeout = 10) {
  std::vector<uint8_t> b(44 + length, 0);
  PutLE16(&b[0], 40);
  PutLE16(&b[2], flags);
  PutLE32(&b[8], length);
  PutLE32(&b[12], timeout);
  PutLE32(&b[20], 44);
  for (int i = 0; i < 7; ++i) b[32 + i] = regs[i];
  return b;
}

// The 40-byte ATA_PASS_THROUGH_DIRECT header: as the buffered one, with the
// 32-bit address of the caller's data at byte 20.
inline std::vector<uint8_t> AtaDirectBlock(const AtaRegisters& regs, uint16_t flags, uint32_t length,
                                           uint32_t address, uint32_t timeout = 100) {
  std::vector<uint8_t> b(40, 0);
  PutLE16(&b[0], 40);
  PutLE16(&b[2], flags);
  PutLE32(&b[8], length);
  PutLE32(&b[12], timeout);
  PutLE32(&b[20], address);
  for (int i = 0; i < 7; ++i) b[32 + i] = regs[i];
  return b;
}

// IDE_PASS_THROUGH: eight register bytes, the 32-bit data length at byte 8,
// data from byte 12; `size` bytes in all.
inline std::vector<uint8_t> IdePassThroughBlock(const AtaRegisters& regs, uint32_t length,
                                                uint32_t size) {
  std::vector<uint8_t> b(size, 0);
  for (int i = 0; i < 7; ++i) b[i] = regs[i];
  PutLE32(&b[8], length);
  return b;
}

// SENDCMDINPARAMS (33 bytes, byte-packed): buffer size, the eight register
// bytes at byte 4, drive number at 12, reserved up to the data byte at 32.
inline std::vector<uint8_t> SmartReceiveInput(const AtaRegisters& regs, uint32_t bufferSize = 512) {
  std::vector<uint8_t> b(33, 0);
  PutLE32(&b[0], bufferSize);
  for (int i = 0; i < 7; ++i) b[4 + i] = regs[i];
  return b;
}

// The registers a reply carries back in a buffered or direct header: error
// at byte 32, status at byte 38.
inline uint8_t ReplyError(const std::vector<uint8_t>& block) { return block[32]; }
inline uint8_t ReplyStatus(const std::vector<uint8_t>& block) { return block[38]; }

}  // namespace zel::test
