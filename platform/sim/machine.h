// The simulated machine: one JSON machine file turned into a whole machine
// behind the platform seam (operating-system version, program path, clock,
// environment, drives, volumes, device tree, management instrumentation,
// registry, processes). The format is documented in docs/machine-format.md.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/json_util.h"
#include "platform/sim/sim_drive.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_services.h"

namespace zel::sim {

// The virtual clock: time passes only when somebody sleeps (or a test
// advances it), so a self-test of minutes finishes in milliseconds and every
// run is repeatable.
class VirtualClock {
 public:
  VirtualClock(uint64_t startTickMs, int64_t startUnixMs)
      : tick_(startTickMs), unixStart_(startUnixMs), tickStart_(startTickMs) {}
  uint64_t NowMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return tick_;
  }
  int64_t UnixMs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unixStart_ + static_cast<int64_t>(tick_ - tickStart_);
  }
  void Advance(uint64_t ms) {
    std::lock_guard<std::mutex> lock(mutex_);
    tick_ += ms;
  }

 private:
  mutable std::mutex mutex_;
  uint64_t tick_;
  int64_t unixStart_;
  uint64_t tickStart_;
};

// A volume with a drive letter.
struct SimVolume {
  std::string letter;      // "C"
  std::string fileSystem;  // "NTFS"
  uint64_t sizeBytes = 0;
  uint64_t freeBytes = 0;
  int32_t disk = -1;          // the disk it lies on; -1 for none
  uint32_t deviceType = 7;    // FILE_DEVICE_DISK; 2 for a CD-ROM
  uint32_t partition = 1;
  uint64_t offsetBytes = 0;   // where the partition starts on the disk
  Json entry;                 // the volume's whole entry, for components that read more
};

// A storage controller. Disks name theirs with "controller" (an index into
// the machine's controller list); the management-instrumentation model and
// the device tree both describe the machine from this list.
struct SimController {
  std::string name;                      // Win32_IDEController / Win32_SCSIController Name
  std::string deviceId;                  // PNP device instance identifier
  std::vector<std::string> hardwareIds;  // HardwareID array, "...&CC_010601"
  std::string type = "ide";              // "ide": IDE/AHCI (Win32_IDEController); "scsi": SCSI/NVMe
  bool hasDriver = true;                 // a Win32_PnPSignedDriver object exists
  std::string driverProvider;
  std::string driverVersion;
  bool hasPcie = false;                  // PCI Express link properties exist
  uint32_t pcieMaxWidth = 0, pcieMaxSpeed = 0, pcieCurrentWidth = 0, pcieCurrentSpeed = 0;
  Json entry;                            // the controller's whole entry, for components that read more
};

class SimMachine final : public platform::Platform {
 public:
  // Builds a machine from a parsed machine file; throws FixtureError.
  explicit SimMachine(const Json& root);
  ~SimMachine() override;

  platform::DeviceIo& Devices() override;
  platform::System& Sys() override;
  platform::DeviceTree& Tree() override;
  platform::Com& Wmi() override;
  platform::Registry& Reg() override;
  platform::Processes& Procs() override;
  platform::Files& Files() override;
  // The machine's files with what its other components and tests ask of them.
  SimFiles& FileSystem();
  platform::WindowMessages& Windows() override;
  // The real network (the update server is a real server on both backends);
  // addresses opened in the browser are only recorded.
  platform::Net& Net() override;
  // The addresses the machine was asked to open in the browser, in order.
  std::vector<std::string> OpenedAddresses() const;
  platform::Services& Services() override;
  // The machine's service manager with what tests ask of it.
  SimServices& ServiceManager();
  platform::VolumeTrim& VolumeTrim() override;
  platform::DiskUses& Uses() override;

  VirtualClock& Clock() { return *clock_; }
  const Json& Root() const { return root_; }
  const std::vector<std::shared_ptr<SimDrive>>& Drives() const { return drives_; }
  const std::vector<SimVolume>& Volumes() const { return volumes_; }
  const std::vector<SimController>& Controllers() const { return controllers_; }
  // The controller a drive hangs on (its "controller" field, or the default
  // one of its bus when the machine file lists no controllers); -1 for none.
  int ControllerOf(const SimDrive& drive) const;
  // The drive with disk number `index`, or null.
  SimDrive* DriveByIndex(int32_t index) const;
  // The drive whose interface path is `path` (compared without case), or null.
  SimDrive* DriveByInterfacePath(const std::string& path) const;

  // The program path that GetModuleFileName reports (the machine file's, else
  // the running program's); tests point it into a temporary folder.
  void SetProgramPath(std::string path);
  const std::string& ProgramPath() const { return programPath_; }

  // What the machine is: the machine file's absolute path (set by
  // LoadMachineFile), "demo machine" for the demo machine. Processes started
  // on the same source are the same machine: they share its named objects
  // (window titles, mutexes). A machine without a source (one loaded from a
  // text) is a machine of its own process.
  void SetSource(std::string source) { source_ = std::move(source); }
  const std::string& Source() const { return source_; }

  // Every request received by any device, in order (for tests).
  std::vector<RequestRecord> RequestLog() const;
  void ClearRequestLog();

  // Components implemented beside the core (one file each).
  struct Components;

 private:
  void LoadControllers();
  friend class SimDevices;
  friend class SimSystem;
  Json root_;
  std::unique_ptr<VirtualClock> clock_;
  std::vector<std::shared_ptr<SimDrive>> drives_;
  std::vector<SimVolume> volumes_;
  std::vector<SimController> controllers_;
  std::vector<int> driveControllers_;  // per drive, parallel to drives_
  // The present drives by lower-cased interface path and by disk number (the
  // first drive of the file wins), so that opening a drive does not walk the
  // whole list on a machine of many drives.
  std::unordered_map<std::string, SimDrive*> drivesByPath_;
  std::unordered_map<int32_t, SimDrive*> drivesByIndex_;
  std::string programPath_;
  std::string source_;
  std::unique_ptr<Components> parts_;
  std::once_flag netOnce_;
  std::unique_ptr<platform::Net> net_;
  mutable std::mutex openedMutex_;
  std::vector<std::string> openedAddresses_;
};

// Loading machine files. On failure `machine` is null and `error` says what
// is wrong and where.
struct LoadResult {
  std::shared_ptr<SimMachine> machine;
  std::string error;
};
LoadResult LoadMachineFile(const std::string& path);
LoadResult LoadMachineText(std::string_view text, const std::string& sourceName);
// The demo machine embedded in the programs (fixtures/demo.json).
std::string_view DemoMachineJson();

// Factories of the drive kinds and of the machine's components, each
// implemented in its own file.
std::shared_ptr<SimDrive> MakeSataDrive(SimMachine& machine, const Json& entry,
                                        const std::string& where);
std::shared_ptr<SimDrive> MakeNvmeDrive(SimMachine& machine, const Json& entry,
                                        const std::string& where);
std::unique_ptr<platform::DeviceTree> MakeSimDeviceTree(SimMachine& machine);
std::unique_ptr<platform::Com> MakeSimCom(SimMachine& machine);
std::unique_ptr<platform::Registry> MakeSimRegistry(SimMachine& machine);
struct SimProcessesAndWindows {
  std::unique_ptr<platform::Processes> processes;
  std::unique_ptr<platform::WindowMessages> windows;
};
SimProcessesAndWindows MakeSimProcesses(SimMachine& machine);
std::unique_ptr<platform::VolumeTrim> MakeSimVolumeTrim(SimMachine& machine);
std::unique_ptr<platform::DiskUses> MakeSimDiskUses(SimMachine& machine);

}  // namespace zel::sim
