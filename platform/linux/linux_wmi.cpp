// Management instrumentation of the real machine: the objects the system's
// queries ask for, built from sysfs, procfs, the DMI and SMBIOS tables and
// the mount table afresh for every connection, and served through the WQL
// engine.
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/linux/inventory_sources.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_wmi.h"
#include "platform/text.h"
#include "platform/wql/model_com.h"

namespace zel::linuxbackend {

using namespace zel::platform;
using wql::Object;
using wql::ObjectModel;

namespace {

constexpr const char* kDiskClassGuid = "{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const char* kHdcClassGuid = "{4d36e96a-e325-11ce-bfc1-08002be10318}";
constexpr const char* kScsiAdapterClassGuid = "{4d36e97b-e325-11ce-bfc1-08002be10318}";

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

void Declare(ObjectModel& m) {
  for (const char* c : {"Win32_DiskDrive", "Win32_LogicalDisk", "Win32_PnPEntity", "Win32_IDEController",
                        "Win32_SCSIController", "Win32_PnPSignedDriver", "Win32_Processor"})
    m.DeclareClass(c, "DeviceID");
  m.DeclareClass("Win32_OperatingSystem", "Name");
  m.DeclareClass("Win32_ComputerSystem", "Name");
  m.DeclareClass("Win32_BaseBoard", "Tag");
  m.DeclareClass("Win32_BIOS", "Name");
  m.DeclareClass("Win32_PhysicalMemory", "Tag");
  m.DeclareAssociation("Win32_IDEControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_SCSIControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_PnPDevice", {"SameElement", "SystemElement"});
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

const char* ControllerClass(const StorageController& c) {
  return c.IsIdeClass() ? "Win32_IDEController" : "Win32_SCSIController";
}

void AddControllers(ObjectModel& m, const std::vector<StorageController>& controllers) {
  for (const StorageController& c : controllers) {
    bool ide = c.IsIdeClass();
    Object ctl(ControllerClass(c));
    ctl.Set("Name", Variant::Bstr(c.name));
    ctl.Set("Caption", Variant::Bstr(c.name));
    ctl.Set("Description", Variant::Bstr(c.name));
    ctl.Set("DeviceID", Variant::Bstr(c.instanceId));
    ctl.Set("PNPDeviceID", Variant::Bstr(c.instanceId));
    ctl.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(ctl));

    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(c.instanceId));
    entity.Set("PNPDeviceID", Variant::Bstr(c.instanceId));
    entity.Set("Name", Variant::Bstr(c.name));
    entity.Set("Caption", Variant::Bstr(c.name));
    entity.Set("HardwareID", Variant::BstrArray(c.hardwareIds));
    entity.Set("PNPClass", Variant::Bstr(ide ? "HDC" : "SCSIAdapter"));
    entity.Set("ClassGuid", Variant::Bstr(ide ? kHdcClassGuid : kScsiAdapterClassGuid));
    entity.Set("Service", TextOrNull(c.driver));
    entity.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(entity));

    Object same("Win32_PnPDevice");
    same.Set("SameElement", Variant::Bstr(m.PathOf("Win32_PnPEntity", c.instanceId)));
    same.Set("SystemElement", Variant::Bstr(m.PathOf(ControllerClass(c), c.instanceId)));
    m.Add(std::move(same));

