// Device-tree layouts filled into caller buffers.
#pragma once

#include <cstdint>

namespace zel::wire {

// SP_DEVICE_INTERFACE_DETAIL_DATA_W in its 32-bit form: a size field that
// the caller sets to the structure's own size (the field plus one UTF-16
// character), then the NUL-terminated UTF-16 device path.
struct SpDeviceInterfaceDetailW {
  static constexpr uint32_t kCbSize = 0;
  static constexpr uint32_t kDevicePath = 4;
  static constexpr uint32_t kCbSizeValue = kDevicePath + 2;
};
static_assert(SpDeviceInterfaceDetailW::kCbSizeValue == 6);

}  // namespace zel::wire
