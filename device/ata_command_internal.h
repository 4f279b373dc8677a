// What the files that implement ATACommand share: the SMART command and its
// signature registers, register sets, and opening a device by its path for
// one request.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/wire/ata.h"

namespace zel::ata_detail {

inline constexpr uint8_t kCmdSmart = 0xB0;
// Every SMART command carries this signature in LBA mid and LBA high.
inline constexpr uint8_t kSmartLbaMid = 0x4F;
inline constexpr uint8_t kSmartLbaHigh = 0xC2;

// A register set, the registers in the order the task file holds them.
inline wire::AtaTaskFile TaskFile(uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid,
                                  uint8_t lbaHigh, uint8_t device, uint8_t command) {
  wire::AtaTaskFile r;
  r.Features = features;
  r.SectorCount = count;
  r.LbaLow = lbaLow;
  r.LbaMid = lbaMid;
  r.LbaHigh = lbaHigh;
  r.Device = device;
  r.Command = command;
  return r;
}

// Opens a device by its path (an interface path, "\\.\PhysicalDrive0") for
// reading and writing, shared with other readers and writers, as the ATA
// requests and the tunnelled NVMe log read do.
inline platform::HANDLE OpenByPath(const std::string& path) {
  using namespace zel::platform;
  return Devices().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
}

}  // namespace zel::ata_detail
