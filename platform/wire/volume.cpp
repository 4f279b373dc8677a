#include "platform/wire/volume.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"

namespace zel::wire {

uint32_t VolumeDiskExtents::Encode(const std::vector<DiskExtent>& extents, uint8_t* out) {
  const uint32_t count = static_cast<uint32_t>(extents.size());
  const uint32_t size = SizeFor(count);
  std::memset(out, 0, size);
  PutLE32(out + kNumberOfDiskExtents, count);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = out + kExtents + i * kExtentSize;
    PutLE32(e + kExtentDiskNumber, extents[i].DiskNumber);
    PutLE64(e + kExtentStartingOffset, extents[i].StartingOffset);
    PutLE64(e + kExtentLength, extents[i].ExtentLength);
  }
  return size;
}

uint32_t VolumeDiskExtents::DecodeCount(const uint8_t* in) { return GetLE32(in + kNumberOfDiskExtents); }

std::vector<DiskExtent> VolumeDiskExtents::Decode(const uint8_t* in, size_t size) {
  std::vector<DiskExtent> extents;
  if (size < kExtents) return extents;
  const size_t whole = (size - kExtents) / kExtentSize;
  const size_t count = std::min<size_t>(DecodeCount(in), whole);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = in + kExtents + i * kExtentSize;
    extents.push_back(DiskExtent{GetLE32(e + kExtentDiskNumber), GetLE64(e + kExtentStartingOffset),
                                 GetLE64(e + kExtentLength)});
  }
  return extents;
}

void StartingVcnInput::Encode(int64_t startingVcn, uint8_t* out) {
  PutLE64(out + kStartingVcn, static_cast<uint64_t>(startingVcn));
}

int64_t StartingVcnInput::Decode(const uint8_t* in) {
  return static_cast<int64_t>(GetLE64(in + kStartingVcn));
}

uint32_t RetrievalPointers::Encode(uint8_t* out) const {
  const uint32_t count = static_cast<uint32_t>(Extents.size());
  const uint32_t size = SizeFor(count);
  std::memset(out, 0, size);
  PutLE32(out + kExtentCount, count);
  PutLE64(out + kStartingVcn, static_cast<uint64_t>(StartingVcn));
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = out + kExtents + i * kExtentSize;
    PutLE64(e + kExtentNextVcn, static_cast<uint64_t>(Extents[i].NextVcn));
    PutLE64(e + kExtentLcn, static_cast<uint64_t>(Extents[i].Lcn));
  }
  return size;
}

uint32_t RetrievalPointers::DecodeCount(const uint8_t* in) { return GetLE32(in + kExtentCount); }

RetrievalPointers RetrievalPointers::Decode(const uint8_t* in, size_t size) {
  RetrievalPointers r;
  if (size < kExtents) return r;
  r.StartingVcn = static_cast<int64_t>(GetLE64(in + kStartingVcn));
  const size_t whole = (size - kExtents) / kExtentSize;
  const size_t count = std::min<size_t>(DecodeCount(in), whole);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = in + kExtents + i * kExtentSize;
    r.Extents.push_back(RetrievalExtent{static_cast<int64_t>(GetLE64(e + kExtentNextVcn)),
                                        static_cast<int64_t>(GetLE64(e + kExtentLcn))});
  }
  return r;
}

}  // namespace zel::wire
