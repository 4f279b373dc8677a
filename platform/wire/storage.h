// Small storage request layouts shared by several request forms.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

namespace zel::wire {

// STORAGE_DEVICE_NUMBER: DeviceType, DeviceNumber, PartitionNumber (12 bytes).
struct StorageDeviceNumber {
  static constexpr uint32_t kSize = 12;
  uint32_t DeviceType = 0;
  uint32_t DeviceNumber = 0;
  uint32_t PartitionNumber = 0;

  void Encode(uint8_t* out) const {
    PutLE32(out + 0, DeviceType);
    PutLE32(out + 4, DeviceNumber);
    PutLE32(out + 8, PartitionNumber);
  }
  static StorageDeviceNumber Decode(const uint8_t* in) {
    return StorageDeviceNumber{GetLE32(in + 0), GetLE32(in + 4), GetLE32(in + 8)};
  }
};

}  // namespace zel::wire
