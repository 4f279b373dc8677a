#include "platform/wql/storage_objects.h"

#include "platform/format.h"

namespace zel::wql {

using namespace zel::platform;

namespace {

// Device setup classes of the entities.
constexpr const char* kDiskClassGuid = "{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const char* kHdcClassGuid = "{4d36e96a-e325-11ce-bfc1-08002be10318}";
constexpr const char* kScsiAdapterClassGuid = "{4d36e97b-e325-11ce-bfc1-08002be10318}";

using Controller = StorageInventory::Controller;
using Disk = StorageInventory::Disk;
using Volume = StorageInventory::Volume;

const char* ControllerClass(const Controller& c) {
  return c.scsi ? "Win32_SCSIController" : "Win32_IDEController";
}
const char* ControllerAssociation(const Controller& c) {
  return c.scsi ? "Win32_SCSIControllerDevice" : "Win32_IDEControllerDevice";
}

Variant TextOrNull(const std::optional<std::string>& text) {
  return text ? Variant::Bstr(*text) : Variant::Null();
}
Variant NumberTextOrNull(const std::optional<uint64_t>& number) {
  return number ? Variant::Bstr(std::to_string(*number)) : Variant::Null();
}

// An entity and the Win32_PnPDevice that ties it to the object of its class.
void AddSameElement(ObjectModel& m, const std::string& entityId, const char* systemClass,
                    const std::string& systemId) {
  Object same("Win32_PnPDevice");
  same.Set("SameElement", Variant::Bstr(m.PathOf("Win32_PnPEntity", entityId)));
  same.Set("SystemElement", Variant::Bstr(m.PathOf(systemClass, systemId)));
  m.Add(std::move(same));
}

void AddController(ObjectModel& m, const Controller& c) {
  Object ctl(ControllerClass(c));
  ctl.Set("Name", Variant::Bstr(c.name));
  ctl.Set("Caption", Variant::Bstr(c.name));
  ctl.Set("Description", Variant::Bstr(c.name));
  ctl.Set("DeviceID", Variant::Bstr(c.deviceId));
  ctl.Set("PNPDeviceID", Variant::Bstr(c.deviceId));
  if (c.manufacturer) ctl.Set("Manufacturer", Variant::Bstr(*c.manufacturer));
  ctl.Set("Status", Variant::Bstr("OK"));
  m.Add(std::move(ctl));

  Object entity("Win32_PnPEntity");
  entity.Set("DeviceID", Variant::Bstr(c.deviceId));
  entity.Set("PNPDeviceID", Variant::Bstr(c.deviceId));
  entity.Set("Name", Variant::Bstr(c.name));
  entity.Set("Caption", Variant::Bstr(c.name));
  entity.Set("HardwareID", Variant::BstrArray(c.hardwareIds));
  entity.Set("PNPClass", Variant::Bstr(c.scsi ? "SCSIAdapter" : "HDC"));
  entity.Set("ClassGuid", Variant::Bstr(c.scsi ? kScsiAdapterClassGuid : kHdcClassGuid));
  if (c.service) entity.Set("Service", c.service->empty() ? Variant::Null() : Variant::Bstr(*c.service));
  entity.Set("Status", Variant::Bstr("OK"));
  m.Add(std::move(entity));

  AddSameElement(m, c.deviceId, ControllerClass(c), c.deviceId);

  if (c.driver) {
    Object driver("Win32_PnPSignedDriver");
    driver.Set("DeviceID", Variant::Bstr(c.deviceId));
    driver.Set("DeviceName", Variant::Bstr(c.name));
    driver.Set("DriverProviderName", Variant::Bstr(c.driver->provider));
    driver.Set("DriverVersion", Variant::Bstr(c.driver->version));
    if (c.driver->name) driver.Set("DriverName", Variant::Bstr(*c.driver->name));
    driver.Set("HardWareID", Variant::Bstr(c.driver->hardwareId));
    driver.Set("DeviceClass", Variant::Bstr(c.scsi ? "SCSIADAPTER" : "HDC"));
    m.Add(std::move(driver));
  }
}

void AddDisk(ObjectModel& m, const Disk& d, const std::vector<Controller>& controllers) {
  std::string deviceId = DiskDriveDeviceId(d.index);
  if (d.listed) {
    Object disk("Win32_DiskDrive");
    disk.Set("Index", Variant::I4(d.index));
    disk.Set("DeviceID", Variant::Bstr(deviceId));
    disk.Set("InterfaceType", Variant::Bstr(d.interfaceType));
    disk.Set("Model", Variant::Bstr(d.model));
    disk.Set("Caption", Variant::Bstr(d.model));
    disk.Set("Size", Variant::Bstr(std::to_string(d.sizeBytes)));
    disk.Set("PNPDeviceID", Variant::Bstr(d.pnpDeviceId));
    disk.Set("SerialNumber", Variant::Bstr(d.serial));
    disk.Set("FirmwareRevision", Variant::Bstr(d.firmware));
    disk.Set("MediaType", Variant::Bstr(d.external ? "External hard disk media" : "Fixed hard disk media"));
    disk.Set("BytesPerSector", Variant::I4(d.bytesPerSector));
    disk.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(disk));
  }

