// Placeholder component of the simulated machine until the real one lands:
// it behaves like a machine where the facility exists but holds nothing.
#include "platform/sim/machine.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class NoProcesses final : public Processes {
 public:
  bool RunAndCapture(const std::string&, std::string*) override {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  bool FindWindowTitle(const std::string&) override { return false; }
  std::intptr_t ShowWindowTitle(const std::string&) override { return 1; }
  void HideWindowTitle(std::intptr_t) override {}
  std::intptr_t CreateMutexW(const std::string&) override { return 1; }
};

}  // namespace

std::unique_ptr<Processes> MakeSimProcesses(SimMachine&) { return std::make_unique<NoProcesses>(); }

}  // namespace zel::sim
