// Storage controllers from sysfs: every PCI function of the mass-storage
// class, with the platform's identifiers for it (device instance identifier
// and hardware identifiers ending in "&CC_<class>"), its kernel driver and
// that driver's version, and its PCI Express link.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/host_files.h"

namespace zel::linuxbackend {

// A PCI Express link speed as the kernel writes it ("8.0 GT/s PCIe",
// "2.5 GT/s", "Unknown") turned into the generation the platform reports
// (1 for 2.5 GT/s, 2 for 5, 3 for 8, 4 for 16, 5 for 32, 6 for 64); 0 when
// the text names no known speed.
uint32_t PcieGenerationFromText(std::string_view text);
// A link width ("4", "x4"); 0 when unknown.
uint32_t PcieWidthFromText(std::string_view text);

struct PciLink {
  uint32_t currentSpeed = 0, currentWidth = 0, maxSpeed = 0, maxWidth = 0;
};

struct StorageController {
  std::string address;       // "0000:00:1f.2"
  uint32_t classCode = 0;    // 0x010601
  uint16_t vendor = 0, device = 0, subsystemVendor = 0, subsystemDevice = 0;
  uint8_t revision = 0;
  std::string driver;         // "ahci", empty when no driver is bound
  std::string driverVersion;  // the module's version, else the kernel release
  std::string name;           // a descriptive name by class ("Standard SATA AHCI Controller")
  std::string instanceId;     // "PCI\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\3&0000001F2&0"
  std::vector<std::string> hardwareIds;  // most specific first; two end in "&CC_..."
  std::optional<PciLink> link;           // PCI Express functions only
  // IDE and SATA controllers (class 01 01 and 01 06) are the platform's IDE
  // controllers; the others (SCSI, RAID, SAS, NVMe) are SCSI controllers.
  bool IsIdeClass() const;
  std::string ClassCodeText() const;  // "010601"
};

// The PCI address of the nearest PCI function above a sysfs device path
// ("/sys/devices/pci0000:00/0000:00:1f.2/ata1/..." gives "0000:00:1f.2"),
// empty when the device is not below a PCI function.
std::string PciAddressOf(std::string_view sysfsDevicePath);

// All mass-storage PCI functions, in PCI address order.
std::vector<StorageController> ScanControllers(const HostFiles& files);
// The same, for the names /sys/bus/pci/devices was just found to hold.
std::vector<StorageController> ScanControllers(const HostFiles& files, const std::vector<std::string>& addresses);

// One controller by address (read afresh), or nothing.
std::optional<StorageController> ReadController(const HostFiles& files, const std::string& address);
// The same, with the class code already read.
std::optional<StorageController> ReadController(const HostFiles& files, const std::string& address,
                                                uint32_t classCode);

}  // namespace zel::linuxbackend
