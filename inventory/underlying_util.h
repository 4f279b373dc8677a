// UnderlyingUtil: the utility object of the management-instrumentation
// queries (and, later, of the update-server operations). Each operation opens
// and closes its own connection; nothing is cached between connections.
//
// Members are implemented by topic: wmi_query.cpp (the query helper),
// disk_space.cpp (disks, logical drives, controller of a disk),
// disk_mode.cpp (class code of the controller behind a disk),
// system_info.cpp (system and memory inventory), hba_info.cpp (storage
// controllers).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inventory/system_info.h"
#include "platform/wmi.h"

namespace zel {

// One Win32_DiskDrive of the WMI disk table.
struct WmiDiskEntry {
  int32_t Index = 0;
  uint64_t SizeGB = 0;        // Size / 1000 / 1000 / 1000
  std::string Model;          // at most 63 UTF-16 characters
  std::string InterfaceType;  // at most 63
  std::string PnpDeviceId;    // at most 255
};
// The process-wide WMI disk table, emptied and rebuilt by GetPhysicalDriveSpace.
std::vector<WmiDiskEntry>& WmiDiskTable();

// One logical disk (volume with a drive letter) of a physical drive.
struct LogicalDriveEntry {
  std::string DriveName;   // "C:", at most 3 UTF-16 characters
  std::string FileSystem;  // at most 15
  uint64_t FreeSpaceMB = 0;
  uint64_t SizeMB = 0;
};

class UnderlyingUtil {
 public:
  using LocatorPtr = std::shared_ptr<platform::WbemLocator>;
  using ServicesPtr = std::shared_ptr<platform::WbemServices>;
  using EnumeratorPtr = std::shared_ptr<platform::EnumWbemClassObject>;

  // --- Query helper -----------------------------------------------------------
  int ConnectWmiService(LocatorPtr* locator, ServicesPtr* service);
  int ConnectWmiClass(const std::string& className, const std::string& condition,
                      LocatorPtr& locator, ServicesPtr& service, EnumeratorPtr* enumerator);
  int GetVariable(const std::string& propertyName, uint16_t expectedType,
                  const platform::WbemClassObject& object, platform::Variant* value);
  int GetDeviceIDFromAssociators(platform::WbemServices& service, const std::string& query,
                                 const std::string& propertyName, std::string* deviceId);

  // --- Disks and logical drives -----------------------------------------------
  bool GetPhysicalDriveSpace();
  int GetLogicalDriveInfo(int32_t driveNumber, std::vector<LogicalDriveEntry>& drives);
  int GetDeviceIDFromPhysicalDrive(int32_t driveNumber, std::string* out);

  // --- Class code of the controller behind a disk ("010802" for NVMe) ---------
  std::string GetDiskMode(int32_t driveIndex);

  // --- System inventory ----------------------------------------------------------
  // Fills `info` and, as its last step, the controller list `hbaList`.
  bool GetSystemInfo(SystemInformation& info, std::vector<HbaEntry>& hbaList);
  void GetToolVersion(std::string& out);
  // Empties `list` and fills it with the storage controllers.
  bool GetHbaInfo(std::vector<HbaEntry>& list);
};

}  // namespace zel
