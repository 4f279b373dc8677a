// Inside the Linux backend: the management-instrumentation objects of the
// machine (linux_wmi.cpp).
#pragma once

#include <memory>
#include <string>

#include "platform/linux/disks.h"
#include "platform/linux/host_files.h"
#include "platform/wql/object_model.h"

namespace zel::linuxbackend {

class LinuxMachine;

// The objects as the machine is now: system, processors, memory modules,
// board and BIOS, storage controllers, disks with their controller
// associations, lettered volumes. Each class is read from the machine when
// the model is first asked for it (the model keeps `machine` for that).
std::shared_ptr<wql::ObjectModel> BuildLinuxObjectModel(std::shared_ptr<const LinuxMachine> machine);

// The model a disk is shown with (Win32_DiskDrive.Model): a SATA disk's whole
// model text from the kernel's copy of its IDENTIFY page where root may read
// it, else the SCSI inquiry's; "<vendor> <product> USB Device" for USB disks.
std::string DiskModelText(const HostFiles& files, const LinuxDisk& disk);

}  // namespace zel::linuxbackend
