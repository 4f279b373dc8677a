// The windows of one process, for the backends: a shown window is a named
// object of the machine (platform/named_objects.h) held for as long as it is
// shown, so other processes find it by title; the posted messages of this
// process wait in one queue that the user-interface thread drains.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/named_objects.h"
#include "platform/windows.h"

namespace zel::platform {

class TitledWindows final : public WindowMessages {
 public:
  // `objects` gives the machine's named objects (asked on first use, since a
  // backend may know its machine only after it is built); an empty function
  // stands for a machine that cannot show windows (every show fails with
  // ERROR_NOT_SUPPORTED, nothing is ever found).
  explicit TitledWindows(std::function<NamedObjects&()> objects);
  ~TitledWindows() override;

  HWND FindWindowW(const std::string& title) override;
  HWND ShowWindowTitle(const std::string& title) override;
  void HideWindowTitle(HWND window) override;
  bool PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) override;
  bool GetMessageW(MSG* message, uint32_t timeoutMs) override;
  bool PeekMessageW(MSG* message) override;

 private:
  struct Shown {
    std::string title;
    std::intptr_t token = 0;
  };
  bool TakeLocked(MSG* message);

  std::function<NamedObjects&()> objects_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<MSG> queue_;
  std::map<HWND, Shown> shown_;                // windows of this process
  std::map<std::string, HWND> foreign_;        // handles given to other processes' windows
  HWND next_ = 0x10010;
};

}  // namespace zel::platform
