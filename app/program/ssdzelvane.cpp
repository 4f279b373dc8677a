// SSDZelvane: the desktop program. The machine it runs on is chosen first
// (--machine FILE, ZELVANE_MACHINE, else this machine), and on a simulated
// machine --registry-out FILE names where its registry is written when the
// program ends; both options are taken out of the arguments before the
// program's own option scan sees them. The start-up itself is app/startup.
#include <cstdio>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/launch/machine_choice.h"
#include "app/startup.h"

namespace {

void Complain(const std::string& message) {
  std::fprintf(stderr, "SSDZelvane: %s\n", message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);

  zel::MachineChoice machine = zel::ChooseMachine(args);
  if (!machine.platform) {
    Complain(machine.error);
    return zel::kExitCouldNotRun;
  }
  const std::string registryError = zel::TakeRegistryOut(args, machine);
  if (!registryError.empty()) {
    Complain(registryError);
    return zel::kExitCouldNotRun;
  }

  int status;
  {
    zel::platform::ScopedPlatform installed(machine.platform);
    // The program's whole state lives here, for the whole run.
    zel::AppState state;
    zel::ConsoleStartupHost host(zel::UnusableDriveReasons);
    zel::CQuarn_SSDZelvApp app;
    status = app.InitInstance(state, args, host);
  }

  const std::string saveError = zel::SaveRegistryOut(machine);
  if (!saveError.empty()) {
    Complain(saveError);
    if (status == 0) status = zel::kExitCouldNotRun;
  }
  return status;
}
