// NVMe admin commands to a controller (/dev/nvmeN) through the kernel's
// NVMe admin pass-through ioctl.
#pragma once

#include <cstdint>

namespace zel::linuxbackend {

struct NvmeAdminCommand {
  uint8_t opcode = 0;
  uint32_t nsid = 0;
  uint32_t cdw10 = 0, cdw11 = 0, cdw12 = 0, cdw13 = 0, cdw14 = 0, cdw15 = 0;
  uint32_t timeoutMs = 0;  // 0: the kernel's default
};

struct NvmeAdminResult {
  bool ok = false;
  uint32_t error = 0;   // the platform's error code when not ok
  uint16_t status = 0;  // NVMe status field (status code type and code), 0 on success
  uint32_t result = 0;  // completion dword 0
};

inline constexpr uint8_t kNvmeGetLogPage = 0x02;
inline constexpr uint8_t kNvmeIdentify = 0x06;

// Sends one admin command. A command the controller completes with an error
// status is a failure (ERROR_IO_DEVICE, ERROR_INVALID_FUNCTION for an
// invalid opcode or field), never a success with a page of zeros.
NvmeAdminResult SendNvmeAdmin(int fd, const NvmeAdminCommand& command, uint8_t* data,
                              uint32_t dataLength);

// The platform error for an NVMe status field.
uint32_t ErrorFromNvmeStatus(uint16_t status);

}  // namespace zel::linuxbackend
