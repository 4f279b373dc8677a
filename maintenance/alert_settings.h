// The alert thresholds of the monitoring service and the switch that turns
// the service on and off.
//
// The thresholds live in the product key as two DWORDs, written by the
// Diagnostics page and `zelvane alerts`, read by the monitoring service
// (`zelvane monitor`) at every round. The service is switched through the
// platform's service manager: on = automatic start and started, off = start
// on demand and sent the stop control. The switch-off from the page runs on
// a worker (ServiceStopThreadProc) that reports with the progress
// notification like the self-test worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "maintenance/self_test.h"
#include "platform/services.h"
#include "platform/worker.h"

namespace zel {

inline constexpr const char* kZelvaneServiceName = "QUARN Zelvane Service";
inline constexpr const char* kAlertTemperatureValue = "ZelvaneSvcTemperature";
inline constexpr const char* kAlertRemainingLifeValue = "ZelvaneSvcRemainingLife";
// What the page shows when a threshold is not stored.
inline constexpr int32_t kDefaultAlertTemperature = 70;
inline constexpr int32_t kDefaultAlertRemainingLife = 10;
// The running-operation code of the service stop.
inline constexpr int32_t kServiceStopKind = 3;

// Store a threshold in the product key (created when it is missing).
// Nonzero on success; 0 when the key can be neither opened nor created, or
// the value could not be written.
uint32_t SetAlertTemperature(int32_t value);
uint32_t SetAlertRemainingLife(int32_t value);
// The stored temperature threshold, or -1 when the key or the value cannot
// be read.
int32_t GetAlertTemperature();
// The stored remaining-life threshold, or -1 when it cannot be read. A
// stored value above 100 (compared unsigned) is rewritten as 100 and 100 is
// returned (-2 when that rewrite fails).
int32_t GetAlertRemainingLife();

// The thresholds as shown and as the service uses them: the stored values,
// 70 and 10 when they cannot be read, the remaining life never above 100
// (compared unsigned).
int32_t ShownAlertTemperature();
int32_t ShownAlertRemainingLife();
// As ShownAlertRemainingLife, but a stored value above 100 is only read as
// 100, not rewritten: for readers that must not write (the service).
int32_t PeekAlertRemainingLife();

// Whether the product key holds `valueName` as a readable DWORD.
bool IsAlertValueStored(const char* valueName);

// Parses a threshold as typed: a base-10 integer with leading blanks and a
// sign allowed, nothing after it; an empty text is 0. Numbers beyond the
// 32-bit range are held at its ends. False when anything is left over.
bool ParseThresholdText(const std::string& text, int32_t* value);

// Queries the service's status into `status`; nonzero on success. A failure
// to connect or open prints "OpenSCManager failed w/err 0x%08lx" or
// "OpenService failed w/err 0x%08lx" on `messages` (the standard output
// unless a caller needs it elsewhere).
uint32_t QueryServiceStatusByName(const std::string& name, platform::SERVICE_STATUS* status,
                                  std::FILE* messages = stdout);

// on = 1: start type automatic, then started; on = 0: start type on demand,
// then sent the stop control. The start or stop is requested even when the
// configuration change failed. Returns the result of the start or the stop
// (nonzero on success); 0 when the manager or the service cannot be opened
// (printed as QueryServiceStatusByName does).
uint32_t SetServiceRunning(const std::string& name, uint32_t on, std::FILE* messages = stdout);

// The service stop's request block: the self-test request's shape, kind 3.
struct ServiceStopRequest : SelfTestRequest {};

// The worker that switches the service off: sets the running-operation code
// to 3, posts the start, calls SetServiceRunning(name, 0) and posts the end.
// It neither waits for the stopped state nor looks at the result.
void ServiceStopThreadProc(platform::WorkerRun& run);

// Starts ServiceStopThreadProc on `request`; false when no thread could start.
bool StartServiceStopWorker(ServiceStopRequest& request, std::atomic<int32_t>& runningOperationCode);

}  // namespace zel
