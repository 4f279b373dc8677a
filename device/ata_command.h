// ATACommand: the device-access object of both programs. It holds the
// platform version record and three capability flags fixed at construction;
// every ATA, SMART, security, microcode, NVMe and discovery operation is a
// member. Cheap to create; keeps no open handle (each request opens the
// device, sends one request and closes it again).
//
// Members are implemented by topic: ata_transport.cpp (request forms),
// ata_commands.cpp (the ATA command set and vendor commands), nvme_paths.cpp
// (NVMe request forms). The discovery members are implemented in
// inventory/discovery.cpp: discovery matches interfaces against the
// management-instrumentation disk table and decodes the pages it reads, so it
// sits above device/, health/ and inventory's query helper, and a program
// that discovers drives links the inventory library.
#pragma once

#include <cstdint>
#include <string>

#include "device/drive_record.h"
#include "platform/device_io.h"
#include "platform/system.h"

namespace zel {

// ATA flags word of the pass-through requests.
inline constexpr uint32_t ATA_FLAGS_DRDY_REQUIRED = 0x01;
inline constexpr uint32_t ATA_FLAGS_DATA_IN = 0x02;
inline constexpr uint32_t ATA_FLAGS_DATA_OUT = 0x04;
inline constexpr uint32_t ATA_FLAGS_48BIT_COMMAND = 0x08;
inline constexpr uint32_t ATA_FLAGS_USE_DMA = 0x10;

// Size of the NVMe Device Self-test log.
inline constexpr uint32_t kNvmeSelfTestLogSize = 564;

class ATACommand {
 public:
  ATACommand();

  platform::OSVERSIONINFOEXW OsVersion;
  int32_t AtaPassThroughAvailable = 0;
  int32_t SmartPassThroughAvailable = 0;
  int32_t IsWindows8 = 0;

  // --- Transport --------------------------------------------------------
  // By drive index ("\\.\PhysicalDrive%d"), time-out 1000 s.
  uint32_t SendAtaCommandPhysicalDrive(uint32_t driveIndex, uint8_t device, uint8_t command,
                                       uint8_t features, uint8_t count, uint8_t lbaLow,
                                       uint8_t lbaMid, uint8_t lbaHigh, uint8_t* buffer,
                                       uint32_t length, uint32_t ataFlags);
  // By drive index, time-out 1000 s, without data; `*status` receives the
  // status register the buffered form returns (0 when the form returns none).
  uint32_t SendAtaCommandReturningStatus(uint32_t driveIndex, uint8_t command, uint8_t features,
                                         uint8_t count, uint8_t lbaLow, uint8_t lbaMid,
                                         uint8_t lbaHigh, uint32_t ataFlags, uint8_t* status);
  // By drive index, time-out 1000 s, with data; `*status` receives the
  // status register the buffered form returns (0 when the form returns
  // none), since the request itself succeeds when the drive aborts.
  uint32_t SendAtaCommandWithStatus(uint32_t driveIndex, uint8_t device, uint8_t command,
                                    uint8_t features, uint8_t count, uint8_t* buffer,
                                    uint32_t length, uint32_t ataFlags, uint8_t* status);
  // By interface path, time-out 2 s.
  uint32_t SendAtaCommandPhysicalDrive(const std::string& devicePath, uint8_t device,
                                       uint8_t command, uint8_t features, uint8_t count,
                                       uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh,
                                       uint8_t* buffer, uint32_t length, uint32_t ataFlags);
  // By interface path with packed register words, time-out 2 s.
  uint32_t SendAtaCommandPD(const std::string& devicePath, uint32_t registers1,
                            uint32_t registers2, uint8_t* buffer, uint32_t length,
                            uint32_t ataFlags);
  // Direct request by index; `*length` receives the reported transfer length.
  uint32_t SendAtaCommandDirect(uint32_t driveIndex, uint8_t write, const uint8_t* writeData,
                                uint8_t* readBuffer, uint32_t* length, uint32_t registers1,
                                uint32_t registers2);
  platform::HANDLE OpenPhysicalDrive(uint32_t driveIndex);
  int32_t GetDiskNumberFromPath(const std::string& path);
  static void SwapWordBytes(uint8_t* buffer, uint32_t length);

