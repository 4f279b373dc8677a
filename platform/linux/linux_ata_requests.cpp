// The ATA request forms carried out as ATA PASS-THROUGH(16) through SG_IO:
// the buffered and direct ATA pass-through, the legacy IDE pass-through and
// the SMART receive and send requests. Each reads the platform's byte
// layout, picks the pass-through protocol from the request's direction and
// DMA flag (or, for the forms without flags, from the command), sends the
// command with the request's time-out, and writes the drive's registers
// back where the platform puts them. As on the platform, the buffered and
// legacy forms succeed whatever the drive answered; the caller reads the
// verdict in the registers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/linux/linux_ata_requests.h"
#include "platform/linux/linux_machine.h"
#include "platform/wire/ata.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

constexpr uint32_t kFlagDataIn = 0x02, kFlagDataOut = 0x04, kFlag48Bit = 0x08, kFlagDma = 0x10;

// Seconds of a request's time-out as the milliseconds of SG_IO (0: the
// kernel's default), without overflow.
uint32_t TimeoutMs(uint32_t seconds) { return std::min<uint32_t>(seconds, 4000000u) * 1000u; }

AtaTaskFile Registers(const wire::AtaTaskFile& current, const wire::AtaTaskFile& previous) {
  AtaTaskFile t;
  t.features = current.Features;
  t.count = current.SectorCount;
  t.lbaLow = current.LbaLow;
  t.lbaMid = current.LbaMid;
  t.lbaHigh = current.LbaHigh;
  t.device = current.Device;
  t.command = current.Command;
  t.featuresExt = previous.Features;
  t.countExt = previous.SectorCount;
  t.lbaLowExt = previous.LbaLow;
  t.lbaMidExt = previous.LbaMid;
  t.lbaHighExt = previous.LbaHigh;
  return t;
}

// The registers the drive returned, in the platform's task-file order: the
// error register in the features position, the status in the command one.
wire::AtaTaskFile Returned(const AtaReturn& r) {
  wire::AtaTaskFile t;
  t.Features = r.error;
  t.SectorCount = r.count;
  t.LbaLow = r.lbaLow;
  t.LbaMid = r.lbaMid;
  t.LbaHigh = r.lbaHigh;
  t.Device = r.device;
  t.Command = r.status;
  return t;
}

wire::AtaTaskFile ReturnedPrevious(const AtaReturn& r) {
  wire::AtaTaskFile t;
  if (!r.extend) return t;
  t.SectorCount = r.countExt;
  t.LbaLow = r.lbaLowExt;
  t.LbaMid = r.lbaMidExt;
  t.LbaHigh = r.lbaHighExt;
  return t;
}

AtaProtocol ProtocolFor(uint32_t flags, uint32_t length) {
  if (length == 0) return AtaProtocol::NonData;
  if (flags & kFlagDma) return AtaProtocol::Dma;
  return (flags & kFlagDataIn) ? AtaProtocol::PioIn : AtaProtocol::PioOut;
}

// What the legacy form and the SMART requests move for a command, which the
// driver knows from the command itself: 0 none, 1 in, 2 out.
struct Direction {
  int dir = -1;  // -1: a command the driver does not carry this way
  bool dma = false;
};
Direction DirectionOf(const wire::AtaTaskFile& r) {
  switch (r.Command) {
    case 0xEC: return {1, false};  // IDENTIFY DEVICE
    case 0xB0:                     // SMART
      switch (r.Features) {
        case 0xD0: case 0xD1: case 0xD5: return {1, false};
        case 0xD6: return {2, false};
        case 0xD2: case 0xD3: case 0xD4: case 0xD8: case 0xD9: case 0xDA: case 0xDB: return {0, false};
        default: return {};
      }
    case 0xE7: case 0xEA: case 0xE0: case 0xE5: case 0xF3: case 0xF5: case 0xEF: return {0, false};
    case 0xF1: case 0xF2: case 0xF4: case 0xF6: case 0x92: return {2, false};
    case 0x06: return {2, true};  // DATA SET MANAGEMENT
    default: return {};
  }
}

bool NotForThisDisk(const OpenDevice& d) {
  return d.kind != OpenDevice::Disk || d.disk.bus == DiskBus::Nvme || d.fd < 0;
}

// The two pass-through headers (buffered and direct) share their fields:
// the request one describes, and what is written back after the command.
template <typename Header>
AtaRequest RequestOf(const Header& h) {
  AtaRequest request;
  request.registers = Registers(h.CurrentTaskFile, h.PreviousTaskFile);
  request.protocol = ProtocolFor(h.AtaFlags, h.DataTransferLength);
  request.dataIn = (h.AtaFlags & kFlagDataIn) != 0;
  request.extend = (h.AtaFlags & kFlag48Bit) != 0;
  request.dataLength = h.DataTransferLength;
  return request;
}

