// Volume and file layouts of the storage requests, in their 32-bit byte
// form:
//
// - VOLUME_DISK_EXTENTS, the answer to IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
//   the number of extents, then DISK_EXTENT entries (disk number, starting
//   offset and length in bytes);
// - STARTING_VCN_INPUT_BUFFER, the input of FSCTL_GET_RETRIEVAL_POINTERS, and
//   RETRIEVAL_POINTERS_BUFFER, its answer: the number of extents, the first
//   cluster of the file they describe, then (next VCN, LCN) pairs; an LCN of
//   -1 marks a run with no place on the volume.
//
// The 64-bit fields are aligned to 8 bytes, so both layouts have four bytes
// of padding after their 32-bit count. Every field is written and read at an
// explicit little-endian offset; the static_asserts pin them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zel::wire {

// --- VOLUME_DISK_EXTENTS -----------------------------------------------------

struct DiskExtent {
  uint32_t DiskNumber = 0;
  uint64_t StartingOffset = 0;  // bytes
  uint64_t ExtentLength = 0;    // bytes
  bool operator==(const DiskExtent&) const = default;
};

struct VolumeDiskExtents {
  static constexpr uint32_t kNumberOfDiskExtents = 0;  // DWORD, then 4 bytes of padding
  static constexpr uint32_t kExtents = 8;
  static constexpr uint32_t kExtentDiskNumber = 0;      // DWORD, then 4 bytes of padding
  static constexpr uint32_t kExtentStartingOffset = 8;  // LARGE_INTEGER
  static constexpr uint32_t kExtentLength = 16;         // LARGE_INTEGER
  static constexpr uint32_t kExtentSize = 24;

  static constexpr uint32_t SizeFor(uint32_t extents) { return kExtents + extents * kExtentSize; }

  // Writes the count and the extents, padding zeroed, into SizeFor(size())
  // bytes at `out`; returns that size.
  static uint32_t Encode(const std::vector<DiskExtent>& extents, uint8_t* out);
  // The extents of `size` bytes: as many as the count says and the bytes
  // hold (a reply cut short by the caller's buffer gives the whole ones).
  static std::vector<DiskExtent> Decode(const uint8_t* in, size_t size);
  static uint32_t DecodeCount(const uint8_t* in);
};
static_assert(VolumeDiskExtents::kExtentLength + 8 == VolumeDiskExtents::kExtentSize);
static_assert(VolumeDiskExtents::SizeFor(1) == 32);

// --- STARTING_VCN_INPUT_BUFFER / RETRIEVAL_POINTERS_BUFFER ------------------

struct StartingVcnInput {
  static constexpr uint32_t kStartingVcn = 0;  // LARGE_INTEGER
  static constexpr uint32_t kSize = 8;

  static void Encode(int64_t startingVcn, uint8_t* out);
  static int64_t Decode(const uint8_t* in);
};
static_assert(StartingVcnInput::kStartingVcn + 8 == StartingVcnInput::kSize);

struct RetrievalExtent {
  int64_t NextVcn = 0;
  int64_t Lcn = 0;  // -1: the run has no place on the volume
  bool operator==(const RetrievalExtent&) const = default;
};

struct RetrievalPointers {
  static constexpr uint32_t kExtentCount = 0;  // DWORD, then 4 bytes of padding
  static constexpr uint32_t kStartingVcn = 8;  // LARGE_INTEGER
  static constexpr uint32_t kExtents = 16;
  static constexpr uint32_t kExtentNextVcn = 0;  // LARGE_INTEGER
  static constexpr uint32_t kExtentLcn = 8;      // LARGE_INTEGER
  static constexpr uint32_t kExtentSize = 16;

  int64_t StartingVcn = 0;
  std::vector<RetrievalExtent> Extents;

  static constexpr uint32_t SizeFor(uint32_t extents) { return kExtents + extents * kExtentSize; }
  // Writes the count, the starting cluster and the extents, padding zeroed,
  // into SizeFor(Extents.size()) bytes; returns that size.
  uint32_t Encode(uint8_t* out) const;
  // The buffer of `size` bytes (at least kExtents): as many extents as the
  // count says and the bytes hold.
  static RetrievalPointers Decode(const uint8_t* in, size_t size);
  static uint32_t DecodeCount(const uint8_t* in);
};
static_assert(RetrievalPointers::kExtents == RetrievalPointers::kStartingVcn + 8);
static_assert(RetrievalPointers::kExtentLcn + 8 == RetrievalPointers::kExtentSize);
static_assert(RetrievalPointers::SizeFor(1) == 32);

}  // namespace zel::wire
