// Workers: the long operations (self-test, security erase, service stop,
// TRIM, the command-summary poller) run one thread per run beside the
// user-interface thread and report by posting the progress notification to
// the main window, which they find by its title.
//
// A worker thread is never joined: closing the program does not wait for it.
// So everything it touches must outlive the program's windows: its request
// block lives as long as the program (ProgramRequestBlock), the running-
// operation code it resets belongs to the program, and the platform it works
// on is held by the worker itself for its whole run and pinned on its thread,
// so a platform installed or removed meanwhile changes nothing for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/windows.h"

namespace zel::platform {

// The notification by which workers report to the main window.
inline constexpr uint32_t SSDZELVMSG_PROGRESS = WM_USER + 101;
inline constexpr uint8_t SSDZELVMSG_WPARAM_PROGRESSSTART = 1;
inline constexpr uint8_t SSDZELVMSG_WPARAM_PROGRESSUPDATE = 2;
inline constexpr uint8_t SSDZELVMSG_WPARAM_PROGRESSEND = 3;

// The first parameter of a notification: the phase in its low byte, the
// value that goes with the phase (0 at the start, the progress, the result
// at the end) as a 32-bit number in the next four bytes.
static_assert(sizeof(WPARAM) == 8, "the notification's value needs a 64-bit first parameter");
constexpr WPARAM ProgressWParam(uint8_t phase, int32_t value) {
  return static_cast<WPARAM>(phase) | (static_cast<WPARAM>(static_cast<uint32_t>(value)) << 8);
}
constexpr uint8_t ProgressPhase(WPARAM wParam) { return static_cast<uint8_t>(wParam & 0xFF); }
constexpr int32_t ProgressValue(WPARAM wParam) {
  return static_cast<int32_t>(static_cast<uint32_t>(wParam >> 8));
}

// The request block of one kind of worker: made on first use and never
// destroyed, so a worker still running while the program ends writes into
// live memory. Every run of that kind reuses it.
template <class Block>
Block& ProgramRequestBlock() {
  static Block* const block = new Block();
  return *block;
}

// What a worker does when the main window is not there at its start.
enum class WithoutWindow {
  End,       // reset the running-operation code to 0 and end without running
  Continue,  // run anyway; notifications are not posted
};

struct WorkerStart {
  std::string windowTitle;  // the main window's title
  void* request = nullptr;  // the request block, carried by every notification
  WithoutWindow withoutWindow = WithoutWindow::End;
};

// What the worker's body gets for its run.
class WorkerRun {
 public:
  WorkerRun(std::shared_ptr<Platform> platform, std::atomic<int32_t>& runningOperationCode,
            HWND window, void* request)
      : platform_(std::move(platform)),
        code_(runningOperationCode),
        window_(window),
        request_(request) {}

  Platform& Machine() const { return *platform_; }
  HWND Window() const { return window_; }
  void* Request() const { return request_; }
  std::atomic<int32_t>& RunningOperationCode() const { return code_; }

  // Posts SSDZELVMSG_PROGRESS for `phase` with `value` and the request block
  // to the window found at the start; false when there was none or the
  // window is gone.
  bool Post(uint8_t phase, int32_t value = 0) const;

 private:
  std::shared_ptr<Platform> platform_;
  std::atomic<int32_t>& code_;
  HWND window_;
  void* request_;
};

// Starts `body` on a thread of its own, never joined, on the calling
// thread's platform (held and pinned for the whole run). The worker first
// finds the window by title; without one it follows `start.withoutWindow`.
// False when no thread could be started: the running-operation code is then
// reset to 0, since no worker will end the operation.
bool StartWorker(std::atomic<int32_t>& runningOperationCode, WorkerStart start,
                 std::function<void(WorkerRun&)> body);

}  // namespace zel::platform
