// Direct TRIM by LBA extents: the payload of each extent as bytes, the
// ranges the simulated drive receives, the mapping of a file to physical
// LBAs (volume offset, sector 0 kept), and the whole run on version 5.1.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "optimize/direct_trim.h"
#include "optimize/free_space_trim.h"
#include "optimize_fixture.h"
#include "platform/sim/sata_drive.h"

namespace zel {
namespace {

// The (LBA, length) entries of a payload block, as the drive reads them.
std::vector<std::pair<uint64_t, uint32_t>> Entries(const std::vector<uint8_t>& block) {
  std::vector<std::pair<uint64_t, uint32_t>> out;
  for (size_t e = 0; e + 8 <= block.size(); e += 8) {
    uint64_t lba = 0;
    for (int k = 0; k < 6; ++k) lba |= uint64_t(block[e + k]) << (8 * k);
    uint32_t length = block[e + 6] | (block[e + 7] << 8);
    if (length) out.push_back({lba, length});
  }
  return out;
}

TEST(TrimBlocks, EntriesCarryAtMost65535SectorsAndBlocksAtMost64Entries) {
  struct Case {
    uint64_t start, length;
    std::vector<std::vector<std::pair<uint64_t, uint32_t>>> blocks;
  } cases[] = {
      {2048, 200000, {{{2048, 65535}, {67583, 65535}, {133118, 65535}, {198653, 3395}}}},
      {100, 65535, {{{100, 65535}}}},
      {100, 65536, {{{100, 65535}, {65635, 1}}}},
      {0, 1, {{{0, 1}}}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> blocks = TrimBlocksFor(LbaExtent{0, c.start, c.length});
    ASSERT_EQ(blocks.size(), c.blocks.size()) << c.length;
    for (size_t b = 0; b < blocks.size(); ++b) {
      EXPECT_EQ(blocks[b].size(), 512u);
      EXPECT_EQ(Entries(blocks[b]), c.blocks[b]) << c.length;
    }
  }
  // 65 entries: a second block with one entry.
  std::vector<std::vector<uint8_t>> two = TrimBlocksFor(LbaExtent{0, 0, 65 * 65535ull});
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(Entries(two[0]).size(), 64u);
  EXPECT_EQ(Entries(two[1]), (std::vector<std::pair<uint64_t, uint32_t>>{{64 * 65535ull, 65535}}));
}

TEST(TrimBlocks, EntryBytesAreA48BitLbaAndA16BitLengthLittleEndian) {
  std::vector<std::vector<uint8_t>> blocks = TrimBlocksFor(LbaExtent{0, 0x123456789AULL, 0x0D43});
  ASSERT_EQ(blocks.size(), 1u);
  std::vector<uint8_t> first(blocks[0].begin(), blocks[0].begin() + 16);
  EXPECT_EQ(first, (std::vector<uint8_t>{0x9A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x43, 0x0D,
                                         0, 0, 0, 0, 0, 0, 0, 0}));
}

class DirectTrim : public test::OptimizeFixture {
 protected:
  std::string MachineJson() const override {
    return R"({"os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 3"},
               "drives": [{"index": 0, "model": "QUARN KD785KK 4TB", "size": 4000787030016}],
               "volumes": [{"letter": "C", "disk": 0, "offset": 1048576, "size": 107374182400, "free": 7516192768,
                            "files": [{"path": "a.tmp", "size": 8192}, {"path": "b.tmp", "size": 4096}]},
                           {"letter": "N", "size": 107374182400, "free": 7516192768,
                            "files": [{"path": "c.tmp", "size": 4096}]}]})";
  }
  std::vector<sim::TrimRange> Received() {
    auto* drive = dynamic_cast<sim::SataDrive*>(Machine().Drives().at(0).get());
    return drive ? drive->TrimRanges() : std::vector<sim::TrimRange>{};
  }
};

TEST_F(DirectTrim, FilesMapToPhysicalLbasShiftedByTheVolumeAndNeverSectorZero) {
  std::vector<LbaExtent> a, b, none;
  // 4096-byte clusters of 8 sectors; the volume starts at sector 2048.
  ASSERT_EQ(GetLBA_XP("C:\\a.tmp", &a, false), 1);
  EXPECT_EQ(a, (std::vector<LbaExtent>{{0, 2049, 15}}));
  ASSERT_EQ(GetLBA_XP("C:\\b.tmp", &b, false), 1);
  EXPECT_EQ(b, (std::vector<LbaExtent>{{0, 2064, 8}}));
  // Missing files and volumes on no disk are refused.
  EXPECT_EQ(GetLBA_XP("C:\\missing.tmp", &none, false), 0);
  EXPECT_EQ(GetLBA_XP("N:\\c.tmp", &none, false), 0);
  EXPECT_TRUE(none.empty());
}

TEST_F(DirectTrim, TheDriveReceivesEveryRangeAndAFailingCommandStopsTheRest) {
  std::vector<LbaExtent> extents = {{0, 2048, 200000}, {1, 5000000000ull, 65 * 65535ull}};
  ASSERT_EQ(DoTrim_XP(extents, 0, false), 1);
  std::vector<sim::TrimRange> got = Received();
  ASSERT_EQ(got.size(), 4u + 65u);
  EXPECT_EQ(got[3], (sim::TrimRange{198653, 3395}));
  EXPECT_EQ(got[4], (sim::TrimRange{5000000000ull, 65535}));
  EXPECT_EQ(got.back(), (sim::TrimRange{5000000000ull + 64 * 65535ull, 65535}));

  // A drive without TRIM refuses the first command; nothing more is sent.
  UseMachine(R"({"drives": [{"index": 0, "identify": {"words": {"169": 0}}}]})");
  EXPECT_EQ(DoTrim_XP(extents, 0, false), 0);
  EXPECT_TRUE(Received().empty());
}

TEST_F(DirectTrim, OnVersion51EachFillerFileIsTrimmedByItsRangesBeforeItIsDeleted) {
  class Bar final : public SsdOptimizeProgress {
   public:
    void Range(uint64_t t) override { range = t; }
    void Position(uint64_t p) override { last = p; }
    uint64_t range = 0, last = 0;
  } bar;
  std::atomic<bool> cancel{false};
  ASSERT_TRUE(UsesDirectTrim());
  SsdOptimizeResult r = RunSsdOptimize(0, bar, cancel, UsesDirectTrim());
  ASSERT_EQ(r.volumes.at(0).fillerFiles, 2);
  EXPECT_EQ(bar.range, 4u);  // each filler file counted when made and when trimmed
  EXPECT_EQ(bar.last, 4u);
  // The filler files lie after a.tmp (2 clusters) and b.tmp (1): clusters 3
  // on, 524288 clusters of 8 sectors each, from sector 2048 + 24.
  std::vector<sim::TrimRange> got = Received();
  const uint64_t perFile = 524288ull * 8;
  ASSERT_EQ(got.size(), 2u * 65u);
  EXPECT_EQ(got.front(), (sim::TrimRange{2048 + 24, 65535}));
  EXPECT_EQ(got[64], (sim::TrimRange{2048 + 24 + 64 * 65535ull, uint32_t(perFile - 64 * 65535ull)}));
  EXPECT_EQ(got[65].lba, 2048 + 24 + perFile);
  // Delete notifications are not switched on by this variant.
  EXPECT_FALSE(Logged("SetDeleteNotificationRegistry::RegOpenKeyEx fail."));
}

}  // namespace
}  // namespace zel
