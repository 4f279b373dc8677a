#include "maintenance/alert_monitor.h"

#include <set>

#include "device/ata_command.h"
#include "health/smart_health.h"
#include "log/log.h"
#include "maintenance/alert_settings.h"
#include "platform/platform.h"

namespace zel {

namespace {

std::string DriveName(const PhysicalDriveRecord& d) {
  return "Disk " + std::to_string(d.PhysicalDriveIndex) + " (" + d.ModelName + ", serial " +
         d.SerialNumber + ")";
}

std::string Degrees(int32_t celsius) { return std::to_string(celsius) + " \xC2\xB0" "C"; }

}  // namespace

AlertThresholds ReadAlertThresholds() {
  AlertThresholds t;
  const int32_t temperature = GetAlertTemperature();
  if (temperature != -1) t.temperature = temperature;
  t.remainingLife = PeekAlertRemainingLife();
  return t;
}

std::vector<MonitorLine> AlertMonitor::Round() {
  std::vector<MonitorLine> lines;
  const AlertThresholds t = ReadAlertThresholds();
  if (first_ || !(t == thresholds_)) {
    lines.push_back({kPriorityInfo, "Alert thresholds: temperature above " +
                                        Degrees(t.temperature) + ", remaining life below " +
                                        std::to_string(t.remainingLife) + "%"});
  }
  thresholds_ = t;
  first_ = false;

  ATACommand ata;
  PhysicalDriveTable table;
  ata.UpdatePhysicalDrivesInfo(table);
  if (table.empty()) {
    if (sawDrives_) lines.push_back({kPriorityWarning, "No usable drive found"});
    sawDrives_ = false;
  } else {
    sawDrives_ = true;
  }

  std::set<std::string> seen;
  for (const PhysicalDriveRecord& d : table) {
    const std::string key = d.SerialNumber.empty() ? d.DevicePath : d.SerialNumber;
    seen.insert(key);
    DriveState& state = drives_[key];
    const std::string name = DriveName(d);

    const uint16_t temperature = GetDriveTemperature(d);
    if (temperature != kNoTemperature) {
      const int32_t celsius = temperature;
      const bool hot = celsius > t.temperature;
      if (hot && !state.hot)
        lines.push_back({kPriorityWarning, name + ": temperature " + Degrees(celsius) +
                                               " is above the alert threshold of " +
                                               Degrees(t.temperature)});
      if (!hot && state.hot)
        lines.push_back({kPriorityNotice, name + ": temperature " + Degrees(celsius) +
                                              " is back at or below the alert threshold of " +
                                              Degrees(t.temperature)});
      state.hot = hot;
    }

    const int32_t life = GetRemainingLife(d);
    const bool worn = life < t.remainingLife;
    if (worn && !state.worn)
      lines.push_back({kPriorityWarning, name + ": estimated remaining life " +
                                             std::to_string(life) +
                                             "% is below the alert threshold of " +
                                             std::to_string(t.remainingLife) + "%"});
    if (!worn && state.worn)
      lines.push_back({kPriorityNotice, name + ": estimated remaining life " +
                                            std::to_string(life) +
                                            "% is back at or above the alert threshold of " +
                                            std::to_string(t.remainingLife) + "%"});
    state.worn = worn;
  }
  // A drive that left takes its alerts with it; should it come back, it is
  // judged afresh.
  for (auto it = drives_.begin(); it != drives_.end();)
    it = seen.count(it->first) ? std::next(it) : drives_.erase(it);
  return lines;
}

void RunMonitor(const MonitorOptions& options, const std::atomic<bool>& stop,
                const std::function<void(const std::string&)>& write) {
  AlertMonitor monitor;
  platform::System& sys = platform::Sys();
  for (;;) {
    for (const MonitorLine& line : monitor.Round()) {
      std::string text = line.text;
      if (options.priorityPrefix) text = "<" + std::to_string(line.priority) + ">" + text;
      LogTraceF("AlertMonitor--%s", line.text.c_str());
      write(text);
    }
    if (options.once) return;
    for (uint32_t waited = 0; waited < options.intervalSeconds; ++waited) {
      if (stop.load()) return;
      sys.Sleep(1000);
    }
    if (stop.load()) return;
  }
}

}  // namespace zel
