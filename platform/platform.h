// The platform seam. The system's logic reaches the machine only through the
// interfaces gathered here; a backend (the simulated machine in platform/sim,
// the real Linux machine in platform/linux) implements all of them.
//
// One platform is current per process, as there is one machine per process;
// programs install theirs at start, tests install a simulated machine for the
// duration of a test with ScopedPlatform. A thread that must keep its
// platform whatever is installed meanwhile (a worker, for its whole run)
// holds a share of it (Hold) and pins it on itself (PinnedPlatform).
#pragma once

#include <memory>

#include "platform/device_io.h"
#include "platform/device_tree.h"
#include "platform/disk_use.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/net.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/system.h"
#include "platform/volume_trim.h"
#include "platform/windows.h"
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
  virtual WindowMessages& Windows() = 0;
  // Sockets and HTTP; a platform without a network fails every call.
  virtual platform::Net& Net();
  virtual platform::Services& Services() = 0;
  // How freed space of a volume reaches its drive as TRIM. A platform that
  // does not say refuses every request (no volume trims).
  virtual platform::VolumeTrim& VolumeTrim();
  virtual DiskUses& Uses() = 0;
};

// The calling thread's platform: the one pinned on the thread, else the
// installed one; before any is installed, a machine without devices on which
// every request fails cleanly. The thread keeps a share of what it was given,
// so the reference stays valid while the thread works with it even when
// another thread installs a different platform: the share moves on only at
// the thread's next call (or when the thread itself installs one), and a
// pinned platform stays until its pin ends.
Platform& Current();
// A share of the calling thread's platform (as Current chooses it), alive at
// least as long as the share.
std::shared_ptr<Platform> Hold();
// Installs a platform and returns the previous one.
std::shared_ptr<Platform> Install(std::shared_ptr<Platform> platform);

// Makes `platform` the calling thread's platform for the life of this object,
// whatever is installed meanwhile; the thread's previous pin comes back after.
class PinnedPlatform {
 public:
  explicit PinnedPlatform(std::shared_ptr<Platform> platform);
  ~PinnedPlatform();
  PinnedPlatform(const PinnedPlatform&) = delete;
  PinnedPlatform& operator=(const PinnedPlatform&) = delete;

 private:
  std::shared_ptr<Platform> previous_;
};

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
