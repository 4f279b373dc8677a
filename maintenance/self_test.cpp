// Self-test diagnostics: the status-byte decoding, the SATA test loop and the
// worker that reports to the main window. The NVMe test is in
// self_test_nvme.cpp.
#include "maintenance/self_test.h"

#include <cinttypes>
#include <memory>

#include "device/ata_command.h"
#include "log/log.h"
#include "maintenance/self_test_nvme.h"
#include "platform/platform.h"

namespace zel {
namespace {

constexpr uint32_t kPollMs = 5000;
constexpr int kFailedReadsThatEnd = 3;
// SMART data page: the self-test execution status and the off-line
// data collection capability byte, whose bit 4 says self-tests are supported.
constexpr size_t kStatusOffset = 363;
constexpr size_t kCapabilityOffset = 367;
constexpr uint8_t kCapabilitySelfTest = 0x10;

// A pointer as the platform's "%p" prints it on 64 bits: sixteen upper-case
// hexadecimal digits without a prefix.
std::string PointerText(uintptr_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIXPTR, value);
  return text;
}

}  // namespace

std::atomic<bool>& SelfTestCancelFlag() {
  static std::atomic<bool> flag{false};
  return flag;
}

int32_t DecodeSelfTestStatus(uint8_t status, const void* request) {
  const int whole = status;
  const int low = status & 0x0F;
  switch (status >> 4) {
    case 0:
      LogTraceF("(%4d)\tThe previous self-test routine completed without error or no self-test "
                "has ever been run.", whole);
      return kSelfTestPassed;
    case 1:
      LogTraceF("(%4d)\tThe self-test routine was aborted by the host.(%s)", whole,
                PointerText(reinterpret_cast<uintptr_t>(request)).c_str());
      return kSelfTestAborted;
    case 2:
      LogTraceF("(%4d)\tThe self-test routine was interrupted by the host with a hard or soft "
                "reset.", whole);
      return kSelfTestInterrupted;
    case 3:
      LogTraceF("(%4d)\tA fatal error or unknown test error occurred while the device was "
                "executing its self-test routine and the device was unable to complete the "
                "self-test routine.", whole);
      return kSelfTestFatal;
    case 4:
      LogTraceF("(%4d)\tThe previous self-test completed having a test element that failed and "
                "the test element that failed is not known.", whole);
      return kSelfTestFailedUnknown;
    case 5:
      LogTraceF("(%4d)\tThe previous self-test completed having the electrical element of the "
                "test failed.", whole);
      return kSelfTestFailedElectrical;
    case 6:
      LogTraceF("(%4d)\tThe previous self-test completed having the servo (and/or seek) element "
                "of the test failed.", whole);
      return kSelfTestFailedServo;
    case 7:
      LogTraceF("(%4d)\tThe previous self-test completed having the read element of the test "
                "failed.", whole);
      return kSelfTestFailedRead;
    case 8:
      LogTraceF("(%4d)\tThe previous self-test completed having a test element that failed and "
                "the device is suspected of having handling damage.", whole);
      return kSelfTestFailedHandling;
    case 15:
      LogTraceF("(%4d)\tSelf-test routine in progress...%1d0%% of test remaining.", whole, low);
      // A low nibble above 10 is outside the standard; it gives a negative
      // value that, taken unsigned, is above 100 and so ends the test.
      return 100 - 10 * low;
    default:
      LogTraceF("(%4d)\tReserved.\n", whole);
      return 7;
  }
}

int32_t GetSelfTestStatus(uint32_t driveNumber) {
  ATACommand ata;
  PhysicalDriveRecord page;
  // The page starts zeroed; a failed read is reported as such rather than
  // as the zero status byte, which would read "completed without error".
  if (!ata.GetSmartAttributePd(driveNumber, 0, page)) return -1;
  return page.SmartData[kStatusOffset];
}

uint32_t AbortSelfTest(const PhysicalDriveRecord& drive) {
  if (drive.BusType == kBusNvme) return AbortNvmeSelfTest(drive);
  ATACommand ata;
  return ata.DoSmartSelfTest(static_cast<uint32_t>(drive.PhysicalDriveIndex),
                             kSelfTestSubcommandAbort);
}

