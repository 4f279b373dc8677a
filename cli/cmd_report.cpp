// zelvane report PATH: the system report of the Utilities page's
// "Export Log" button, written to PATH as typed.
#include <clocale>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/startup.h"
#include "app/startup_sequence.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "report/system_report.h"

namespace zel::cli {

int RunReport(Context& ctx) {
  if (ctx.args.size() != 1 || ctx.args[0].empty()) {
    Error(ctx, "report: expected the path of the report file (report PATH)");
    return kExitCannotRun;
  }
  const std::string& path = ctx.args[0];

  // The start-up of the desktop program before the page's button can be
  // pressed: the user's locale, build number, then the start-up sequence
  // (inventory, discovery, controller list). A machine without a usable
  // drive still gets its report. The report refreshes the inventory itself.
  std::setlocale(LC_ALL, "");
  AppState state;
  state.BuildNumber = ReadBuildNumber();
  StartupSteps steps;
  steps.stopWhenInventoryFails = false;
  RunStartupSequence(state, steps);
  const PhysicalDriveTable& table = state.PhysicalDriveTable;

  std::string refusal;
  const bool written =
      WriteSystemReport(path, table, state.BuildNumber, state.SystemInfo, state.HbaList, &refusal);
  if (ctx.json) {
    nlohmann::ordered_json doc;
    doc["path"] = path;
    doc["written"] = written;
    doc["drives"] = table.size();
    std::fprintf(ctx.out, "%s\n",
                 doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  } else if (written) {
    std::fprintf(ctx.out, "Wrote the system report (%d drives) to %s\n",
                 static_cast<int>(table.size()), path.c_str());
  }
  if (!written) {
    // A path that names something other than a file is never replaced.
    Error(ctx, refusal.empty() ? "the report could not be written to " + path
                               : "refused to write the report over " + path + ": it is " +
                                     refusal + ", not a regular file");
    return kExitFailed;
  }
  // The report without drives is still written (it holds the system's
  // details), but the command did not do what it is for.
  if (table.empty()) {
    ExplainNoUsableDrive(ctx);
    return kExitCannotRun;
  }
  return kExitOk;
}

}  // namespace zel::cli
