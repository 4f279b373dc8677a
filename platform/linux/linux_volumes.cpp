// Lettered volumes of the real machine: the mounted file systems on block
// devices with the letters AssignDriveLetters gives them, placed on the
// numbered disks.
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"

namespace zel::linuxbackend {

std::vector<VolumeInfo> ListVolumes(const LinuxMachine& machine, const DiskScan& scan) {
  const HostFiles& files = machine.Files();
  // The mount table and the disks' names and numbers decide the volumes, so
  // while both are the same the last list is handed out again: one command
  // asks for the volumes several times, and each list reads sysfs for
  // every mounted device.
  std::string mountInfo = files.Read("/proc/self/mountinfo").value_or(std::string());
  std::string key = mountInfo;
  for (const LinuxDisk& d : scan.disks) key += "\n" + d.name + " " + std::to_string(d.number);
  if (auto kept = machine.KeptVolumes(key)) return *kept;
  std::vector<MountEntry> mounts = ParseMountInfo(mountInfo);
  std::vector<VolumeInfo> out;
  for (const LetteredVolume& lv : AssignDriveLetters(mounts, IsVolumeDevice, files)) {
    VolumeInfo v;
    v.letter = lv.letter;
    v.mountPoint = lv.mount.mountPoint;
    v.fileSystem = lv.fileSystemName;
    v.fsType = lv.mount.fsType;
    v.major = lv.mount.major;
    v.minor = lv.mount.minor;
    v.placement = PlaceBlockDevice(files, v.major, v.minor);
    if (v.placement) {
      if (const LinuxDisk* d = scan.ByName(v.placement->diskName)) v.diskNumber = d->number;
      v.optical = StartsWith(v.placement->diskName, "sr");
    }
    out.push_back(std::move(v));
  }
  machine.KeepVolumes(std::move(key), std::make_shared<const std::vector<VolumeInfo>>(out));
  return out;
}

std::optional<VolumeInfo> FindVolume(const LinuxMachine& machine, const DiskScan& scan, char letter) {
  for (VolumeInfo& v : ListVolumes(machine, scan))
    if (v.letter == letter) return v;
  return std::nullopt;
}

}  // namespace zel::linuxbackend
