#include "platform/titled_windows.h"

#include <chrono>

#include "platform/errors.h"

namespace zel::platform {

namespace {
constexpr const char* kWindowKind = "window";
}

TitledWindows::TitledWindows(std::function<NamedObjects&()> objects) : objects_(std::move(objects)) {}

TitledWindows::~TitledWindows() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (objects_)
    for (const auto& [window, shown] : shown_) objects_().Release(shown.token);
}

HWND TitledWindows::FindWindowW(const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [window, shown] : shown_)
    if (shown.title == title) return window;
  if (!objects_ || !objects_().Exists(kWindowKind, title)) return 0;
  // Another process's window: the same handle every time it is asked for.
  auto it = foreign_.find(title);
  if (it == foreign_.end()) it = foreign_.emplace(title, next_++).first;
  return it->second;
}

HWND TitledWindows::ShowWindowTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!objects_) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  std::intptr_t token = objects_().Hold(kWindowKind, title);
  if (token == 0) return 0;
  HWND window = next_++;
  shown_[window] = Shown{title, token};
  return window;
}

void TitledWindows::HideWindowTitle(HWND window) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = shown_.find(window);
  if (it == shown_.end()) return;
  objects_().Release(it->second.token);
  shown_.erase(it);
  std::erase_if(queue_, [window](const MSG& m) { return m.hwnd == window; });
}

bool TitledWindows::PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!shown_.contains(window)) {
      bool foreign = false;
      for (const auto& [title, handle] : foreign_) foreign = foreign || handle == window;
      return FailWith(foreign ? ERROR_ACCESS_DENIED : ERROR_INVALID_WINDOW_HANDLE);
    }
    queue_.push_back(MSG{window, message, wParam, lParam});
  }
  arrived_.notify_all();
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool TitledWindows::TakeLocked(MSG* message) {
  if (queue_.empty()) return false;
  if (message) *message = queue_.front();
  queue_.pop_front();
  return true;
}

bool TitledWindows::GetMessageW(MSG* message, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto ready = [this] { return !queue_.empty(); };
  if (timeoutMs == kWaitForever)
    arrived_.wait(lock, ready);
  else
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
  return TakeLocked(message);
}

bool TitledWindows::PeekMessageW(MSG* message) {
  std::lock_guard<std::mutex> lock(mutex_);
  return TakeLocked(message);
}

}  // namespace zel::platform
