// The three ways the backend reaches a drive: an ATA command through SG_IO,
// any SCSI command through SG_IO, an NVMe admin command through the NVMe
// pass-through. The real ones talk to the kernel; tests put their own in
// (a replaying transport that checks the command and gives the answer), so
// the request handling above them is tested byte for byte without a drive.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/linux/ata_passthrough.h"
#include "platform/linux/nvme_admin.h"

namespace zel::linuxbackend {

struct LinuxTransports {
  // Same contract as SendAtaCommand.
  std::function<AtaOutcome(int fd, const AtaRequest& request, uint8_t* data, uint32_t timeoutMs,
                           uint32_t* transferred)>
      ata;
  // Same contract as SendScsiCommand.
  std::function<SgCompletion(int fd, std::span<const uint8_t> cdb, int direction, uint8_t* data,
                             uint32_t dataLength, uint32_t timeoutMs, std::span<uint8_t> sense,
                             uint32_t* senseLength)>
      scsi;
  // Same contract as SendNvmeAdmin.
  std::function<NvmeAdminResult(int fd, const NvmeAdminCommand& command, uint8_t* data,
                                uint32_t dataLength)>
      nvme;
  // Same contract as TrimMountedFileSystem. Empty in a test's transports:
  // asking a file system to trim is then refused.
  std::function<int(int fd, uint64_t* bytesTrimmed)> fitrim;
};

// Asks the file system of the open folder `fd` to trim all of its free space
// (FITRIM over the whole range, as fstrim does); `*bytesTrimmed` gets what
// the file system reports. 0, or the errno of the refusal.
int TrimMountedFileSystem(int fd, uint64_t* bytesTrimmed);

// The kernel's own.
const LinuxTransports& RealTransports();

}  // namespace zel::linuxbackend
