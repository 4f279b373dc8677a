// The simulated SATA drive: DATA SET MANAGEMENT with the TRIM bit; the ranges
// are recorded and read back as zeros.
#include "platform/sim/sata_drive.h"

#include <algorithm>

#include "platform/bytes.h"

namespace zel::sim {

SataDrive::Answer SataDrive::DataSetManagement(const Task& t) {
  Answer a;
  a.regs = t.regs;
  if (!(t.regs.Features & 0x01) || !(identify_[169] & 0x0001)) {
    a.aborted = true;
    return a;
  }
  std::vector<TrimRange> ranges;
  for (size_t e = 0; e + 8 <= t.out.size(); e += 8) {
    uint64_t lba = 0;
    for (int k = 0; k < 6; ++k) lba |= static_cast<uint64_t>(t.out[e + k]) << (8 * k);
    uint32_t length = GetLE16(&t.out[e + 6]);
    if (length == 0) continue;  // an empty entry
    if (lba + length > TotalSectors()) {
      a.aborted = true;  // beyond the end of the medium: nothing is trimmed
      return a;
    }
    ranges.push_back(TrimRange{lba, length});
  }
  standby_ = false;
  for (const TrimRange& range : ranges) {
    trims_.push_back(range);
    uint64_t from = range.lba * 512, to = (range.lba + range.sectors) * 512;
    if (from < sectors_.size())
      std::fill(sectors_.begin() + from, sectors_.begin() + std::min<uint64_t>(to, sectors_.size()),
                0);
  }
  return a;
}

}  // namespace zel::sim
