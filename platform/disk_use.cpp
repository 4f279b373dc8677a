#include "platform/disk_use.h"

namespace zel::platform {

const char* DiskUseKindName(DiskUseKind kind) {
  switch (kind) {
    case DiskUseKind::Swap: return "swap";
    case DiskUseKind::Mount: return "mount";
    case DiskUseKind::Holder: return "holder";
  }
  return "use";
}

}  // namespace zel::platform
