// What keeps a disk in use besides its lettered volumes: active swap, a
// mounted file system without a drive letter, or another block device built
// on it (device-mapper, software RAID, LVM). An operation that destroys a
// disk's contents asks this before it starts, since the lettered volumes
// alone do not show every use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel::platform {

enum class DiskUseKind { Swap, Mount, Holder };

struct DiskUse {
  DiskUseKind kind = DiskUseKind::Mount;
  // What was found: the swap area ("/dev/sdb2", "/srv/swapfile"), the mount
  // point ("/srv/data"), or the holding device ("dm-0", "md127").
  std::string what;
  bool operator==(const DiskUse&) const = default;
};

// "swap", "mount" or "holder".
const char* DiskUseKindName(DiskUseKind kind);

class DiskUses {
 public:
  virtual ~DiskUses() = default;
  // The uses of disk `diskNumber` (the whole disk and its partitions) that
  // have no drive letter, in the order swap, mounts, holders; empty when
  // there are none or the disk is unknown.
  virtual std::vector<DiskUse> UnletteredUses(int32_t diskNumber) = 0;
};

}  // namespace zel::platform
