// The system information record and the storage controller list, filled by
// UnderlyingUtil::GetSystemInfo and UnderlyingUtil::GetHbaInfo into objects
// the caller owns (the program keeps them in its application state) and read
// by the pages, the system report and the details lists.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zel {

struct MemoryModuleEntry {
  std::string DeviceLocator;  // at most 127 UTF-16 characters each
  std::string BankLabel;
  std::string Manufacturer;   // "N/A" when it equals the bank label
  std::string Capacity;       // decimal byte count as the inventory gives it
  int32_t Speed = 0;
};

struct SystemInformation {
  std::string ToolVersion;    // "%d.%d.%d"
  std::string OsName;         // name, line break, " x86" / " x64"
  std::string CpuName;
  std::string TotalMemoryMB;
  std::string BoardVendor;
  std::string BoardModel;
  std::string BiosVersion;
  int32_t AddressWidth = 0;
  std::vector<MemoryModuleEntry> MemoryModules;
};

inline constexpr int kMaxAttachedDevices = 16;

struct AttachedDevice {
  std::string Name;               // at most 1023 UTF-16 characters
  int32_t PhysicalDriveIndex = -1;
};

// One storage controller (host bus adapter).
struct HbaEntry {
  std::string Name;            // at most 255
  std::string DriverProvider;  // at most 255, "N/A" when unknown
  std::string DriverVersion;   // at most 127, "N/A" when unknown
  std::string ClassCode;       // "010601"
  int32_t AttachedDeviceCount = 0;
  std::array<AttachedDevice, kMaxAttachedDevices> AttachedDevices{};
};

}  // namespace zel
