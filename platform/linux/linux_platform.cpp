#include "platform/linux/linux_platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/host/host_net.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_open_address.h"
#include "platform/linux/registry_store.h"
#include "platform/linux/systemd.h"
#include "platform/text.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

class LinuxPlatform final : public Platform {
 public:
  explicit LinuxPlatform(const LinuxPlatformOptions& options)
      : machine_(std::make_shared<LinuxMachine>(options)),
        devices_(MakeLinuxDevices(machine_)),
        system_(MakeLinuxSystem(machine_)),
        tree_(MakeLinuxTree(machine_)),
        com_(MakeLinuxCom(machine_)),
        registry_(std::make_unique<RegistryStore>(
            options.registryPath.empty() ? DefaultRegistryDatabasePath() : options.registryPath,
            machine_->Files())),
        processes_(MakeLinuxProcesses(machine_)),
        files_(MakeLinuxFiles(machine_)),
        windows_(MakeLinuxWindows()),
        net_(host::MakeHostNet(OpenAddressWithDesktop)),
        services_(MakeSystemdServices()),
        volumeTrim_(MakeLinuxVolumeTrim(machine_)),
        uses_(MakeLinuxDiskUses(machine_)) {}

  DeviceIo& Devices() override { return *devices_; }
  System& Sys() override { return *system_; }
  DeviceTree& Tree() override { return *tree_; }
  Com& Wmi() override { return *com_; }
  Registry& Reg() override { return *registry_; }
  Processes& Procs() override { return *processes_; }
  platform::Files& Files() override { return *files_; }
  WindowMessages& Windows() override { return *windows_; }
  platform::Net& Net() override { return *net_; }
  platform::Services& Services() override { return *services_; }
  platform::VolumeTrim& VolumeTrim() override { return *volumeTrim_; }
  DiskUses& Uses() override { return *uses_; }
  const LinuxPlatformOptions& Options() const { return machine_->Options(); }

 private:
  std::shared_ptr<LinuxMachine> machine_;
  std::unique_ptr<DeviceIo> devices_;
  std::unique_ptr<System> system_;
  std::unique_ptr<DeviceTree> tree_;
  std::unique_ptr<Com> com_;
  std::unique_ptr<Registry> registry_;
  std::unique_ptr<Processes> processes_;
  std::unique_ptr<platform::Files> files_;
  std::unique_ptr<WindowMessages> windows_;
  std::unique_ptr<platform::Net> net_;
  std::unique_ptr<platform::Services> services_;
  std::unique_ptr<platform::VolumeTrim> volumeTrim_;
  std::unique_ptr<DiskUses> uses_;
};

const char* BusOf(const LinuxDisk& d) { return d.bus == DiskBus::Nvme ? "nvme" : d.BusName(); }

}  // namespace

template <typename T, typename Scan>
T LinuxMachine::KeptOrFresh(Kept<T>& kept, const char* folder, Scan scan) const {
  // Not the kernel's count of device events: udev makes a "change" event
  // each time a device opened for writing is closed, so every drive command
  // would count as a change.
  std::vector<std::string> names = files_.List(folder);
  auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(scansMutex_);
  if (kept.value && kept.names == names && now - kept.madeAt < ScanLifetime) return *kept.value;
  kept.value = scan(kept.names = names);
  kept.madeAt = now;
  return *kept.value;
}

DiskScan LinuxMachine::Disks() const {
  return KeptOrFresh(disks_, "/sys/block", [this](const std::vector<std::string>& names) { return ScanDisks(files_, names); });
}

std::vector<StorageController> LinuxMachine::Controllers() const {
  return KeptOrFresh(controllers_, "/sys/bus/pci/devices", [this](const std::vector<std::string>& names) { return ScanControllers(files_, names); });
}

void LinuxMachine::ForgetScans() const {
  std::lock_guard<std::mutex> lock(scansMutex_);
  disks_.value.reset();
  controllers_.value.reset();
  volumes_.reset();
}

std::shared_ptr<const std::vector<VolumeInfo>> LinuxMachine::KeptVolumes(const std::string& key) const {
  std::lock_guard<std::mutex> lock(scansMutex_);
  return volumes_ && volumesKey_ == key ? volumes_ : nullptr;
}

void LinuxMachine::KeepVolumes(std::string key, std::shared_ptr<const std::vector<VolumeInfo>> volumes) const {
  std::lock_guard<std::mutex> lock(scansMutex_);
  volumesKey_ = std::move(key);
  volumes_ = std::move(volumes);
}

LinuxMachine::LinuxMachine(const LinuxPlatformOptions& options)
    : options_(options), files_(options.root) {}

