#include "platform/sim/sim_services.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/service_handles.h"
#include "platform/sim/machine.h"
#include "platform/text.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

struct Service {
  std::string name;
  std::string displayName;
  std::string binaryPath;
  uint32_t startType = SERVICE_DEMAND_START;
  bool acceptsStop = true;
  uint32_t startMs = 0;  // virtual time a start takes
  uint32_t stopMs = 0;   // virtual time a stop takes
  // The state it settles in, and the virtual time when it gets there; before
  // that it is pending.
  uint32_t target = SERVICE_STOPPED;
  uint64_t settlesAt = 0;
};

struct Fault {
  std::string op;
  std::string service;  // empty: every service
  uint32_t error = ERROR_ACCESS_DENIED;
  int skip = 0;
  int times = -1;
  int seen = 0;
};

bool SameName(const std::string& a, const std::string& b) {
  return ToLowerAscii(a) == ToLowerAscii(b);
}

constexpr const char* kOps[] = {"openManager", "open",  "query",   "queryConfig",
                                "changeConfig", "start", "control", "close"};

uint32_t ParseStartType(const std::string& text, const std::string& where) {
  if (text == "auto") return SERVICE_AUTO_START;
  if (text == "demand") return SERVICE_DEMAND_START;
  if (text == "disabled") return SERVICE_DISABLED;
  throw FixtureError(where + ": expected \"auto\", \"demand\" or \"disabled\"");
}

class Manager final : public SimServices {
 public:
  Manager(SimMachine& machine, const Json& section) : machine_(machine) {
    if (section.is_null()) return;
    const std::string at = "services";
    CheckKeys(section, {"list", "admin", "faults", "comment"}, at);
    admin_ = BoolOr(section, "admin", true, at);
    Json list = section.value("list", Json::array());
    if (!list.is_array()) throw FixtureError(at + ".list: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string w = at + ".list[" + std::to_string(i) + "]";
      const Json& s = list[i];
      CheckKeys(s, {"name", "displayName", "binaryPath", "state", "startType", "acceptsStop",
                    "startMs", "stopMs", "comment"},
                w);
      Service service;
      service.name = TextOr(s, "name", "", w);
      if (service.name.empty()) throw FixtureError(w + ".name: expected a service name");
      for (const Service& other : services_)
        if (SameName(other.name, service.name))
          throw FixtureError(w + ".name: \"" + service.name + "\" is listed twice");
      service.displayName = TextOr(s, "displayName", service.name, w);
      service.binaryPath = TextOr(s, "binaryPath", "", w);
      service.startType = ParseStartType(TextOr(s, "startType", "demand", w), w + ".startType");
      const std::string state = TextOr(s, "state", "stopped", w);
      if (state == "running") {
        service.target = SERVICE_RUNNING;
      } else if (state != "stopped") {
        throw FixtureError(w + ".state: expected \"running\" or \"stopped\"");
      }
      service.acceptsStop = BoolOr(s, "acceptsStop", true, w);
      service.startMs = static_cast<uint32_t>(IntegerOr(s, "startMs", 0, 0, 86400000, w));
      service.stopMs = static_cast<uint32_t>(IntegerOr(s, "stopMs", 0, 0, 86400000, w));
      services_.push_back(service);
    }
    Json faults = section.value("faults", Json::array());
    if (!faults.is_array()) throw FixtureError(at + ".faults: expected a list");
    for (size_t i = 0; i < faults.size(); ++i) {
      const std::string w = at + ".faults[" + std::to_string(i) + "]";
      const Json& f = faults[i];
      CheckKeys(f, {"op", "service", "error", "skip", "times", "comment"}, w);
      Fault fault;
      fault.op = TextOr(f, "op", "", w);
      if (std::none_of(std::begin(kOps), std::end(kOps),
                       [&](const char* op) { return fault.op == op; }))
        throw FixtureError(w + ".op: expected openManager, open, query, queryConfig, "
                               "changeConfig, start, control or close");
      fault.service = TextOr(f, "service", "", w);
      fault.error = U32Or(f, "error", ERROR_ACCESS_DENIED, w);
      fault.skip = static_cast<int>(IntegerOr(f, "skip", 0, 0, INT32_MAX, w));
      fault.times = static_cast<int>(IntegerOr(f, "times", -1, -1, INT32_MAX, w));
      faults_.push_back(fault);
    }
  }

