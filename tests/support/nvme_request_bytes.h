// Well-formed NVMe requests of the system's request forms, written at
// literal byte offsets (the tests state the bytes themselves rather than
// going through the encoders they test): the protocol-specific storage
// query, the "NvmeMini" miniport block and the two halves of the vendor
// tunnel.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/bytes.h"

namespace zel::test {

// The storage query block of 4,144 bytes: adapter protocol-specific
// property, standard query, NVMe, data after the 40-byte descriptor, room
// for a 4,096-byte page.
inline std::vector<uint8_t> NvmeQuery(uint32_t dataType, uint32_t value, uint32_t sub) {
  std::vector<uint8_t> b(4144, 0);
  PutLE32(&b[0], 49);
  PutLE32(&b[8], 3);
  PutLE32(&b[12], dataType);
  PutLE32(&b[16], value);
  PutLE32(&b[20], sub);
  PutLE32(&b[24], 40);
  PutLE32(&b[28], 4096);
  return b;
}

// A miniport block of `size` bytes for one admin command from the device.
inline std::vector<uint8_t> NvmeMiniport(uint32_t size, uint32_t timeout, uint8_t opcode, uint32_t nsid,
                                         uint32_t cdw10, uint32_t dataOut) {
  std::vector<uint8_t> b(size, 0);
  PutLE32(&b[0], 28);
  std::memcpy(&b[4], "NvmeMini", 8);
  PutLE32(&b[12], timeout);
  PutLE32(&b[16], 0xE0002000u);
  PutLE32(&b[24], size - 28);
  b[52] = opcode;
  PutLE32(&b[56], nsid);
  PutLE32(&b[92], cdw10);
  PutLE32(&b[132], 2);
  PutLE32(&b[140], dataOut);
  PutLE32(&b[148], size);
  return b;
}

// The SCSI pass-through block of one half of the vendor tunnel: the send
// half with its CDB and data-out direction, or the receive half.
inline std::vector<uint8_t> TunnelHalf(bool receive) {
  std::vector<uint8_t> b(580, 0);
  PutLE16(&b[0], 44);
  b[6] = 16;
  b[7] = 24;
  b[8] = receive ? 1 : 0;
  PutLE32(&b[12], 512);
  PutLE32(&b[16], 2);
  PutLE32(&b[20], 68);
  PutLE32(&b[24], 44);
  const uint8_t send[10] = {0xB5, 0xFE, 0x00, 0x06, 0, 0, 0, 0, 0x00, 0x40};
  const uint8_t recv[10] = {0xA2, 0xFE, 0x00, 0x06, 0, 0, 0, 0, 0x01, 0x00};
  std::memcpy(&b[28], receive ? recv : send, 10);
  if (!receive) b[68] = 2;
  b[72] = b[73] = b[74] = b[75] = 0xFF;  // kept from the send half
  return b;
}

}  // namespace zel::test
