// The NVMe self-test. Device Self-test (admin opcode 0x14) starts a short
// (code 1) or extended (code 2) test or aborts one (code 0xF); the Device
// Self-test log (page 0x06) says which operation runs (byte 0, bits 3:0),
// how far it is (byte 1, bits 6:0) and, in its first 28-byte entry from
// byte 4, the result of the newest test (bits 3:0 of the entry's byte 0).
#include "maintenance/self_test_nvme.h"

#include <array>

#include "device/ata_command.h"
#include "log/log.h"
#include "platform/platform.h"

namespace zel {
namespace {

constexpr uint32_t kPollMs = 5000;
constexpr int kFailedReadsThatEnd = 3;
constexpr uint32_t kCodeShort = 0x1;
constexpr uint32_t kCodeExtended = 0x2;
constexpr uint32_t kCodeAbort = 0xF;
constexpr uint16_t kOacsDeviceSelfTest = 0x0010;

const char* ResultText(uint8_t field) {
  switch (field) {
    case 0x0: return "Operation completed without error.";
    case 0x1: return "Operation was aborted by a Device Self-test command.";
    case 0x2: return "Operation was aborted by a Controller Level Reset.";
    case 0x3: return "Operation was aborted due to a removal of a namespace from the namespace inventory.";
    case 0x4: return "Operation was aborted due to the processing of a Format NVM command.";
    case 0x5: return "A fatal error or unknown test error occurred while the controller was executing the device self-test operation and the operation did not complete.";
    case 0x6: return "Operation completed with a segment that failed and the segment that failed is not known.";
    case 0x7: return "Operation completed with one or more failed segments.";
    case 0x8: return "Operation was aborted for unknown reason.";
    case 0x9: return "Operation was aborted due to a sanitize operation.";
    case 0xF: return "Entry not used (does not contain a test result).";
    default: return "Reserved.";
  }
}

}  // namespace

bool NvmeSupportsDeviceSelfTest(const PhysicalDriveRecord& drive) {
  uint16_t oacs = static_cast<uint16_t>(drive.NvmeIdentifyData[256] |
                                        (drive.NvmeIdentifyData[257] << 8));
  return (oacs & kOacsDeviceSelfTest) != 0;
}

int32_t NvmeSelfTestResultCode(uint8_t resultField) {
  switch (resultField & 0x0F) {
    case 0x0: return kSelfTestPassed;
    case 0x1: return kSelfTestAborted;
    case 0x2: case 0x3: case 0x4: case 0x8: case 0x9: return kSelfTestInterrupted;
    case 0x6: case 0x7: return kSelfTestFailedUnknown;
    case 0xF: return 0;
    default: return kSelfTestFatal;  // 0x5 and the reserved values
  }
}

SelfTestOutcome RunNvmeSelfTest(const PhysicalDriveRecord& drive, int32_t kind,
                                const SelfTestProgressSink& progress,
                                const std::atomic<bool>& cancel) {
  SelfTestOutcome outcome;
  const char* path = drive.DevicePath.c_str();
  if (!NvmeSupportsDeviceSelfTest(drive)) {
    LogTraceF("SelfTestThreadProc--NVMe controller %s does not support Device Self-test", path);
    outcome.End = SelfTestEnd::NotSupported;
    outcome.Message = kSelfTestNotSupportedText;
    return outcome;
  }
  ATACommand ata;
  const uint32_t code = kind == kSelfTestFull ? kCodeExtended : kCodeShort;
  if (!ata.DoDeviceSelfTestNVMe(drive.DevicePath, code)) {
    LogTraceF("SelfTestThreadProc--Device Self-test(%s, %u) fail", path, code);
    outcome.End = SelfTestEnd::NotStarted;
    outcome.Result = kSelfTestFatal;
    outcome.Message = "The drive refused to start the self-test.";
    return outcome;
  }

  int failedReads = 0;
  std::array<uint8_t, kNvmeSelfTestLogSize> log{};
  while (!cancel.load()) {
    platform::Sys().Sleep(kPollMs);
    if (!ata.GetLogPageCommand_SelfTest(drive.DevicePath, log.data())) {
      ++failedReads;
      LogTraceF("SelfTestThreadProc--Device Self-test log(%s) fail (%d in a row)", path,
                failedReads);
      if (failedReads >= kFailedReadsThatEnd) {
        outcome.Result = kSelfTestFatal;
        outcome.Message = "The drive's self-test status could not be read.";
        return outcome;
      }
      continue;
    }
    failedReads = 0;
    if ((log[0] & 0x0F) != 0) {
      int32_t percent = log[1] & 0x7F;
      LogTraceF("(%4d)\tDevice self-test in progress...%d%% complete.", log[0] & 0x0F, percent);
      if (progress) progress(percent);
      continue;
    }
    uint8_t field = log[4] & 0x0F;
    LogTraceF("(%4d)\t%s", log[4], ResultText(field));
    int32_t result = NvmeSelfTestResultCode(field);
    // A log without a newest entry after the test: the test left no result.
    outcome.Result = result == 0 ? kSelfTestFatal : result;
    return outcome;
  }
  outcome.End = SelfTestEnd::Cancelled;
  return outcome;
}

uint32_t AbortNvmeSelfTest(const PhysicalDriveRecord& drive) {
  if (!NvmeSupportsDeviceSelfTest(drive)) return 0;
  ATACommand ata;
  return ata.DoDeviceSelfTestNVMe(drive.DevicePath, kCodeAbort);
}

}  // namespace zel
