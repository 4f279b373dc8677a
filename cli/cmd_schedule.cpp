// zelvane schedule N [--days D | --off] [--json]: the scheduled-TRIM
// settings of disk N in its drive subkey, which the tray program follows.
// Without an option it shows them (as the page shows them, and as stored);
// --days D (7 to 30, the page's range) switches the schedule on with that
// interval; --off switches it off and keeps the interval shown. Only the
// maker's drives have a schedule.
// Exit 0 done, 2 could not run.
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/output.h"
#include "log/log.h"
#include "optimize/quarn_registry.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel::cli {

namespace {

constexpr uint32_t kFewestDays = 7;
constexpr uint32_t kMostDays = 30;

}  // namespace

int RunSchedule(Context& ctx) {
  const char* usage = " (schedule N [--days D | --off] [--json])";
  bool off = false;
  bool haveDays = false;
  std::string daysText;
  std::vector<std::string> positional;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    if (arg == "--off") {
      off = true;
    } else if (arg == "--days") {
      if (i + 1 >= ctx.args.size()) {
        Error(ctx, std::string("schedule: --days needs a number of days") + usage);
        return kExitCannotRun;
      }
      haveDays = true;
      daysText = ctx.args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      Error(ctx, "schedule: unknown option \"" + arg + "\"" + usage);
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1) {
    Error(ctx, std::string("schedule: expected one disk number") + usage);
    return kExitCannotRun;
  }
  if (off && haveDays) {
    Error(ctx, std::string("schedule: --days and --off exclude each other") + usage);
    return kExitCannotRun;
  }
  uint32_t days = 0;
  if (haveDays) {
    UnsignedNumber n = ParseUnsigned(std::string_view(daysText), 10);
    if (daysText.empty() || daysText.size() > 2 || n.stray || n.value < kFewestDays || n.value > kMostDays) {
      Error(ctx, Format("schedule: the interval must be a whole number of days from %u to %u, not \"%s\"",
                        kFewestDays, kMostDays, daysText.c_str()));
      return kExitCannotRun;
    }
    days = n.value;
  }
  int disk = 0;
  PhysicalDriveTable table;
  const PhysicalDriveRecord* found = FindOneDisk(ctx, "schedule", positional, usage, &table, &disk);
  if (!found) return kExitCannotRun;
  const PhysicalDriveRecord drive = *found;

  if (off || haveDays) {
    // The tray program runs as root and reads root's store.
    if (!ctx.simulated && ::geteuid() != 0) {
      Error(ctx, "schedule: needs root to change the schedule (the tray program reads root's settings)");
      return kExitCannotRun;
    }
    if (!IsQuarnDrive(drive)) {
      LogTraceF("Not QUARN's product, not support scheduled trim:%s", drive.DevicePath.c_str());
      Error(ctx, "schedule: This is not an QUARN product!");
      return kExitCannotRun;
    }
    // --off keeps the interval the page would show.
    if (off) days = ReadScheduledTrimSettingForPage(drive).days;
    SaveScheduledTrimSetting(off ? 0 : 1, days, drive);
  }

  const std::string subkey = DriveSubkey(drive);
  ScheduledTrimShown shown = ReadScheduledTrimSettingForPage(drive);
  const bool quarn = IsQuarnDrive(drive);
  // The stored values, as the tray program reads them (absent interval: 0).
  uint32_t interval = ReadQuarnDword(subkey, kScheduledTrimIntervalValue, 0);
  int64_t last = ReadQuarnQword(subkey, kScheduledTrimLastTimeValue, 0);
  uint32_t runs = ReadQuarnDword(subkey, kScheduledTrimTimesValue, 0);
  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["supported"] = quarn;
    doc["enabled"] = shown.enable == 1;
    doc["days"] = shown.days;
    doc["intervalSeconds"] = interval;
    doc["lastTime"] = last;
    doc["runs"] = runs;
    PrintJson(ctx, doc);
  } else if (!quarn) {
    std::fprintf(ctx.out, "Disk %d: no scheduled TRIM (not the maker's drive)\n", disk);
  } else {
    std::fprintf(ctx.out, "Disk %d scheduled TRIM: %s, every %u days\n", disk,
                 shown.enable == 1 ? "on" : "off", shown.days);
  }
  return kExitOk;
}

}  // namespace zel::cli
