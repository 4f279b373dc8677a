// The PCI Express link of the controller behind a disk, as the device tree
// reports it: maximum and current link width (lanes) and speed (generation).
#pragma once

#include <cstdint>

namespace zel {

struct PcieLinkInfo {
  uint32_t MaxLinkWidth = 0;
  uint32_t MaxLinkSpeed = 0;
  uint32_t CurrentLinkWidth = 0;
  uint32_t CurrentLinkSpeed = 0;
};

// The link of the PCI Express controller behind disk `driveIndex`; all four
// values are 0 when no controller matches or a property cannot be read.
PcieLinkInfo GetPcieLinkInfo(int32_t driveIndex);

}  // namespace zel
