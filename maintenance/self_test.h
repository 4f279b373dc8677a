// Self-test diagnostics: the drive's own short ("quick") or extended
// ("full") self-test, started, followed every five seconds and ended with a
// result code.
//
// The test is written once as a synchronous operation, RunSelfTest, on a
// copied drive record with a progress sink and a cancel flag; the
// Diagnostics page runs it on a worker (SelfTestThreadProc, which posts the
// progress notifications) and `zelvane selftest` calls it directly.
//
// SATA drives run the SMART self-test (EXECUTE OFF-LINE IMMEDIATE, then the
// execution status byte of SMART READ DATA). NVMe controllers run Device
// Self-test when Identify Controller says they have it and are followed
// through the Device Self-test log; a controller without it gets nothing
// sent and no result, never a pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "device/drive_record.h"
#include "platform/worker.h"

namespace zel {

// Test kinds; also the running-operation code while the test runs.
inline constexpr int32_t kSelfTestQuick = 1;
inline constexpr int32_t kSelfTestFull = 2;

// SMART EXECUTE OFF-LINE IMMEDIATE subcommands.
inline constexpr uint8_t kSelfTestSubcommandShort = 0x01;
inline constexpr uint8_t kSelfTestSubcommandExtended = 0x02;
inline constexpr uint8_t kSelfTestSubcommandAbort = 0x7F;

// Result codes of the end notification.
inline constexpr int32_t kSelfTestPassed = 101;
inline constexpr int32_t kSelfTestAborted = 102;
inline constexpr int32_t kSelfTestInterrupted = 103;
inline constexpr int32_t kSelfTestFatal = 104;
inline constexpr int32_t kSelfTestFailedUnknown = 105;
inline constexpr int32_t kSelfTestFailedElectrical = 106;
inline constexpr int32_t kSelfTestFailedServo = 107;
inline constexpr int32_t kSelfTestFailedRead = 108;
inline constexpr int32_t kSelfTestFailedHandling = 109;

// The fixed English text shown when a drive has no self-test to run.
inline constexpr const char* kSelfTestNotSupportedText =
    "This drive does not support a self-test; no test was run.";

// The block handed to the worker; the page keeps one per test kind for the
// life of the program (platform::ProgramRequestBlock).
struct SelfTestRequest {
  int32_t DriveNumber = 0;
  std::atomic<int32_t> Result{0};  // written by the worker just before the end notification
  int32_t DriveIndex = 0;
  int32_t Kind = 0;
  std::string WindowTitle;
  int32_t BusType = 0;
  // The drive under test as the page saw it (the NVMe test needs its path
  // and Identify data).
  PhysicalDriveRecord Drive;
  // Set by the worker before the end notification when the test could not
  // run at all and the user should be told why (empty otherwise).
  std::string Note;
};

// How a run ended.
enum class SelfTestEnd {
  Final,         // the drive reported a final status; Result holds its code
  Cancelled,     // the cancel flag stopped the polling first
  NotStarted,    // the drive refused or cannot run the test; Result is a failure code
  NotSupported,  // the drive has no self-test; nothing was sent, no result
};

struct SelfTestOutcome {
  SelfTestEnd End = SelfTestEnd::Final;
  int32_t Result = 0;
  std::string Message;  // why a test could not run
};

// Where a run reports: the percentage done after each non-final reading.
using SelfTestProgressSink = std::function<void(int32_t percent)>;

// Decodes a SMART self-test execution status byte: writes its log line and
// returns the value (101-109 final, else the percentage done; a reserved
// status gives 7). `request` is the address the aborted-by-host line shows.
int32_t DecodeSelfTestStatus(uint8_t status, const void* request);

// SMART READ DATA to drive `driveNumber`; byte 363 of the page, or -1 when
// the read failed.
int32_t GetSelfTestStatus(uint32_t driveNumber);

// Runs one test of `kind` on `drive` to its end: starts it, sleeps five
// seconds between readings, reports each non-final reading to `progress`,
// and stops polling once `cancel` is set (checked before every cycle).
// `request` is only the address shown in the log.
SelfTestOutcome RunSelfTest(PhysicalDriveRecord drive, int32_t kind,
                            const SelfTestProgressSink& progress, const std::atomic<bool>& cancel,
                            const void* request = nullptr);

// Aborts a running self-test in the drive (SMART subcommand 0x7F, or Device
// Self-test with code 0xF on NVMe). Nonzero when the drive took the command.
uint32_t AbortSelfTest(const PhysicalDriveRecord& drive);

// The process-wide cancel flag, shared by both tests: set by the running
// test's Cancel button, cleared by the page after every end notification.
std::atomic<bool>& SelfTestCancelFlag();

// The worker's body: copies the request, sets the running-operation code to
// its kind, posts the start, runs the test, writes the result into the
// shared block and posts the end.
void SelfTestThreadProc(platform::WorkerRun& run);

// Starts SelfTestThreadProc on `request` (the worker ends at once, resetting
// the code to 0, when the main window titled request.WindowTitle is not
// there). False when no thread could start.
bool StartSelfTestWorker(SelfTestRequest& request, std::atomic<int32_t>& runningOperationCode);

}  // namespace zel
