// The ATA request forms of ATACommand: the register-set sends by drive
// index and by interface path (buffered ATA pass-through, or the legacy IDE
// pass-through on platform versions without it), the packed-register send
// and the direct pass-through with its aligned data buffer.
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "device/ata_command.h"
#include "device/ata_command_internal.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/wire/ata.h"

namespace zel {

using namespace zel::platform;
using wire::AtaTaskFile;

namespace {

// Time-outs of the request forms, in seconds.
constexpr uint32_t kTimeoutByIndex = 1000;
constexpr uint32_t kTimeoutByPath = 2;
constexpr uint32_t kTimeoutDirect = 100;

using ata_detail::OpenByPath;

// Every SMART command carries the signature in LBA mid and high; the
// sub-operation given in the count also goes into LBA low.
void ApplySmartSignature(AtaTaskFile& r) {
  if (r.Command != ata_detail::kCmdSmart) return;
  r.LbaMid = ata_detail::kSmartLbaMid;
  r.LbaHigh = ata_detail::kSmartLbaHigh;
  r.LbaLow = r.SectorCount;
}

enum class Outcome { Sent, OverLimit };

// Sends one register set in the form the platform allows and copies the
// returned data back. `open` opens the device (by index or by path).
template <typename Open>
uint32_t SendRegisterSet(const ATACommand& ata, Open open, const AtaTaskFile& regs,
                         uint8_t* buffer, uint32_t length, uint32_t ataFlags, uint32_t timeout,
                         Outcome* outcome, AtaTaskFile* replyRegs = nullptr) {
  *outcome = Outcome::Sent;
  if (replyRegs) *replyRegs = AtaTaskFile{};
  if (ata.AtaPassThroughAvailable) {
    std::vector<uint8_t> block(wire::kAtaBufferedBlockSize, 0);
    wire::AtaPassThroughEx header;
    header.Length = wire::AtaPassThroughEx::kSize;
    header.TimeOutValue = timeout;
    header.DataBufferOffset = wire::kAtaBufferedDataOffset;
    uint32_t transfer = wire::kAtaBufferedDataOffset;
    if (length > 0) {
      if (length > wire::kAtaBufferedMaxData) {
        *outcome = Outcome::OverLimit;
        return 0;
      }
      // A command without data goes out with no flags at all, whatever the
      // caller passed: the flags only describe a data phase.
      header.AtaFlags = static_cast<uint16_t>(ataFlags);
      header.DataTransferLength = length;
      if (buffer) std::memcpy(block.data() + wire::kAtaBufferedDataOffset, buffer, length);
      transfer += length;
    }
    header.CurrentTaskFile = regs;
    header.CurrentTaskFile.Reserved = 0;
    header.Encode(block.data());

    HANDLE device = open();
    if (device == INVALID_HANDLE_VALUE) return 0;
    uint32_t returned = 0;
    bool ok = Devices().DeviceIoControl(device, IOCTL_ATA_PASS_THROUGH, block.data(), transfer,
                                        block.data(), transfer, &returned);
    Devices().CloseHandle(device);
    // The data area goes back to the caller also for data-out commands.
    if (ok && length > 0 && buffer)
      std::memcpy(buffer, block.data() + wire::kAtaBufferedDataOffset, length);
    if (ok && replyRegs)
      *replyRegs = wire::AtaPassThroughEx::Decode(block.data()).CurrentTaskFile;
    return ok ? 1 : 0;
  }

  if (ata.OsVersion.dwMajorVersion > 4) {
    if (length > std::numeric_limits<uint32_t>::max() - wire::IdePassThrough::kExtra) return 0;
    std::vector<uint8_t> block;
    try {
      block.assign(wire::IdePassThrough::BlockSize(length), 0);
    } catch (const std::bad_alloc&) {
      return 0;
    }
    AtaTaskFile r = regs;
    r.Reserved = 0;
    wire::IdePassThrough::EncodeHeader(block.data(), r, length);
    // The block is input and output: the data to write travels in it too.
    if (length > 0 && buffer)
      std::memcpy(block.data() + wire::IdePassThrough::kData, buffer, length);

    HANDLE device = open();
    if (device == INVALID_HANDLE_VALUE) return 0;
    uint32_t size = static_cast<uint32_t>(block.size());
    uint32_t returned = 0;
    bool ok = Devices().DeviceIoControl(device, IOCTL_IDE_PASS_THROUGH, block.data(), size,
                                        block.data(), size, &returned);
    Devices().CloseHandle(device);
    if (ok && length > 0 && buffer)
      std::memcpy(buffer, block.data() + wire::IdePassThrough::kData, length);
    return ok ? 1 : 0;
  }

  // Platform versions up to 4 carry no ATA pass-through at all.
  return 0;
}

uint32_t Address(const void* p) { return wire::Address32(p); }

}  // namespace

uint32_t ATACommand::SendAtaCommandPhysicalDrive(uint32_t driveIndex, uint8_t device,
                                                 uint8_t command, uint8_t features, uint8_t count,
                                                 uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh,
                                                 uint8_t* buffer, uint32_t length,
                                                 uint32_t ataFlags) {
  AtaTaskFile regs =
      ata_detail::TaskFile(features, count, lbaLow, lbaMid, lbaHigh, device, command);
  ApplySmartSignature(regs);
  Outcome outcome;
  uint32_t result = SendRegisterSet(
      *this, [&] { return OpenPhysicalDrive(driveIndex); }, regs, buffer, length, ataFlags,
      kTimeoutByIndex, &outcome);
  if (outcome == Outcome::OverLimit) return 0;
  LogTraceF("Exit ATACommand::SendAtaCommandPhysicalDrive(0x%X, 0x%X, 0x%X, 0x%X, 0x%X,",
            driveIndex, regs.Device, regs.Command, regs.Features, regs.SectorCount);
  LogTraceF("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", regs.LbaMid, regs.LbaHigh,
            Address(buffer), length, ataFlags, result);
  return result;
}

uint32_t ATACommand::SendAtaCommandReturningStatus(uint32_t driveIndex, uint8_t command,
                                                   uint8_t features, uint8_t count, uint8_t lbaLow,
                                                   uint8_t lbaMid, uint8_t lbaHigh,
                                                   uint32_t ataFlags, uint8_t* status) {
  AtaTaskFile regs = ata_detail::TaskFile(features, count, lbaLow, lbaMid, lbaHigh, 0, command);
  ApplySmartSignature(regs);
  Outcome outcome;
  AtaTaskFile back;
  uint32_t result = SendRegisterSet(
      *this, [&] { return OpenPhysicalDrive(driveIndex); }, regs, nullptr, 0, ataFlags,
      kTimeoutByIndex, &outcome, &back);
  *status = back.Status();
  return result;
}

uint32_t ATACommand::SendAtaCommandWithStatus(uint32_t driveIndex, uint8_t device, uint8_t command,
                                              uint8_t features, uint8_t count, uint8_t* buffer,
                                              uint32_t length, uint32_t ataFlags, uint8_t* status) {
  AtaTaskFile regs = ata_detail::TaskFile(features, count, 0, 0, 0, device, command);
  Outcome outcome;
  AtaTaskFile back;
  uint32_t result = SendRegisterSet(
      *this, [&] { return OpenPhysicalDrive(driveIndex); }, regs, buffer, length, ataFlags,
      kTimeoutByIndex, &outcome, &back);
  *status = back.Status();
  LogTraceF("Exit ATACommand::SendAtaCommandWithStatus(0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X status:0x%X",
            driveIndex, regs.Device, regs.Command, length, result, *status);
  return outcome == Outcome::OverLimit ? 0 : result;
}

uint32_t ATACommand::SendAtaCommandPhysicalDrive(const std::string& devicePath, uint8_t device,
                                                 uint8_t command, uint8_t features, uint8_t count,
                                                 uint8_t lbaLow, uint8_t lbaMid, uint8_t lbaHigh,
                                                 uint8_t* buffer, uint32_t length,
                                                 uint32_t ataFlags) {
  LogTraceF(
      "Entering ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, 0x%X, "
      "0x%X, 0x%X, 0x%X, 0x%X)",
      devicePath.c_str(), device, command, features, count, lbaLow, lbaMid, lbaHigh,
      Address(buffer), length, ataFlags);
  AtaTaskFile regs =
      ata_detail::TaskFile(features, count, lbaLow, lbaMid, lbaHigh, device, command);
  ApplySmartSignature(regs);
  Outcome outcome;
  uint32_t result = SendRegisterSet(
      *this, [&] { return OpenByPath(devicePath); }, regs, buffer, length, ataFlags,
      kTimeoutByPath, &outcome);
  if (outcome == Outcome::OverLimit) return 0;
  LogTraceF("Exit ATACommand::SendAtaCommandPhysicalDrive(%s, 0x%X, 0x%X, 0x%X, 0x%X,",
            devicePath.c_str(), regs.Device, regs.Command, regs.Features, regs.SectorCount);
  LogTraceF("0x%X, 0x%X, 0x%X, 0x%X, 0x%X)::bRet:0x%X", regs.LbaMid, regs.LbaHigh,
            Address(buffer), length, ataFlags, result);
  return result;
}

uint32_t ATACommand::SendAtaCommandPD(const std::string& devicePath, uint32_t registers1,
                                      uint32_t registers2, uint8_t* buffer, uint32_t length,
                                      uint32_t ataFlags) {
  LogTraceF("Entering ATACommand::ATACommand::SendAtaCommandPD(%s", devicePath.c_str());
  // The callers of the packed form place the SMART signature themselves.
  AtaTaskFile regs = wire::UnpackRegisterWords(registers1, registers2);
  Outcome outcome;
  uint32_t result = SendRegisterSet(
      *this, [&] { return OpenByPath(devicePath); }, regs, buffer, length, ataFlags,
      kTimeoutByPath, &outcome);
  if (outcome == Outcome::OverLimit) return 0;
  LogTraceF("Exit ATACommand::SendAtaCommandPD(%s", devicePath.c_str());
  return result;
}

uint32_t ATACommand::SendAtaCommandDirect(uint32_t driveIndex, uint8_t write,
                                          const uint8_t* writeData, uint8_t* readBuffer,
                                          uint32_t* length, uint32_t registers1,
                                          uint32_t registers2) {
  if (!length) return 0;
  uint32_t size = *length;
  if (size > std::numeric_limits<uint32_t>::max() - wire::kAtaDirectAlignment) return 0;
  // The data buffer is carved out of a block 16 bytes larger than the data,
  // starting at the first 16-byte boundary past the block's first 16 bytes.
  std::unique_ptr<uint8_t[]> heap(new (std::nothrow) uint8_t[size + wire::kAtaDirectAlignment]());
  if (!heap) return 0;
  uintptr_t base = reinterpret_cast<uintptr_t>(heap.get());
  uintptr_t alignedAt =
      (base + wire::kAtaDirectAlignment) & ~static_cast<uintptr_t>(wire::kAtaDirectAlignment - 1);
  uint8_t* aligned = heap.get() + (alignedAt - base);

  wire::AtaPassThroughDirect request;
  request.Length = wire::AtaPassThroughDirect::kSize;
  if (write) {
    request.AtaFlags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_OUT | ATA_FLAGS_USE_DMA;
    if (writeData && size) std::memcpy(aligned, writeData, size);
  } else {
    request.AtaFlags = ATA_FLAGS_DRDY_REQUIRED | ATA_FLAGS_DATA_IN | ATA_FLAGS_USE_DMA;
  }
  request.DataTransferLength = size;
  request.TimeOutValue = kTimeoutDirect;
  request.DataBuffer = wire::Address32(aligned);
  request.CurrentTaskFile = wire::UnpackRegisterWords(registers1, registers2);
  uint8_t block[wire::AtaPassThroughDirect::kSize];
  request.Encode(block);

  HANDLE device = OpenPhysicalDrive(driveIndex);
  if (device == INVALID_HANDLE_VALUE) return 0;
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(device, IOCTL_ATA_PASS_THROUGH_DIRECT, block, sizeof block,
                                      block, sizeof block, &returned,
                                      std::span<uint8_t>(aligned, size));
  Devices().CloseHandle(device);
  if (!ok) return 0;
  wire::AtaPassThroughDirect reply = wire::AtaPassThroughDirect::Decode(block);
  // Unlike the buffered forms, the direct form takes the drive's verdict:
  // an error bit in the returned status fails the request.
  if (reply.CurrentTaskFile.Status() & wire::kAtaStatusError) return 0;
  if (!write && readBuffer && size) std::memcpy(readBuffer, aligned, size);
  *length = reply.DataTransferLength;
  return 1;
}

}  // namespace zel
