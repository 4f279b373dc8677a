// Inside the Linux backend: the ATA and NVMe request forms, one function per
// form (linux_ata_requests.cpp, linux_nvme_requests.cpp).
#pragma once

#include "platform/linux/linux_devices.h"

namespace zel::linuxbackend {

class LinuxMachine;

bool AtaBuffered(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool AtaDirect(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool AtaLegacy(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool SmartReceive(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool SmartSend(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);

bool NvmeStorageQuery(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool NvmeMiniport(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool NvmeProtocolCommand(const LinuxMachine& machine, const OpenDevice& device,
                         ControlRequest& request);
bool ScsiPassThroughRequest(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request);
bool ScsiGetAddress(const OpenDevice& device, ControlRequest& request);

}  // namespace zel::linuxbackend
