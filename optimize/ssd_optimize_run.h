// Starting the free-space TRIM from the System Optimization page: the Run
// button's refusals and the run-state step (StartSsdOptimize), and the
// worker that drives the page while the TRIM runs (SsdOptimizeThreadProc).
// The page is reached through SsdOptimizePage, so the same worker serves the
// page class and its tests.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/drive_record.h"
#include "optimize/free_space_trim.h"

namespace zel {

// String ids of the messages the Run button and the worker show.
inline constexpr int kStringSsdOptimizationDone = 289;     // "SSD Optimization is done!"
inline constexpr int kStringSsdOptimizationRunning = 290;  // "SSD Optimization is running!"
inline constexpr int kStringNoRecognizedPartition = 260;   // "There is no recognized partition."
inline constexpr int kStringTrimInProgress = 364;          // "Trim is in progress."

// What the worker drives on the page.
class SsdOptimizePage {
 public:
  virtual ~SsdOptimizePage() = default;
  virtual void EnableRunButton(bool enable) = 0;
  // 0 idle, 1 SSD optimization running, 2 OS optimization running.
  virtual void SetBusyState(int32_t state) = 0;
  virtual void ShowProgressBar(bool show) = 0;
  virtual void SetProgressRange(uint64_t lower, uint64_t upper) = 0;
  virtual void SetProgressPosition(uint64_t position) = 0;
  // A message box with the string's text; returns when the user closed it.
  virtual void ShowStringMessage(int stringId) = 0;
};

// The worker's request block (one per program, platform::ProgramRequestBlock).
struct SsdOptimizeRequest {
  int32_t DriveNumber = 0;
  SsdOptimizePage* Page = nullptr;
  int32_t OperationCode = kSsdOptimizationOperationCode;
};

// The Run button before the worker: refuses with the string id to show
// (290 while the page is busy, 260 for a drive without volumes, 364 while a
// run counts as active), or, with 0, has cleaned up left-over TRIM folders
// of every drive of `table` and marked the run as started at `now`; the
// caller then starts the worker.
int StartSsdOptimize(int32_t busyState, int32_t driveNumber, const PhysicalDriveTable& table,
                     int64_t now);

// The worker's body: Run button off, busy 1, the running-operation code 6,
// the bar from 0 and shown; the TRIM; the completion message; then the bar
// hidden, Run on, the code and busy back to 0 and TrimInProgress = 0.
// Returns 1.
int SsdOptimizeThreadProc(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode);
// The same for a platform that needs the direct TRIM (version 5.1): delete
// notifications left alone, each filler file trimmed by its LBA ranges, the
// bar's range twice the filler files.
int SsdOptimizeThreadProc_XP(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode);

// Starts SsdOptimizeThreadProc (SsdOptimizeThreadProc_XP on version 5.1) on a
// worker thread of its own; false when no
// thread could be started (the running-operation code is then 0 again).
bool StartSsdOptimizeWorker(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode);

}  // namespace zel
