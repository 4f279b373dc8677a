// The uses of a real disk that no drive letter shows: active swap on it
// (/proc/swaps), file systems on it mounted without a letter (the mount
// table), and block devices built on it (its and its partitions' holders in
// sysfs: device-mapper, software RAID, LVM).
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "platform/linux/inventory_sources.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"

namespace zel::linuxbackend {

namespace {

using platform::DiskUse;
using platform::DiskUseKind;

class LinuxDiskUses final : public platform::DiskUses {
 public:
  explicit LinuxDiskUses(std::shared_ptr<LinuxMachine> machine) : machine_(std::move(machine)) {}

  std::vector<DiskUse> UnletteredUses(int32_t diskNumber) override {
    const DiskScan scan = machine_->Disks();
    const LinuxDisk* disk = scan.ByNumber(diskNumber);
    if (!disk) return {};
    std::vector<DiskUse> uses;
    Swaps(*disk, uses);
    Mounts(*disk, uses);
    Holders(*disk, uses);
    return uses;
  }

 private:
  // Whether block device major:minor is the disk or lies on it (through
  // partitions, device-mapper or RAID volumes on one device).
  bool OnDisk(const LinuxDisk& disk, uint32_t major, uint32_t minor) const {
    if (major == disk.devMajor && minor == disk.devMinor) return true;
    auto placed = PlaceBlockDevice(machine_->Files(), major, minor);
    return placed && placed->diskName == disk.name;
  }

  // The disk's partitions by kernel name ("sda2").
  std::vector<std::string> PartitionNames(const LinuxDisk& disk) const {
    std::vector<std::string> out;
    const HostFiles& files = machine_->Files();
    for (const std::string& name : files.List(disk.sysPath))
      if (files.Exists(disk.sysPath + "/" + name + "/partition")) out.push_back(name);
    return out;
  }

  void Swaps(const LinuxDisk& disk, std::vector<DiskUse>& uses) const {
    std::istringstream in(machine_->Files().Read("/proc/swaps").value_or(std::string()));
    const std::vector<std::string> partitions = PartitionNames(disk);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string name, type;
      if (!(words >> name >> type)) continue;
      const std::string base = BaseName(name);
      bool onDisk = type == "partition" && StartsWith(name, "/dev/") &&
                    (base == disk.name ||
                     std::find(partitions.begin(), partitions.end(), base) != partitions.end());
      struct stat st {};
      if (!onDisk && ::stat(machine_->DevicePath(name).c_str(), &st) == 0) {
        // A swap device (a volume built on the disk) or a swap file on one
        // of the disk's file systems.
        dev_t dev = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
        onDisk = OnDisk(disk, major(dev), minor(dev));
      }
      if (onDisk) uses.push_back({DiskUseKind::Swap, name});
    }
  }

  void Mounts(const LinuxDisk& disk, std::vector<DiskUse>& uses) const {
    const HostFiles& files = machine_->Files();
    const std::vector<MountEntry> mounts =
        ParseMountInfo(files.Read("/proc/self/mountinfo").value_or(std::string()));
    const std::vector<LetteredVolume> lettered = AssignDriveLetters(mounts, IsVolumeDevice, files);
    for (const MountEntry& m : mounts) {
      if (m.major == 0) continue;  // memory and network file systems
      const bool hasLetter = std::any_of(lettered.begin(), lettered.end(), [&](const LetteredVolume& v) {
        return v.mount.major == m.major && v.mount.minor == m.minor && v.mount.mountPoint == m.mountPoint;
      });
      if (hasLetter || !OnDisk(disk, m.major, m.minor)) continue;
      uses.push_back({DiskUseKind::Mount, m.mountPoint});
    }
  }

  void Holders(const LinuxDisk& disk, std::vector<DiskUse>& uses) const {
    const HostFiles& files = machine_->Files();
    std::vector<std::string> places = {disk.sysPath};
    for (const std::string& p : PartitionNames(disk)) places.push_back(disk.sysPath + "/" + p);
    for (const std::string& place : places)
      for (const std::string& holder : files.List(place + "/holders"))
        if (std::none_of(uses.begin(), uses.end(), [&](const DiskUse& u) {
              return u.kind == DiskUseKind::Holder && u.what == holder;
            }))
          uses.push_back({DiskUseKind::Holder, holder});
  }

  std::shared_ptr<LinuxMachine> machine_;
};

}  // namespace

std::unique_ptr<platform::DiskUses> MakeLinuxDiskUses(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxDiskUses>(std::move(machine));
}

}  // namespace zel::linuxbackend