template <typename Header>
void StoreOutcome(const AtaOutcome& o, uint32_t moved, Header& h) {
  h.CurrentTaskFile = Returned(o.registers);
  h.PreviousTaskFile = ReturnedPrevious(o.registers);
  h.DataTransferLength = moved;
}

}  // namespace

bool AtaBuffered(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using H = wire::AtaPassThroughEx;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < H::kSize || outSize < H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  if (NotForThisDisk(device)) return FailWith(ERROR_INVALID_FUNCTION);
  // One system buffer, a copy of the input, copied back to the output: the
  // input and output may be the same block.
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  H h = H::Decode(sys.data());
  if (h.Length != H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  bool in = h.AtaFlags & kFlagDataIn, out = h.AtaFlags & kFlagDataOut;
  if (in && out) return FailWith(ERROR_INVALID_PARAMETER);
  uint32_t length = h.DataTransferLength;
  if (length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    uint64_t end = uint64_t{h.DataBufferOffset} + length;
    if (h.DataBufferOffset < H::kSize || end > (out ? inSize : outSize))
      return FailWith(ERROR_INVALID_PARAMETER);
  }
  AtaRequest request = RequestOf(h);
  uint32_t moved = 0;
  AtaOutcome o = machine.Transports().ata(device.fd, request, length ? sys.data() + h.DataBufferOffset : nullptr,
                                          TimeoutMs(h.TimeOutValue), &moved);
  if (!o.carried) return FailWith(o.error);
  StoreOutcome(o, moved, h);
  h.Encode(sys.data());
  uint32_t reply = in && moved ? h.DataBufferOffset + moved : H::kSize;
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool AtaDirect(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using D = wire::AtaPassThroughDirect;
  if (r.in.size() < D::kSize || r.out.size() < D::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  if (NotForThisDisk(device)) return FailWith(ERROR_INVALID_FUNCTION);
  D h = D::Decode(r.in.data());
  if (h.Length != D::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  bool in = h.AtaFlags & kFlagDataIn, out = h.AtaFlags & kFlagDataOut;
  if (in && out) return FailWith(ERROR_INVALID_PARAMETER);
  uint32_t length = h.DataTransferLength;
  if (length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    // The pointer must name the memory handed over, cover the transfer and
    // meet the adapter's alignment.
    if (r.pointed.size() < length || h.DataBuffer != wire::Address32(r.pointed.data()) ||
        h.DataBuffer % wire::kAtaDirectAlignment != 0)
      return FailWith(ERROR_INVALID_PARAMETER);
  }
  AtaRequest request = RequestOf(h);
  uint32_t moved = 0;
  AtaOutcome o = machine.Transports().ata(device.fd, request, length ? r.pointed.data() : nullptr,
                                          TimeoutMs(h.TimeOutValue), &moved);
  if (!o.carried) return FailWith(o.error);
  StoreOutcome(o, moved, h);
  h.Encode(r.out.data());
  *r.returned = D::kSize;
  return true;
}

bool AtaLegacy(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using L = wire::IdePassThrough;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < L::kData || outSize < L::kData) return FailWith(ERROR_INVALID_PARAMETER);
  if (NotForThisDisk(device)) return FailWith(ERROR_INVALID_FUNCTION);
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  wire::AtaTaskFile regs = L::DecodeRegisters(sys.data());
  uint32_t length = L::DecodeDataBufferSize(sys.data());
  if (uint64_t{L::kData} + length > inSize) return FailWith(ERROR_INVALID_PARAMETER);
  Direction d = DirectionOf(regs);
  if (length > 0 && d.dir <= 0) return FailWith(ERROR_INVALID_PARAMETER);
  if (length > 0 && d.dir == 1 && uint64_t{L::kData} + length > outSize) return FailWith(ERROR_INVALID_PARAMETER);
  AtaRequest request;
  request.registers = Registers(regs, wire::AtaTaskFile{});
  request.dataIn = d.dir == 1;
  request.dataLength = length;
  request.protocol = length == 0 ? AtaProtocol::NonData
                  : d.dma     ? AtaProtocol::Dma
                  : request.dataIn ? AtaProtocol::PioIn
                                : AtaProtocol::PioOut;
  request.extend = d.dma;
  uint32_t moved = 0;
  AtaOutcome o = machine.Transports().ata(device.fd, request, length ? sys.data() + L::kData : nullptr, 0, &moved);
  if (!o.carried) return FailWith(o.error);
  wire::AtaTaskFile back = Returned(o.registers);
  L::EncodeHeader(sys.data(), back, moved);
  uint32_t reply = request.dataIn && moved ? L::kData + moved : L::kData;
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool SmartReceive(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using I = wire::SendCmdInParams;
  using O = wire::SendCmdOutParams;
  if (r.in.size() < I::kMinimumSize) return FailWith(ERROR_INVALID_PARAMETER);
  if (NotForThisDisk(device)) return FailWith(ERROR_INVALID_FUNCTION);
  I params = I::Decode(r.in.data());
  const wire::AtaTaskFile& regs = params.irDriveRegs;
  // The receive request carries only the reads: IDENTIFY and the SMART
  // data, thresholds and log reads.
  uint32_t size = 512;
  if (regs.Command == 0xB0 && regs.Features == 0xD5) {
    size = regs.SectorCount * 512u;
  } else if (!(regs.Command == 0xEC ||
               (regs.Command == 0xB0 && (regs.Features == 0xD0 || regs.Features == 0xD1)))) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (size == 0) return FailWith(ERROR_INVALID_PARAMETER);
  if (r.out.size() < O::kHeaderSize + size) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> data(size, 0);
  AtaRequest request;
  request.registers = Registers(regs, wire::AtaTaskFile{});
  request.protocol = AtaProtocol::PioIn;
  request.dataIn = true;
  request.dataLength = size;
  uint32_t moved = 0;
  AtaOutcome o = machine.Transports().ata(device.fd, request, data.data(), 0, &moved);
  if (!o.carried) return FailWith(o.error);
  O header;
  uint32_t n = O::kHeaderSize;
  std::fill(r.out.begin(), r.out.begin() + O::kHeaderSize, 0);
  if (o.registers.status & wire::kAtaStatusError) {
    // The drive refused: the driver reports its error register and no data.
    header.bDriverError = O::kSmartIdeError;
    header.bIDEError = o.registers.error;
  } else {
    header.cBufferSize = moved;
    std::copy(data.begin(), data.begin() + moved, r.out.begin() + O::kHeaderSize);
    n += moved;
  }
  header.EncodeHeader(r.out.data());
  *r.returned = n;
  return true;
}

bool SmartSend(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& r) {
  using I = wire::SendCmdInParams;
  using O = wire::SendCmdOutParams;
  if (r.in.size() < I::kMinimumSize) return FailWith(ERROR_INVALID_PARAMETER);
  if (NotForThisDisk(device)) return FailWith(ERROR_INVALID_FUNCTION);
  I params = I::Decode(r.in.data());
  const wire::AtaTaskFile& regs = params.irDriveRegs;
  if (regs.Command != 0xB0) return FailWith(ERROR_INVALID_PARAMETER);
  Direction d = DirectionOf(regs);
  if (d.dir != 0 && d.dir != 2) return FailWith(ERROR_INVALID_PARAMETER);
  uint32_t length = d.dir == 2 ? params.cBufferSize : 0;
  if (uint64_t{I::kBuffer} + length > r.in.size()) return FailWith(ERROR_INVALID_PARAMETER);
  bool status = regs.Features == 0xDA;  // RETURN STATUS hands back the registers
  uint32_t reply = O::kHeaderSize + (status ? wire::AtaTaskFile::kSize : 0);
  if (r.out.size() < reply) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> data(r.in.begin() + I::kBuffer, r.in.begin() + I::kBuffer + length);
  AtaRequest request;
  request.registers = Registers(regs, wire::AtaTaskFile{});
  request.protocol = length ? AtaProtocol::PioOut : AtaProtocol::NonData;
  request.dataLength = length;
  uint32_t moved = 0;
  AtaOutcome o = machine.Transports().ata(device.fd, request, length ? data.data() : nullptr, 0, &moved);
  if (!o.carried) return FailWith(o.error);
  std::fill(r.out.begin(), r.out.begin() + reply, 0);
  O header;
  if (o.registers.status & wire::kAtaStatusError) {
    header.bDriverError = O::kSmartIdeError;
    header.bIDEError = o.registers.error;
  }
  if (status) {
    header.cBufferSize = wire::AtaTaskFile::kSize;
    Returned(o.registers).Encode(r.out.data() + O::kBuffer);
  }
  header.EncodeHeader(r.out.data());
  *r.returned = reply;
  return true;
}

}  // namespace zel::linuxbackend