  SC_HANDLE OpenSCManagerW(const std::string& machineName, uint32_t access) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("OpenSCManager " + Hex(access));
    if (!machineName.empty()) return Fail(ERROR_ACCESS_DENIED);
    if (uint32_t e = Injected("openManager", "")) return Fail(e);
    if (!admin_ && (access & ~SC_MANAGER_CONNECT)) return Fail(ERROR_ACCESS_DENIED);
    return handles_.Add({true, "", access});
  }

  SC_HANDLE OpenServiceW(SC_HANDLE manager, const std::string& name, uint32_t access) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("OpenService " + name + " " + Hex(access));
    if (!handles_.Find(manager, true, SC_MANAGER_CONNECT)) return 0;
    Service* s = Lookup(name);
    if (!s) return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (uint32_t e = Injected("open", s->name)) return Fail(e);
    constexpr uint32_t kReadRights = SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG;
    if (!admin_ && (access & ~kReadRights)) return Fail(ERROR_ACCESS_DENIED);
    return handles_.Add({false, s->name, access});
  }

  bool QueryServiceStatus(SC_HANDLE handle, SERVICE_STATUS* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("QueryServiceStatus");
    Service* s = Use(handle, SERVICE_QUERY_STATUS, "query");
    if (!s) return false;
    if (!status) return FailWith(ERROR_INVALID_PARAMETER);
    Fill(*s, status);
    return true;
  }

  bool QueryServiceConfigW(SC_HANDLE handle, QUERY_SERVICE_CONFIGW* config) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("QueryServiceConfig");
    Service* s = Use(handle, SERVICE_QUERY_CONFIG, "queryConfig");
    if (!s) return false;
    if (!config) return FailWith(ERROR_INVALID_PARAMETER);
    config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    config->dwStartType = s->startType;
    config->dwErrorControl = 1;
    config->lpBinaryPathName = s->binaryPath;
    config->lpDisplayName = s->displayName;
    return true;
  }

  bool ChangeServiceConfigW(SC_HANDLE handle, uint32_t serviceType, uint32_t startType,
                            uint32_t errorControl) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("ChangeServiceConfig " + std::to_string(static_cast<int32_t>(startType)));
    Service* s = Use(handle, SERVICE_CHANGE_CONFIG, "changeConfig");
    if (!s) return false;
    if (serviceType != SERVICE_NO_CHANGE && serviceType != SERVICE_WIN32_OWN_PROCESS)
      return FailWith(ERROR_INVALID_PARAMETER);
    if (errorControl != SERVICE_NO_CHANGE && errorControl > 3)
      return FailWith(ERROR_INVALID_PARAMETER);
    if (startType != SERVICE_NO_CHANGE) {
      if (startType < SERVICE_AUTO_START || startType > SERVICE_DISABLED)
        return FailWith(ERROR_INVALID_PARAMETER);
      s->startType = startType;
    }
    return true;
  }

  bool StartServiceW(SC_HANDLE handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("StartService");
    Service* s = Use(handle, SERVICE_START, "start");
    if (!s) return false;
    if (s->startType == SERVICE_DISABLED) return FailWith(ERROR_SERVICE_DISABLED);
    if (State(*s) != SERVICE_STOPPED) return FailWith(ERROR_SERVICE_ALREADY_RUNNING);
    s->target = SERVICE_RUNNING;
    s->settlesAt = machine_.Clock().NowMs() + s->startMs;
    return true;
  }

  bool ControlService(SC_HANDLE handle, uint32_t control, SERVICE_STATUS* status) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("ControlService " + std::to_string(control));
    const uint32_t right = control == SERVICE_CONTROL_STOP ? SERVICE_STOP : 0x0100;  // user-defined
    Service* s = Use(handle, right, "control");
    if (!s) return false;
    if (control != SERVICE_CONTROL_STOP) return FailWith(ERROR_INVALID_SERVICE_CONTROL);
    const uint32_t state = State(*s);
    if (state == SERVICE_STOPPED) return FailWith(ERROR_SERVICE_NOT_ACTIVE);
    if (state != SERVICE_RUNNING || !s->acceptsStop)
      return FailWith(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    s->target = SERVICE_STOPPED;
    s->settlesAt = machine_.Clock().NowMs() + s->stopMs;
    if (status) Fill(*s, status);
    return true;
  }

  bool CloseServiceHandle(SC_HANDLE handle) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Log("CloseServiceHandle");
    // A failing close still ends the handle, as the platform's does.
    const bool closed = handles_.Close(handle);
    if (!closed) return false;
    if (uint32_t e = Injected("close", "")) return FailWith(e);
    return true;
  }

  bool Look(const std::string& name, View* view) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Service* s = Lookup(name);
    if (!s) return false;
    if (view) *view = {State(*s), s->startType};
    return true;
  }

  std::vector<std::string> CallLog() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  size_t OpenHandles() const override { return handles_.OpenCount(); }

 private:
  static std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
  }
  static SC_HANDLE Fail(uint32_t error) {
    SetLastError(error);
    return 0;
  }
  void Log(std::string line) { calls_.push_back(std::move(line)); }

  Service* Lookup(const std::string& name) {
    for (Service& s : services_)
      if (SameName(s.name, name)) return &s;
    return nullptr;
  }

  // The error of the first injected fault that applies to this call, else 0.
  uint32_t Injected(const std::string& op, const std::string& service) {
    for (Fault& f : faults_) {
      if (f.op != op) continue;
      if (!f.service.empty() && !SameName(f.service, service)) continue;
      const int n = ++f.seen;
      if (n <= f.skip) continue;
      if (f.times >= 0 && n - f.skip > f.times) continue;
      return f.error;
    }
    return 0;
  }

  // The service behind a handle opened with `right`, after the injected
  // faults of `op`; null with the last error set otherwise.
  Service* Use(SC_HANDLE handle, uint32_t right, const char* op) {
    auto entry = handles_.Find(handle, false, right);
    if (!entry) return nullptr;
    Service* s = Lookup(entry->service);
    if (!s) {
      SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
      return nullptr;
    }
    if (uint32_t e = Injected(op, s->name)) {
      SetLastError(e);
      return nullptr;
    }
    return s;
  }

  uint32_t State(const Service& s) const {
    if (machine_.Clock().NowMs() >= s.settlesAt) return s.target;
    return s.target == SERVICE_RUNNING ? SERVICE_START_PENDING : SERVICE_STOP_PENDING;
  }

  void Fill(const Service& s, SERVICE_STATUS* status) const {
    *status = {};
    status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status->dwCurrentState = State(s);
    status->dwControlsAccepted =
        status->dwCurrentState == SERVICE_RUNNING && s.acceptsStop ? SERVICE_ACCEPT_STOP : 0;
    const uint64_t now = machine_.Clock().NowMs();
    if (now < s.settlesAt) status->dwWaitHint = static_cast<uint32_t>(s.settlesAt - now);
  }

  SimMachine& machine_;
  mutable std::mutex mutex_;
  bool admin_ = true;
  std::vector<Service> services_;
  std::vector<Fault> faults_;
  std::vector<std::string> calls_;
  ServiceHandleTable handles_;
};

}  // namespace

std::unique_ptr<SimServices> MakeSimServices(SimMachine& machine, const Json& section) {
  return std::make_unique<Manager>(machine, section);
}

}  // namespace zel::sim
