#include "app/launch/machine_choice.h"

#include <cstdlib>

#include "platform/sim/machine.h"
#include "platform/sim/sim_registry.h"

#ifdef ZEL_HAVE_LINUX_BACKEND
#include "platform/linux/linux_platform.h"
#endif

namespace zel {

MachineChoice LoadSimulatedMachine(const std::string& fileOrDemo) {
  MachineChoice choice;
  choice.simulated = true;
  sim::LoadResult loaded = fileOrDemo == "demo"
                               ? sim::LoadMachineText(sim::DemoMachineJson(), "demo machine")
                               : sim::LoadMachineFile(fileOrDemo);
  if (!loaded.machine) {
    choice.error = loaded.error;
    return choice;
  }
  // Every program started on the demo machine runs on the same machine.
  if (fileOrDemo == "demo") loaded.machine->SetSource("demo machine");
  choice.platform = loaded.machine;
  choice.description = fileOrDemo;
  return choice;
}

MachineChoice ChooseMachine(std::vector<std::string>& args) {
  std::string file;
  bool given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--machine") {
      if (i + 1 >= args.size()) {
        MachineChoice c;
        c.error = "--machine needs a machine file (or \"demo\")";
        return c;
      }
      file = args[i + 1];
      given = true;
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      break;
    }
    if (args[i].rfind("--machine=", 0) == 0) {
      file = args[i].substr(10);
      given = true;
      args.erase(args.begin() + static_cast<long>(i));
      break;
    }
  }
  if (!given) {
    const char* env = std::getenv("ZELVANE_MACHINE");
    if (env && *env) {
      file = env;
      given = true;
    }
  }
  if (given) {
    if (file.empty()) {
      MachineChoice c;
      c.error = "--machine needs a machine file (or \"demo\")";
      return c;
    }
    return LoadSimulatedMachine(file);
  }
#ifdef ZEL_HAVE_LINUX_BACKEND
  MachineChoice real;
  real.platform = linuxbackend::MakeLinuxPlatform();
  real.description = "real machine";
  return real;
#else
  return LoadSimulatedMachine("demo");
#endif
}

std::vector<std::string> UnusableDriveReasons() { return UnusableDriveReasonsNamingLog({}); }

std::vector<std::string> UnusableDriveReasonsNamingLog(const std::string& traceLogPath) {
#ifdef ZEL_HAVE_LINUX_BACKEND
  if (const linuxbackend::LinuxPlatformOptions* options =
          linuxbackend::LinuxPlatformOptionsOf(platform::Current()))
    return linuxbackend::SurveyReport(linuxbackend::SurveyDisks(*options), traceLogPath);
#else
  (void)traceLogPath;
#endif
  return {};
}

std::string TakeRegistryOut(std::vector<std::string>& args, const MachineChoice& machine) {
  static const std::string kOption = "--registry-out";
  std::string file;
  bool given = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == kOption) {
      if (i + 1 >= args.size()) return "--registry-out needs a file name";
      file = args[i + 1];
      args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
      given = true;
      break;
    }
    if (args[i].rfind(kOption + "=", 0) == 0) {
      file = args[i].substr(kOption.size() + 1);
      args.erase(args.begin() + static_cast<long>(i));
      given = true;
      break;
    }
  }
  if (!given) return std::string();
  if (file.empty()) return "--registry-out needs a file name";
  auto* simulated = dynamic_cast<sim::SimMachine*>(machine.platform.get());
  if (!simulated) return "--registry-out is for a simulated machine (--machine FILE)";
  sim::RegistryOf(*simulated).SetOutputFile(file);
  return std::string();
}

std::string SaveRegistryOut(const MachineChoice& machine) {
  auto* simulated = dynamic_cast<sim::SimMachine*>(machine.platform.get());
  if (!simulated) return std::string();
  sim::SimRegistry& registry = sim::RegistryOf(*simulated);
  const std::string file = registry.OutputFile();
  if (file.empty()) return std::string();
  const bool saved = registry.Save();
  registry.SetOutputFile("");
  return saved ? std::string() : "the registry could not be written to " + file;
}

}  // namespace zel
