// The NVMe request forms: the platform's protocol-specific storage query,
// the community miniport driver's pass-through ("NvmeMini") in its long and
// short variants, and the vendor tunnel through SCSI security-protocol
// commands. Every attempt opens its device, sends and closes again.
#include "device/nvme_paths.h"

#include <cstring>
#include <vector>

#include "device/ata_command_internal.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/wire/nvme.h"

namespace zel {

using namespace zel::platform;

namespace {

constexpr uint32_t kIdentifyPageSize = 4096;
constexpr uint32_t kHealthLogSize = 512;

// --- platform query ----------------------------------------------------------

struct PlatformQueryForm {
  const char* name;           // "Windows10NVMeIdentify"
  const char* qualifiedName;  // "ATACommand::Windows10NVMeIdentify"
  uint32_t dataType;
  uint32_t requestValue;
  uint32_t requestSubValue;
  uint32_t copySize;
};

constexpr PlatformQueryForm kPlatformIdentify = {
    "Windows10NVMeIdentify", "ATACommand::Windows10NVMeIdentify", wire::NVMeDataTypeIdentify,
    wire::NVME_IDENTIFY_CNS_CONTROLLER, 0, kIdentifyPageSize};
constexpr PlatformQueryForm kPlatformHealthLog = {
    "Windows10NVMeSMART", "ATACommand::Windows10NVMeSMART", wire::NVMeDataTypeLogPage,
    wire::NVME_LOG_PAGE_HEALTH_INFO, wire::NVME_NAMESPACE_ALL, kHealthLogSize};

uint32_t SendPlatformQuery(const PlatformQueryForm& form, const std::string& devicePath,
                           uint8_t* buffer) {
  using Q = wire::StorageProtocolQuery;
  LogEnter(form.qualifiedName);
  HANDLE h = Devices().CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    LogTraceF("%s CreateFile() failed!\n", form.name);
    return 0;
  }

  std::vector<uint8_t> block(Q::kBlockSize, 0);
  Q query;
  query.PropertyId = wire::StorageAdapterProtocolSpecificProperty;
  query.QueryType = wire::PropertyStandardQuery;
  query.Protocol.ProtocolType = wire::ProtocolTypeNvme;
  query.Protocol.DataType = form.dataType;
  query.Protocol.ProtocolDataRequestValue = form.requestValue;
  query.Protocol.ProtocolDataRequestSubValue = form.requestSubValue;
  query.Protocol.ProtocolDataOffset = Q::kProtocolDataOffset;
  query.Protocol.ProtocolDataLength = Q::kDataLength;
  query.Encode(block.data());

  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, block.data(), Q::kBlockSize,
                                      block.data(), Q::kBlockSize, &returned);
  // The error is taken before the handle is closed, so closing cannot hide it.
  uint32_t error = ok ? ERROR_SUCCESS : GetLastError();
  Devices().CloseHandle(h);

  if (!ok) {
    if (error == ERROR_INVALID_FUNCTION) {
      LogTraceF("%s failed : ERROR_INVALID_FUNCTION\n", form.name);
    } else {
      LogTraceF("%s failed : %d\n", form.name, static_cast<int>(error));
    }
    return 0;
  }
  std::memcpy(buffer, block.data() + Q::kDataOffset, form.copySize);
  LogExit(form.qualifiedName);
  return 1;
}

// --- miniport pass-through -----------------------------------------------------

struct MiniportForm {
  uint32_t blockSize;
  uint32_t timeoutSeconds;
  uint32_t dataOutLength;
  uint8_t opcode;
  uint32_t nsid;
  uint32_t cdw10;
  uint32_t copySize;
  bool needsData;  // the short variant: a reply of zeros does not count
};

constexpr MiniportForm kMiniportIdentify = {
    wire::NvmePassThroughIoctl::kIdentifyBlockSize, 1000, 0, wire::NVME_ADMIN_COMMAND_IDENTIFY,
    0, wire::NVME_IDENTIFY_CNS_CONTROLLER, kIdentifyPageSize, false};
constexpr MiniportForm kMiniportHealthLog = {
    wire::NvmePassThroughIoctl::kPageBlockSize, 1000, 0, wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE,
    wire::NVME_NAMESPACE_ALL, 0x007F0002u, kHealthLogSize, false};  // log 0x02, 128 dwords
constexpr MiniportForm kShortMiniportIdentify = {
    wire::NvmePassThroughIoctl::kPageBlockSize, 40, 1, wire::NVME_ADMIN_COMMAND_IDENTIFY,
    0, wire::NVME_IDENTIFY_CNS_CONTROLLER, 512, true};
constexpr MiniportForm kShortMiniportHealthLog = {
    wire::NvmePassThroughIoctl::kPageBlockSize, 40, 1, wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE,
    wire::NVME_NAMESPACE_ALL, 0x007F0002u, kHealthLogSize, true};

enum class Outcome { Ok, OpenFailed, RequestFailed, NoData };
struct MiniportResult {
  Outcome outcome = Outcome::OpenFailed;
  uint32_t error = 0;
};

