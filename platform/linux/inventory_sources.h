// The machine's description from the kernel and the distribution: the
// operating system (/etc/os-release), processors (/proc/cpuinfo), memory
// (/proc/meminfo), board and BIOS (/sys/class/dmi/id), memory modules (the
// SMBIOS table, readable by root), and the mounted file systems with the
// drive letters the backend gives them.
//
// Parsers take text or bytes, so they are tested without a machine; the
// readers take a HostFiles root.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/host_files.h"

namespace zel::linuxbackend {

// --- Operating system ---------------------------------------------------------
// PRETTY_NAME of an os-release file (quotes and escapes removed), else NAME
// and VERSION, else "Linux".
std::string OsNameFromOsRelease(std::string_view text);

// --- Processors ---------------------------------------------------------------
struct CpuInfo {
  std::string modelName;  // "model name" (x86), else "Processor"/"cpu model"/"Hardware"
  std::string vendor;     // "vendor_id"
  uint32_t logicalProcessors = 0;
  uint32_t packages = 0;  // distinct "physical id" values, at least 1
  uint32_t mhz = 0;
};
CpuInfo ParseCpuInfo(std::string_view text);
// The address width of the running kernel from its machine name ("x86_64" 64).
int32_t AddressWidthOfMachine(std::string_view machine);

// --- Memory -------------------------------------------------------------------
// MemTotal of /proc/meminfo in bytes; nothing when absent.
std::optional<uint64_t> TotalMemoryBytes(std::string_view meminfo);

// One installed memory module (SMBIOS type 17 with a size).
struct MemoryModule {
  std::string deviceLocator, bankLabel, manufacturer, partNumber, serialNumber;
  uint64_t capacityBytes = 0;
  uint32_t speed = 0;       // MT/s
  uint32_t memoryType = 0;  // SMBIOS memory type byte
};
// The modules of an SMBIOS structure table (/sys/firmware/dmi/tables/DMI);
// empty slots are left out. Malformed structures end the walk.
std::vector<MemoryModule> ParseSmbiosMemory(std::span<const uint8_t> table);

// --- Board and BIOS -----------------------------------------------------------
struct DmiInfo {
  std::string boardVendor, boardName, biosVersion, biosVendor, systemVendor, productName;
};
DmiInfo ReadDmi(const HostFiles& files);

// --- Mounted file systems -------------------------------------------------------
struct MountEntry {
  uint32_t major = 0, minor = 0;
  std::string root, mountPoint, fsType, source;
};
// Lines of /proc/self/mountinfo, octal escapes ("\040") decoded.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// A mounted file system with its drive letter.
struct LetteredVolume {
  char letter = 0;             // 'C' ... 'Z'
  MountEntry mount;
  std::string fileSystemName;  // as the platform names it ("NTFS", "FAT32", "ext4")
};

// Drive letters for the mounted file systems that lie on block devices:
// "/" is C:, every other one D:, E:, ... in order of mount point (byte
// order); a device mounted in several places keeps its first mount point in
// that order. Devices that `isVolumeDevice` refuses (loop, RAM disks) get no
// letter, nor do file systems beyond Z:.
std::vector<LetteredVolume> AssignDriveLetters(
    const std::vector<MountEntry>& mounts, bool (*isVolumeDevice)(const HostFiles&, uint32_t, uint32_t),
    const HostFiles& files);

// The platform's name of a kernel file-system type.
std::string FileSystemName(std::string_view fsType);

// Whether a block device (major:minor) may carry a lettered volume: any
// device but loop devices, RAM disks and compressed RAM.
bool IsVolumeDevice(const HostFiles& files, uint32_t major, uint32_t minor);

// Where a block device lies: the whole disk it belongs to (following
// device-mapper and RAID volumes down to their one underlying device), the
// partition number (0 for a whole disk) and where the partition starts and
// how long it is, in bytes. For a device-mapper or RAID volume the extent
// within the partition is not known (`extentKnown` false).
struct VolumePlacement {
  std::string diskName;  // "sda"
  uint32_t partition = 0;
  uint64_t startBytes = 0, lengthBytes = 0;
  bool extentKnown = true;
};
// Nothing when the device spans several devices or is not found.
std::optional<VolumePlacement> PlaceBlockDevice(const HostFiles& files, uint32_t major, uint32_t minor);

}  // namespace zel::linuxbackend
