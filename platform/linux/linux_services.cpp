// The service manager of the real machine: systemd, through systemctl.
//
//   manager call              systemd
//   OpenServiceW              the unit must be known (LoadState not "not-found")
//   QueryServiceStatus        ActiveState: active, reloading = running;
//                             activating = start pending; deactivating = stop
//                             pending; inactive, failed = stopped
//   QueryServiceConfigW       UnitFileState: masked = disabled; enabled,
//                             enabled-runtime, static, indirect, generated,
//                             alias = automatic; anything else = on demand
//   ChangeServiceConfigW      automatic = enable, on demand = disable,
//                             disabled = mask (a masked unit is unmasked first)
//   StartServiceW             start
//   ControlService(stop)      stop
#include <map>
#include <string>

#include "platform/linux/systemd.h"
#include "platform/service_handles.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

bool Contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

// The platform's error for a systemctl run that did not succeed.
uint32_t ErrorOf(const CommandResult& r) {
  if (!r.started) return ERROR_DATABASE_DOES_NOT_EXIST;
  if (Contains(r.output, "Access denied") || Contains(r.output, "authentication required") ||
      Contains(r.output, "Permission denied"))
    return ERROR_ACCESS_DENIED;
  if (Contains(r.output, "masked")) return ERROR_SERVICE_DISABLED;
  if (Contains(r.output, "not found") || Contains(r.output, "does not exist") ||
      Contains(r.output, "not loaded"))
    return ERROR_SERVICE_DOES_NOT_EXIST;
  return ERROR_GEN_FAILURE;
}

uint32_t StateOf(const std::string& active) {
  if (active == "active" || active == "reloading") return SERVICE_RUNNING;
  if (active == "activating") return SERVICE_START_PENDING;
  if (active == "deactivating") return SERVICE_STOP_PENDING;
  return SERVICE_STOPPED;
}

uint32_t StartTypeOf(const std::string& fileState) {
  if (fileState == "masked" || fileState == "masked-runtime") return SERVICE_DISABLED;
  for (const char* automatic :
       {"enabled", "enabled-runtime", "static", "indirect", "generated", "alias"})
    if (fileState == automatic) return SERVICE_AUTO_START;
  return SERVICE_DEMAND_START;
}

class SystemdServices final : public Services {
 public:
  explicit SystemdServices(Systemctl systemctl) : systemctl_(std::move(systemctl)) {}

  SC_HANDLE OpenSCManagerW(const std::string& machine, uint32_t access) override {
    if (!machine.empty()) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    return handles_.Add({true, "", access});
  }

  SC_HANDLE OpenServiceW(SC_HANDLE manager, const std::string& name, uint32_t access) override {
    if (!handles_.Find(manager, true, SC_MANAGER_CONNECT)) return 0;
    const std::string unit = UnitForServiceName(name);
    if (unit.empty()) {
      SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
      return 0;
    }
    auto shown = Show(unit, {"LoadState"});
    if (!shown) return 0;
    const std::string load = (*shown)["LoadState"];
    if (load.empty() || load == "not-found" || load == "bad-setting" || load == "error") {
      SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
      return 0;
    }
    return handles_.Add({false, unit, access});
  }