    // A function without a bound driver has no signed-driver object.
    if (!c.driver.empty()) {
      Object driver("Win32_PnPSignedDriver");
      driver.Set("DeviceID", Variant::Bstr(c.instanceId));
      driver.Set("DeviceName", Variant::Bstr(c.name));
      driver.Set("DriverProviderName", Variant::Bstr("Linux"));
      driver.Set("DriverVersion", Variant::Bstr(c.driverVersion));
      driver.Set("DriverName", Variant::Bstr(c.driver));
      driver.Set("HardWareID", Variant::Bstr(c.hardwareIds.front()));
      driver.Set("DeviceClass", Variant::Bstr(ide ? "HDC" : "SCSIADAPTER"));
      m.Add(std::move(driver));
    }
  }
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

void AddDisks(ObjectModel& m, const HostFiles& files, const DiskScan& scan,
              const std::vector<StorageController>& controllers) {
  for (const LinuxDisk& d : scan.disks) {
    std::string model = DiskModelText(files, d), serial = d.serial, firmware = d.revision;
    if (d.bus == DiskBus::Ata) {
      if (std::optional<AtaIdentity> id = ReadAtaIdentity(files, d)) {
        serial = id->serial;
        firmware = id->firmware;
      }
    }
    std::string deviceId = Format("\\\\.\\PHYSICALDRIVE%d", d.number);
    Object disk("Win32_DiskDrive");
    disk.Set("Index", Variant::I4(d.number));
    disk.Set("DeviceID", Variant::Bstr(deviceId));
    disk.Set("InterfaceType", Variant::Bstr(d.InterfaceType()));
    disk.Set("Model", Variant::Bstr(model));
    disk.Set("Caption", Variant::Bstr(model));
    disk.Set("Size", Variant::Bstr(std::to_string(d.sizeBytes)));
    disk.Set("PNPDeviceID", Variant::Bstr(d.pnpDeviceId));
    disk.Set("SerialNumber", Variant::Bstr(serial));
    disk.Set("FirmwareRevision", Variant::Bstr(firmware));
    disk.Set("MediaType", Variant::Bstr(d.bus == DiskBus::Usb || d.removable ? "External hard disk media"
                                                                             : "Fixed hard disk media"));
    disk.Set("BytesPerSector", Variant::I4(static_cast<int32_t>(d.logicalBlockSize)));
    disk.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(disk));

    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(d.pnpDeviceId));
    entity.Set("PNPDeviceID", Variant::Bstr(d.pnpDeviceId));
    entity.Set("Name", Variant::Bstr(model));
    entity.Set("Caption", Variant::Bstr(model));
    size_t cut = d.pnpDeviceId.rfind('\\');
    entity.Set("HardwareID", Variant::BstrArray({d.pnpDeviceId.substr(0, cut), "GenDisk"}));
    entity.Set("PNPClass", Variant::Bstr("DiskDrive"));
    entity.Set("ClassGuid", Variant::Bstr(kDiskClassGuid));
    entity.Set("Service", Variant::Bstr(d.bus == DiskBus::Nvme ? "nvme" : "sd"));
    entity.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(entity));

    Object same("Win32_PnPDevice");
    same.Set("SameElement", Variant::Bstr(m.PathOf("Win32_PnPEntity", d.pnpDeviceId)));
    same.Set("SystemElement", Variant::Bstr(m.PathOf("Win32_DiskDrive", deviceId)));
    m.Add(std::move(same));

    Object driver("Win32_PnPSignedDriver");
    driver.Set("DeviceID", Variant::Bstr(d.pnpDeviceId));
    driver.Set("DeviceName", Variant::Bstr(model));
    driver.Set("DriverProviderName", Variant::Bstr("Linux"));
    driver.Set("DriverVersion", Variant::Bstr(files.Attribute("/proc/sys/kernel/osrelease")));
    driver.Set("DeviceClass", Variant::Bstr("DISKDRIVE"));
    m.Add(std::move(driver));

    // The controller behind the disk, when it is a storage controller (a USB
    // disk's host controller is none).
    for (const StorageController& c : controllers) {
      if (c.address != d.pciAddress) continue;
      Object link(c.IsIdeClass() ? "Win32_IDEControllerDevice" : "Win32_SCSIControllerDevice");
      link.Set("Antecedent", Variant::Bstr(m.PathOf(ControllerClass(c), c.instanceId)));
      link.Set("Dependent", Variant::Bstr(m.PathOf("Win32_PnPEntity", d.pnpDeviceId)));
      m.Add(std::move(link));
    }
  }
}

void AddVolumes(ObjectModel& m, const HostFiles& files, const std::vector<VolumeInfo>& volumes) {
  for (const VolumeInfo& v : volumes) {
    std::string name = std::string(1, v.letter) + ":";
    struct statvfs st {};
    bool sized = ::statvfs(files.Path(v.mountPoint).c_str(), &st) == 0;
    Object o("Win32_LogicalDisk");
    o.Set("DeviceID", Variant::Bstr(name));
    o.Set("Name", Variant::Bstr(name));
    o.Set("Caption", Variant::Bstr(name));
    o.Set("DriveType", Variant::I4(v.optical ? 5 : 3));
    o.Set("Description", Variant::Bstr(v.optical ? "CD-ROM Disc" : "Local Fixed Disk"));
    o.Set("FileSystem", Variant::Bstr(v.fileSystem));
    o.Set("Size", sized ? Variant::Bstr(std::to_string(uint64_t{st.f_blocks} * st.f_frsize)) : Variant::Null());
    // What the user may still fill, as the platform reports a volume's free space.
    o.Set("FreeSpace", sized ? Variant::Bstr(std::to_string(uint64_t{st.f_bavail} * st.f_frsize))
                             : Variant::Null());
    o.Set("VolumeName", Variant::Bstr(""));
    o.Set("MountPoint", Variant::Bstr(v.mountPoint));
    m.Add(std::move(o));
  }
}

}  // namespace

std::shared_ptr<ObjectModel> BuildLinuxObjectModel(const LinuxMachine& machine) {
  const HostFiles& files = machine.Files();
  DiskScan scan = machine.Disks();
  std::vector<StorageController> controllers = machine.Controllers();
  std::vector<VolumeInfo> volumes = ListVolumes(machine, scan);
  auto model = std::make_shared<ObjectModel>();
  Declare(*model);
  AddSystem(*model, files, volumes);
  AddControllers(*model, controllers);
  AddDisks(*model, files, scan, controllers);
  AddVolumes(*model, files, volumes);
  return model;
}

std::unique_ptr<Com> MakeLinuxCom(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<wql::ModelCom>(
      wql::ModelProvider([machine] { return std::shared_ptr<const ObjectModel>(BuildLinuxObjectModel(*machine)); }));
}

}  // namespace zel::linuxbackend
