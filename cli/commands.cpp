#include "cli/cli.h"

namespace zel::cli {

int RunList(Context& ctx);
int RunInfo(Context& ctx);
int RunDetails(Context& ctx);
int RunDvt(Context& ctx);
int RunReport(Context& ctx);
int RunDecryptLog(Context& ctx);
int RunSelfTest(Context& ctx);
int RunFirmware(Context& ctx);
int RunCheckUpdate(Context& ctx);
int RunAlerts(Context& ctx);
int RunService(Context& ctx);
int RunMonitor(Context& ctx);
int RunErase(Context& ctx);
int RunTrim(Context& ctx);
int RunSchedule(Context& ctx);

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list", "list                      the usable drives, one line each", RunList},
      {"info", "info N                    what the Drive Info page shows for disk N", RunInfo},
      {"details", "details N [--smart]       the drive or SMART detail list of disk N", RunDetails},
      {"dvt", "dvt N [--criteria FILE]   check disk N against a criteria file", RunDvt},
      {"report", "report PATH               write the system report to PATH", RunReport},
      {"decrypt-log", "decrypt-log FILE          write Decrypted.log from a scrambled log",
       RunDecryptLog},
      {"selftest", "selftest N [--extended]   run the drive's self-test on disk N", RunSelfTest},
      {"firmware", "firmware N [--file F] [--yes] [--download-dir D]  update disk N's firmware", RunFirmware},
      {"check-update", "check-update              ask the update server for a newer program", RunCheckUpdate},
      {"alerts", "alerts [--temperature C] [--remaining-life P]  show or set the alert thresholds", RunAlerts},
      {"service", "service status|on|off     the monitoring service's state, or switch it", RunService},
      {"monitor", "monitor [--once] [--interval S]  watch the drives against the thresholds", RunMonitor},
      {"erase", "erase N                   security erase of disk N (asks for its serial number)",
       RunErase},
      {"trim", "trim N [--list]           TRIM the free space of disk N's volumes", RunTrim},
      {"schedule", "schedule N [--days D|--off] the scheduled TRIM of disk N", RunSchedule},
  };
  return commands;
}

}  // namespace zel::cli
