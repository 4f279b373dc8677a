// Management instrumentation of the real machine: the objects the system's
// queries ask for, built from sysfs, procfs, the DMI and SMBIOS tables and
// the mount table afresh for every connection, and served through the WQL
// engine.
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include "platform/linux/inventory_sources.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_wmi.h"
#include "platform/text.h"
#include "platform/wql/model_com.h"
#include "platform/wql/storage_objects.h"

namespace zel::linuxbackend {

using namespace zel::platform;
using wql::Object;
using wql::ObjectModel;

namespace {

Variant TextOrNull(const std::string& text) { return text.empty() ? Variant::Null() : Variant::Bstr(text); }

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

// The drive's own IDENTIFY page as the kernel keeps it (the ATA
// information VPD page, readable by root): the whole model text, which the
// SCSI inquiry data cuts at 16 characters.
struct AtaIdentity {
  std::string model, serial, firmware;
};
std::optional<AtaIdentity> ReadAtaIdentity(const HostFiles& files, const LinuxDisk& d) {
  std::optional<std::string> page = files.Read("/sys/block/" + d.name + "/device/vpd_pg89");
  if (!page || page->size() < 60 + 512) return std::nullopt;
  const uint8_t* id = reinterpret_cast<const uint8_t*>(page->data()) + 60;
  auto text = [&](int word, int words) {
    std::string s;
    for (int w = word; w < word + words; ++w) {
      s += static_cast<char>(id[2 * w + 1]);
      s += static_cast<char>(id[2 * w]);
    }
    return Trim(s);
  };
  return AtaIdentity{text(27, 20), text(10, 10), text(23, 4)};
}

std::string Machine(const HostFiles& files) {
  std::string arch = files.Attribute("/proc/sys/kernel/arch");
  if (!arch.empty()) return arch;
  struct utsname u {};
  return ::uname(&u) == 0 ? std::string(u.machine) : std::string();
}

void AddSystem(ObjectModel& m, const HostFiles& files, const std::vector<VolumeInfo>& volumes) {
  std::string hostname = files.Attribute("/proc/sys/kernel/hostname");
  if (hostname.empty()) hostname = "localhost";
  m.SetComputerName(ToUpperAscii(hostname));
  int32_t width = AddressWidthOfMachine(Machine(files));
  std::string osName = OsNameFromOsRelease(files.Read("/etc/os-release").value_or(
      files.Read("/usr/lib/os-release").value_or(std::string())));
  std::string rootDevice;
  for (const VolumeInfo& v : volumes)
    if (v.mountPoint == "/") rootDevice = v.placement ? "/dev/" + v.placement->diskName : std::string();
  {
    Object o("Win32_OperatingSystem");
    // The platform's form: product name, "|", system folder, "|", boot device.
    o.Set("Name", Variant::Bstr(osName + "|/|" + rootDevice));
    o.Set("Caption", Variant::Bstr(osName));
    o.Set("Version", Variant::Bstr(files.Attribute("/proc/sys/kernel/osrelease")));
    o.Set("OSArchitecture", Variant::Bstr(width == 64 ? "64-bit" : "32-bit"));
    o.Set("CSName", Variant::Bstr(ToUpperAscii(hostname)));
    m.Add(std::move(o));
  }
  CpuInfo cpu = ParseCpuInfo(files.Read("/proc/cpuinfo").value_or(std::string()));
  for (uint32_t i = 0; i < cpu.packages; ++i) {
    Object o("Win32_Processor");
    o.Set("DeviceID", Variant::Bstr("CPU" + std::to_string(i)));
    o.Set("Name", Variant::Bstr(cpu.modelName));
    o.Set("AddressWidth", Variant::I4(width));
    o.Set("DataWidth", Variant::I4(width));
    o.Set("Manufacturer", Variant::Bstr(cpu.vendor));
    o.Set("NumberOfLogicalProcessors", Variant::I4(static_cast<int32_t>(cpu.logicalProcessors / cpu.packages)));
    if (cpu.mhz) o.Set("CurrentClockSpeed", Variant::I4(static_cast<int32_t>(cpu.mhz)));
    m.Add(std::move(o));
  }
  DmiInfo dmi = ReadDmi(files);
  std::optional<uint64_t> memory = TotalMemoryBytes(files.Read("/proc/meminfo").value_or(std::string()));
  {
    Object o("Win32_ComputerSystem");
    o.Set("Name", Variant::Bstr(ToUpperAscii(hostname)));
    o.Set("TotalPhysicalMemory", memory ? Variant::Bstr(std::to_string(*memory)) : Variant::Null());
    o.Set("Manufacturer", TextOrNull(dmi.systemVendor));
    o.Set("Model", TextOrNull(dmi.productName));
    o.Set("SystemType", Variant::Bstr(width == 64 ? "x64-based PC" : "X86-based PC"));
    m.Add(std::move(o));
  }
  {
    Object o("Win32_BaseBoard");
    o.Set("Tag", Variant::Bstr("Base Board"));
    o.Set("Manufacturer", TextOrNull(dmi.boardVendor));
    o.Set("Product", TextOrNull(dmi.boardName));
    m.Add(std::move(o));
  }
  {
    Object o("Win32_BIOS");
    o.Set("Name", Variant::Bstr(dmi.biosVersion.empty() ? std::string("BIOS") : dmi.biosVersion));
    o.Set("SMBIOSBIOSVersion", TextOrNull(dmi.biosVersion));
    o.Set("Manufacturer", TextOrNull(dmi.biosVendor));
    o.Set("Version", TextOrNull(dmi.biosVersion));
    m.Add(std::move(o));
  }
  // Memory modules need the SMBIOS table, which only root may read; without
  // it there are none to list.
  std::optional<std::string> smbios = files.Read("/sys/firmware/dmi/tables/DMI");
  if (smbios) {
    std::vector<MemoryModule> modules = ParseSmbiosMemory(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(smbios->data()), smbios->size()));
    for (size_t i = 0; i < modules.size(); ++i) {
      const MemoryModule& mod = modules[i];
      Object o("Win32_PhysicalMemory");
      o.Set("Tag", Variant::Bstr("Physical Memory " + std::to_string(i)));
      o.Set("DeviceLocator", Variant::Bstr(mod.deviceLocator));
      o.Set("BankLabel", Variant::Bstr(mod.bankLabel));
      o.Set("Manufacturer", Variant::Bstr(mod.manufacturer));
      o.Set("Capacity", Variant::Bstr(std::to_string(mod.capacityBytes)));
      o.Set("Speed", Variant::I4(static_cast<int32_t>(mod.speed)));
      o.Set("MemoryType", Variant::I4(0));
      o.Set("SMBIOSMemoryType", Variant::I4(static_cast<int32_t>(mod.memoryType)));
      o.Set("PartNumber", Variant::Bstr(mod.partNumber));
      o.Set("SerialNumber", Variant::Bstr(mod.serialNumber));
      m.Add(std::move(o));
    }
  }
}

wql::StorageInventory::Controller ControllerObjectsOf(const StorageController& c) {
  wql::StorageInventory::Controller ctl;
  ctl.deviceId = c.instanceId;
  ctl.name = c.name;
  ctl.scsi = !c.IsIdeClass();
  ctl.hardwareIds = c.hardwareIds;
  ctl.service = c.driver;
  // A function without a bound driver has no signed-driver object.
  if (!c.driver.empty()) ctl.driver = {"Linux", c.driverVersion, c.driver, c.hardwareIds.front()};
  return ctl;
}

}  // namespace