MiniportResult SendMiniport(ATACommand& ata, const MiniportForm& form,
                            const std::string& devicePath, uint8_t* buffer) {
  using B = wire::NvmePassThroughIoctl;
  MiniportResult result;
  // Without the disk's port there is no adapter to open: the same outcome
  // as an adapter that cannot be opened, and nothing else is opened.
  std::string adapter;
  if (!ata.GetScsiPortName(devicePath, &adapter)) return result;
  HANDLE h = Devices().CreateFileW(adapter, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return result;

  std::vector<uint8_t> block(form.blockSize, 0);
  B request;
  request.Srb.HeaderLength = wire::SrbIoControl::kSize;
  request.Srb.SetSignature(wire::kNvmeMiniportSignature);
  request.Srb.Timeout = form.timeoutSeconds;
  request.Srb.ControlCode = wire::NVME_PASS_THROUGH_SRB_IO_CODE;
  request.Srb.Length = form.blockSize - wire::SrbIoControl::kSize;
  request.Command.Opcode = form.opcode;  // fused bits and command identifier stay 0
  request.Command.Nsid = form.nsid;
  request.Command.Cdw10 = form.cdw10;
  request.Direction = wire::NVME_FROM_DEV_TO_HOST;
  request.QueueId = 0;  // admin queue
  request.DataBufferLength = form.dataOutLength;
  request.MetaDataLength = 0;
  request.ReturnBufferLength = form.blockSize;
  request.Encode(block.data());

  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(h, IOCTL_SCSI_MINIPORT, block.data(), form.blockSize,
                                      block.data(), form.blockSize, &returned);
  result.error = ok ? ERROR_SUCCESS : GetLastError();
  Devices().CloseHandle(h);
  if (!ok) {
    result.outcome = Outcome::RequestFailed;
    return result;
  }
  if (form.needsData && AllZero(block.data() + B::kDataBuffer, 512)) {
    result.outcome = Outcome::NoData;
    return result;
  }
  std::memcpy(buffer, block.data() + B::kDataBuffer, form.copySize);
  result.outcome = Outcome::Ok;
  return result;
}

// The identify forms' lines around a miniport attempt; the long form also
// logs the PCI vendor identifier of the page it read.
uint32_t MiniportIdentify(ATACommand& ata, const MiniportForm& form, const char* name,
                          const char* qualifiedName, bool logVendorId,
                          const std::string& devicePath, uint8_t* buffer) {
  LogEnter(qualifiedName);
  std::vector<uint8_t> page(form.copySize, 0);
  MiniportResult r = SendMiniport(ata, form, devicePath, page.data());
  switch (r.outcome) {
    case Outcome::OpenFailed:
      LogTraceF("%s CreateFile() failed!\n", name);
      return 0;
    case Outcome::RequestFailed:
      if (r.error == ERROR_INVALID_FUNCTION) {
        LogTraceF("%s failed : ERROR_INVALID_FUNCTION\n", name);
      } else {
        LogTraceF("%s failed : %d\n", name, static_cast<int>(r.error));
      }
      return 0;
    case Outcome::NoData:
      return 0;
    case Outcome::Ok:
      break;
  }
  std::memcpy(buffer, page.data(), form.copySize);
  if (logVendorId)
    LogTraceF("IdentifyCommand_Controller: %02X%02X\n", page[0], page[1]);
  LogExit(qualifiedName);
  return 1;
}

uint32_t MiniportLogPage(ATACommand& ata, const MiniportForm& form, const std::string& devicePath,
                         uint8_t* buffer) {
  return SendMiniport(ata, form, devicePath, buffer).outcome == Outcome::Ok ? 1 : 0;
}

// --- vendor tunnel -------------------------------------------------------------

constexpr uint8_t kTunnelSendCdb[10] = {wire::SCSIOP_SECURITY_PROTOCOL_OUT, 0xFE, 0x00, 0x06, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x40};
constexpr uint8_t kTunnelReceiveCdb[10] = {wire::SCSIOP_SECURITY_PROTOCOL_IN, 0xFE, 0x00, 0x06,
                                           0x00, 0x00, 0x00, 0x00, 0x01, 0x00};

// The header of the tunnel block for one direction and CDB.
void EncodeTunnelHeader(uint8_t* block, uint8_t dataIn, const uint8_t (&cdb)[10]) {
  using T = wire::ScsiTunnelBlock;
  wire::ScsiPassThrough spt;
  spt.Length = wire::ScsiPassThrough::kSize;
  spt.PathId = spt.TargetId = spt.Lun = 0;
  spt.CdbLength = 16;
  spt.SenseInfoLength = T::kSenseSize;
  spt.DataIn = dataIn;
  spt.DataTransferLength = T::kDataSize;
  spt.TimeOutValue = 2;
  spt.DataBufferOffset = T::kDataOffset;
  spt.SenseInfoOffset = T::kSenseOffset;
  std::memcpy(spt.Cdb, cdb, sizeof cdb);
  spt.Encode(block);
}

}  // namespace

// --- ATACommand members --------------------------------------------------------

