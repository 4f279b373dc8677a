// The NVMe request forms in the order drive discovery tries them. Each
// stops at the first form that yields the page; the buffer is left as it
// was when every form fails.
#pragma once

#include <cstdint>
#include <string>

#include "device/ata_command.h"

namespace zel {

// Identify Controller into a 4,096-byte buffer: the platform query, the
// miniport pass-through, then its short variant (which fills the first 512
// bytes). Non-zero when one of them succeeded.
uint32_t ReadNvmeIdentifyController(ATACommand& ata, int32_t driveIndex,
                                    const std::string& devicePath, uint8_t* buffer);

// SMART / Health Information log into a 512-byte buffer: the platform query,
// the miniport pass-through, its short variant, then the vendor tunnel.
uint32_t ReadNvmeHealthLog(ATACommand& ata, int32_t driveIndex, const std::string& devicePath,
                           uint8_t* buffer);

}  // namespace zel
