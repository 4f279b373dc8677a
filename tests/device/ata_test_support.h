// Helpers of the ATA tests: the fields of a journalled request read at their
// byte offsets (the tests read the offsets themselves rather than through the
// encoders they test).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/sim/sim_drive.h"

namespace zel::test {

// The buffered ATA pass-through block as it reached the device.
struct SentAtaBlock {
  uint16_t length, ataFlags;
  uint32_t dataTransferLength, timeOut, dataBufferOffset;
  std::vector<uint8_t> previous, current;  // the two task files
  uint32_t inSize, outSize;
};

inline SentAtaBlock ReadSentBlock(const sim::RequestRecord& r) {
  const uint8_t* p = r.in.data();
  SentAtaBlock b;
  b.length = GetLE16(p + 0);
  b.ataFlags = GetLE16(p + 2);
  b.dataTransferLength = GetLE32(p + 8);
  b.timeOut = GetLE32(p + 12);
  b.dataBufferOffset = GetLE32(p + 20);
  b.previous.assign(p + 24, p + 32);
  b.current.assign(p + 32, p + 40);
  b.inSize = static_cast<uint32_t>(r.in.size());
  b.outSize = r.outSize;
  return b;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

}  // namespace zel::test
