// Windows of the seam: a top-level window exists by its title while it is
// shown (the single-instance rendezvous of the desktop program), and a
// thread of the process posts messages to a window it found by title; the
// user-interface thread drains the posted messages from the process's queue.
//
// Windows are the machine's: a window shown by one process is found by the
// others (FindWindowW), but only the process that shows a window takes its
// messages, since what a message carries (a worker's request block) is an
// address of that process.
#pragma once

#include <cstdint>
#include <string>

namespace zel::platform {

using HWND = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;

inline constexpr uint32_t WM_USER = 0x0400;

// INFINITE for a wait without end.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

// One posted message, as the user-interface thread takes it from the queue.
struct MSG {
  HWND hwnd = 0;
  uint32_t message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class WindowMessages {
 public:
  virtual ~WindowMessages() = default;

  // The window with exactly this title, shown by this process or by another
  // one of the machine; 0 when there is none.
  virtual HWND FindWindowW(const std::string& title) = 0;

  // Shows a window of this process with this title: it exists, for every
  // process of the machine, until HideWindowTitle or the end of the process.
  // 0 with the last error set on failure.
  virtual HWND ShowWindowTitle(const std::string& title) = 0;
  // Ends a window of this process; messages still queued for it are dropped.
  virtual void HideWindowTitle(HWND window) = 0;

  // Puts a message into the queue of a window of this process and returns at
  // once. False with ERROR_INVALID_WINDOW_HANDLE for a window that is not
  // (or no longer) shown, ERROR_ACCESS_DENIED for another process's window.
  // Safe from any thread.
  virtual bool PostMessageW(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) = 0;

  // The oldest queued message, waiting up to `timeoutMs` (kWaitForever: no
  // limit) for one to arrive; false when none came in that time.
  virtual bool GetMessageW(MSG* message, uint32_t timeoutMs = kWaitForever) = 0;
  // The oldest queued message if there is one, without waiting.
  virtual bool PeekMessageW(MSG* message) = 0;
};

}  // namespace zel::platform
