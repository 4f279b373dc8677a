// The simulated machine's service manager: the services of the machine
// file's "services" section, each with a state and a start type. Starting
// and stopping take the virtual time the machine file gives them (the
// service is start- or stop-pending meanwhile), so a caller that waits sees
// the states a real manager goes through. Faults can be injected per call.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

class SimServices : public platform::Services {
 public:
  // What a test can look at: the service's state and start type now.
  struct View {
    uint32_t state = 0;
    uint32_t startType = 0;
  };
  virtual ~SimServices() = default;
  // The service named `name` (compared without case); false when there is none.
  virtual bool Look(const std::string& name, View* view) = 0;
  // Every call that reached the manager, one line each, in order
  // ("OpenSCManager 0x1", "OpenService QUARN Zelvane Service 0xF01FF",
  // "ChangeServiceConfig 2", "StartService", "ControlService 1", ...).
  virtual std::vector<std::string> CallLog() const = 0;
  // Handles opened and not closed yet.
  virtual size_t OpenHandles() const = 0;
};

// Reads the "services" section; throws FixtureError.
std::unique_ptr<SimServices> MakeSimServices(SimMachine& machine, const Json& section);

}  // namespace zel::sim
