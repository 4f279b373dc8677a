#include "optimize/ssd_optimize_run.h"

#include "inventory/underlying_util.h"
#include "log/log.h"
#include "optimize/quarn_registry.h"
#include "platform/worker.h"

namespace zel {

int StartSsdOptimize(int32_t busyState, int32_t driveNumber, const PhysicalDriveTable& table,
                     int64_t now) {
  if (busyState != 0) return kStringSsdOptimizationRunning;
  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> volumes;
  if (util.GetLogicalDriveInfo(driveNumber, volumes) <= 0) return kStringNoRecognizedPartition;
  if (ReadTrimRunState(now).active) return kStringTrimInProgress;
  DeleteTrimTempFolder(table);
  MarkTrimStarted(now);
  return 0;
}

namespace {

// The run's progress goes straight to the page's bar.
class PageProgress final : public SsdOptimizeProgress {
 public:
  explicit PageProgress(SsdOptimizePage& page) : page_(page) {}
  void Range(uint64_t total) override { page_.SetProgressRange(0, total); }
  void Position(uint64_t position) override { page_.SetProgressPosition(position); }

 private:
  SsdOptimizePage& page_;
};

int RunOptimizeWorker(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode,
                      bool directTrim, const char* name) {
  LogEnter(name);
  SsdOptimizePage& page = *request.Page;
  page.EnableRunButton(false);
  page.SetBusyState(1);
  runningOperationCode.store(request.OperationCode);
  page.SetProgressPosition(0);
  page.SetProgressRange(0, 0);
  page.ShowProgressBar(true);

  PageProgress progress(page);
  std::atomic<bool> cancel{false};
  RunSsdOptimize(request.DriveNumber, progress, cancel, directTrim);

  page.ShowStringMessage(kStringSsdOptimizationDone);
  page.ShowProgressBar(false);
  page.EnableRunButton(true);
  runningOperationCode.store(0);
  page.SetBusyState(0);
  MarkTrimEnded();
  LogExit(name);
  return 1;
}

}  // namespace

int SsdOptimizeThreadProc(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode) {
  return RunOptimizeWorker(request, runningOperationCode, false, "ATACommand::SsdOptimizeThreadProc");
}

int SsdOptimizeThreadProc_XP(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode) {
  return RunOptimizeWorker(request, runningOperationCode, true, "ATACommand::SsdOptimizeThreadProc_XP");
}

bool StartSsdOptimizeWorker(SsdOptimizeRequest& request, std::atomic<int32_t>& runningOperationCode) {
  platform::WorkerStart start;
  start.windowTitle = "QUARN SSD Zelvane";
  start.request = &request;
  // The worker drives its page directly; it does not need the window.
  start.withoutWindow = platform::WithoutWindow::Continue;
  const bool directTrim = UsesDirectTrim();
  return platform::StartWorker(runningOperationCode, start, [&request, directTrim](platform::WorkerRun& run) {
    if (directTrim)
      SsdOptimizeThreadProc_XP(request, run.RunningOperationCode());
    else
      SsdOptimizeThreadProc(request, run.RunningOperationCode());
  });
}

}  // namespace zel
