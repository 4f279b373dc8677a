// Processes and named objects of the seam: the command lines the system
// starts and named mutexes. (Windows found by title: platform/windows.h.)
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

  // CreateMutexW (not owned); the handle stays valid until the process ends
  // or it is closed. Returns 0 on failure.
  virtual std::intptr_t CreateMutexW(const std::string& name) = 0;
};

}  // namespace zel::platform
