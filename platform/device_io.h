// Device I/O of the seam: open a device by the platform's path, send it a
// control request as raw bytes, read from it, close it. Paths are the
// platform's paths ("\\.\PhysicalDrive0", interface paths "\\?\ide#disk...",
// adapters "\\.\SCSI0:", volumes "\\.\C:"); each backend maps them to its own
// objects. Requests and replies cross the seam in the platform's 32-bit byte
// layouts, encoded and decoded in platform/wire/.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace zel::platform {

using HANDLE = std::intptr_t;
inline constexpr HANDLE INVALID_HANDLE_VALUE = -1;

// CreateFileW arguments.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
inline constexpr uint32_t FILE_SHARE_READ = 0x1;
inline constexpr uint32_t FILE_SHARE_WRITE = 0x2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// Control codes the system sends.
inline constexpr uint32_t IOCTL_SCSI_PASS_THROUGH = 0x4D004;
inline constexpr uint32_t IOCTL_SCSI_MINIPORT = 0x4D008;
inline constexpr uint32_t IOCTL_IDE_PASS_THROUGH = 0x4D028;
inline constexpr uint32_t IOCTL_ATA_PASS_THROUGH = 0x4D02C;
inline constexpr uint32_t IOCTL_ATA_PASS_THROUGH_DIRECT = 0x4D030;
inline constexpr uint32_t IOCTL_SCSI_GET_ADDRESS = 0x41018;
inline constexpr uint32_t SMART_RCV_DRIVE_DATA = 0x7C088;
inline constexpr uint32_t SMART_SEND_DRIVE_COMMAND = 0x7C084;
inline constexpr uint32_t IOCTL_STORAGE_GET_DEVICE_NUMBER = 0x2D1080;
inline constexpr uint32_t IOCTL_STORAGE_QUERY_PROPERTY = 0x2D1400;
inline constexpr uint32_t IOCTL_STORAGE_PROTOCOL_COMMAND = 0x2DD3C0;
inline constexpr uint32_t FSCTL_GET_RETRIEVAL_POINTERS = 0x90073;
inline constexpr uint32_t IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS = 0x560000;

// Device types of STORAGE_DEVICE_NUMBER.
inline constexpr uint32_t FILE_DEVICE_CD_ROM = 2;
inline constexpr uint32_t FILE_DEVICE_DISK = 7;

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;

  // Opens a device or volume. Returns INVALID_HANDLE_VALUE and sets the last
  // error on failure.
  virtual HANDLE CreateFileW(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                             uint32_t creationDisposition, uint32_t flagsAndAttributes) = 0;

  // Sends one control request. `in` and `out` may be the same block. `pointed`
  // is the memory that a pointer field of the request names (the data buffer
  // of ATA_PASS_THROUGH_DIRECT): the request carries the low 32 bits of its
  // address, as a 32-bit process would. Returns false and sets the last error
  // on failure; `*bytesReturned` receives the size of the reply.
  virtual bool DeviceIoControl(HANDLE device, uint32_t ioControlCode, const uint8_t* in,
                               uint32_t inSize, uint8_t* out, uint32_t outSize,
                               uint32_t* bytesReturned, std::span<uint8_t> pointed = {}) = 0;

  // Reads from the current position (a device opened for raw access starts at
  // its first sector).
  virtual bool ReadFile(HANDLE device, uint8_t* buffer, uint32_t size, uint32_t* bytesRead) = 0;

  virtual bool CloseHandle(HANDLE device) = 0;
};

}  // namespace zel::platform