uint32_t ATACommand::Windows10NVMeIdentify(int32_t /*driveIndex*/, const std::string& devicePath,
                                           uint8_t* buffer) {
  return SendPlatformQuery(kPlatformIdentify, devicePath, buffer);
}

uint32_t ATACommand::Windows10NVMeSMART(int32_t /*driveIndex*/, const std::string& devicePath,
                                        uint8_t* buffer) {
  return SendPlatformQuery(kPlatformHealthLog, devicePath, buffer);
}

uint32_t ATACommand::IdentifyCommand_Controller(const std::string& devicePath, uint8_t* buffer) {
  return MiniportIdentify(*this, kMiniportIdentify, "IdentifyCommand_Controller",
                          "ATACommand::IdentifyCommand_Controller", true, devicePath, buffer);
}

uint32_t ATACommand::DoIdentifyDeviceNVMeIntel(const std::string& devicePath, uint8_t* buffer) {
  return MiniportIdentify(*this, kShortMiniportIdentify, "DoIdentifyDeviceNVMeIntel",
                          "ATACommand::DoIdentifyDeviceNVMeIntel", false, devicePath, buffer);
}

uint32_t ATACommand::GetLogPageCommand_SMART_Health(const std::string& devicePath,
                                                    uint8_t* buffer) {
  return MiniportLogPage(*this, kMiniportHealthLog, devicePath, buffer);
}

uint32_t ATACommand::DoGetLogPageNVMeIntel(const std::string& devicePath, uint8_t* buffer) {
  return MiniportLogPage(*this, kShortMiniportHealthLog, devicePath, buffer);
}

uint32_t ATACommand::DoGetLogPageNVMeSamsung(const std::string& devicePath, uint8_t* buffer) {
  using T = wire::ScsiTunnelBlock;
  HANDLE h = ata_detail::OpenByPath(devicePath);
  if (h == INVALID_HANDLE_VALUE) return 0;

  std::vector<uint8_t> block(T::kBlockSize, 0);
  uint8_t* data = block.data() + T::kDataOffset;
  uint32_t returned = 0;

  // Send: name the health log of every namespace.
  EncodeTunnelHeader(block.data(), wire::SCSI_IOCTL_DATA_OUT, kTunnelSendCdb);
  data[0] = 2;
  data[4] = data[5] = data[6] = data[7] = 0xFF;
  if (!Devices().DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, block.data(), T::kBlockSize,
                                 block.data(), T::kBlockSize, &returned)) {
    Devices().CloseHandle(h);
    return 0;
  }

  // Receive it.
  EncodeTunnelHeader(block.data(), wire::SCSI_IOCTL_DATA_IN, kTunnelReceiveCdb);
  data[0] = 0;
  if (!Devices().DeviceIoControl(h, IOCTL_SCSI_PASS_THROUGH, block.data(), T::kBlockSize,
                                 block.data(), T::kBlockSize, &returned)) {
    Devices().CloseHandle(h);
    return 0;
  }
  Devices().CloseHandle(h);

  // The data area still holds bytes 4-7 of the send half; a receive that the
  // disk refused (CHECK CONDITION) or that transferred nothing leaves them
  // there, so only a completed transfer counts, and then only when it holds
  // a non-zero byte.
  wire::ScsiPassThrough reply = wire::ScsiPassThrough::Decode(block.data());
  if (reply.ScsiStatus != wire::SCSISTAT_GOOD || reply.DataTransferLength == 0) return 0;
  if (AllZero(data, T::kDataSize)) return 0;
  std::memcpy(buffer, data, kHealthLogSize);
  return 1;
}

uint32_t ATACommand::GetScsiPortName(const std::string& devicePath, std::string* name) {
  HANDLE h = Devices().CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return 0;
  uint8_t reply[wire::ScsiAddress::kSize] = {};
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(h, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, reply, sizeof reply,
                                      &returned);
  Devices().CloseHandle(h);
  if (!ok) return 0;
  wire::ScsiAddress address = wire::ScsiAddress::Decode(reply);
  if (name) *name = Format("\\\\.\\SCSI%d:", static_cast<int>(address.PortNumber));
  return 1;
}

// --- the orders of attempts ------------------------------------------------------

uint32_t ReadNvmeIdentifyController(ATACommand& ata, int32_t driveIndex,
                                    const std::string& devicePath, uint8_t* buffer) {
  if (ata.Windows10NVMeIdentify(driveIndex, devicePath, buffer)) return 1;
  if (ata.IdentifyCommand_Controller(devicePath, buffer)) return 1;
  return ata.DoIdentifyDeviceNVMeIntel(devicePath, buffer) ? 1 : 0;
}

uint32_t ReadNvmeHealthLog(ATACommand& ata, int32_t driveIndex, const std::string& devicePath,
                           uint8_t* buffer) {
  if (ata.Windows10NVMeSMART(driveIndex, devicePath, buffer)) return 1;
  if (ata.GetLogPageCommand_SMART_Health(devicePath, buffer)) return 1;
  if (ata.DoGetLogPageNVMeIntel(devicePath, buffer)) return 1;
  return ata.DoGetLogPageNVMeSamsung(devicePath, buffer) ? 1 : 0;
}

}  // namespace zel
