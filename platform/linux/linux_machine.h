// Inside the Linux backend: the machine context shared by its components
// and the factories of the components (one file each).
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/disks.h"
#include "platform/linux/host_files.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_transport.h"
#include "platform/linux/pci.h"
#include "platform/platform.h"

namespace zel::linuxbackend {

struct VolumeInfo;

class LinuxMachine {
 public:
  explicit LinuxMachine(const LinuxPlatformOptions& options);

  const HostFiles& Files() const { return files_; }
  const LinuxPlatformOptions& Options() const { return options_; }
  // The disks as sysfs shows them now. One command asks many times (each
  // device opened, each management connection), so a scan is kept and
  // handed out again while it is young (ScanLifetime) and the names in
  // /sys/block are still the same; a disk that comes or goes changes them,
  // so it is seen at once. The rescan drops the kept scans.
  DiskScan Disks() const;
  // The storage controllers, kept the same way (while the names in
  // /sys/bus/pci/devices are the same).
  std::vector<StorageController> Controllers() const;
  void ForgetScans() const;
  // The lettered volumes last listed, handed out again while the mount table
  // and the disks they were placed on (`key`) are the same.
  std::shared_ptr<const std::vector<VolumeInfo>> KeptVolumes(const std::string& key) const;
  void KeepVolumes(std::string key, std::shared_ptr<const std::vector<VolumeInfo>> volumes) const;
  static constexpr std::chrono::milliseconds ScanLifetime{10000};
  // The path to open for a device node of the machine ("/dev/sda").
  std::string DevicePath(const std::string& node) const { return files_.Path(node); }
  const LinuxTransports& Transports() const {
    return options_.transports ? *options_.transports : RealTransports();
  }

 private:
  template <typename T>
  struct Kept {
    std::vector<std::string> names;  // the folder's names when it was made
    std::chrono::steady_clock::time_point madeAt;
    std::optional<T> value;
  };
  template <typename T, typename Scan>
  T KeptOrFresh(Kept<T>& kept, const char* folder, Scan scan) const;

  LinuxPlatformOptions options_;
  HostFiles files_;
  mutable std::mutex scansMutex_;
  mutable Kept<DiskScan> disks_;
  mutable Kept<std::vector<StorageController>> controllers_;
  mutable std::string volumesKey_;
  mutable std::shared_ptr<const std::vector<VolumeInfo>> volumes_;
};

std::unique_ptr<platform::DeviceIo> MakeLinuxDevices(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::DeviceTree> MakeLinuxTree(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::System> MakeLinuxSystem(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::Com> MakeLinuxCom(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::Processes> MakeLinuxProcesses(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::Files> MakeLinuxFiles(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::VolumeTrim> MakeLinuxVolumeTrim(std::shared_ptr<LinuxMachine> machine);
std::unique_ptr<platform::WindowMessages> MakeLinuxWindows();
std::unique_ptr<platform::DiskUses> MakeLinuxDiskUses(std::shared_ptr<LinuxMachine> machine);

// Capabilities of this process (from /proc/self/status) that the kernel
// asks for pass-through commands.
struct ProcessCapabilities {
  bool rawIo = false;   // CAP_SYS_RAWIO: SCSI pass-through (ATA PASS-THROUGH)
  bool sysAdmin = false;  // CAP_SYS_ADMIN: NVMe admin commands
};
ProcessCapabilities ReadCapabilities(const HostFiles& files);

}  // namespace zel::linuxbackend
