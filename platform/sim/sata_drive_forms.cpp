// The simulated SATA drive: the request forms that carry an ATA command to it
// (buffered and direct ATA pass-through, the legacy IDE pass-through, the
// SMART receive request), each checked as a driver checks it, and the faults
// of the machine file applied to each.
#include "platform/sim/sata_drive.h"

#include <algorithm>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::platform;
using namespace zel::sim::sata;
using wire::AtaTaskFile;

namespace {

// What a driver checks of an ATA pass-through header, buffered or direct, in
// the system buffer it makes of the input: both blocks hold the header, the
// header announces its own size, and it does not ask for both directions.
template <class Header>
bool TakeAtaHeader(const Request& r, std::vector<uint8_t>* sys, Header* h, bool* dataIn,
                   bool* dataOut) {
  const size_t inSize = r.in.size(), outSize = r.out.size();
  if (inSize < Header::kSize || outSize < Header::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  sys->assign(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys->begin());
  *h = Header::Decode(sys->data());
  if (h->Length != Header::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  *dataIn = h->AtaFlags & 0x02;
  *dataOut = h->AtaFlags & 0x04;
  if (*dataIn && *dataOut) return FailWith(ERROR_INVALID_PARAMETER);
  return true;
}

}  // namespace

bool SataDrive::FormEnabled(const std::string& form) const {
  auto it = forms_.find(form);
  return it == forms_.end() || it->second;
}

bool SataDrive::Control(Request& request) {
  const char* form = nullptr;
  switch (request.code) {
    case IOCTL_ATA_PASS_THROUGH: form = kFormAtaPassThrough; break;
    case IOCTL_IDE_PASS_THROUGH: form = kFormIdePassThrough; break;
    case IOCTL_ATA_PASS_THROUGH_DIRECT: form = kFormAtaDirect; break;
    case SMART_RCV_DRIVE_DATA: form = kFormSmartRcv; break;
    default: return SimDrive::Control(request);
  }
  // A driver without the form does not know the control code.
  if (!FormEnabled(form)) return FailWith(ERROR_INVALID_FUNCTION);
  switch (request.code) {
    case IOCTL_ATA_PASS_THROUGH: return BufferedPassThrough(request);
    case IOCTL_IDE_PASS_THROUGH: return LegacyPassThrough(request);
    case IOCTL_ATA_PASS_THROUGH_DIRECT: return DirectPassThrough(request);
    default: return SmartReceive(request);
  }
}

bool SataDrive::Run(const std::string& form, Task& task, Answer* answer, Shaping* shaping) {
  std::optional<Fault> fault = TakeFault(form, task.regs.Command, task.regs.Features);
  if (fault && fault->effect == FaultEffect::Fail) return FailWith(fault->error);
  if (fault && fault->effect == FaultEffect::Abort) {
    *answer = AbortedAnswer(task.regs);
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(state_);
    *answer = Execute(task);
  }
  if (fault && fault->effect == FaultEffect::Zeros) std::fill(answer->in.begin(), answer->in.end(), 0);
  if (fault && fault->effect == FaultEffect::Short) {
    shaping->shortReply = true;
    shaping->bytes = fault->bytes;
  }
  return true;
}

// Buffered requests work in one system buffer that starts as a copy of the
// input and is copied back to the output, as the platform does for them.
bool SataDrive::BufferedPassThrough(Request& r) {
  using H = wire::AtaPassThroughEx;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  std::vector<uint8_t> sys;
  H h;
  bool in = false, out = false;
  if (!TakeAtaHeader(r, &sys, &h, &in, &out)) return false;
  Task task;
  task.regs = h.CurrentTaskFile;
  task.length = h.DataTransferLength;
  if (task.length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    uint64_t end = static_cast<uint64_t>(h.DataBufferOffset) + task.length;
    if (h.DataBufferOffset < H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
    if (end > (out ? inSize : outSize)) return FailWith(ERROR_INVALID_PARAMETER);
    task.dir = in ? Dir::In : Dir::Out;
    if (out) task.out.assign(sys.begin() + h.DataBufferOffset, sys.begin() + end);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormAtaPassThrough, task, &a, &shaping)) return false;
  uint32_t transferred = static_cast<uint32_t>(a.in.size());
  if (task.dir == Dir::Out && !a.aborted) transferred = task.length;
  uint32_t reply = H::kSize;
  if (task.dir == Dir::In && !a.in.empty()) {
    std::copy(a.in.begin(), a.in.end(), sys.begin() + h.DataBufferOffset);
    reply = h.DataBufferOffset + static_cast<uint32_t>(a.in.size());
  }
  if (shaping.shortReply) reply = std::min(reply, shaping.bytes);
  h.CurrentTaskFile = a.regs;
  h.DataTransferLength = transferred;
  h.Encode(sys.data());
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool SataDrive::LegacyPassThrough(Request& r) {
  using L = wire::IdePassThrough;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < L::kData || outSize < L::kData) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  Task task;
  task.regs = L::DecodeRegisters(sys.data());
  task.length = L::DecodeDataBufferSize(sys.data());
  if (static_cast<uint64_t>(L::kData) + task.length > inSize) return FailWith(ERROR_INVALID_PARAMETER);
  // The legacy form has no direction flags: the driver knows each command's.
  Protocol p = ProtocolOf(task.regs);
  if (task.length > 0) {
    task.dir = p.dir == 1 ? Dir::In : Dir::Out;
    if (task.dir == Dir::In && L::kData + task.length > outSize)
      return FailWith(ERROR_INVALID_PARAMETER);
    if (task.dir == Dir::Out)
      task.out.assign(sys.begin() + L::kData, sys.begin() + L::kData + task.length);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormIdePassThrough, task, &a, &shaping)) return false;
  uint32_t reply = L::kData;
  if (task.dir == Dir::In && !a.in.empty()) {
    std::copy(a.in.begin(), a.in.end(), sys.begin() + L::kData);
    reply = L::kData + static_cast<uint32_t>(a.in.size());
  }
  if (shaping.shortReply) reply = std::min(reply, shaping.bytes);
  AtaTaskFile back = a.regs;
  back.Reserved = 0;
  L::EncodeHeader(sys.data(), back, task.dir == Dir::In ? static_cast<uint32_t>(a.in.size())
                                                         : (a.aborted ? 0 : task.length));
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool SataDrive::DirectPassThrough(Request& r) {
  using D = wire::AtaPassThroughDirect;
  std::vector<uint8_t> sys;
  D h;
  bool in = false, out = false;
  if (!TakeAtaHeader(r, &sys, &h, &in, &out)) return false;
  Task task;
  task.regs = h.CurrentTaskFile;
  task.length = h.DataTransferLength;
  if (task.length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    // The pointer must name the memory handed over, cover the transfer and
    // meet the adapter's alignment.
    if (r.pointed.size() < task.length || h.DataBuffer != wire::Address32(r.pointed.data()))
      return FailWith(ERROR_INVALID_PARAMETER);
    if (h.DataBuffer % wire::kAtaDirectAlignment != 0) return FailWith(ERROR_INVALID_PARAMETER);
    task.dir = in ? Dir::In : Dir::Out;
    if (out) task.out.assign(r.pointed.begin(), r.pointed.begin() + task.length);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormAtaDirect, task, &a, &shaping)) return false;
  uint32_t transferred = task.dir == Dir::Out && !a.aborted ? task.length : 0;
  if (task.dir == Dir::In) {
    size_t n = a.in.size();
    if (shaping.shortReply) n = std::min<size_t>(n, shaping.bytes);
    std::copy(a.in.begin(), a.in.begin() + n, r.pointed.begin());
    transferred = static_cast<uint32_t>(n);
  }
  h.CurrentTaskFile = a.regs;
  h.DataTransferLength = transferred;
  h.Encode(sys.data());
  std::copy(sys.begin(), sys.begin() + D::kSize, r.out.begin());
  *r.returned = D::kSize;
  return true;
}

bool SataDrive::SmartReceive(Request& r) {
  using I = wire::SendCmdInParams;
  using O = wire::SendCmdOutParams;
  if (r.in.size() < I::kMinimumSize) return FailWith(ERROR_INVALID_PARAMETER);
  I params = I::Decode(r.in.data());
  Task task;
  task.regs = params.irDriveRegs;
  // The receive request carries only the reads: IDENTIFY and the SMART
  // data, thresholds and log reads. Everything else needs another request.
  uint32_t size = 512;
  if (task.regs.Command == kSmart) {
    uint8_t f = task.regs.Features;
    if (f == kSmartReadLog) {
      size = task.regs.SectorCount * 512u;
    } else if (f != kSmartReadData && f != kSmartReadThresholds) {
      return FailWith(ERROR_INVALID_PARAMETER);
    }
  } else if (task.regs.Command != kIdentify) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (r.out.size() < O::kHeaderSize + size) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  task.dir = Dir::In;
  task.length = size;

  Answer a;
  Shaping shaping;
  if (!Run(kFormSmartRcv, task, &a, &shaping)) return false;
  std::vector<uint8_t> reply(O::kHeaderSize, 0);
  O header;
  if (a.aborted) {
    header.bDriverError = O::kSmartIdeError;
    header.bIDEError = a.regs.Error();
  } else {
    header.cBufferSize = static_cast<uint32_t>(a.in.size());
    reply.insert(reply.end(), a.in.begin(), a.in.end());
  }
  header.EncodeHeader(reply.data());
  uint32_t n = static_cast<uint32_t>(reply.size());
  if (shaping.shortReply) n = std::min(n, shaping.bytes);
  std::copy(reply.begin(), reply.begin() + n, r.out.begin());
  *r.returned = n;
  return true;
}

}  // namespace zel::sim
