// zelvane monitor [--once] [--interval S]: the monitoring service. Every
// S seconds (default 600) it discovers the drives, reads their temperature
// and remaining life and compares them with the alert thresholds, re-read
// every round; a crossing and a return each write one line on standard
// error. Under systemd (JOURNAL_STREAM set) every line carries the
// journal's priority ("<4>" warning, "<5>" notice, "<6>" information).
// SIGTERM or Ctrl-C end it after the round in progress; exit 0.
#include <atomic>
#include <csignal>
#include <string>

#include "cli/cli.h"
#include "maintenance/alert_monitor.h"
#include "platform/platform.h"

namespace zel::cli {

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnStop(int) { g_stop.store(true); }

}  // namespace

int RunMonitor(Context& ctx) {
  const char* usage = " (monitor [--once] [--interval S])";
  MonitorOptions options;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    std::string value;
    if (arg == "--once") {
      options.once = true;
      continue;
    }
    if (arg == "--interval" && i + 1 < ctx.args.size()) {
      value = ctx.args[++i];
    } else if (arg.rfind("--interval=", 0) == 0) {
      value = arg.substr(11);
    } else {
      Error(ctx, "monitor: unexpected argument \"" + arg + "\"" + usage);
      return kExitCannotRun;
    }
    if (value.empty() || value.size() > 7 || value.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(value) == 0) {
      Error(ctx, "monitor: --interval takes a number of seconds from 1 to 9999999");
      return kExitCannotRun;
    }
    options.intervalSeconds = static_cast<uint32_t>(std::stoul(value));
  }
  options.priorityPrefix = platform::Sys().GetEnvironmentVariable("JOURNAL_STREAM").has_value();

  g_stop = false;
  struct sigaction action = {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  struct sigaction previousInt = {}, previousTerm = {};
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
  zel::RunMonitor(options, g_stop, [&](const std::string& line) {
    std::fprintf(ctx.err, "%s\n", line.c_str());
    std::fflush(ctx.err);
  });
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  return kExitOk;
}

}  // namespace zel::cli
