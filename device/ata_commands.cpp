// The ATA command set of ATACommand: IDENTIFY, the SMART reads and logs, the
// self-test start, flush, standby, security erase prepare, and the vendor
// commands of the maker's controllers. Each read tries its main request
// form and falls back to the platform's SMART receive request.
#include <cstring>
#include <vector>

#include "device/ata_command.h"
#include "device/ata_command_internal.h"
#include "device/vendor_codes.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wire/ata.h"

namespace zel {

using namespace zel::platform;
using wire::AtaTaskFile;

namespace {

using ata_detail::kCmdSmart;
using ata_detail::kSmartLbaHigh;
using ata_detail::kSmartLbaMid;
using ata_detail::OpenByPath;
using ata_detail::TaskFile;

constexpr uint8_t kCmdIdentify = 0xEC;
constexpr uint8_t kCmdFlushCacheExt = 0xEA;
constexpr uint8_t kCmdStandbyImmediate = 0xE0;
constexpr uint8_t kCmdSecurityErasePrepare = 0xF3;
constexpr uint8_t kCmdSetFeatures = 0xEF;

constexpr uint8_t kSmartReadData = 0xD0;
constexpr uint8_t kSmartReadThresholds = 0xD1;
constexpr uint8_t kSmartExecuteOffline = 0xD4;
constexpr uint8_t kSmartReadLog = 0xD5;
constexpr uint8_t kSmartWriteLog = 0xD6;

constexpr uint32_t kSector = wire::kAtaSectorSize;
// The vendor data read works through a buffer of this size.
constexpr uint32_t kVendorWorkBufferSize = 64 * 1024;

// The platform's SMART receive request on an opened device, which it closes:
// SENDCMDINPARAMS with a 512-byte buffer size and the given registers, a
// 528-byte SENDCMDOUTPARAMS reply. Succeeds only when the whole reply came
// back; the sector then goes into `data`.
bool SmartReceive(HANDLE device, const AtaTaskFile& regs, uint8_t* data) {
  wire::SendCmdInParams params;
  params.cBufferSize = kSector;
  params.irDriveRegs = regs;
  params.bDriveNumber = 0;
  uint8_t in[wire::SendCmdInParams::kSize];
  params.Encode(in);
  std::vector<uint8_t> out(wire::SendCmdOutParams::kSmartReplySize, 0);
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(device, SMART_RCV_DRIVE_DATA, in, sizeof in, out.data(),
                                      static_cast<uint32_t>(out.size()), &returned);
  Devices().CloseHandle(device);
  if (!ok || returned != wire::SendCmdOutParams::kSmartReplySize) return false;
  if (data) std::memcpy(data, out.data() + wire::SendCmdOutParams::kBuffer, kSector);
  return true;
}

// Paths of USB drives never carry ATA commands.
bool IsUsbPath(const std::string& path) { return Contains(path, "usb"); }

uint8_t VendorDevice(uint32_t driveIndex) { return (driveIndex & 1) ? 0xF0 : 0xE0; }

void ClearSmartData(PhysicalDriveRecord& record) {
  record.SmartData.fill(0);
  record.SmartAttributes.fill(SmartAttributeEntry{});
  record.SmartAttributeCount = 0;
}

// The SMART data read of a drive by path or by index: the pass-through
// request (`sendMain`) where the platform carries it, else the platform's
// SMART receive request on the device that `open` opens; the attributes are
// then parsed out of the page.
template <typename SendMain, typename Open>
uint32_t ReadSmartData(bool passThrough, SendMain sendMain, Open open, uint8_t device,
                       PhysicalDriveRecord& record) {
  bool done = false;
  if (passThrough) {
    LogTrace("GetSmartAttributePd-type1 - SMART_READ_DATA (ATA_PASS_THROUGH)");
    done = sendMain();
  }
  if (!done) {
    record.SmartData.fill(0);
    HANDLE h = open();
    if (h == INVALID_HANDLE_VALUE) return 0;
    LogTrace("GetSmartAttributePd-type2 - SMART_READ_DATA");
    if (!SmartReceive(h,
                      TaskFile(kSmartReadData, 1, 1, kSmartLbaMid, kSmartLbaHigh, device, kCmdSmart),
                      record.SmartData.data())) {
      LogTrace("ATACommand::GetSmartAttributePd--DeviceIoControl fail");
      return 0;
    }
  }
  LogTrace("ATACommand::GetSmartAttributePd--Success");
  return ParseSmartAttributes(record) ? 1 : 0;
}

}  // namespace

uint32_t ATACommand::DoIdentify(const std::string& devicePath, uint8_t device, uint8_t* buffer) {
  const char* path = devicePath.c_str();
  LogTraceF("ATACommand::DoIdentify(DevicePath%s)--entry", path);
  if (!buffer) {
    LogTraceF("ATACommand::DoIdentify(DevicePath%s)--fail, no buffer\n", path);
    return 0;
  }
  if (IsUsbPath(devicePath)) return 0;

  if (!SendAtaCommandPhysicalDrive(devicePath, device, kCmdIdentify, 0, 0, 0, 0, 0, buffer,
                                   kSector, ATA_FLAGS_DATA_IN)) {
    std::memset(buffer, 0, kSector);
    HANDLE h = OpenByPath(devicePath);
    if (h == INVALID_HANDLE_VALUE) {
      LogTrace("ATACommand::DoIdentify--GetIoCtrlHandle fail");
      return 0;
    }
    LogTrace("SendAtaCommandPd - IDENTIFY_DEVICE");
    if (!SmartReceive(h, TaskFile(0, 1, 1, 0, 0, device, kCmdIdentify), buffer)) {
      LogTraceF("ATACommand::DoIdentify(DevicePath%s--SendAtaCommandPd - IDENTIFY_DEVICE fail",
                path);
      return 0;
    }
  }
  LogTraceF("ATACommand::DoIdentify(DevicePath%s)--SUCCESS", path);
  return 1;
}

uint32_t ATACommand::GetSmartAttributePd(const std::string& devicePath, uint8_t device,
                                         PhysicalDriveRecord& record) {
  LogTraceF("Enter GetSmartAttributePd(%s, 0x%X)", devicePath.c_str(), device);
  ClearSmartData(record);
  if (IsUsbPath(devicePath)) return 0;
  return ReadSmartData(
      AtaPassThroughAvailable && SmartPassThroughAvailable,
      [&] {
        return SendAtaCommandPhysicalDrive(devicePath, device, kCmdSmart, kSmartReadData, 0, 0,
                                           kSmartLbaMid, kSmartLbaHigh, record.SmartData.data(),
                                           kSector, ATA_FLAGS_DATA_IN) != 0;
      },
      [&] { return OpenByPath(devicePath); }, device, record);
}

uint32_t ATACommand::GetSmartAttributePd(uint32_t driveIndex, uint8_t device,
                                         PhysicalDriveRecord& record) {
  LogTraceF("Enter GetSmartAttributePd(0x%X, 0x%X)", driveIndex, device);
  ClearSmartData(record);
  // The drive addressed is the one the caller names; callers that read the
  // self-test status pass a record of their own whose index may be unset.
  return ReadSmartData(
      AtaPassThroughAvailable && SmartPassThroughAvailable,
      [&] {
        return SendAtaCommandPhysicalDrive(driveIndex, device, kCmdSmart, kSmartReadData, 0, 0,
                                           kSmartLbaMid, kSmartLbaHigh, record.SmartData.data(),
                                           kSector, ATA_FLAGS_DATA_IN) != 0;
      },
      [&] { return OpenPhysicalDrive(driveIndex); }, device, record);
}

uint32_t ATACommand::GetSmartThresholdsPd(const std::string& devicePath, uint8_t device,
                                          PhysicalDriveRecord& record) {
  record.SmartThresholdData.fill(0);
  if (IsUsbPath(devicePath)) return 0;

  bool done = false;
  if (AtaPassThroughAvailable && SmartPassThroughAvailable) {
    LogTrace("SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS (ATA_PASS_THROUGH)");
    done = SendAtaCommandPhysicalDrive(devicePath, device, kCmdSmart, kSmartReadThresholds, 0, 0,
                                       kSmartLbaMid, kSmartLbaHigh,
                                       record.SmartThresholdData.data(), kSector,
                                       ATA_FLAGS_DATA_IN) != 0;
  }
  if (!done) {
    record.SmartThresholdData.fill(0);
    HANDLE h = OpenByPath(devicePath);
    if (h == INVALID_HANDLE_VALUE) return 0;
    LogTrace("SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS");
    if (!SmartReceive(h,
                      TaskFile(kSmartReadThresholds, 1, 1, kSmartLbaMid, kSmartLbaHigh, device,
                               kCmdSmart),
                      record.SmartThresholdData.data()))
      return 0;
  }
  return CopySmartThresholds(record) ? 1 : 0;
}

uint32_t ATACommand::SmartReadLogPd(const std::string& devicePath, uint8_t device, uint8_t count,
                                    uint8_t logAddress, uint8_t* buffer) {
  LogTraceF("Enter SmartReadLogPd(%s, 0x%X)", devicePath.c_str(), device);
  if (!buffer) return 0;
  if (IsUsbPath(devicePath)) return 0;
  uint32_t length = static_cast<uint32_t>(count) * kSector;

  bool done = false;
  if (AtaPassThroughAvailable && SmartPassThroughAvailable) {
    LogTrace("SmartReadLogPd-type1 - SMART_READ_LOG (ATA_PASS_THROUGH)");
    // The main form always addresses the log with device register 0x40.
    done = SendAtaCommandPD(devicePath,
                            wire::PackRegisterWord1(kSmartReadLog, count, logAddress, kSmartLbaMid),
                            wire::PackRegisterWord2(kSmartLbaHigh, 0x40, kCmdSmart), buffer,
                            length, ATA_FLAGS_DATA_IN) != 0;
  }
  if (!done) {
    std::memset(buffer, 0, length);
    HANDLE h = OpenByPath(devicePath);
    if (h == INVALID_HANDLE_VALUE) return 0;
    LogTrace("SmartReadLogPd-type2 - SMART_READ_LOG");
    // The receive request carries exactly one sector; a longer read cannot
    // be answered by it and must not pass for a complete one.
    if (count != 1) {
      Devices().CloseHandle(h);
      LogTrace("ATACommand::SmartReadLogPd--DeviceIoControl fail");
      return 0;
    }
    if (!SmartReceive(h,
                      TaskFile(kSmartReadLog, count, logAddress, kSmartLbaMid, kSmartLbaHigh,
                               device, kCmdSmart),
                      buffer)) {
      LogTrace("ATACommand::SmartReadLogPd--DeviceIoControl fail");
      return 0;
    }
  }
  LogTrace("ATACommand::SmartReadLogPd--Success");
  return 1;
}

uint32_t ATACommand::SmartWriteLogPd(const std::string& devicePath, uint8_t device, uint8_t count,
                                     uint8_t logAddress, uint8_t* buffer) {
  if (!buffer) return 0;
  if (IsUsbPath(devicePath)) return 0;
  if (!(AtaPassThroughAvailable && SmartPassThroughAvailable)) {
    // The platform's receive request carries no data to the drive, so
    // without the pass-through the log cannot be written: say so instead of
    // reporting a write that never happened.
    LogTrace("SmartWriteLogPd-type2 - SMART_WRITE_LOG");
    LogTrace("ATACommand::SmartWriteLogPd--no pass-through, log not written");
    return 0;
  }
  uint32_t result = SendAtaCommandPD(
      devicePath, wire::PackRegisterWord1(kSmartWriteLog, count, logAddress, kSmartLbaMid),
      wire::PackRegisterWord2(kSmartLbaHigh, device, kCmdSmart), buffer,
      static_cast<uint32_t>(count) * kSector, ATA_FLAGS_DATA_OUT);
  LogTrace("SmartWriteLogPd-type1 - SMART_WRITE_LOG (ATA_PASS_THROUGH)");
  if (!result) {
    LogTrace("ATACommand::SmartWriteLogPd--DeviceIoControl fail");
    return 0;
  }
  LogTrace("ATACommand::SmartWriteLogPd--Success");
  return 1;
}

uint32_t ATACommand::DoSmartSelfTest(uint32_t driveIndex, uint8_t subcommand) {
  if (AtaPassThroughAvailable && SmartPassThroughAvailable) {
    uint8_t status = 0;
    if (SendAtaCommandReturningStatus(driveIndex, kCmdSmart, kSmartExecuteOffline, subcommand,
                                      subcommand, kSmartLbaMid, kSmartLbaHigh,
                                      ATA_FLAGS_DRDY_REQUIRED, &status)) {
      // A drive that aborts the command (error bit in the status) has not
      // started anything: that is a refusal, not a start.
      if (status & 0x01) {
        LogTraceF("ATACommand::DoSmartSelfTest--the drive aborted subcommand 0x%X (status 0x%02X)",
                  subcommand, status);
        return 0;
      }
      return 1;
    }
  }
  LogTrace("SendAtaCommandPhysicalDrive - EXECUTE_OFFLINE_DIAGS");
  HANDLE h = OpenPhysicalDrive(driveIndex);
  if (h == INVALID_HANDLE_VALUE) {
    LogTrace("ATACommand::DoSmartSelfTest--GetIoCtrlHandle fail\n");
    return 0;
  }
  if (!SmartReceive(h,
                    TaskFile(kSmartExecuteOffline, 1, subcommand, kSmartLbaMid, kSmartLbaHigh, 0,
                             kCmdSmart),
                    nullptr)) {
    LogTrace("SendAtaCommandPhysicalDrive Fail- EXECUTE_OFFLINE_DIAGS");
    return 0;
  }
  return 1;
}

uint32_t ATACommand::DoFlushCacheExt(uint32_t driveIndex, uint8_t device) {
  uint32_t result = SendAtaCommandPhysicalDrive(driveIndex, device, kCmdFlushCacheExt, 0, 0, 0, 0,
                                                0, nullptr, 0, ATA_FLAGS_DRDY_REQUIRED);
  LogTrace("ATACommand::DoFlushCacheExt--Done\n");
  return result;
}

uint32_t ATACommand::DoStandbyImmediate(uint32_t driveIndex, uint8_t device) {
  return SendAtaCommandPhysicalDrive(driveIndex, device, kCmdStandbyImmediate, 0, 0, 0, 0, 0,
                                     nullptr, 0, ATA_FLAGS_DRDY_REQUIRED);
}

uint32_t ATACommand::DoSecurityErasePrepare(uint32_t driveIndex, uint8_t device) {
  return SendAtaCommandPhysicalDrive(driveIndex, device, kCmdSecurityErasePrepare, 0, 0, 0, 0, 0,
                                     nullptr, 0, ATA_FLAGS_DRDY_REQUIRED);
}

// --- Vendor commands ------------------------------------------------------------

uint32_t ATACommand::EnableVendorCommands(uint32_t driveIndex) {
  uint8_t block[kSector] = {};
  uint32_t length = kSector;
  SendAtaCommandDirect(driveIndex, 1, block, nullptr, &length,
                       wire::PackRegisterWord1(vendor::kEnableFeatures, vendor::kEnableCount, 0, 0),
                       wire::PackRegisterWord2(0, VendorDevice(driveIndex), kCmdSetFeatures));
  return 1;
}

uint32_t ATACommand::ReadVendorData(uint32_t driveIndex, uint32_t sectors, uint8_t* buffer) {
  // The reply lands in a 64 KiB work buffer; a request for more than it
  // holds (or for nothing) is refused before anything reaches the drive.
  if (!buffer || sectors == 0 || sectors * kSector > kVendorWorkBufferSize) return 0;
  std::vector<uint8_t> work(kVendorWorkBufferSize, 0);
  uint8_t device = VendorDevice(driveIndex);

  EnableVendorCommands(driveIndex);

  uint8_t request[kSector] = {};
  std::memcpy(request, vendor::kVendorRequestTag, sizeof vendor::kVendorRequestTag);
  PutBE32(request + 4, vendor::kVendorStatisticsAddress);
  uint32_t length = kSector;
  SendAtaCommandDirect(driveIndex, 1, request, nullptr, &length,
                       wire::PackRegisterWord1(0, 1, vendor::kVendorRequestLbaLow,
                                               vendor::kVendorLbaMid),
                       wire::PackRegisterWord2(vendor::kVendorLbaHigh, device,
                                               vendor::kVendorRequestCommand));

  length = sectors * kSector;
  SendAtaCommandDirect(driveIndex, 0, nullptr, work.data(), &length,
                       wire::PackRegisterWord1(0, static_cast<uint8_t>(sectors),
                                               vendor::kVendorReplyLbaLow, vendor::kVendorLbaMid),
                       wire::PackRegisterWord2(vendor::kVendorLbaHigh, device,
                                               vendor::kVendorReplyCommand));

  // Both steps run and the whole length is copied whatever they returned:
  // a failed step leaves the zeroed work buffer's contents.
  std::memcpy(buffer, work.data(), sectors * kSector);
  return GetLE32(buffer);
}

uint32_t ATACommand::SendVendorUidAccess(uint32_t driveIndex) {
  return SendAtaCommandPhysicalDrive(driveIndex, 0xA0, vendor::kVendorUidCommand,
                                     vendor::kUidAccessFeatures, vendor::kUidAccessCount,
                                     vendor::kUidAccessLbaLow, vendor::kUidAccessLbaMid,
                                     vendor::kUidAccessLbaHigh, nullptr, 0,
                                     ATA_FLAGS_DRDY_REQUIRED);
}

uint32_t ATACommand::ReadVendorUid(uint32_t driveIndex, uint8_t* buffer) {
  if (!buffer) return 0;
  uint32_t length = kSector;
  return SendAtaCommandDirect(
      driveIndex, 0, nullptr, buffer, &length,
      wire::PackRegisterWord1(vendor::kUidReadFeatures, vendor::kUidReadCount, 0, 0),
      wire::PackRegisterWord2(0, 0xA0, vendor::kVendorUidCommand));
}

}  // namespace zel
