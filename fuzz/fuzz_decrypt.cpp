// Fuzz target: log decryption of an arbitrary scrambled file. It must write
// "Decrypted.log" in the current directory or report why not, and nothing else.
// The files are reached through the seam, so an empty simulated machine is
// installed: its paths that name no volume are the real ones of the work folder.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "report/log_decrypt.h"

namespace {

// The installed machine is never uninstalled: the platform's per-thread share
// of the main thread is gone before static objects are destroyed at exit.
void InstallMachineOnce() {
  static const zel::platform::ScopedPlatform* installed = [] {
    const std::string& dir = zel::fuzz::WorkFolder();
    zel::sim::LoadResult r = zel::sim::LoadMachineText("{}", "empty machine");
    if (!r.machine) __builtin_trap();
    r.machine->SetProgramPath(dir + "/SSDZelvane.exe");
    return new zel::platform::ScopedPlatform(r.machine);
  }();
  (void)installed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InstallMachineOnce();
  std::string path = zel::fuzz::WriteInput("scrambled.log", data, size);
  zel::DecryptLogFile(path);
  return 0;
}
