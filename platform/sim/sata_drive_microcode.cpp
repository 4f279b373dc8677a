// The simulated SATA drive: DOWNLOAD MICROCODE, in segments (mode 3) or in
// one piece (mode 7), installing the firmware of the machine file's rule
// once the whole image has arrived.
#include "platform/sim/sata_drive.h"

#include <algorithm>

namespace zel::sim {

SataDrive::Answer SataDrive::Microcode(const Task& t) {
  Answer a;
  a.regs = t.regs;
  auto refuse = [&] {
    a.aborted = true;
    return a;
  };
  if (!(identify_[83] & 0x0001)) return refuse();
  uint8_t mode = t.regs.Features;
  uint32_t offset = t.regs.LbaMid | (static_cast<uint32_t>(t.regs.LbaHigh) << 8);
  standby_ = false;
  if (mode == 0x03) {
    if (!(identify_[119] & 0x0010)) return refuse();
    if (offset == 0) {
      image_.clear();
      segments_ = 0;
    }
    // Segments arrive in order; a gap or a repeat is refused.
    if (static_cast<uint64_t>(offset) * 512 != image_.size()) return refuse();
    if (microcode_ && microcode_->abortAtOffset && *microcode_->abortAtOffset == offset)
      return refuse();
  } else if (mode == 0x07) {
    if (offset != 0) return refuse();
    image_.clear();
    segments_ = 0;
  } else {
    return refuse();
  }
  size_t before = image_.size();
  image_.insert(image_.end(), t.out.begin(), t.out.end());
  ++segments_;
  if (microcode_ && image_.size() >= microcode_->size) {
    if (!microcode_->contains.empty()) {
      auto it = std::search(image_.begin(), image_.end(), microcode_->contains.begin(),
                            microcode_->contains.end());
      if (it == image_.end()) {
        // Not an image for this drive: the segment is refused and dropped.
        image_.resize(before);
        --segments_;
        return refuse();
      }
    }
    currentFirmware_ = microcode_->firmware;
  }
  return a;
}

}  // namespace zel::sim
