// ATACommand construction (the capability flags from the platform version),
// device opening, the device-number query and the word swap.
#include <cstdlib>
#include <string>

#include "device/ata_command.h"
#include "device/ata_command_internal.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wire/storage.h"

namespace zel {

using namespace zel::platform;

namespace {

// The decimal number after "Service Pack " in the service-pack text, or -1.
int ServicePackNumber(const std::string& csdVersion) {
  // The text is converted to 8-bit first; characters that do not convert
  // become blanks, which the search below never mistakes for digits.
  std::string narrow;
  for (char16_t c : Utf8ToUtf16(csdVersion)) narrow += c < 0x80 ? static_cast<char>(c) : ' ';
  narrow = narrow.substr(0, 127);
  size_t at = narrow.find("Service Pack ");
  if (at == std::string::npos) return -1;
  const char* digits = narrow.c_str() + at + 13;
  if (*digits < '0' || *digits > '9') return -1;
  return std::atoi(digits);
}

}  // namespace

ATACommand::ATACommand() {
  OsVersion = OSVERSIONINFOEXW{};
  OsVersion.dwOSVersionInfoSize = kOsVersionInfoExSize;
  if (!Sys().GetVersionExW(&OsVersion)) {
    OsVersion = OSVERSIONINFOEXW{};
    OsVersion.dwOSVersionInfoSize = kOsVersionInfoSize;
    if (!Sys().GetVersionExW(&OsVersion)) {
      OsVersion = OSVERSIONINFOEXW{};
      OsVersion.dwOSVersionInfoSize = kOsVersionInfoSize;
    }
  }
  AtaPassThroughAvailable = SmartPassThroughAvailable = IsWindows8 = 0;
  uint32_t major = OsVersion.dwMajorVersion, minor = OsVersion.dwMinorVersion;
  if (major == 6 && minor == 2) {
    AtaPassThroughAvailable = SmartPassThroughAvailable = IsWindows8 = 1;
  } else if (major >= 6 || (major == 5 && minor == 2)) {
    AtaPassThroughAvailable = SmartPassThroughAvailable = 1;
  } else if (major == 5 && minor == 1) {
    if (ServicePackNumber(OsVersion.szCSDVersion) >= 2)
      AtaPassThroughAvailable = SmartPassThroughAvailable = 1;
  }
}

HANDLE ATACommand::OpenPhysicalDrive(uint32_t driveIndex) {
  // Formatted as 8-bit text into a 100-byte buffer, then widened.
  std::string name = Format("\\\\.\\PhysicalDrive%d", static_cast<int>(driveIndex)).substr(0, 99);
  return ata_detail::OpenByPath(name);
}

int32_t ATACommand::GetDiskNumberFromPath(const std::string& path) {
  HANDLE h = Devices().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return -1;
  uint8_t out[wire::StorageDeviceNumber::kSize] = {};
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, out,
                                      sizeof out, &returned);
  Devices().CloseHandle(h);
  if (!ok) return -1;
  wire::StorageDeviceNumber n = wire::StorageDeviceNumber::Decode(out);
  if (n.DeviceType != FILE_DEVICE_DISK) return -1;
  return static_cast<int32_t>(n.DeviceNumber);
}

void ATACommand::SwapWordBytes(uint8_t* buffer, uint32_t length) {
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    uint8_t t = buffer[i];
    buffer[i] = buffer[i + 1];
    buffer[i + 1] = t;
  }
}

}  // namespace zel
