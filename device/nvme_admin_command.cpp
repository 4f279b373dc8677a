// NVMe admin commands through the platform's storage protocol command: one
// block with the header, the submission entry, an error-info area and the
// data, sent to the disk and read back in place.
#include <cstring>
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/wire/nvme.h"

namespace zel {

using namespace zel::platform;

namespace {
constexpr uint32_t kAdminTimeoutSeconds = 30;
}

uint32_t ATACommand::SendNvmeAdminCommandPd(const std::string& devicePath, uint8_t opcode,
                                            uint32_t nsid, uint32_t cdw10, uint32_t cdw11,
                                            uint8_t* data, uint32_t length, bool toDevice) {
  using C = wire::StorageProtocolCommand;
  LogTraceF("Enter ATACommand::SendNvmeAdminCommandPd(%s, 0x%02X, 0x%X)", devicePath.c_str(),
            opcode, cdw10);
  if (length && !data) return 0;
  HANDLE h = Devices().CreateFileW(devicePath, GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    LogTrace("ATACommand::SendNvmeAdminCommandPd--CreateFile fail");
    return 0;
  }
  std::vector<uint8_t> block(C::kDataAt + length, 0);
  C command;
  command.ErrorInfoLength = C::kErrorInfoSize;
  command.ErrorInfoOffset = C::kErrorInfoAt;
  command.TimeOutValue = kAdminTimeoutSeconds;
  if (length) {
    if (toDevice) {
      command.DataToDeviceTransferLength = length;
      command.DataToDeviceBufferOffset = C::kDataAt;
      std::memcpy(block.data() + C::kDataAt, data, length);
    } else {
      command.DataFromDeviceTransferLength = length;
      command.DataFromDeviceBufferOffset = C::kDataAt;
    }
  }
  command.Command.Opcode = opcode;
  command.Command.Nsid = nsid;
  command.Command.Cdw10 = cdw10;
  command.Command.Cdw11 = cdw11;
  command.Encode(block.data());

  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(h, IOCTL_STORAGE_PROTOCOL_COMMAND, block.data(),
                                      static_cast<uint32_t>(block.size()), block.data(),
                                      static_cast<uint32_t>(block.size()), &returned);
  uint32_t error = ok ? ERROR_SUCCESS : GetLastError();
  Devices().CloseHandle(h);
  if (!ok) {
    LogTraceF("ATACommand::SendNvmeAdminCommandPd--DeviceIoControl fail %d",
              static_cast<int>(error));
    return 0;
  }
  C reply = C::Decode(block.data());
  if (reply.ReturnStatus != wire::STORAGE_PROTOCOL_STATUS_SUCCESS) {
    LogTraceF("ATACommand::SendNvmeAdminCommandPd--status %u, NVMe status 0x%X",
              reply.ReturnStatus, reply.ErrorCode);
    return 0;
  }
  if (length && !toDevice) std::memcpy(data, block.data() + C::kDataAt, length);
  LogTrace("ATACommand::SendNvmeAdminCommandPd--SUCCESS");
  return 1;
}

uint32_t ATACommand::DoDeviceSelfTestNVMe(const std::string& devicePath, uint32_t code) {
  return SendNvmeAdminCommandPd(devicePath, wire::NVME_ADMIN_COMMAND_DEVICE_SELF_TEST,
                                wire::NVME_NAMESPACE_ALL, code & 0xF, 0, nullptr, 0, false);
}

uint32_t ATACommand::GetLogPageCommand_SelfTest(const std::string& devicePath, uint8_t* buffer) {
  // CDW10: log identifier in bits 7:0, the number of dwords less one in 27:16.
  const uint32_t dwords = kNvmeSelfTestLogSize / 4 - 1;
  std::memset(buffer, 0, kNvmeSelfTestLogSize);
  return SendNvmeAdminCommandPd(devicePath, wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE,
                                wire::NVME_NAMESPACE_ALL,
                                wire::NVME_LOG_PAGE_DEVICE_SELF_TEST | (dwords << 16), 0, buffer,
                                kNvmeSelfTestLogSize, false);
}

}  // namespace zel
