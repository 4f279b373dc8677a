// The management-instrumentation objects of the storage inventory, built the
// same way for every backend from neutral descriptions of the machine's
// controllers, disks and volumes.
//
// The system's queries (the disk table, the controller inventory, a disk's
// controller and class code, the volumes) walk these objects by their object
// paths and read their properties with fixed variant types, so one builder
// makes them for all backends:
//
//   Win32_IDEController / Win32_SCSIController   each controller
//   Win32_DiskDrive                              each listed disk
//   Win32_PnPEntity                              each controller and disk, with HardwareID
//   Win32_PnPDevice                              entity to its controller or disk object
//   Win32_PnPSignedDriver                        each controller with a driver, each disk
//   Win32_IDEControllerDevice /
//   Win32_SCSIControllerDevice                   controller (Antecedent) to disk entity (Dependent)
//   Win32_LogicalDisk                            each lettered volume
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wql/object_model.h"

namespace zel::wql {

struct StorageInventory {
  // A storage controller; its PnP instance identifier keys the controller,
  // its entity and its signed driver.
  struct Controller {
    std::string deviceId;                  // "PCI\VEN_8086&DEV_A102&...\3&11583659&0&B8"
    std::string name;                      // Name, Caption and Description
    bool scsi = false;                     // SCSI, RAID, NVMe: Win32_SCSIController; IDE, AHCI: Win32_IDEController
    std::vector<std::string> hardwareIds;  // the entity's HardwareID; "...&CC_010601" gives the class code
    std::optional<std::string> manufacturer;  // the controller's Manufacturer, when the platform names one
    // The driver service bound to the function, as the entity's Service:
    // nothing leaves the property out, an empty text is VT_NULL.
    std::optional<std::string> service;
    struct Driver {
      std::string provider, version;
      std::optional<std::string> name;     // DriverName, when the platform gives one
      std::string hardwareId;              // HardWareID
    };
    std::optional<Driver> driver;          // the Win32_PnPSignedDriver; nothing for none
  };

  struct Disk {
    int32_t index = 0;                     // disk number: Index, DeviceID "\\.\PHYSICALDRIVEn"
    std::string pnpDeviceId;               // keys the disk's entity and signed driver
    std::string interfaceType;             // "IDE", "SCSI", "USB"
    std::string model, serial, firmware;
    uint64_t sizeBytes = 0;
    int32_t bytesPerSector = 512;
    bool external = false;                 // MediaType "External hard disk media"
    // Whether the disk has a Win32_DiskDrive object (and the entity's link
    // to it); a disk left out of the disk table is still a device on its
    // controller.
    bool listed = true;
    std::optional<std::string> manufacturer;  // the entity's Manufacturer
    std::string service;                   // the entity's Service ("disk")
    std::string driverProvider, driverVersion;
    int controller = -1;                   // index into `controllers`; -1 for none
  };

  struct Volume {
    char letter = 'C';
    bool optical = false;                  // DriveType 5 "CD-ROM Disc", else 3 "Local Fixed Disk"
    std::optional<std::string> fileSystem; // nothing: VT_NULL
    std::optional<uint64_t> sizeBytes, freeBytes;  // nothing: VT_NULL
    std::string label;                     // VolumeName
    std::optional<std::string> mountPoint; // MountPoint, where the platform mounts volumes in folders
  };

  std::vector<Controller> controllers;
  std::vector<Disk> disks;
  std::vector<Volume> volumes;
};

// Declares the storage classes with the key properties of their object paths
// (so that a class without instances answers with no objects rather than as
// unknown) and adds the objects of `inventory`: the controllers first, then
// each disk with its entity, signed driver and controller association, then
// the volumes.
void AddStorageObjects(ObjectModel& model, const StorageInventory& inventory);

// The parts of it, for a backend that fills classes when first asked: the
// declarations alone; the controllers and disks with their entities, drivers
// and associations (all the classes but Win32_LogicalDisk, which refer to
// each other); the volumes.
void DeclareStorageClasses(ObjectModel& model);
void AddStorageDevices(ObjectModel& model, const StorageInventory& inventory);
void AddVolumes(ObjectModel& model, const std::vector<StorageInventory::Volume>& volumes);

// The DeviceID a disk has in Win32_DiskDrive: "\\.\PHYSICALDRIVEn".
std::string DiskDriveDeviceId(int32_t index);

}  // namespace zel::wql
