// Inside the Linux backend: open device handles and the control requests
// carried out on them (linux_requests.cpp), and the lettered volumes
// (linux_volumes.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/disks.h"
#include "platform/linux/inventory_sources.h"

namespace zel::linuxbackend {

class LinuxMachine;

enum class DevicePathKind { PhysicalDrive, Interface, Adapter, Volume, File, Other };
// "\\.\PhysicalDrive3" (number 3), "\\?\..." (an interface path), "\\.\SCSI1:"
// (number 1), "\\.\C:" (letter 'C'), "C:\dir\file" (a file on volume 'C');
// case does not matter.
DevicePathKind ClassifyDevicePath(const std::string& path, int32_t* number, char* letter);
bool ParseNumberedPath(const std::string& path, const std::string& prefix, const std::string& suffix,
                       int32_t* number);

// A mounted file system with its letter, where it lies and its sizes.
struct VolumeInfo {
  char letter = 0;
  std::string mountPoint;
  std::string fileSystem;  // the platform's name ("NTFS", "ext4")
  std::string fsType;      // the kernel's name ("ntfs3", "vfat", "ext4")
  uint32_t major = 0, minor = 0;
  bool optical = false;    // on an optical drive (device type CD-ROM)
  int32_t diskNumber = -1; // the numbered disk it lies on, -1 for none
  std::optional<VolumePlacement> placement;
};

// Every lettered volume of the machine, in letter order.
std::vector<VolumeInfo> ListVolumes(const LinuxMachine& machine, const DiskScan& scan);
std::optional<VolumeInfo> FindVolume(const LinuxMachine& machine, const DiskScan& scan, char letter);

// The machine path of a file named on a lettered volume ("C:\\a\\b" on a
// volume mounted at /srv gives "/srv/a/b"); empty when the letter is unknown
// or the name leaves the volume ("..").
std::string FilePathOnVolume(const VolumeInfo& volume, const std::string& platformPath);

struct OpenDevice {
  enum Kind { Disk, Adapter, Volume, File } kind = Disk;
  LinuxDisk disk;      // Disk and Adapter: the disk (for an adapter, the first disk on its port)
  VolumeInfo volume;   // Volume and File: the volume (of the file)
  int32_t port = -1;   // Adapter
  int fd = -1;         // -1 for a query-only open
  uint32_t access = 0, share = 0;
  std::string path;
  uint64_t position = 0;
};

struct ControlRequest {
  uint32_t code = 0;
  std::span<const uint8_t> in;
  std::span<uint8_t> out;
  std::span<uint8_t> pointed;
  uint32_t* returned = nullptr;
};

// Carry out one control request; false with the last error set on failure.
bool DiskControl(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool VolumeControl(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool FileControl(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);

}  // namespace zel::linuxbackend
