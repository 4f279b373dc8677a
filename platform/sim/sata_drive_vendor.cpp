// The simulated SATA drive: SET FEATURES, and the vendor commands of the
// maker's controllers (the enable code, the statistics request and reply,
// the identifier area), with the access codes as the drive's firmware
// checks them.
#include "platform/sim/sata_drive.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::sim::sata;
using wire::AtaTaskFile;

SataDrive::Answer SataDrive::SetFeatures(const Task& t) {
  Answer a;
  a.regs = t.regs;
  uint8_t sub = t.regs.Features;
  if (sub == kVendorEnableFeatures && t.regs.SectorCount == kVendorEnableCount) {
    if (!vendor_) {
      a.aborted = true;
      return a;
    }
    vendorEnabled_ = true;
    return a;
  }
  switch (sub) {
    case 0x02: case 0x82:  // write cache
    case 0x03:             // transfer mode
    case 0x10: case 0x90:  // SATA features
    case 0x55: case 0xAA:  // read look-ahead
      return a;
    default:
      a.aborted = true;
      return a;
  }
}

SataDrive::Answer SataDrive::VendorRequest(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  bool ok = vendor_ && vendorEnabled_ && r.SectorCount == 1 &&
            r.LbaLow == kVendorRequestLbaLow && r.LbaMid == kVendorLbaMid &&
            r.LbaHigh == kVendorLbaHigh &&
            std::equal(std::begin(kVendorRequestTag), std::end(kVendorRequestTag),
                       t.out.begin()) &&
            GetBE32(&t.out[4]) == kVendorStatisticsAddress;
  if (!ok) {
    a.aborted = true;
    return a;
  }
  vendorArmed_ = true;
  return a;
}

SataDrive::Answer SataDrive::VendorReply(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  bool ok = vendor_ && vendorEnabled_ && vendorArmed_ && r.LbaLow == kVendorReplyLbaLow &&
            r.LbaMid == kVendorLbaMid && r.LbaHigh == kVendorLbaHigh;
  if (!ok) {
    a.aborted = true;
    return a;
  }
  vendorArmed_ = false;
  ++vendorReplies_;
  a.in.assign(t.length, 0);
  std::copy(vendorData_.begin(),
            vendorData_.begin() + std::min<size_t>(t.length, vendorData_.size()), a.in.begin());
  return a;
}

SataDrive::Answer SataDrive::VendorUid(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  if (!vendor_) {
    a.aborted = true;
    return a;
  }
  if (t.dir == Dir::In) {
    if (!uidOpen_) {
      a.aborted = true;
      return a;
    }
    a.in.assign(uid_.begin(), uid_.end());
    return a;
  }
  if (r.Features == kUidAccess[0] && r.SectorCount == kUidAccess[1] && r.LbaLow == kUidAccess[2] &&
      r.LbaMid == kUidAccess[3] && r.LbaHigh == kUidAccess[4]) {
    uidOpen_ = true;
    return a;
  }
  a.aborted = true;
  return a;
}

}  // namespace zel::sim
