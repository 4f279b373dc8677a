// The monitoring service's work: every round it reads the two alert
// thresholds, discovers the drives and reads each one's temperature and
// remaining life with the system's own health functions. A drive that rises
// above the temperature threshold or falls below the remaining-life
// threshold gets one warning line; when it comes back it gets one line
// more. Nothing is repeated while a drive stays on one side.
//
// Lines carry the journal's priority as a prefix ("<4>" warning, "<5>"
// notice, "<6>" information) when the caller asks for it: under systemd
// (JOURNAL_STREAM set) standard error goes to the journal, which reads it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zel {

// The thresholds as the service applies them (70 and 10 when not stored;
// the remaining life never above 100). Reading them writes nothing.
struct AlertThresholds {
  int32_t temperature = 70;
  int32_t remainingLife = 10;
  bool operator==(const AlertThresholds&) const = default;
};
AlertThresholds ReadAlertThresholds();

inline constexpr int kPriorityWarning = 4;
inline constexpr int kPriorityNotice = 5;
inline constexpr int kPriorityInfo = 6;

struct MonitorLine {
  int priority = kPriorityInfo;
  std::string text;
};

class AlertMonitor {
 public:
  // One round: thresholds, discovery, readings; the lines it has to say.
  std::vector<MonitorLine> Round();

 private:
  struct DriveState {
    bool hot = false;
    bool worn = false;
  };
  // By serial number (disk numbers may change between rounds).
  std::map<std::string, DriveState> drives_;
  AlertThresholds thresholds_;
  bool first_ = true;
  bool sawDrives_ = true;
};

struct MonitorOptions {
  bool once = false;
  uint32_t intervalSeconds = 600;
  bool priorityPrefix = false;  // "<4>" and so on before each line
};

// Runs rounds until `stop` is set (checked at least every second of the
// wait) or, with `once`, for one round. Each line goes to `write` as it
// will be printed, without a line end.
void RunMonitor(const MonitorOptions& options, const std::atomic<bool>& stop,
                const std::function<void(const std::string&)>& write);

}  // namespace zel
