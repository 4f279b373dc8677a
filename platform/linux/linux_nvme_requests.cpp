// The NVMe request forms carried out as NVMe admin commands on the
// controller: the protocol-specific storage query and the "NvmeMini"
// miniport pass-through (long and short); the vendor tunnel as SG_IO where
// the disk is a SCSI disk; the SCSI address of a disk.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/linux/errors_linux.h"
#include "platform/linux/linux_ata_requests.h"
#include "platform/linux/linux_machine.h"
#include "platform/wire/nvme.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

// Admin commands that only read: the miniport pass-through carries these
// and nothing that could change the drive.
bool IsReadOnlyAdmin(uint8_t opcode) {
  return opcode == kNvmeGetLogPage || opcode == kNvmeIdentify || opcode == 0x0A /*Get Features*/;
}

}  // namespace

bool NvmeStorageQuery(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using Q = wire::StorageProtocolQuery;
  using P = wire::StorageProtocolSpecificData;
  if (r.in.size() < Q::kAdditionalParameters) return FailWith(ERROR_INVALID_PARAMETER);
  uint32_t property = GetLE32(r.in.data() + Q::kPropertyId);
  if (property != wire::StorageAdapterProtocolSpecificProperty &&
      property != wire::StorageDeviceProtocolSpecificProperty)
    return FailWith(ERROR_INVALID_FUNCTION);
  if (device.kind != OpenDevice::Disk || device.disk.bus != DiskBus::Nvme || device.fd < 0)
    return FailWith(ERROR_INVALID_FUNCTION);  // no NVMe protocol behind a SATA or SCSI disk
  if (r.in.size() < Q::kDataOffset) return FailWith(ERROR_INVALID_PARAMETER);
  Q q = Q::Decode(r.in.data());
  const P& pd = q.Protocol;
  if (q.QueryType != wire::PropertyStandardQuery) return FailWith(ERROR_INVALID_PARAMETER);
  if (pd.ProtocolType != wire::ProtocolTypeNvme) return FailWith(ERROR_NOT_SUPPORTED);
  NvmeAdminCommand c;
  uint32_t pageSize = 0;
  if (pd.DataType == wire::NVMeDataTypeIdentify) {
    c.opcode = kNvmeIdentify;
    c.cdw10 = pd.ProtocolDataRequestValue;  // CNS
    c.nsid = pd.ProtocolDataRequestSubValue;
    pageSize = 4096;
  } else if (pd.DataType == wire::NVMeDataTypeLogPage) {
    c.opcode = kNvmeGetLogPage;
    c.nsid = pd.ProtocolDataRequestSubValue;
    // The health and firmware-slot logs are one 512-byte page whatever room
    // the caller gives; other logs take the room given, up to a page.
    uint32_t log = pd.ProtocolDataRequestValue & 0xFF;
    pageSize = (log == 0x02 || log == 0x03) ? 512 : std::min<uint32_t>(pd.ProtocolDataLength, 4096);
    if (pageSize < 4 || pageSize % 4) return FailWith(ERROR_INVALID_PARAMETER);
    c.cdw10 = (pd.ProtocolDataRequestValue & 0xFF) | ((pageSize / 4 - 1) << 16);
  } else {
    return FailWith(ERROR_NOT_SUPPORTED);
  }
  uint64_t dataStart = uint64_t{Q::kAdditionalParameters} + pd.ProtocolDataOffset;
  if (pd.ProtocolDataOffset < P::kSize || pd.ProtocolDataLength < pageSize)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (dataStart + pageSize > r.out.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> page(pageSize, 0);
  c.timeoutMs = 30000;
  NvmeAdminResult res = machine.Transports().nvme(device.fd, c, page.data(), pageSize);
  if (!res.ok) return FailWith(res.error);
  std::fill(r.out.begin(), r.out.end(), 0);
  std::copy(page.begin(), page.end(), r.out.begin() + static_cast<long>(dataStart));
  wire::StorageProtocolDataDescriptor d;
  d.Protocol = pd;
  d.Protocol.ProtocolDataLength = pageSize;
  d.Protocol.FixedProtocolReturnData = res.result;
  d.Encode(r.out.data());
  *r.returned = static_cast<uint32_t>(dataStart + pageSize);
  return true;
}

// IOCTL_STORAGE_PROTOCOL_COMMAND: one NVMe admin command to the disk's
// controller. Only commands that read, and Device Self-test (which runs the
// drive's own diagnostics and changes no data), are carried; a command the
// controller refuses completes the request with the error status and the
// NVMe status in the header, as the platform's driver reports it.
bool NvmeProtocolCommand(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using C = wire::StorageProtocolCommand;
  if (device.kind != OpenDevice::Disk || device.disk.bus != DiskBus::Nvme || device.fd < 0)
    return FailWith(ERROR_INVALID_FUNCTION);
  if (r.in.size() < C::kErrorInfoAt) return FailWith(ERROR_INVALID_PARAMETER);
  C c = C::Decode(r.in.data());
  if (c.Version != wire::STORAGE_PROTOCOL_STRUCTURE_VERSION || c.Length != C::kStructureLength ||
      c.CommandLength != wire::NvmeCommand::kSize ||
      c.CommandSpecific != wire::STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (c.ProtocolType != wire::ProtocolTypeNvme) return FailWith(ERROR_NOT_SUPPORTED);
  if (r.out.size() < r.in.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  const uint8_t opcode = c.Command.Opcode;
  if (!IsReadOnlyAdmin(opcode) && opcode != wire::NVME_ADMIN_COMMAND_DEVICE_SELF_TEST)
    return FailWith(ERROR_INVALID_FUNCTION);
  if (c.DataToDeviceTransferLength != 0) return FailWith(ERROR_INVALID_PARAMETER);
  const uint32_t length = c.DataFromDeviceTransferLength;
  if (length > (1u << 20) ||
      (length && (c.DataFromDeviceBufferOffset < C::kErrorInfoAt ||
                  uint64_t{c.DataFromDeviceBufferOffset} + length > r.in.size())))
    return FailWith(ERROR_INVALID_PARAMETER);
  if (opcode == wire::NVME_ADMIN_COMMAND_DEVICE_SELF_TEST && length != 0)
    return FailWith(ERROR_INVALID_PARAMETER);
  NvmeAdminCommand a;
  a.opcode = opcode;
  a.nsid = c.Command.Nsid;
  a.cdw10 = c.Command.Cdw10;
  a.cdw11 = c.Command.Cdw11;
  a.cdw12 = c.Command.Cdw12;
  a.cdw13 = c.Command.Cdw13;
  a.cdw14 = c.Command.Cdw14;
  a.cdw15 = c.Command.Cdw15;
  a.timeoutMs = std::min<uint32_t>(c.TimeOutValue ? c.TimeOutValue : 30, 4000000u) * 1000u;
  if (opcode == kNvmeGetLogPage && (((a.cdw10 >> 16) & 0x7FF) + 1) * 4 > length)
    return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> data(std::max<uint32_t>(length, opcode == kNvmeIdentify ? 4096 : 0), 0);
  if (opcode == kNvmeIdentify && length < 4096) return FailWith(ERROR_INVALID_PARAMETER);
  NvmeAdminResult res = machine.Transports().nvme(device.fd, a, data.empty() ? nullptr : data.data(),
                                                  static_cast<uint32_t>(data.size()));
  if (!res.ok && res.status == 0) return FailWith(res.error);
  std::copy(r.in.begin(), r.in.end(), r.out.begin());
  if (res.ok && length)
    std::copy(data.begin(), data.begin() + length,
              r.out.begin() + static_cast<long>(c.DataFromDeviceBufferOffset));
  PutLE32(r.out.data() + C::kReturnStatus,
          res.ok ? wire::STORAGE_PROTOCOL_STATUS_SUCCESS : wire::STORAGE_PROTOCOL_STATUS_ERROR);
  PutLE32(r.out.data() + C::kErrorCode, res.ok ? 0 : res.status);
  PutLE32(r.out.data() + C::kFixedProtocolReturnData, res.result);
  *r.returned = static_cast<uint32_t>(r.in.size());
  return true;
}

bool NvmeMiniport(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using B = wire::NvmePassThroughIoctl;
  using H = wire::SrbIoControl;
  H srb;
  if (uint32_t error = wire::CheckNvmeMiniportHeader(r.in.data(), r.in.size(), r.out.size(), &srb))
    return FailWith(error);
  // The miniport pass-through reaches NVMe controllers only.
  if (device.kind != OpenDevice::Adapter || device.disk.bus != DiskBus::Nvme || device.fd < 0)
    return FailWith(ERROR_INVALID_FUNCTION);
  if (r.in.size() < B::kDataBuffer) return FailWith(ERROR_INVALID_PARAMETER);
  B b = B::Decode(r.in.data());
  if (b.DataBufferLength > 1 || b.Direction != wire::NVME_FROM_DEV_TO_HOST || b.QueueId != 0 ||
      b.MetaDataLength != 0)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (!IsReadOnlyAdmin(b.Command.Opcode)) return FailWith(ERROR_INVALID_FUNCTION);
  const uint32_t block = static_cast<uint32_t>(std::min(r.in.size(), r.out.size()));
  // The long form reads the whole data area; the short variant one 512-byte block.
  uint32_t dataArea = block - B::kDataBuffer;
  if (b.DataBufferLength == 1) dataArea = std::min<uint32_t>(dataArea, 512);
  if (dataArea == 0 || dataArea > (1u << 20)) return FailWith(ERROR_INVALID_PARAMETER);
  NvmeAdminCommand c;
  c.opcode = b.Command.Opcode;
  c.nsid = b.Command.Nsid;
  c.cdw10 = b.Command.Cdw10;
  c.cdw11 = b.Command.Cdw11;
  c.cdw12 = b.Command.Cdw12;
  c.cdw13 = b.Command.Cdw13;
  c.cdw14 = b.Command.Cdw14;
  c.cdw15 = b.Command.Cdw15;
  c.timeoutMs = std::min<uint32_t>(srb.Timeout, 4000000u) * 1000u;
  // A Get Log Page transfers what its dword count asks for; a larger data
  // area is allowed, a smaller one is not.
  uint32_t transfer = dataArea;
  if (c.opcode == kNvmeGetLogPage) {
    uint32_t asked = (((c.cdw10 >> 16) & 0x7FF) + 1) * 4;
    if (asked > dataArea) return FailWith(ERROR_INVALID_PARAMETER);
    transfer = asked;
  } else if (c.opcode == kNvmeIdentify) {
    transfer = std::min<uint32_t>(dataArea, 4096);
  }
  std::vector<uint8_t> page(std::max<uint32_t>(transfer, 4096), 0);
  NvmeAdminResult res = machine.Transports().nvme(device.fd, c, page.data(),
                                                  c.opcode == kNvmeIdentify ? 4096 : transfer);
  if (!res.ok) return FailWith(res.error);
  std::vector<uint8_t> sys(block, 0);
  std::copy(r.in.begin(), r.in.begin() + block, sys.begin());
  std::fill(sys.begin() + B::kDataBuffer, sys.end(), 0);
  std::copy(page.begin(), page.begin() + std::min(transfer, dataArea), sys.begin() + B::kDataBuffer);
  wire::NvmeCompletion done;
  done.Dw0 = res.result;
  done.Encode(sys.data() + B::kCompletion);
  PutLE32(sys.data() + H::kReturnCode, 0);
  std::copy(sys.begin(), sys.end(), r.out.begin());
  *r.returned = block;
  return true;
}

bool ScsiPassThroughRequest(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using S = wire::ScsiPassThrough;
  // SCSI commands reach SCSI disks (SATA disks through the kernel's SCSI
  // translation); an NVMe namespace takes none.
  if (device.kind != OpenDevice::Disk || device.disk.bus == DiskBus::Nvme || device.fd < 0)
    return FailWith(ERROR_INVALID_FUNCTION);
  S s;
  if (uint32_t error = wire::CheckScsiPassThrough(r.in.data(), r.in.size(), r.out.size(), &s))
    return FailWith(error);
  std::vector<uint8_t> sys(std::max(r.in.size(), r.out.size()), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  int direction = s.DataTransferLength == 0 ? 0
                  : s.DataIn == wire::SCSI_IOCTL_DATA_IN ? 1
                  : s.DataIn == wire::SCSI_IOCTL_DATA_OUT ? 2
                                                          : 0;
  if (s.DataTransferLength && direction == 0) return FailWith(ERROR_INVALID_PARAMETER);
  uint8_t sense[255] = {};
  uint32_t senseLength = 0;
  SgCompletion c = machine.Transports().scsi(
      device.fd, std::span<const uint8_t>(s.Cdb, s.CdbLength), direction,
      s.DataTransferLength ? sys.data() + s.DataBufferOffset : nullptr, s.DataTransferLength,
      std::min<uint32_t>(s.TimeOutValue, 4000000u) * 1000u,
      std::span<uint8_t>(sense, std::max<uint32_t>(s.SenseInfoLength, 1)), &senseLength);
  if (c.ioctlErrno) return FailWith(ErrorFromErrno(c.ioctlErrno));
  if (c.hostStatus != 0) return FailWith(c.hostStatus == 3 ? ERROR_SEM_TIMEOUT : ERROR_IO_DEVICE);
  // Like the platform, a command the device refuses completes the request
  // with its status and sense data; the caller reads them.
  uint32_t moved = s.DataTransferLength - std::min(s.DataTransferLength, c.resid);
  s.ScsiStatus = c.scsiStatus;
  s.SenseInfoLength = static_cast<uint8_t>(std::min<uint32_t>(senseLength, s.SenseInfoLength));
  if (s.SenseInfoLength) std::memcpy(sys.data() + s.SenseInfoOffset, sense, s.SenseInfoLength);
  s.DataTransferLength = moved;
  s.Encode(sys.data());
  uint64_t end = S::kSize;
  if (s.SenseInfoLength) end = std::max(end, uint64_t{s.SenseInfoOffset} + s.SenseInfoLength);
  if (direction == 1 && moved) end = std::max(end, uint64_t{s.DataBufferOffset} + moved);
  end = std::min<uint64_t>(end, r.out.size());
  std::copy(sys.begin(), sys.begin() + static_cast<long>(end), r.out.begin());
  *r.returned = static_cast<uint32_t>(end);
  return true;
}

bool ScsiGetAddress(const OpenDevice& device, ControlRequest& r) {
  if (device.kind != OpenDevice::Disk) return FailWith(ERROR_INVALID_FUNCTION);
  if (r.out.size() < wire::ScsiAddress::kSize) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  const LinuxDisk& d = device.disk;
  wire::ScsiAddress a;
  a.PortNumber = static_cast<uint8_t>(d.portNumber);
  if (d.bus == DiskBus::Nvme) {
    a.Lun = static_cast<uint8_t>(d.nsid > 0 ? d.nsid - 1 : 0);
  } else {
    a.PathId = static_cast<uint8_t>(d.scsiChannel);
    a.TargetId = static_cast<uint8_t>(d.scsiTarget);
    a.Lun = static_cast<uint8_t>(d.scsiLun);
  }
  a.Encode(r.out.data());
  *r.returned = wire::ScsiAddress::kSize;
  return true;
}

}  // namespace zel::linuxbackend
