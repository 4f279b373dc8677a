// The simulated NVMe drive's admin commands through the storage protocol
// command: Device Self-test on the machine's virtual clock and the Device
// Self-test log that follows it.
#include <algorithm>
#include <cstring>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/sim/nvme_drive.h"
#include "platform/wire/nvme.h"

namespace zel::sim {

using namespace zel::platform;
using wire::StorageProtocolCommand;

namespace {

// NVMe status fields (status code type in bits 10:8, code in 7:0).
constexpr uint32_t kStatusInvalidOpcode = 0x001;
constexpr uint32_t kStatusInvalidField = 0x002;
constexpr uint32_t kStatusSelfTestInProgress = 0x11D;
constexpr uint16_t kOacsDeviceSelfTest = 0x0010;
constexpr size_t kLogSize = 564;
constexpr size_t kEntrySize = 28;
constexpr size_t kMaxEntries = 20;

}  // namespace

void NvmeDrive::LoadSelfTest(const Json& entry, const std::string& where) {
  if (!entry.contains("selfTest")) return;
  const Json& t = entry["selfTest"];
  std::string at = where + ".selfTest";
  CheckKeys(t, {"shortSeconds", "extendedSeconds", "result", "endsAfterSeconds", "comment"}, at);
  shortTestMs_ = static_cast<uint32_t>(NumberOr(t, "shortSeconds", 120, at) * 1000);
  extendedTestMs_ = static_cast<uint32_t>(NumberOr(t, "extendedSeconds", 600, at) * 1000);
  if (shortTestMs_ == 0 || extendedTestMs_ == 0)
    throw FixtureError(at + ": a self-test takes at least one second");
  uint64_t result = NumberOr(t, "result", 0, at);
  if (result > 0xF) throw FixtureError(at + ".result: a result field is 0 to 15");
  testResult_ = static_cast<uint8_t>(result);
  if (t.contains("endsAfterSeconds"))
    testEndsAfterMs_ = static_cast<uint32_t>(NumberOr(t, "endsAfterSeconds", 0, at) * 1000);
}

void NvmeDrive::SettleSelfTest() {
  if (!testOperation_) return;
  uint64_t elapsed = machine_.Clock().NowMs() - testStartMs_;
  uint64_t endsAt = testDurationMs_;
  if (testEndsAfterMs_ && *testEndsAfterMs_ < endsAt) endsAt = *testEndsAfterMs_;
  if (elapsed < endsAt) return;
  std::array<uint8_t, kEntrySize> e{};
  e[0] = static_cast<uint8_t>((testOperation_ << 4) | testResult_);
  testEntries_.push_front(e);
  if (testEntries_.size() > kMaxEntries) testEntries_.pop_back();
  testOperation_ = 0;
}

std::array<uint8_t, 564> NvmeDrive::SelfTestLog() {
  std::array<uint8_t, kLogSize> log{};
  log[0] = testOperation_;
  if (testOperation_) {
    uint64_t elapsed = machine_.Clock().NowMs() - testStartMs_;
    log[1] = static_cast<uint8_t>(std::min<uint64_t>(99, elapsed * 100 / testDurationMs_));
  }
  for (size_t i = 0; i < kMaxEntries; ++i) {
    uint8_t* e = log.data() + 4 + kEntrySize * i;
    if (i < testEntries_.size()) {
      std::memcpy(e, testEntries_[i].data(), kEntrySize);
    } else {
      e[0] = 0x0F;  // entry not used
    }
  }
  return log;
}

// IOCTL_STORAGE_PROTOCOL_COMMAND: one NVMe admin command, checked as a
// driver checks it. A command the controller refuses still completes the
// request, with the error status and the NVMe status in the header.
bool NvmeDrive::ProtocolCommand(Request& r) {
  using C = StorageProtocolCommand;
  if (r.in.size() < C::kErrorInfoAt) return FailWith(ERROR_INVALID_PARAMETER);
  C c = C::Decode(r.in.data());
  std::optional<Fault> fault = TakeFault("protocol_command", -1, -1, c.Command.Opcode);
  if (fault && (fault->effect == FaultEffect::Fail || fault->effect == FaultEffect::Abort))
    return FailWith(fault->error);
  if (c.Version != wire::STORAGE_PROTOCOL_STRUCTURE_VERSION || c.Length != C::kStructureLength ||
      c.CommandLength != wire::NvmeCommand::kSize ||
      c.CommandSpecific != wire::STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (c.ProtocolType != wire::ProtocolTypeNvme) return FailWith(ERROR_NOT_SUPPORTED);
  if (r.out.size() < r.in.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  auto inside = [&](uint32_t offset, uint32_t length) {
    return length == 0 || (offset >= C::kErrorInfoAt && uint64_t{offset} + length <= r.in.size());
  };
  if (!inside(c.ErrorInfoOffset, c.ErrorInfoLength) ||
      !inside(c.DataToDeviceBufferOffset, c.DataToDeviceTransferLength) ||
      !inside(c.DataFromDeviceBufferOffset, c.DataFromDeviceTransferLength))
    return FailWith(ERROR_INVALID_PARAMETER);

  StartReplyBlock(r);
  uint32_t status = 0;
  const wire::NvmeCommand& cmd = c.Command;
  uint16_t oacs = static_cast<uint16_t>(identify_[256] | (identify_[257] << 8));
  std::lock_guard<std::mutex> lock(testMutex_);
  SettleSelfTest();
  if (cmd.Opcode == wire::NVME_ADMIN_COMMAND_DEVICE_SELF_TEST) {
    uint32_t code = cmd.Cdw10 & 0xF;
    if (!(oacs & kOacsDeviceSelfTest)) {
      status = kStatusInvalidOpcode;
    } else if (cmd.Nsid != 0 && cmd.Nsid != wire::NVME_NAMESPACE_ALL && cmd.Nsid != 1) {
      status = kStatusInvalidField;
    } else if (code == 0x1 || code == 0x2) {
      if (testOperation_) {
        status = kStatusSelfTestInProgress;
      } else {
        testOperation_ = static_cast<uint8_t>(code);
        testStartMs_ = machine_.Clock().NowMs();
        testDurationMs_ = code == 0x1 ? shortTestMs_ : extendedTestMs_;
      }
    } else if (code == 0xF) {
      if (testOperation_) {
        std::array<uint8_t, kEntrySize> e{};
        e[0] = static_cast<uint8_t>((testOperation_ << 4) | 0x1);  // aborted by a Device Self-test command
        testEntries_.push_front(e);
        if (testEntries_.size() > kMaxEntries) testEntries_.pop_back();
        testOperation_ = 0;
      }
    } else {
      status = kStatusInvalidField;
    }
  } else if (cmd.Opcode == wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE &&
             (cmd.Cdw10 & 0xFF) == wire::NVME_LOG_PAGE_DEVICE_SELF_TEST) {
    uint32_t bytes = ((cmd.Cdw10 >> 16) + 1) * 4;
    if (!(oacs & kOacsDeviceSelfTest)) {
      status = kStatusInvalidField;
    } else if (bytes > c.DataFromDeviceTransferLength || bytes > kLogSize) {
      status = kStatusInvalidField;
    } else {
      std::array<uint8_t, kLogSize> log = SelfTestLog();
      uint8_t* out = r.out.data() + c.DataFromDeviceBufferOffset;
      std::memset(out, 0, c.DataFromDeviceTransferLength);
      uint32_t n = bytes;
      if (fault && fault->effect == FaultEffect::Short) n = std::min(n, fault->bytes);
      if (!(fault && fault->effect == FaultEffect::Zeros)) std::memcpy(out, log.data(), n);
    }
  } else {
    status = cmd.Opcode == wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE ? kStatusInvalidField
                                                                 : kStatusInvalidOpcode;
  }
  PutLE32(r.out.data() + C::kReturnStatus, status == 0 ? wire::STORAGE_PROTOCOL_STATUS_SUCCESS
                                                       : wire::STORAGE_PROTOCOL_STATUS_ERROR);
  PutLE32(r.out.data() + C::kErrorCode, status);
  *r.returned = static_cast<uint32_t>(r.in.size());
  return true;
}

void NvmeDrive::StartReplyBlock(Request& r) {
  size_t n = std::min(r.in.size(), r.out.size());
  if (n && r.out.data() != r.in.data()) std::memmove(r.out.data(), r.in.data(), n);
}

}  // namespace zel::sim