  bool QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS* status) override {
    auto entry = handles_.Find(handle, false, SERVICE_QUERY_STATUS);
    if (!entry) return false;
    if (!status) return FailWith(ERROR_INVALID_PARAMETER);
    auto shown = Show(entry->service, {"ActiveState"});
    if (!shown) return false;
    *status = {};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = StateOf((*shown)["ActiveState"]);
    if (status->dwCurrentState == SERVICE_RUNNING) status->dwControlsAccepted = SERVICE_ACCEPT_STOP;
    return true;
  }

  bool QueryServiceConfigW(SC_HANDLE handle, QUERY_SERVICE_CONFIGW* config) override {
    auto entry = handles_.Find(handle, false, SERVICE_QUERY_CONFIG);
    if (!entry) return false;
    if (!config) return FailWith(ERROR_INVALID_PARAMETER);
    auto shown = Show(entry->service, {"UnitFileState", "ExecStart", "Description"});
    if (!shown) return false;
    *config = {};
    config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    config->dwStartType = StartTypeOf((*shown)["UnitFileState"]);
    config->dwErrorControl = 1;
    config->lpBinaryPathName = (*shown)["ExecStart"];
    config->lpDisplayName = (*shown)["Description"];
    return true;
  }

  bool ChangeServiceConfigW(SC_HANDLE handle, uint32_t serviceType, uint32_t startType,
                            uint32_t errorControl) override {
    auto entry = handles_.Find(handle, false, SERVICE_CHANGE_CONFIG);
    if (!entry) return false;
    // systemd has no service type or error control to change.
    if ((serviceType != SERVICE_NO_CHANGE && serviceType != SERVICE_WIN32_OWN_PROCESS) ||
        (errorControl != SERVICE_NO_CHANGE && errorControl > 3))
      return FailWith(ERROR_INVALID_PARAMETER);
    if (startType == SERVICE_NO_CHANGE) return true;
    const char* verb = startType == SERVICE_AUTO_START     ? "enable"
                       : startType == SERVICE_DEMAND_START ? "disable"
                       : startType == SERVICE_DISABLED     ? "mask"
                                                           : nullptr;
    if (!verb) return FailWith(ERROR_INVALID_PARAMETER);
    if (startType != SERVICE_DISABLED) {
      auto shown = Show(entry->service, {"UnitFileState"});
      if (!shown) return false;
      if (StartTypeOf((*shown)["UnitFileState"]) == SERVICE_DISABLED &&
          !Succeeds(systemctl_.Run("unmask", entry->service)))
        return false;
    }
    return Succeeds(systemctl_.Run(verb, entry->service));
  }

  bool StartServiceW(SC_HANDLE handle) override {
    auto entry = handles_.Find(handle, false, SERVICE_START);
    if (!entry) return false;
    auto shown = Show(entry->service, {"ActiveState", "UnitFileState"});
    if (!shown) return false;
    if (StartTypeOf((*shown)["UnitFileState"]) == SERVICE_DISABLED)
      return FailWith(ERROR_SERVICE_DISABLED);
    if (StateOf((*shown)["ActiveState"]) != SERVICE_STOPPED)
      return FailWith(ERROR_SERVICE_ALREADY_RUNNING);
    return Succeeds(systemctl_.Run("start", entry->service));
  }

  bool ControlService(SC_HANDLE handle, uint32_t control, SERVICE_STATUS* status) override {
    if (control != SERVICE_CONTROL_STOP) {
      if (!handles_.Find(handle, false, 0)) return false;
      return FailWith(ERROR_INVALID_SERVICE_CONTROL);
    }
    auto entry = handles_.Find(handle, false, SERVICE_STOP);
    if (!entry) return false;
    auto shown = Show(entry->service, {"ActiveState"});
    if (!shown) return false;
    const uint32_t state = StateOf((*shown)["ActiveState"]);
    if (state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
    if (state != SERVICE_RUNNING) return FailWith(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (!Succeeds(systemctl_.Run("stop", entry->service))) return false;
    if (status) {
      *status = {};
      status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
      auto after = Show(entry->service, {"ActiveState"});
      status->dwCurrentState = after ? StateOf((*after)["ActiveState"]) : SERVICE_STOP_PENDING;
    }
    return true;
  }

  bool CloseServiceHandle(SC_HANDLE handle) override { return handles_.Close(handle); }

 private:
  std::optional<std::map<std::string, std::string>> Show(const std::string& unit,
                                                         const std::vector<std::string>& props) {
    CommandResult r = systemctl_.Run("show", unit, {"--property=" + Join(props)});
    if (!r.started || r.exitStatus != 0) {
      SetLastError(ErrorOf(r));
      return std::nullopt;
    }
    return ParseShowOutput(r.output);
  }

  static std::string Join(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& p : parts) text += (text.empty() ? "" : ",") + p;
    return text;
  }

  static bool Succeeds(const CommandResult& r) {
    if (r.started && r.exitStatus == 0) return true;
    return FailWith(ErrorOf(r));
  }

  Systemctl systemctl_;
  ServiceHandleTable handles_;
};

}  // namespace

std::unique_ptr<Services> MakeSystemdServices(Systemctl systemctl) {
  return std::make_unique<SystemdServices>(std::move(systemctl));
}

}  // namespace zel::linuxbackend