  // --- ATA command set ----------------------------------------------------
  uint32_t DoIdentify(const std::string& devicePath, uint8_t device, uint8_t* buffer);
  uint32_t GetSmartAttributePd(const std::string& devicePath, uint8_t device,
                               PhysicalDriveRecord& record);
  uint32_t GetSmartAttributePd(uint32_t driveIndex, uint8_t device, PhysicalDriveRecord& record);
  uint32_t GetSmartThresholdsPd(const std::string& devicePath, uint8_t device,
                                PhysicalDriveRecord& record);
  uint32_t SmartReadLogPd(const std::string& devicePath, uint8_t device, uint8_t count,
                          uint8_t logAddress, uint8_t* buffer);
  uint32_t SmartWriteLogPd(const std::string& devicePath, uint8_t device, uint8_t count,
                           uint8_t logAddress, uint8_t* buffer);
  uint32_t DoSmartSelfTest(uint32_t driveIndex, uint8_t subcommand);
  uint32_t DoFlushCacheExt(uint32_t driveIndex, uint8_t device);
  uint32_t DoStandbyImmediate(uint32_t driveIndex, uint8_t device);
  uint32_t DoSecurityErasePrepare(uint32_t driveIndex, uint8_t device);
  // Vendor commands of the maker's controllers.
  uint32_t EnableVendorCommands(uint32_t driveIndex);
  uint32_t ReadVendorData(uint32_t driveIndex, uint32_t sectors, uint8_t* buffer);
  uint32_t SendVendorUidAccess(uint32_t driveIndex);
  uint32_t ReadVendorUid(uint32_t driveIndex, uint8_t* buffer);

  // --- NVMe request forms ---------------------------------------------------
  uint32_t Windows10NVMeIdentify(int32_t driveIndex, const std::string& devicePath,
                                 uint8_t* buffer);
  uint32_t IdentifyCommand_Controller(const std::string& devicePath, uint8_t* buffer);
  uint32_t DoIdentifyDeviceNVMeIntel(const std::string& devicePath, uint8_t* buffer);
  uint32_t Windows10NVMeSMART(int32_t driveIndex, const std::string& devicePath, uint8_t* buffer);
  uint32_t GetLogPageCommand_SMART_Health(const std::string& devicePath, uint8_t* buffer);
  uint32_t DoGetLogPageNVMeIntel(const std::string& devicePath, uint8_t* buffer);
  uint32_t DoGetLogPageNVMeSamsung(const std::string& devicePath, uint8_t* buffer);
  // One NVMe admin command through the platform's storage protocol command
  // on the disk: `length` bytes of `data` go to the device (`toDevice`) or
  // come from it. Nonzero when the controller completed it successfully.
  uint32_t SendNvmeAdminCommandPd(const std::string& devicePath, uint8_t opcode, uint32_t nsid,
                                  uint32_t cdw10, uint32_t cdw11, uint8_t* data, uint32_t length,
                                  bool toDevice);
  // Device Self-test (opcode 0x14) for all namespaces with self-test code
  // `code` (1 short, 2 extended, 0xF abort).
  uint32_t DoDeviceSelfTestNVMe(const std::string& devicePath, uint32_t code);
  // The Device Self-test log (page 0x06, kNvmeSelfTestLogSize bytes).
  uint32_t GetLogPageCommand_SelfTest(const std::string& devicePath, uint8_t* buffer);
  uint32_t GetScsiPortName(const std::string& devicePath, std::string* name);

  // --- Discovery ------------------------------------------------------------
  // Appends one record per usable drive; returns the number appended.
  int32_t UpdatePhysicalDrivesInfo(PhysicalDriveTable& table);
  uint32_t GetPhysicalDriveIdentifySmart(int32_t interfaceNumber, const std::string& devicePath,
                                         PhysicalDriveRecord& record);
};

}  // namespace zel
