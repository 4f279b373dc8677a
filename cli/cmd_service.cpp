// zelvane service status|on|off [--json]: the monitoring service's state and
// start type, or the switch the Diagnostics page's service box makes.
// "on" restarts the service with automatic start (it reads the thresholds
// when it starts); "off" sets it to start on demand and stops it. Both wait
// up to 30 seconds for the service to settle and say where it ended.
// Exit 0 when the service ended as asked (status: when it could be
// queried), 1 when not, 2 for bad usage.
#include <string>

#include "cli/cli.h"
#include "cli/output.h"
#include "maintenance/alert_settings.h"
#include "platform/platform.h"

namespace zel::cli {

namespace {

constexpr uint32_t kSettleMs = 30000;
constexpr uint32_t kPollMs = 250;

struct ServiceView {
  bool found = false;
  uint32_t error = 0;  // why it could not be queried
  uint32_t state = 0;
  uint32_t startType = 0;
};

ServiceView Look() {
  using namespace platform;
  ServiceView v;
  Services& scm = Current().Services();
  SC_HANDLE manager = scm.OpenSCManagerW("", SC_MANAGER_CONNECT);
  if (!manager) {
    v.error = GetLastError();
    return v;
  }
  SC_HANDLE service =
      scm.OpenServiceW(manager, kZelvaneServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
  if (!service) {
    v.error = GetLastError();
    scm.CloseServiceHandle(manager);
    return v;
  }
  SERVICE_STATUS status;
  QUERY_SERVICE_CONFIGW config;
  if (scm.QueryServiceStatus(service, &status) && scm.QueryServiceConfigW(service, &config)) {
    v.found = true;
    v.state = status.dwCurrentState;
    v.startType = config.dwStartType;
  } else {
    v.error = GetLastError();
  }
  scm.CloseServiceHandle(service);
  scm.CloseServiceHandle(manager);
  return v;
}

const char* StateWord(uint32_t state) {
  switch (state) {
    case platform::SERVICE_STOPPED: return "stopped";
    case platform::SERVICE_START_PENDING: return "starting";
    case platform::SERVICE_STOP_PENDING: return "stopping";
    case platform::SERVICE_RUNNING: return "running";
    default: return "unknown";
  }
}

const char* StartWord(uint32_t startType) {
  switch (startType) {
    case platform::SERVICE_AUTO_START: return "automatic";
    case platform::SERVICE_DEMAND_START: return "on demand";
    case platform::SERVICE_DISABLED: return "disabled";
    default: return "unknown";
  }
}

// Polls until the service is in `state` or the time is up.
ServiceView WaitFor(uint32_t state) {
  platform::System& sys = platform::Sys();
  ServiceView v = Look();
  for (uint32_t waited = 0; v.found && v.state != state && waited < kSettleMs; waited += kPollMs) {
    sys.Sleep(kPollMs);
    v = Look();
  }
  return v;
}

void Print(const Context& ctx, const ServiceView& v) {
  if (ctx.json) {
    Json doc = Json::object();
    doc["service"] = kZelvaneServiceName;
    doc["installed"] = v.found;
    doc["state"] = v.found ? Json(StateWord(v.state)) : Json(nullptr);
    doc["startType"] = v.found ? Json(StartWord(v.startType)) : Json(nullptr);
    if (!v.found) doc["error"] = v.error;
    PrintJson(ctx, doc);
    return;
  }
  if (!v.found) {
    char text[160];
    std::snprintf(text, sizeof text, "%s: not available (error %u)\n", kZelvaneServiceName, v.error);
    PrintText(ctx, text);
    return;
  }
  PrintText(ctx, std::string(kZelvaneServiceName) + ": " + StateWord(v.state) + ", start " +
                     StartWord(v.startType) + "\n");
}

}  // namespace

int RunService(Context& ctx) {
  const char* usage = " (service status|on|off [--json])";
  if (ctx.args.size() != 1) {
    Error(ctx, std::string("service: expected one of status, on, off") + usage);
    return kExitCannotRun;
  }
  const std::string& verb = ctx.args[0];
  if (verb == "status") {
    ServiceView v = Look();
    Print(ctx, v);
    return v.found ? kExitOk : kExitFailed;
  }
  if (verb != "on" && verb != "off") {
    Error(ctx, "service: unknown action \"" + verb + "\"" + usage);
    return kExitCannotRun;
  }
  // As the page's box: first on demand and stopped, then, for "on",
  // automatic and started.
  SetServiceRunning(kZelvaneServiceName, 0, ctx.err);
  ServiceView v = WaitFor(platform::SERVICE_STOPPED);
  if (verb == "on" && v.found && v.state == platform::SERVICE_STOPPED) {
    if (!SetServiceRunning(kZelvaneServiceName, 1, ctx.err)) {
      char text[96];
      std::snprintf(text, sizeof text, "service: the start was refused (error %u)",
                    platform::GetLastError());
      Error(ctx, text);
    }
    v = WaitFor(platform::SERVICE_RUNNING);
  }
  Print(ctx, v);
  const bool done = verb == "on" ? v.found && v.state == platform::SERVICE_RUNNING &&
                                       v.startType == platform::SERVICE_AUTO_START
                                 : v.found && v.state == platform::SERVICE_STOPPED &&
                                       v.startType == platform::SERVICE_DEMAND_START;
  if (!done) Error(ctx, std::string("service: the service did not end ") + (verb == "on" ? "running with automatic start" : "stopped with start on demand"));
  return done ? kExitOk : kExitFailed;
}

}  // namespace zel::cli