SelfTestOutcome RunSelfTest(PhysicalDriveRecord drive, int32_t kind,
                            const SelfTestProgressSink& progress, const std::atomic<bool>& cancel,
                            const void* request) {
  if (drive.BusType == kBusNvme) return RunNvmeSelfTest(drive, kind, progress, cancel);

  SelfTestOutcome outcome;
  const uint32_t number = static_cast<uint32_t>(drive.PhysicalDriveIndex);
  ATACommand ata;

  // A drive whose SMART data says it has no self-test would never start
  // one; polling it would only read back an older test's status.
  PhysicalDriveRecord capability;
  if (ata.GetSmartAttributePd(number, 0, capability) &&
      !(capability.SmartData[kCapabilityOffset] & kCapabilitySelfTest)) {
    LogTraceF("SelfTestThreadProc--drive %u does not support a self-test (capability 0x%02X)",
              number, capability.SmartData[kCapabilityOffset]);
    outcome.End = SelfTestEnd::NotStarted;
    outcome.Result = kSelfTestFatal;
    outcome.Message = kSelfTestNotSupportedText;
    return outcome;
  }

  const uint8_t subcommand = kind == kSelfTestFull ? kSelfTestSubcommandExtended
                                                   : kSelfTestSubcommandShort;
  if (!ata.DoSmartSelfTest(number, subcommand)) {
    LogTraceF("SelfTestThreadProc--DoSmartSelfTest(%u, %u) fail", number, subcommand);
    outcome.End = SelfTestEnd::NotStarted;
    outcome.Result = kSelfTestFatal;
    outcome.Message = "The drive refused to start the self-test.";
    return outcome;
  }

  int failedReads = 0;
  platform::System& sys = platform::Sys();
  while (!cancel.load()) {
    sys.Sleep(kPollMs);
    int32_t status = GetSelfTestStatus(number);
    if (status < 0) {
      ++failedReads;
      LogTraceF("SelfTestThreadProc--GetSelfTestStatus(%u) fail (%d in a row)", number,
                failedReads);
      if (failedReads >= kFailedReadsThatEnd) {
        outcome.End = SelfTestEnd::Final;
        outcome.Result = kSelfTestFatal;
        outcome.Message = "The drive's self-test status could not be read.";
        return outcome;
      }
      continue;
    }
    failedReads = 0;
    int32_t value = DecodeSelfTestStatus(static_cast<uint8_t>(status), request);
    std::string statusText = PointerText(static_cast<uintptr_t>(status));
    LogTraceF("SSDZELVMSG_WPARAM_PROGRESSEND, %s", statusText.c_str());
    if (static_cast<uint32_t>(value) > 100) {
      LogTraceF("SSDZELVMSG_WPARAM_PROGRESSEND, %s", statusText.c_str());
      outcome.End = SelfTestEnd::Final;
      outcome.Result = value;
      return outcome;
    }
    if (progress) progress(value);
  }
  outcome.End = SelfTestEnd::Cancelled;
  return outcome;
}

void SelfTestThreadProc(platform::WorkerRun& run) {
  auto& shared = *static_cast<SelfTestRequest*>(run.Request());
  // A private copy for the worker's own decisions; only the result and the
  // note go back into the shared block.
  const int32_t kind = shared.Kind;
  const PhysicalDriveRecord drive = shared.Drive;
  run.RunningOperationCode().store(kind);
  LogEnter("SelfTestThreadProc");
  run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSSTART);

  SelfTestOutcome outcome = RunSelfTest(
      drive, kind,
      [&](int32_t percent) {
        // The percentage in the high half, the kind in the low half.
        run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSUPDATE,
                 static_cast<int32_t>((static_cast<uint32_t>(percent) << 16) |
                                      (static_cast<uint32_t>(kind) & 0xFFFF)));
      },
      SelfTestCancelFlag(), &shared);

  shared.Note = outcome.Message;
  // A cancelled run keeps what the result field holds (0 from the start).
  if (outcome.End != SelfTestEnd::Cancelled) shared.Result.store(outcome.Result);
  run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSEND, shared.Result.load());
  LogExit("SelfTestThreadProc");
}

bool StartSelfTestWorker(SelfTestRequest& request, std::atomic<int32_t>& runningOperationCode) {
  return platform::StartWorker(runningOperationCode,
                               {request.WindowTitle, &request, platform::WithoutWindow::End},
                               SelfTestThreadProc);
}

}  // namespace zel
