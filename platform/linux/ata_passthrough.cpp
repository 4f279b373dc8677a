#include "platform/linux/ata_passthrough.h"

#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/linux/errors_linux.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

// CDB byte 2 of ATA PASS-THROUGH(16).
constexpr uint8_t kCkCond = 0x20;
constexpr uint8_t kTDirIn = 0x08;
constexpr uint8_t kByteBlock = 0x04;
constexpr uint8_t kTLengthInCount = 0x02;

// Sense keys.
constexpr uint8_t kNoSense = 0x00, kRecoveredError = 0x01, kNotReady = 0x02, kMediumError = 0x03,
                  kIllegalRequest = 0x05, kUnitAttention = 0x06, kDataProtect = 0x07;

// SCSI status and host status values of sg_io_hdr.
constexpr uint8_t kGood = 0x00, kCheckCondition = 0x02;
constexpr uint16_t kDidNoConnect = 0x01, kDidTimeOut = 0x03, kDidBadTarget = 0x04;
constexpr uint16_t kDriverTimeout = 0x06;

// The status register of a device that completed a command without error
// (DRDY and DSC), used when the translation layer returned no registers.
constexpr uint8_t kStatusReady = 0x50;

void DecodeDescriptor(std::span<const uint8_t> s, AtaReturn& r) {
  size_t end = s.size() >= 8 ? std::min<size_t>(s.size(), 8u + s[7]) : s.size();
  size_t at = 8;
  while (at + 2 <= end) {
    uint8_t type = s[at], len = s[at + 1];
    if (type == 0x09 && len >= 12 && at + 14 <= end) {
      const uint8_t* d = s.data() + at;
      r.haveRegisters = true;
      r.extend = (d[2] & 0x01) != 0;
      r.error = d[3];
      r.countExt = d[4];
      r.count = d[5];
      r.lbaLowExt = d[6];
      r.lbaLow = d[7];
      r.lbaMidExt = d[8];
      r.lbaMid = d[9];
      r.lbaHighExt = d[10];
      r.lbaHigh = d[11];
      r.device = d[12];
      r.status = d[13];
      return;
    }
    at += 2u + len;
  }
}

void DecodeFixed(std::span<const uint8_t> s, AtaReturn& r) {
  // The ATA registers travel in the INFORMATION field (error, status,
  // device, count in bytes 3-6) and the COMMAND-SPECIFIC INFORMATION field
  // (extend flags in byte 8, LBA in bytes 9-11). Older kernels (Linux 6.1
  // among them) write them five bytes further on instead (error, status,
  // device, count in bytes 8-11, the LBA from byte 17), so both places are
  // looked at. A device always returns a non-zero status (DRDY at
  // least); where both places hold zero, the error was raised before the
  // command reached the device and there are no registers.
  if (s.size() < 12) return;
  if (s[4] != 0) {
    r.haveRegisters = true;
    r.error = s[3];
    r.status = s[4];
    r.device = s[5];
    r.count = s[6];
    r.extend = (s[8] & 0x80) != 0;
    r.lbaLow = s[9];
    r.lbaMid = s[10];
    r.lbaHigh = s[11];
  } else if (s[9] != 0) {
    r.haveRegisters = true;
    r.error = s[8];
    r.status = s[9];
    r.device = s[10];
    r.count = s[11];
    // Those kernels return 18 bytes: the LBA is cut after its low byte.
    if (s.size() > 16) r.extend = (s[16] & 0x80) != 0;
    if (s.size() > 17) r.lbaLow = s[17];
    if (s.size() > 18) r.lbaMid = s[18];
    if (s.size() > 19) r.lbaHigh = s[19];
  }
}

uint32_t ErrorFromSenseKey(uint8_t key) {
  switch (key) {
    case kNotReady: return ERROR_NOT_READY;
    case kMediumError: return ERROR_CRC;
    case kIllegalRequest: return ERROR_INVALID_FUNCTION;
    case kDataProtect: return ERROR_ACCESS_DENIED;
    default: return ERROR_IO_DEVICE;
  }
}

}  // namespace

void BuildAta16Cdb(const AtaRequest& request, uint8_t cdb[kAta16CdbSize]) {
  std::memset(cdb, 0, kAta16CdbSize);
  const AtaTaskFile& t = request.registers;
  bool data = request.protocol != AtaProtocol::NonData && request.dataLength > 0;
  cdb[0] = 0x85;
  cdb[1] = static_cast<uint8_t>((static_cast<uint8_t>(data ? request.protocol : AtaProtocol::NonData) << 1) |
                                (request.extend ? 1 : 0));
  // CK_COND asks for the registers after a successful command too. Not for
  // PIO data-in: there the registers come from the PIO Setup FIS, whose
  // status some controllers (QEMU's AHCI among them) report with DRQ still
  // set, which the kernel then takes for a failed command although the data
  // arrived. A PIO data-in command the drive aborts still returns its
  // registers, as every failed command does.
  cdb[2] = (data && request.protocol == AtaProtocol::PioIn) ? 0 : kCkCond;
  if (data) cdb[2] |= kByteBlock | kTLengthInCount | (request.dataIn ? kTDirIn : 0);
  cdb[3] = request.extend ? t.featuresExt : 0;
  cdb[4] = t.features;
  cdb[5] = request.extend ? t.countExt : 0;
  cdb[6] = t.count;
  cdb[7] = request.extend ? t.lbaLowExt : 0;
  cdb[8] = t.lbaLow;
  cdb[9] = request.extend ? t.lbaMidExt : 0;
  cdb[10] = t.lbaMid;
  cdb[11] = request.extend ? t.lbaHighExt : 0;
  cdb[12] = t.lbaHigh;
  cdb[13] = t.device;
  cdb[14] = t.command;
  cdb[15] = 0;
}

