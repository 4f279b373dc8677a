// Management instrumentation of the real machine: the objects the system's
// queries ask for, built from sysfs, procfs, the DMI and SMBIOS tables and
// the mount table afresh for every connection, each class when a query of
// the connection first needs it, and served through the WQL engine.
#include <sys/statvfs.h>
#include <sys/utsname.h>

#include "platform/linux/inventory_sources.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_wmi.h"
#include "platform/text.h"
#include "platform/wql/model_com.h"
#include "platform/wql/storage_objects.h"
#include "platform/wql/system_objects.h"

namespace zel::linuxbackend {

using namespace zel::platform;
using wql::Object;
using wql::ObjectModel;

namespace {

Variant TextOrNull(const std::string& text) {
  return text.empty() ? Variant::Null() : Variant::Bstr(text);
}

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
  std::optional<std::string> page =
      d.identifyPageRead ? d.identifyPage : files.Read("/sys/block/" + d.name + "/device/vpd_pg89");
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

std::string ComputerNameOf(const HostFiles& files) {
  std::string hostname = files.Attribute("/proc/sys/kernel/hostname");
  return ToUpperAscii(hostname.empty() ? std::string("localhost") : hostname);
}

std::string Machine(const HostFiles& files) {
  std::string arch = files.Attribute("/proc/sys/kernel/arch");
  if (!arch.empty()) return arch;
  struct utsname u {};
  return ::uname(&u) == 0 ? std::string(u.machine) : std::string();
}

// The system objects of one class, each read from its own sources only when
// a query asks for that class: the SMBIOS table (most of a megabyte on some
// machines) is read for memory modules alone.
wql::SystemInventory SystemInventoryFor(const LinuxMachine& machine, std::string_view className) {
  const HostFiles& files = machine.Files();
  auto is = [&](const char* name) { return EqualsNoCaseAscii(className, name); };
  wql::SystemInventory s;
  s.computerName = ComputerNameOf(files);
  s.addressWidth = AddressWidthOfMachine(Machine(files));
  if (is("Win32_OperatingSystem")) {
    s.osCaption = OsNameFromOsRelease(files.Read("/etc/os-release").value_or(
        files.Read("/usr/lib/os-release").value_or(std::string())));
    std::string rootDevice;
    for (const VolumeInfo& v : ListVolumes(machine, machine.Disks()))
      if (v.mountPoint == "/") rootDevice = v.placement ? "/dev/" + v.placement->diskName : std::string();
    // The platform's form: product name, "|", system folder, "|", boot device.
    s.osName = s.osCaption + "|/|" + rootDevice;
    s.osVersion = files.Attribute("/proc/sys/kernel/osrelease");
  }
  if (is("Win32_Processor")) {
    CpuInfo cpu = ParseCpuInfo(files.Read("/proc/cpuinfo").value_or(std::string()));
    s.processorCount = static_cast<int>(cpu.packages);
    s.processor.name = cpu.modelName;
    s.processor.manufacturer = cpu.vendor;
    if (cpu.packages) s.processor.logicalProcessors = static_cast<int32_t>(cpu.logicalProcessors / cpu.packages);
    if (cpu.mhz) s.processor.clockMhz = static_cast<int32_t>(cpu.mhz);
  }
  if (is("Win32_ComputerSystem") || is("Win32_BaseBoard") || is("Win32_BIOS")) {
    DmiInfo dmi = ReadDmi(files);
    if (is("Win32_ComputerSystem")) {
      std::optional<uint64_t> memory = TotalMemoryBytes(files.Read("/proc/meminfo").value_or(std::string()));
      s.totalMemory = memory ? Variant::Bstr(std::to_string(*memory)) : Variant::Null();
    }
    s.systemManufacturer = TextOrNull(dmi.systemVendor);
    s.systemModel = TextOrNull(dmi.productName);
    s.boardManufacturer = TextOrNull(dmi.boardVendor);
    s.boardProduct = TextOrNull(dmi.boardName);
    s.biosName = dmi.biosVersion.empty() ? std::string("BIOS") : dmi.biosVersion;
    s.biosVersion = TextOrNull(dmi.biosVersion);
    s.biosManufacturer = TextOrNull(dmi.biosVendor);
  }
  // Memory modules need the SMBIOS table, which only root may read; without
  // it there are none to list.
  if (is("Win32_PhysicalMemory"))
    if (std::optional<std::string> smbios = files.Read("/sys/firmware/dmi/tables/DMI")) {
      for (const MemoryModule& mod : ParseSmbiosMemory(std::span<const uint8_t>(
               reinterpret_cast<const uint8_t*>(smbios->data()), smbios->size())))
        s.modules.push_back({Variant::Bstr(mod.deviceLocator), Variant::Bstr(mod.bankLabel),
                             Variant::Bstr(mod.manufacturer), Variant::Bstr(std::to_string(mod.capacityBytes)),
                             Variant::I4(static_cast<int32_t>(mod.speed)), Variant::I4(0),
                             Variant::Bstr(mod.partNumber), Variant::I4(static_cast<int32_t>(mod.memoryType)),
                             Variant::Bstr(mod.serialNumber)});
    }
  return s;
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
                                         const std::vector<StorageController>& controllers,
                                         const std::string& kernelRelease) {
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
  disk.driverVersion = kernelRelease;
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

std::shared_ptr<ObjectModel> BuildLinuxObjectModel(std::shared_ptr<const LinuxMachine> machine) {
  auto model = std::make_shared<ObjectModel>(ComputerNameOf(machine->Files()));
  // Every class is known from the start (a query of a class without
  // instances answers with none); the instances are made when first asked.
  wql::DeclareSystemClasses(*model);
  wql::DeclareStorageClasses(*model);
  for (const char* c : {"Win32_OperatingSystem", "Win32_Processor", "Win32_ComputerSystem", "Win32_BaseBoard",
                        "Win32_BIOS", "Win32_PhysicalMemory"})
    model->FillOnDemand({c}, [machine, c](ObjectModel& m) {
      wql::AddSystemObjectsOf(m, SystemInventoryFor(*machine, c), c);
    });
  // Controllers, disks, their entities, drivers and associations refer to
  // each other, so they are made together.
  model->FillOnDemand({"Win32_IDEController", "Win32_SCSIController", "Win32_PnPEntity", "Win32_PnPSignedDriver",
                       "Win32_DiskDrive", "Win32_IDEControllerDevice", "Win32_SCSIControllerDevice",
                       "Win32_PnPDevice"},
                      [machine](ObjectModel& m) {
                        const HostFiles& files = machine->Files();
                        std::vector<StorageController> controllers = machine->Controllers();
                        wql::StorageInventory storage;
                        for (const StorageController& c : controllers)
                          storage.controllers.push_back(ControllerObjectsOf(c));
                        const std::string release = files.Attribute("/proc/sys/kernel/osrelease");
                        for (const LinuxDisk& d : machine->Disks().disks)
                          storage.disks.push_back(DiskObjectsOf(files, d, controllers, release));
                        wql::AddStorageDevices(m, storage);
                      });
  model->FillOnDemand({"Win32_LogicalDisk"}, [machine](ObjectModel& m) {
    std::vector<wql::StorageInventory::Volume> volumes;
    for (const VolumeInfo& v : ListVolumes(*machine, machine->Disks()))
      volumes.push_back(VolumeObjectsOf(machine->Files(), v));
    wql::AddVolumes(m, volumes);
  });
  return model;
}

std::unique_ptr<Com> MakeLinuxCom(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<wql::ModelCom>(
      wql::ModelProvider([machine] { return std::shared_ptr<const ObjectModel>(BuildLinuxObjectModel(machine)); }));
}

}  // namespace zel::linuxbackend
