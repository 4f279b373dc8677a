// Placeholder component of the simulated machine until the real one lands:
// it behaves like a machine where the facility exists but holds nothing.
#include "platform/sim/machine.h"
#include "platform/sim/sim_processes_diskpart.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class NoProcesses final : public Processes {
 public:
  explicit NoProcesses(SimMachine& machine) : diskpart_(machine) {}

  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    // diskpart is answered by its own component (sim_processes_diskpart.cpp).
    if (SimDiskpart::IsDiskpartCommand(commandLine)) return diskpart_.Run(commandLine, output);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  bool FindWindowTitle(const std::string&) override { return false; }
  std::intptr_t ShowWindowTitle(const std::string&) override { return 1; }
  void HideWindowTitle(std::intptr_t) override {}
  std::intptr_t CreateMutexW(const std::string&) override { return 1; }

 private:
  SimDiskpart diskpart_;
};

}  // namespace

std::unique_ptr<Processes> MakeSimProcesses(SimMachine& machine) {
  return std::make_unique<NoProcesses>(machine);
}

}  // namespace zel::sim
