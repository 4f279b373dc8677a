// SSDZelvane: the desktop program. The machine it runs on is chosen first
// (--machine FILE, ZELVANE_MACHINE, else this machine), and on a simulated
// machine --registry-out FILE names where its registry is written when the
// program ends; both options are taken out of the arguments before the
// program's own option scan sees them. The start-up itself is app/startup.
#include <cstdio>
#include <string>
#include <vector>

#include "app/machine_choice.h"
#include "app/startup.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_registry.h"

namespace {

void Complain(const std::string& message) {
  std::fprintf(stderr, "SSDZelvane: %s\n", message.c_str());
}

// Removes "--registry-out FILE" / "--registry-out=FILE" from the arguments.
// False when the option stands without a file.
bool TakeRegistryOut(std::vector<std::string>& args, std::string* file, bool* given) {
  static const std::string kOption = "--registry-out";
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == kOption) {
      if (i + 1 >= args.size()) return false;
      *file = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      *given = true;
      break;
    }
    if (args[i].rfind(kOption + "=", 0) == 0) {
      *file = args[i].substr(kOption.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      *given = true;
      break;
    }
  }
  return !*given || !file->empty();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);

  zel::MachineChoice machine = zel::ChooseMachine(args);
  if (!machine.platform) {
    Complain(machine.error);
    return zel::kExitCouldNotRun;
  }
  std::string registryOut;
  bool registryOutGiven = false;
  if (!TakeRegistryOut(args, &registryOut, &registryOutGiven)) {
    Complain("--registry-out needs a file name");
    return zel::kExitCouldNotRun;
  }
  auto* simulated = dynamic_cast<zel::sim::SimMachine*>(machine.platform.get());
  if (registryOutGiven && !simulated) {
    Complain("--registry-out is for a simulated machine (--machine FILE)");
    return zel::kExitCouldNotRun;
  }
  if (registryOutGiven) zel::sim::RegistryOf(*simulated).SetOutputFile(registryOut);

  int status;
  {
    zel::platform::ScopedPlatform installed(machine.platform);
    zel::ConsoleStartupHost host;
    zel::CQuarn_SSDZelvApp app;
    status = app.InitInstance(args, host);
  }

  // The registry of a simulated machine is written now rather than silently
  // when the machine ends, so that a file that cannot be written is told.
  if (simulated) {
    zel::sim::SimRegistry& registry = zel::sim::RegistryOf(*simulated);
    std::string file = registry.OutputFile();
    if (!file.empty()) {
      if (!registry.Save()) {
        Complain("the registry could not be written to " + file);
        if (status == 0) status = zel::kExitCouldNotRun;
      }
      registry.SetOutputFile("");
    }
  }
  return status;
}
