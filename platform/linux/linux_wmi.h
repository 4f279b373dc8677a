// Inside the Linux backend: the management-instrumentation objects of the
// machine (linux_wmi.cpp).
#pragma once

#include <memory>

#include "platform/wql/object_model.h"

namespace zel::linuxbackend {

class LinuxMachine;

// The objects as the machine is now: system, processors, memory modules,
// board and BIOS, storage controllers, disks with their controller
// associations, lettered volumes.
std::shared_ptr<wql::ObjectModel> BuildLinuxObjectModel(const LinuxMachine& machine);

}  // namespace zel::linuxbackend
