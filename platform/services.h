// The service manager of the seam: connect to the manager, open a service by
// name, query its status and configuration, change its start type, start it,
// send it a control and close the handles, with the platform's access
// rights, states, start types and error numbers.
//
// The simulated machine keeps its services in the machine file; the Linux
// backend carries the calls out with systemd (docs/linux-backend.md).
#pragma once

#include <cstdint>
#include <string>

#include "platform/errors.h"

namespace zel::platform {

using SC_HANDLE = std::uintptr_t;

// Access rights of the manager and of a service.
inline constexpr uint32_t SC_MANAGER_CONNECT = 0x0001;
inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr uint32_t SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr uint32_t SERVICE_QUERY_STATUS = 0x0004;
inline constexpr uint32_t SERVICE_START = 0x0010;
inline constexpr uint32_t SERVICE_STOP = 0x0020;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

// Current states.
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;

// Start types; SERVICE_NO_CHANGE leaves a setting as it is.
inline constexpr uint32_t SERVICE_AUTO_START = 2;
inline constexpr uint32_t SERVICE_DEMAND_START = 3;
inline constexpr uint32_t SERVICE_DISABLED = 4;
inline constexpr uint32_t SERVICE_NO_CHANGE = 0xFFFFFFFF;

inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_ACCEPT_STOP = 1;

// Error numbers of the service calls.
inline constexpr uint32_t ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr uint32_t ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr uint32_t ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr uint32_t ERROR_SERVICE_DISABLED = 1058;
inline constexpr uint32_t ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr uint32_t ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr uint32_t ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr uint32_t ERROR_DATABASE_DOES_NOT_EXIST = 1065;
inline constexpr uint32_t ERROR_SERVICE_MARKED_FOR_DELETE = 1072;

struct SERVICE_STATUS {
  uint32_t dwServiceType = 0;
  uint32_t dwCurrentState = 0;
  uint32_t dwControlsAccepted = 0;
  uint32_t dwWin32ExitCode = 0;
  uint32_t dwServiceSpecificExitCode = 0;
  uint32_t dwCheckPoint = 0;
  uint32_t dwWaitHint = 0;
};

// The part of QUERY_SERVICE_CONFIGW the system reads.
struct QUERY_SERVICE_CONFIGW {
  uint32_t dwServiceType = 0;
  uint32_t dwStartType = 0;
  uint32_t dwErrorControl = 0;
  std::string lpBinaryPathName;
  std::string lpDisplayName;
};

class Services {
 public:
  virtual ~Services() = default;
  // The local machine's manager (`machine` empty); 0 with the last error set
  // on failure.
  virtual SC_HANDLE OpenSCManagerW(const std::string& machine, uint32_t desiredAccess) = 0;
  virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const std::string& serviceName,
                                 uint32_t desiredAccess) = 0;
  // Each call below returns false with the last error set on failure.
  virtual bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) = 0;
  virtual bool QueryServiceConfigW(SC_HANDLE service, QUERY_SERVICE_CONFIGW* config) = 0;
  // Only the three numbers the system changes; SERVICE_NO_CHANGE keeps one.
  virtual bool ChangeServiceConfigW(SC_HANDLE service, uint32_t serviceType, uint32_t startType,
                                    uint32_t errorControl) = 0;
  // Starts the service without arguments.
  virtual bool StartServiceW(SC_HANDLE service) = 0;
  virtual bool ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status) = 0;
  virtual bool CloseServiceHandle(SC_HANDLE handle) = 0;
};

}  // namespace zel::platform