  const std::string& pnp = d.pnpDeviceId;
  Object entity("Win32_PnPEntity");
  entity.Set("DeviceID", Variant::Bstr(pnp));
  entity.Set("PNPDeviceID", Variant::Bstr(pnp));
  entity.Set("Name", Variant::Bstr(d.model));
  entity.Set("Caption", Variant::Bstr(d.model));
  // The device's identifier without its instance part, then the generic one.
  entity.Set("HardwareID", Variant::BstrArray({pnp.substr(0, pnp.rfind('\\')), "GenDisk"}));
  entity.Set("PNPClass", Variant::Bstr("DiskDrive"));
  entity.Set("ClassGuid", Variant::Bstr(kDiskClassGuid));
  if (d.manufacturer) entity.Set("Manufacturer", Variant::Bstr(*d.manufacturer));
  entity.Set("Service", Variant::Bstr(d.service));
  entity.Set("Status", Variant::Bstr("OK"));
  m.Add(std::move(entity));

  if (d.listed) AddSameElement(m, pnp, "Win32_DiskDrive", deviceId);

  Object driver("Win32_PnPSignedDriver");
  driver.Set("DeviceID", Variant::Bstr(pnp));
  driver.Set("DeviceName", Variant::Bstr(d.model));
  driver.Set("DriverProviderName", Variant::Bstr(d.driverProvider));
  driver.Set("DriverVersion", Variant::Bstr(d.driverVersion));
  driver.Set("DeviceClass", Variant::Bstr("DISKDRIVE"));
  m.Add(std::move(driver));

  if (d.controller >= 0 && static_cast<size_t>(d.controller) < controllers.size()) {
    const Controller& c = controllers[static_cast<size_t>(d.controller)];
    Object link(ControllerAssociation(c));
    link.Set("Antecedent", Variant::Bstr(m.PathOf(ControllerClass(c), c.deviceId)));
    link.Set("Dependent", Variant::Bstr(m.PathOf("Win32_PnPEntity", pnp)));
    m.Add(std::move(link));
  }
}

void AddVolume(ObjectModel& m, const Volume& v) {
  std::string name = std::string(1, v.letter) + ":";
  Object o("Win32_LogicalDisk");
  o.Set("DeviceID", Variant::Bstr(name));
  o.Set("Name", Variant::Bstr(name));
  o.Set("Caption", Variant::Bstr(name));
  o.Set("DriveType", Variant::I4(v.optical ? 5 : 3));
  o.Set("Description", Variant::Bstr(v.optical ? "CD-ROM Disc" : "Local Fixed Disk"));
  o.Set("FileSystem", TextOrNull(v.fileSystem));
  o.Set("Size", NumberTextOrNull(v.sizeBytes));
  o.Set("FreeSpace", NumberTextOrNull(v.freeBytes));
  o.Set("VolumeName", Variant::Bstr(v.label));
  if (v.mountPoint) o.Set("MountPoint", Variant::Bstr(*v.mountPoint));
  m.Add(std::move(o));
}

}  // namespace

void DeclareStorageClasses(ObjectModel& m) {
  for (const char* c : {"Win32_DiskDrive", "Win32_LogicalDisk", "Win32_PnPEntity", "Win32_IDEController",
                        "Win32_SCSIController", "Win32_PnPSignedDriver"})
    m.DeclareClass(c, "DeviceID");
  m.DeclareAssociation("Win32_IDEControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_SCSIControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_PnPDevice", {"SameElement", "SystemElement"});
}

void AddStorageDevices(ObjectModel& m, const StorageInventory& inventory) {
  for (const Controller& c : inventory.controllers) AddController(m, c);
  for (const Disk& d : inventory.disks) AddDisk(m, d, inventory.controllers);
}

void AddVolumes(ObjectModel& m, const std::vector<StorageInventory::Volume>& volumes) {
  for (const Volume& v : volumes) AddVolume(m, v);
}

void AddStorageObjects(ObjectModel& m, const StorageInventory& inventory) {
  DeclareStorageClasses(m);
  AddStorageDevices(m, inventory);
  AddVolumes(m, inventory.volumes);
}

std::string DiskDriveDeviceId(int32_t index) { return Format("\\\\.\\PHYSICALDRIVE%d", index); }

}  // namespace zel::wql
