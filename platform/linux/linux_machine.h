// Inside the Linux backend: the machine context shared by its components
// and the factories of the components (one file each).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/linux/disks.h"
#include "platform/linux/host_files.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_transport.h"
#include "platform/linux/pci.h"
#include "platform/platform.h"

namespace zel::linuxbackend {

class LinuxMachine {
 public:
  explicit LinuxMachine(const LinuxPlatformOptions& options);

  const HostFiles& Files() const { return files_; }
  const LinuxPlatformOptions& Options() const { return options_; }
  // The disks as sysfs shows them now (disks come and go: every caller that
  // starts an operation takes a fresh scan).
  DiskScan Disks() const { return ScanDisks(files_); }
  std::vector<StorageController> Controllers() const { return ScanControllers(files_); }
  // The path to open for a device node of the machine ("/dev/sda").
  std::string DevicePath(const std::string& node) const { return files_.Path(node); }
  const LinuxTransports& Transports() const {
    return options_.transports ? *options_.transports : RealTransports();
  }

 private:
  LinuxPlatformOptions options_;
  HostFiles files_;
};

std::unique_ptr<platform::DeviceIo> MakeLinuxDevices(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::DeviceTree> MakeLinuxTree(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::System> MakeLinuxSystem(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::Com> MakeLinuxCom(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::Processes> MakeLinuxProcesses(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::WindowMessages> MakeLinuxWindows();

// Capabilities of this process (from /proc/self/status) that the kernel
// asks for pass-through commands.
struct ProcessCapabilities {
  bool rawIo = false;   // CAP_SYS_RAWIO: SCSI pass-through (ATA PASS-THROUGH)
  bool sysAdmin = false;  // CAP_SYS_ADMIN: NVMe admin commands
};
ProcessCapabilities ReadCapabilities(const HostFiles& files);

}  // namespace zel::linuxbackend
