// The platform seam. The system's logic reaches the machine only through the
// interfaces gathered here; a backend (the simulated machine in platform/sim,
// the real Linux machine in platform/linux) implements all of them.
//
// One platform is current per process, as there is one machine per process;
// programs install theirs at start, tests install a simulated machine for the
// duration of a test with ScopedPlatform.
#pragma once

#include <memory>

#include "platform/device_io.h"
#include "platform/device_tree.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/wmi.h"

namespace zel::platform {

class Platform {
 public:
  virtual ~Platform() = default;
  virtual DeviceIo& Devices() = 0;
  virtual System& Sys() = 0;
  virtual DeviceTree& Tree() = 0;
  virtual Com& Wmi() = 0;
  virtual Registry& Reg() = 0;
  virtual Processes& Procs() = 0;
  virtual platform::Files& Files() = 0;
};

// The current platform. Before any is installed this is a machine without
// devices, on which every request fails cleanly.
Platform& Current();
// Installs a platform and returns the previous one.
std::shared_ptr<Platform> Install(std::shared_ptr<Platform> platform);

class ScopedPlatform {
 public:
  explicit ScopedPlatform(std::shared_ptr<Platform> platform)
      : previous_(Install(std::move(platform))) {}
  ~ScopedPlatform() { Install(std::move(previous_)); }
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  std::shared_ptr<Platform> previous_;
};

// Shorthands used throughout the system.
inline DeviceIo& Devices() { return Current().Devices(); }
inline System& Sys() { return Current().Sys(); }

}  // namespace zel::platform
