// The real machine behind the platform seam: disks from sysfs, ATA commands
// through SG_IO, NVMe admin commands through the kernel's pass-through, the
// device tree and the inventory from sysfs and procfs, the registry in a
// SQLite store. docs/linux-backend.md says what maps to what.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zel::linuxbackend {

// Where the backend reads the machine from. The defaults are the real
// machine; tests point `root` at a copied sysfs/procfs tree (device nodes
// are then looked up below the root too) and `registryPath` at a file of
// their own.
struct LinuxTransports;
struct LinuxPlatformOptions {
  std::string root;          // "" for "/"
  std::string registryPath;  // "" for DefaultRegistryDatabasePath()
  // How commands reach the drives; null for the kernel's own (tests replay).
  std::shared_ptr<const LinuxTransports> transports;
};

std::shared_ptr<platform::Platform> MakeLinuxPlatform();
std::shared_ptr<platform::Platform> MakeLinuxPlatform(const LinuxPlatformOptions& options);

// The options a platform of this backend was made with; null for any other
// platform (a simulated machine), so a program can tell the real machine.
const LinuxPlatformOptions* LinuxPlatformOptionsOf(platform::Platform& platform);

// What the backend made of each block device of the machine, so a program
// that finds no usable drive can say why. Numbered disks come first, in
// disk-number order, then the devices that were left out.
struct DiskSurveyEntry {
  std::string name;     // "sda", "vda"
  std::string devNode;  // "/dev/sda"
  int32_t number = -1;  // disk number, -1 when left out
  std::string bus;      // "ide", "scsi", "usbstor", "nvme"; empty when left out
  std::string kind;     // for a left-out device: "virtual", "virtio", "mmc", "optical", "hidden", "other"
  // Numbered disks: whether this process may send the drive commands (it
  // can open the device for reading and writing and holds the capability
  // the kernel asks for pass-through commands).
  bool usable = false;
  std::string reason;  // why it was left out or cannot be used; empty otherwise
};
std::vector<DiskSurveyEntry> SurveyDisks();
std::vector<DiskSurveyEntry> SurveyDisks(const LinuxPlatformOptions& options);

// The survey as lines for a person, for a program that found no usable
// drive: one line per numbered disk (why it is not usable, or that it could
// be reached but did not answer as a SATA or NVMe drive) and per device left
// out for a reason of its own ("/dev/vda: it is a virtio disk: ..."); virtual
// devices (loop, RAM disks, device mapper) are summed up in one line. A
// machine without block devices gets one line that says so. A disk that was
// reached points to the trace log, by its path when `traceLogPath` is given.
std::vector<std::string> SurveyReport(const std::vector<DiskSurveyEntry>& survey,
                                      const std::string& traceLogPath = {});

}  // namespace zel::linuxbackend
