#include "maintenance/alert_settings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "log/log.h"
#include "platform/bytes.h"
#include "platform/platform.h"

namespace zel {

using namespace zel::platform;

namespace {

// The product key, opened without a view flag like every other user of the key.
constexpr const char* kProductKey = "SOFTWARE\\Quarn\\SSDZelvane";
constexpr uint32_t kRemainingLifeCeiling = 100;

uint32_t SetAlertValue(const char* name, int32_t value) {
  Registry& reg = Current().Reg();
  HKEY key = 0;
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key) != 0) {
    uint32_t disposition = 0;
    if (reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, &key, &disposition) != 0)
      return 0;
  }
  uint8_t data[4];
  PutLE32(data, static_cast<uint32_t>(value));
  const LSTATUS status = reg.RegSetValueExW(key, name, REG_DWORD, data, sizeof data);
  reg.RegCloseKey(key);
  if (status != 0) {
    LogTraceF("Set %s--RegSetValueEx fail: 0x%X", name, static_cast<uint32_t>(status));
    return 0;
  }
  return 1;
}

// The DWORD `name` of the product key, or nothing when the key or the value
// cannot be read (missing, of another type or size).
bool GetAlertValue(const char* name, uint32_t* value) {
  Registry& reg = Current().Reg();
  HKEY key = 0;
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != 0) return false;
  uint8_t data[4] = {};
  uint32_t type = 0, size = sizeof data;
  const LSTATUS status = reg.RegQueryValueExW(key, name, &type, data, &size);
  reg.RegCloseKey(key);
  if (status != 0 || type != REG_DWORD || size != sizeof data) return false;
  *value = GetLE32(data);
  return true;
}

void PrintFailure(std::FILE* messages, const char* call, uint32_t error) {
  if (!messages) return;
  std::fprintf(messages, "%s failed w/err 0x%08lx\n", call, static_cast<unsigned long>(error));
  std::fflush(messages);
}

}  // namespace

uint32_t SetAlertTemperature(int32_t value) { return SetAlertValue(kAlertTemperatureValue, value); }

uint32_t SetAlertRemainingLife(int32_t value) {
  return SetAlertValue(kAlertRemainingLifeValue, value);
}

int32_t GetAlertTemperature() {
  uint32_t value = 0;
  if (!GetAlertValue(kAlertTemperatureValue, &value)) return -1;
  return static_cast<int32_t>(value);
}

int32_t GetAlertRemainingLife() {
  uint32_t value = 0;
  if (!GetAlertValue(kAlertRemainingLifeValue, &value)) return -1;
  if (value <= kRemainingLifeCeiling) return static_cast<int32_t>(value);
  Registry& reg = Current().Reg();
  HKEY key = 0;
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key) != 0) return -2;
  uint8_t data[4];
  PutLE32(data, kRemainingLifeCeiling);
  const LSTATUS status =
      reg.RegSetValueExW(key, kAlertRemainingLifeValue, REG_DWORD, data, sizeof data);
  reg.RegCloseKey(key);
  return status == 0 ? static_cast<int32_t>(kRemainingLifeCeiling) : -2;
}

int32_t ShownAlertTemperature() {
  const int32_t value = GetAlertTemperature();
  return value == -1 ? kDefaultAlertTemperature : value;
}

int32_t ShownAlertRemainingLife() {
  const int32_t value = GetAlertRemainingLife();
  if (value == -1) return kDefaultAlertRemainingLife;
  if (static_cast<uint32_t>(value) > kRemainingLifeCeiling) return kRemainingLifeCeiling;
  return value;
}

int32_t PeekAlertRemainingLife() {
  uint32_t value = 0;
  if (!GetAlertValue(kAlertRemainingLifeValue, &value)) return kDefaultAlertRemainingLife;
  return static_cast<int32_t>(value > kRemainingLifeCeiling ? kRemainingLifeCeiling : value);
}

bool IsAlertValueStored(const char* valueName) {
  uint32_t value = 0;
  return GetAlertValue(valueName, &value);
}

bool ParseThresholdText(const std::string& text, int32_t* value) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(start, &end, 10);
  // Everything must be used: a text with no number at all ("", or only
  // blanks and a sign) leaves `end` at the start, so only the empty text
  // passes that way.
  if (static_cast<size_t>(end - start) != text.size()) return false;
  if (number > std::numeric_limits<int32_t>::max()) number = std::numeric_limits<int32_t>::max();
  if (number < std::numeric_limits<int32_t>::min()) number = std::numeric_limits<int32_t>::min();
  *value = static_cast<int32_t>(number);
  return true;
}

uint32_t QueryServiceStatusByName(const std::string& name, SERVICE_STATUS* status,
                                  std::FILE* messages) {
  Services& scm = Current().Services();
  SC_HANDLE manager = scm.OpenSCManagerW("", SC_MANAGER_CONNECT);
  if (!manager) {
    PrintFailure(messages, "OpenSCManager", GetLastError());
    return 0;
  }
  SC_HANDLE service = scm.OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
  if (!service) {
    PrintFailure(messages, "OpenService", GetLastError());
    scm.CloseServiceHandle(manager);
    return 0;
  }
  const bool ok = scm.QueryServiceStatus(service, status);
  scm.CloseServiceHandle(service);
  scm.CloseServiceHandle(manager);
  return ok ? 1 : 0;
}

uint32_t SetServiceRunning(const std::string& name, uint32_t on, std::FILE* messages) {
  Services& scm = Current().Services();
  SC_HANDLE manager = scm.OpenSCManagerW("", SC_MANAGER_CONNECT);
  if (!manager) {
    PrintFailure(messages, "OpenSCManager", GetLastError());
    return 0;
  }
  SC_HANDLE service = scm.OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
  if (!service) {
    PrintFailure(messages, "OpenService", GetLastError());
    scm.CloseServiceHandle(manager);
    return 0;
  }
  const uint32_t startType = on == 1 ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
  if (scm.ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE)) {
    LogTrace(on == 1 ? "ChangeServiceConfig to auto start successfully"
                     : "ChangeServiceConfig to demand start successfully");
  } else {
    LogTraceF("ChangeServiceConfig failed (%d)", static_cast<int>(GetLastError()));
  }
  bool result = false;
  if (on == 1) {
    result = scm.StartServiceW(service);
  } else {
    SERVICE_STATUS status;
    result = scm.ControlService(service, SERVICE_CONTROL_STOP, &status);
  }
  // The caller may want the reason of a failed start or stop: closing the
  // handles must not overwrite it.
  const uint32_t error = GetLastError();
  scm.CloseServiceHandle(service);
  scm.CloseServiceHandle(manager);
  SetLastError(error);
  return result ? 1 : 0;
}

void ServiceStopThreadProc(WorkerRun& run) {
  auto& shared = *static_cast<ServiceStopRequest*>(run.Request());
  run.RunningOperationCode().store(shared.Kind);
  run.Post(SSDZELVMSG_WPARAM_PROGRESSSTART);
  SetServiceRunning(kZelvaneServiceName, 0);
  run.Post(SSDZELVMSG_WPARAM_PROGRESSEND);
}

bool StartServiceStopWorker(ServiceStopRequest& request, std::atomic<int32_t>& runningOperationCode) {
  return StartWorker(runningOperationCode, {request.WindowTitle, &request, WithoutWindow::End},
                     ServiceStopThreadProc);
}

}  // namespace zel
