#include "platform/worker.h"

#include <system_error>
#include <thread>

namespace zel::platform {

bool WorkerRun::Post(uint8_t phase, int32_t value) const {
  if (window_ == 0) return false;
  return platform_->Windows().PostMessageW(window_, SSDZELVMSG_PROGRESS, ProgressWParam(phase, value),
                                           reinterpret_cast<LPARAM>(request_));
}

bool StartWorker(std::atomic<int32_t>& runningOperationCode, WorkerStart start,
                 std::function<void(WorkerRun&)> body) {
  std::shared_ptr<Platform> platform = Hold();
  try {
    std::thread([platform, &runningOperationCode, start = std::move(start),
                 body = std::move(body)]() mutable {
      PinnedPlatform pin(platform);
      HWND window = platform->Windows().FindWindowW(start.windowTitle);
      if (window == 0 && start.withoutWindow == WithoutWindow::End) {
        runningOperationCode.store(0);
        return;
      }
      WorkerRun run(std::move(platform), runningOperationCode, window, start.request);
      body(run);
    }).detach();
  } catch (const std::system_error&) {
    runningOperationCode.store(0);
    return false;
  }
  return true;
}

}  // namespace zel::platform