std::string DiskModelText(const HostFiles& files, const LinuxDisk& d) {
  if (d.bus == DiskBus::Ata) {
    std::optional<AtaIdentity> id = ReadAtaIdentity(files, d);
    if (id && !id->model.empty()) return id->model;
  } else if (d.bus == DiskBus::Usb) {
    return Trim(d.vendor + " " + d.model) + " USB Device";
  }
  return d.model;
}

namespace {

wql::StorageInventory::Disk DiskObjectsOf(const HostFiles& files, const LinuxDisk& d,
                                         const std::vector<StorageController>& controllers) {
  wql::StorageInventory::Disk disk;
  disk.index = d.number;
  disk.pnpDeviceId = d.pnpDeviceId;
  disk.interfaceType = d.InterfaceType();
  disk.model = DiskModelText(files, d);
  disk.serial = d.serial;
  disk.firmware = d.revision;
  if (d.bus == DiskBus::Ata) {
    if (std::optional<AtaIdentity> id = ReadAtaIdentity(files, d)) {
      disk.serial = id->serial;
      disk.firmware = id->firmware;
    }
  }
  disk.sizeBytes = d.sizeBytes;
  disk.bytesPerSector = static_cast<int32_t>(d.logicalBlockSize);
  disk.external = d.bus == DiskBus::Usb || d.removable;
  disk.service = d.bus == DiskBus::Nvme ? "nvme" : "sd";
  disk.driverProvider = "Linux";
  disk.driverVersion = files.Attribute("/proc/sys/kernel/osrelease");
  // The controller behind the disk, when it is a storage controller (a USB
  // disk's host controller is none).
  for (size_t i = 0; i < controllers.size(); ++i)
    if (controllers[i].address == d.pciAddress) {
      disk.controller = static_cast<int>(i);
      break;
    }
  return disk;
}

wql::StorageInventory::Volume VolumeObjectsOf(const HostFiles& files, const VolumeInfo& v) {
  wql::StorageInventory::Volume volume;
  volume.letter = v.letter;
  volume.optical = v.optical;
  volume.fileSystem = v.fileSystem;
  struct statvfs st {};
  if (::statvfs(files.Path(v.mountPoint).c_str(), &st) == 0) {
    volume.sizeBytes = uint64_t{st.f_blocks} * st.f_frsize;
    // What the user may still fill, as the platform reports a volume's free space.
    volume.freeBytes = uint64_t{st.f_bavail} * st.f_frsize;
  }
  volume.mountPoint = v.mountPoint;
  return volume;
}

}  // namespace

std::shared_ptr<ObjectModel> BuildLinuxObjectModel(const LinuxMachine& machine) {
  const HostFiles& files = machine.Files();
  DiskScan scan = machine.Disks();
  std::vector<StorageController> controllers = machine.Controllers();
  std::vector<VolumeInfo> volumes = ListVolumes(machine, scan);
  auto model = std::make_shared<ObjectModel>();
  wql::DeclareInventoryClasses(*model);
  AddSystem(*model, files, volumes);
  wql::StorageInventory storage;
  for (const StorageController& c : controllers) storage.controllers.push_back(ControllerObjectsOf(c));
  for (const LinuxDisk& d : scan.disks) storage.disks.push_back(DiskObjectsOf(files, d, controllers));
  for (const VolumeInfo& v : volumes) storage.volumes.push_back(VolumeObjectsOf(files, v));
  wql::AddStorageObjects(*model, storage);
  return model;
}

std::unique_ptr<Com> MakeLinuxCom(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<wql::ModelCom>(
      wql::ModelProvider([machine] { return std::shared_ptr<const ObjectModel>(BuildLinuxObjectModel(*machine)); }));
}

}  // namespace zel::linuxbackend