const LinuxTransports& RealTransports() {
  static const LinuxTransports real{SendAtaCommand, SendScsiCommand, SendNvmeAdmin,
                                    TrimMountedFileSystem};
  return real;
}

ProcessCapabilities ReadCapabilities(const HostFiles& files) {
  ProcessCapabilities caps;
  std::string status = files.Read("/proc/self/status").value_or(std::string());
  size_t at = status.find("CapEff:");
  if (at == std::string::npos) return caps;
  unsigned long long bits = std::strtoull(status.c_str() + at + 7, nullptr, 16);
  caps.rawIo = (bits >> 17) & 1;
  caps.sysAdmin = (bits >> 21) & 1;
  return caps;
}

std::shared_ptr<Platform> MakeLinuxPlatform() { return MakeLinuxPlatform(LinuxPlatformOptions{}); }

std::shared_ptr<Platform> MakeLinuxPlatform(const LinuxPlatformOptions& options) {
  return std::make_shared<LinuxPlatform>(options);
}

const LinuxPlatformOptions* LinuxPlatformOptionsOf(Platform& platform) {
  auto* backend = dynamic_cast<LinuxPlatform*>(&platform);
  return backend ? &backend->Options() : nullptr;
}

std::vector<DiskSurveyEntry> SurveyDisks() { return SurveyDisks(LinuxPlatformOptions{}); }

std::vector<DiskSurveyEntry> SurveyDisks(const LinuxPlatformOptions& options) {
  HostFiles files(options.root);
  DiskScan scan = ScanDisks(files);
  ProcessCapabilities caps = ReadCapabilities(files);
  std::vector<DiskSurveyEntry> out;
  for (const LinuxDisk& d : scan.disks) {
    DiskSurveyEntry e;
    e.name = d.name;
    e.devNode = d.devNode;
    e.number = d.number;
    e.bus = BusOf(d);
    std::string path = files.Path(d.devNode);
    bool needsAdmin = d.bus == DiskBus::Nvme;
    if (d.bus == DiskBus::Usb) {
      e.reason = "it is attached by USB; the system sends no commands to USB disks";
    } else if (::faccessat(AT_FDCWD, path.c_str(), F_OK, AT_EACCESS) != 0) {
      e.reason = "its device node " + d.devNode + " does not exist";
    } else if (::faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
      e.reason = "this user may not open " + d.devNode +
                 " for reading and writing; drive commands need root";
    } else if (needsAdmin ? !caps.sysAdmin : !caps.rawIo) {
      e.reason = std::string("this process lacks ") + (needsAdmin ? "CAP_SYS_ADMIN" : "CAP_SYS_RAWIO") +
                 ", which the kernel asks for " + (needsAdmin ? "NVMe admin" : "ATA pass-through") +
                 " commands; run as root";
    } else {
      e.usable = true;
    }
    out.push_back(std::move(e));
  }
  for (const LeftOutDevice& l : scan.leftOut) {
    DiskSurveyEntry e;
    e.name = l.name;
    e.devNode = "/dev/" + l.name;
    e.kind = l.kind;
    e.reason = l.reason;
    out.push_back(std::move(e));
  }
  return out;
}

std::vector<std::string> SurveyReport(const std::vector<DiskSurveyEntry>& survey,
                                      const std::string& traceLogPath) {
  const std::string traceLog =
      traceLogPath.empty() ? std::string("the trace log") : "the trace log " + traceLogPath;
  std::vector<std::string> lines;
  std::vector<std::string> virtualNames;
  for (const DiskSurveyEntry& e : survey) {
    if (e.number >= 0) {
      lines.push_back(e.devNode + " (disk " + std::to_string(e.number) + "): " +
                      (e.usable ? "it can be sent commands, but did not answer as a SATA or NVMe drive (" +
                                      traceLog + " has each request)"
                                : e.reason));
    } else if (e.kind == "virtual" || e.kind == "hidden") {
      virtualNames.push_back(e.name);
    } else {
      lines.push_back(e.devNode + ": " + e.reason);
    }
  }
  if (!virtualNames.empty()) {
    std::string names;
    for (size_t i = 0; i < virtualNames.size() && i < 6; ++i) names += (i ? ", " : "") + virtualNames[i];
    if (virtualNames.size() > 6) names += ", ...";
    lines.push_back(std::to_string(virtualNames.size()) + " virtual block device" +
                    (virtualNames.size() == 1 ? "" : "s") + " (" + names + "): not drives");
  }
  if (survey.empty()) lines.push_back("/sys/block shows no block devices at all");
  return lines;
}

}  // namespace zel::linuxbackend
