// Processes and named objects of the seam: the command lines the system
// starts, the single-instance rendezvous by window title, named mutexes.
#pragma once

#include <cstdint>
#include <string>

namespace zel::platform {

class Processes {
 public:
  virtual ~Processes() = default;

  // Starts a command line with standard output and error captured (the
  // platform's CreateProcessW with an inherited pipe) and collects everything
  // it writes until it ends. False with the last error set when it cannot start.
  virtual bool RunAndCapture(const std::string& commandLine, std::string* output) = 0;

  // Whether a top-level window with this title exists on the machine
  // (FindWindowW); `ShowWindowTitle` makes one exist for the life of the
  // returned token (0 on failure); `HideWindowTitle` ends it.
  virtual bool FindWindowTitle(const std::string& title) = 0;
  virtual std::intptr_t ShowWindowTitle(const std::string& title) = 0;
  virtual void HideWindowTitle(std::intptr_t token) = 0;

  // CreateMutexW (not owned); the handle stays valid until the process ends
  // or it is closed. Returns 0 on failure.
  virtual std::intptr_t CreateMutexW(const std::string& name) = 0;
};

}  // namespace zel::platform