AtaReturn DecodeAtaSense(std::span<const uint8_t> sense) {
  AtaReturn r;
  if (sense.empty()) return r;
  uint8_t code = sense[0] & 0x7F;
  r.responseCode = code;
  if (code == 0x72 || code == 0x73) {
    if (sense.size() >= 4) {
      r.senseKey = sense[1] & 0x0F;
      r.asc = sense[2];
      r.ascq = sense[3];
    }
    DecodeDescriptor(sense, r);
  } else if (code == 0x70 || code == 0x71) {
    if (sense.size() >= 3) r.senseKey = sense[2] & 0x0F;
    if (sense.size() >= 14) {
      r.asc = sense[12];
      r.ascq = sense[13];
    }
    DecodeFixed(sense, r);
  } else {
    r.responseCode = 0;
  }
  return r;
}

AtaOutcome JudgeAtaCompletion(const SgCompletion& c, std::span<const uint8_t> sense) {
  AtaOutcome out;
  if (c.ioctlErrno != 0) {
    out.error = ErrorFromErrno(c.ioctlErrno);
    return out;
  }
  if (c.hostStatus != 0) {
    out.error = c.hostStatus == kDidTimeOut ? ERROR_SEM_TIMEOUT
                : (c.hostStatus == kDidNoConnect || c.hostStatus == kDidBadTarget)
                    ? ERROR_DEVICE_NOT_CONNECTED
                    : ERROR_IO_DEVICE;
    return out;
  }
  if ((c.driverStatus & 0x07) != 0) {
    out.error = (c.driverStatus & 0x07) == kDriverTimeout ? ERROR_SEM_TIMEOUT : ERROR_IO_DEVICE;
    return out;
  }
  out.registers = DecodeAtaSense(sense);
  if (c.scsiStatus == kGood) {
    out.carried = true;
    if (!out.registers.haveRegisters) out.registers.status = kStatusReady;
    return out;
  }
  if (c.scsiStatus != kCheckCondition) {
    out.error = ERROR_BUSY;  // BUSY, TASK SET FULL, RESERVATION CONFLICT
    return out;
  }
  if (out.registers.haveRegisters) {
    // The device answered; its verdict (the error bit) is in the registers.
    out.carried = true;
    return out;
  }
  if (out.registers.senseKey == kNoSense || out.registers.senseKey == kRecoveredError) {
    out.carried = true;
    out.registers.status = kStatusReady;
    return out;
  }
  out.error = ErrorFromSenseKey(out.registers.senseKey);
  return out;
}

SgCompletion SendScsiCommand(int fd, std::span<const uint8_t> cdb, int direction, uint8_t* data,
                             uint32_t dataLength, uint32_t timeoutMs, std::span<uint8_t> sense,
                             uint32_t* senseLength) {
  SgCompletion c;
  sg_io_hdr_t io;
  std::memset(&io, 0, sizeof io);
  io.interface_id = 'S';
  io.dxfer_direction = direction == 1   ? SG_DXFER_FROM_DEV
                       : direction == 2 ? SG_DXFER_TO_DEV
                                        : SG_DXFER_NONE;
  if (direction == 0 || dataLength == 0) {
    io.dxfer_direction = SG_DXFER_NONE;
    dataLength = 0;
  }
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.cmdp = const_cast<unsigned char*>(cdb.data());
  io.mx_sb_len = static_cast<unsigned char>(std::min<size_t>(sense.size(), 255));
  io.sbp = sense.data();
  io.dxfer_len = dataLength;
  io.dxferp = dataLength ? data : nullptr;
  io.timeout = timeoutMs;
  if (senseLength) *senseLength = 0;
  int rc;
  do {
    rc = ::ioctl(fd, SG_IO, &io);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    c.ioctlErrno = errno;
    return c;
  }
  c.scsiStatus = io.status;
  c.hostStatus = io.host_status;
  c.driverStatus = io.driver_status;
  c.resid = io.resid > 0 ? static_cast<uint32_t>(io.resid) : 0;
  if (senseLength) *senseLength = io.sb_len_wr;
  return c;
}

AtaOutcome SendAtaCommand(int fd, const AtaRequest& request, uint8_t* data, uint32_t timeoutMs,
                          uint32_t* transferred) {
  uint8_t cdb[kAta16CdbSize];
  BuildAta16Cdb(request, cdb);
  bool hasData = request.protocol != AtaProtocol::NonData && request.dataLength > 0;
  int direction = hasData ? (request.dataIn ? 1 : 2) : 0;
  AtaOutcome out;
  for (int attempt = 0; attempt < 2; ++attempt) {
    uint8_t sense[64] = {};
    uint32_t senseLength = 0;
    SgCompletion c = SendScsiCommand(fd, std::span<const uint8_t>(cdb, sizeof cdb), direction, data,
                                     hasData ? request.dataLength : 0, timeoutMs, sense, &senseLength);
    out = JudgeAtaCompletion(c, std::span<const uint8_t>(sense, senseLength));
    if (transferred) {
      uint32_t length = hasData ? request.dataLength : 0;
      *transferred = out.carried ? length - std::min(length, c.resid) : 0;
    }
    // A unit attention (a reset the device reports once) is not about this
    // command: send it again, once.
    if (!out.carried && out.registers.senseKey == kUnitAttention && attempt == 0) continue;
    break;
  }
  return out;
}

}  // namespace zel::linuxbackend
