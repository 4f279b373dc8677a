// The volume and file layouts of the storage requests (volume disk extents,
// starting cluster and retrieval pointers), checked against their bytes as
// literal offsets: what the encoders write, and what the decoders make of a
// reply cut short by the caller's buffer.
#include "platform/wire/volume.h"

#include <gtest/gtest.h>

#include <vector>

namespace zel {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(WireVolumeLayouts, VolumeDiskExtentsBytes) {
  Bytes out(2 * 24 + 8, 0xEE);
  uint32_t size = wire::VolumeDiskExtents::Encode(
      {{2, 0x100000, 0x200000000ull}, {5, 0x0102030405060708ull, 0x10}}, out.data());
  ASSERT_EQ(size, 56u);
  const Bytes expected = {
      0x02, 0, 0, 0, 0, 0, 0, 0,                          // two extents, padding
      0x02, 0, 0, 0, 0, 0, 0, 0,                          // disk 2, padding
      0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00,     // starting offset 1 MiB
      0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,     // length 8 GiB
      0x05, 0, 0, 0, 0, 0, 0, 0,                          // disk 5
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,     // starting offset
      0x10, 0, 0, 0, 0, 0, 0, 0,                          // length
  };
  EXPECT_EQ(out, expected);

  struct Case {
    const char* what;
    size_t size;
    size_t extents;
  } cases[] = {
      {"the whole reply", 56, 2},
      {"room for one and a half", 44, 1},
      {"only the count", 8, 0},
      {"not even the count", 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto extents = wire::VolumeDiskExtents::Decode(expected.data(), c.size);
    ASSERT_EQ(extents.size(), c.extents);
    if (c.extents > 0) {
      EXPECT_EQ(extents[0], (wire::DiskExtent{2, 0x100000, 0x200000000ull}));
    }
  }
  EXPECT_EQ(wire::VolumeDiskExtents::DecodeCount(expected.data()), 2u);
}

TEST(WireVolumeLayouts, RetrievalPointersBytes) {
  Bytes in(8, 0xEE);
  wire::StartingVcnInput::Encode(0x1234, in.data());
  EXPECT_EQ(in, (Bytes{0x34, 0x12, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(wire::StartingVcnInput::Decode(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}.data()),
            -1);

  wire::RetrievalPointers pointers;
  pointers.StartingVcn = 3;
  pointers.Extents = {{8, 0x1000}, {10, -1}};  // a run on the volume, then a hole
  Bytes out(48, 0xEE);
  ASSERT_EQ(pointers.Encode(out.data()), 48u);
  const Bytes expected = {
      0x02, 0, 0, 0, 0, 0, 0, 0,                          // two extents, padding
      0x03, 0, 0, 0, 0, 0, 0, 0,                          // starting cluster 3
      0x08, 0, 0, 0, 0, 0, 0, 0,                          // next cluster 8
      0x00, 0x10, 0, 0, 0, 0, 0, 0,                       // at cluster 0x1000
      0x0A, 0, 0, 0, 0, 0, 0, 0,                          // next cluster 10
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,     // no place: -1
  };
  EXPECT_EQ(out, expected);

  auto whole = wire::RetrievalPointers::Decode(expected.data(), expected.size());
  EXPECT_EQ(whole.StartingVcn, 3);
  EXPECT_EQ(whole.Extents, pointers.Extents);
  // A buffer with room for one extent gives that one; the count still says two.
  auto cut = wire::RetrievalPointers::Decode(expected.data(), 40);
  EXPECT_EQ(cut.Extents, (std::vector<wire::RetrievalExtent>{{8, 0x1000}}));
  EXPECT_EQ(wire::RetrievalPointers::DecodeCount(expected.data()), 2u);
  EXPECT_TRUE(wire::RetrievalPointers::Decode(expected.data(), 12).Extents.empty());
}

}  // namespace
}  // namespace zel
