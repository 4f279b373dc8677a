// SSDZelvane: the desktop program. The machine it runs on is chosen first
// (--machine FILE, ZELVANE_MACHINE, else this machine), and on a simulated
// machine --registry-out FILE names where its registry is written when the
// program ends; --screenshots DIR renders the window offscreen into PNG
// files in DIR and ends. These options are taken out of the arguments before
// the program's own option scan sees them. The start-up itself is
// app/startup; the window is app/qt.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/launch/machine_choice.h"
#include "app/qt/qt_host.h"
#include "app/startup.h"

namespace {

void Complain(const std::string& message) {
  std::fprintf(stderr, "SSDZelvane: %s\n", message.c_str());
}

// Takes "--screenshots DIR" out of the arguments; false when DIR is missing.
bool TakeScreenshotDir(std::vector<std::string>& args, std::string& dir) {
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--screenshots") continue;
    if (i + 1 >= args.size() || args[i + 1].empty()) return false;
    dir = args[i + 1];
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i), args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    return true;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);

  std::string screenshotDir;
  if (!TakeScreenshotDir(args, screenshotDir)) {
    Complain("--screenshots needs a folder");
    return zel::kExitCouldNotRun;
  }
  // The pictures are drawn without a display.
  if (!screenshotDir.empty()) setenv("QT_QPA_PLATFORM", "offscreen", 1);

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
    zel::qt::QtStartupHost host(zel::UnusableDriveReasons, screenshotDir);
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
