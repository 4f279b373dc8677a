// systemd through `systemctl`, started as an argument vector (never through a
// shell). The runner that starts it is injectable, so the service calls and
// anything else that drives units (services, timers) are tested against a
// scripted runner or against `systemctl --root=DIR` on a temporary folder,
// never against this machine's own units.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"

namespace zel::linuxbackend {

// What a command did: whether it could be started at all (and why not, as an
// errno value), its exit status and everything it wrote on its standard
// output and standard error.
struct CommandResult {
  bool started = false;
  int startError = 0;
  int exitStatus = -1;
  std::string output;
};

// Runs argv[0] (looked up in PATH) with the rest as its arguments, standard
// input from /dev/null, and waits for its end.
using CommandRunner = std::function<CommandResult(const std::vector<std::string>& argv)>;
CommandResult RunCommand(const std::vector<std::string>& argv);

class Systemctl {
 public:
  // `globalOptions` go before every verb ("--root=DIR", "--user", ...).
  explicit Systemctl(CommandRunner runner = RunCommand, std::vector<std::string> globalOptions = {});

  // systemctl [global options] --no-ask-password VERB [options] UNIT
  CommandResult Run(const std::string& verb, const std::string& unit,
                    const std::vector<std::string>& options = {}) const;

  // The unit's properties as `systemctl show --property=A,B UNIT` reports
  // them; nothing when systemctl could not be run or failed.
  std::optional<std::map<std::string, std::string>> Show(
      const std::string& unit, const std::vector<std::string>& properties) const;

 private:
  CommandRunner runner_;
  std::vector<std::string> globalOptions_;
};

// "NAME=VALUE" lines of `systemctl show` as a map.
std::map<std::string, std::string> ParseShowOutput(const std::string& output);

// The monitoring service's unit.
inline constexpr const char* kMonitorServiceName = "QUARN Zelvane Service";
inline constexpr const char* kMonitorUnit = "zelvane-monitor.service";

// The unit a service name stands for: the monitoring service's documented
// unit, or a name that already is a unit name ("x.service", "y.timer": word
// characters, ".", "-", "@", ":" and "\", not starting with "-"). Empty
// for anything else.
std::string UnitForServiceName(const std::string& name);

// The service manager of the seam over systemd: automatic start is
// "enabled", on demand is "disabled", disabled is "masked"; start and stop
// are real.
std::unique_ptr<platform::Services> MakeSystemdServices(Systemctl systemctl = Systemctl());

}  // namespace zel::linuxbackend
