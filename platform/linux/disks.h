// The machine's disks from sysfs, as the platform numbers and names them.
//
// Only whole disks that the system's commands can reach are numbered: SCSI
// disks (libata SATA/PATA disks, other SCSI disks, USB-attached disks) and
// NVMe namespaces. Everything else in /sys/block (loop, ram, zram, device
// mapper, software RAID, virtio, MMC, optical drives, ...) is seen and left
// out with a reason, so a user can be told why a disk is missing.
//
// Order of the disk numbers (\\.\PhysicalDriveN): SCSI disks first, by their
// kernel names in the kernel's own order (sda, sdb, ..., sdz, sdaa, ...),
// then NVMe namespaces by controller instance and namespace (nvme0n1,
// nvme0n2, nvme1n1, ...). The numbers are dense, from 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/host_files.h"

namespace zel::linuxbackend {

// The bus a disk hangs on, as the platform's interface paths name it:
// libata disks are "ide", NVMe and other SCSI disks "scsi", USB disks "usbstor".
enum class DiskBus { Ata, Scsi, Usb, Nvme };

struct LinuxDisk {
  int32_t number = -1;           // N of \\.\PhysicalDriveN
  std::string name;              // "sda", "nvme0n1"
  std::string devNode;           // "/dev/sda"
  std::string sysPath;           // resolved sysfs path of the block device
  DiskBus bus = DiskBus::Scsi;
  uint64_t sizeBytes = 0;
  uint32_t logicalBlockSize = 512;
  uint32_t devMajor = 0, devMinor = 0;
  bool removable = false;
  std::string vendor, model, revision, serial;  // as sysfs reports them, trimmed
  // SCSI disks: host, channel, target, lun; libata disks also their port on
  // the controller (0-based).
  int32_t scsiHost = -1, scsiChannel = 0, scsiTarget = 0, scsiLun = 0;
  int32_t ataPort = -1;
  // NVMe namespaces: the controller's name ("nvme0", node /dev/nvme0) and
  // the namespace identifier.
  std::string nvmeController;
  uint32_t nsid = 0;
  std::string pciAddress;  // the PCI function of the controller, empty when none
  // The SCSI address port number: a SCSI host's number; NVMe controllers
  // take the numbers after the highest SCSI host, in controller order.
  int32_t portNumber = -1;
  // libata disks: the kernel's copy of the drive's IDENTIFY page (the ATA
  // information VPD page, readable by root), read once with the scan;
  // nothing when it cannot be read. `identifyPageRead` is false for a disk
  // that was not scanned, whose page is read when needed.
  bool identifyPageRead = false;
  std::optional<std::string> identifyPage;
  std::string pnpDeviceId;     // "IDE\DISKQUARN_SSD_KD765_256GB_SVMU01\1&0000001F2&0&0.0.0"
  std::string interfacePath;   // "\\?\ide#diskquarn_..._svmu01#1&0000001f2&0&0.0.0#{53f56307-...}"

  const char* BusName() const;  // "ide", "scsi", "usbstor" (the interface-path bus)
  // Win32_DiskDrive.InterfaceType: "IDE", "SCSI", "USB".
  const char* InterfaceType() const;
  std::string NvmeControllerNode() const { return "/dev/" + nvmeController; }
};

// A block device that was seen but is not numbered.
struct LeftOutDevice {
  std::string name;    // "vda"
  std::string kind;    // "virtual", "virtio", "mmc", "optical", "hidden", "other"
  std::string reason;  // one sentence for a person
};

struct DiskScan {
  std::vector<LinuxDisk> disks;         // in disk-number order
  std::vector<LeftOutDevice> leftOut;  // in kernel-name order
  const LinuxDisk* ByNumber(int32_t number) const;
  const LinuxDisk* ByName(const std::string& name) const;
  // Compared without regard to case, as the platform compares paths.
  const LinuxDisk* ByInterfacePath(const std::string& path) const;
  const LinuxDisk* ByPort(int32_t port) const;
};

DiskScan ScanDisks(const HostFiles& files);
// The same, for the names /sys/block was just found to hold.
DiskScan ScanDisks(const HostFiles& files, const std::vector<std::string>& blockNames);

// Text as it appears in PnP identifiers: trimmed, upper case, blanks and
// anything but letters, digits, "." and "-" as "_", at most `max` characters.
std::string PnpText(const std::string& text, size_t max);

// The interface path of a PnP identifier: "\\?\" + the identifier, lower
// case, with "\" as "#", + "#" + the disk interface class.
std::string InterfacePathFor(const std::string& pnpDeviceId);

}  // namespace zel::linuxbackend
