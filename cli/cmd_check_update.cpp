// zelvane check-update [--json]: asks the update server for the latest
// version of the program. Exit 0 when this is the latest, 1 when a newer
// one exists (its version and download address are shown), 2 when the
// server could not be asked. Nothing is downloaded or opened.
#include <nlohmann/json.hpp>

#include "app/dialog/string_table.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "inventory/underlying_util.h"
#include "maintenance/update_server.h"
#include "platform/platform.h"

namespace zel::cli {

int RunCheckUpdate(Context& ctx) {
  for (const std::string& arg : ctx.args) {
    Error(ctx, "check-update: unexpected argument \"" + arg + "\" (usage: check-update [--json])");
    return kExitCannotRun;
  }
  std::string version;
  UnderlyingUtil().GetToolVersion(version);
  const ProgramVersionCheck check =
      CheckLatestZelvane(platform::Sys().GetUserDefaultUILanguage(), version);
  int id = 351;
  const char* state = "server-failed";
  int status = kExitCannotRun;
  if (check.State == ProgramVersionState::Latest) {
    id = 356;
    state = "latest";
    status = kExitOk;
  } else if (check.State == ProgramVersionState::Outdated) {
    id = 348;
    state = "outdated";
    status = kExitFailed;
  }
  const std::string message = LoadStringW(1033, id);
  if (ctx.json) {
    Json doc = Json::object();
    doc["server"] = UpdateServerHost();
    doc["state"] = state;
    doc["currentVersion"] = version;
    doc["latestVersion"] = check.LatestVersion.empty() ? Json(nullptr) : Json(check.LatestVersion);
    doc["address"] = check.Address.empty() ? Json(nullptr) : Json(check.Address);
    doc["message"] = message;
    PrintJson(ctx, doc);
  } else {
    std::fprintf(ctx.out, "%s\n", message.c_str());
    if (check.State == ProgramVersionState::Outdated)
      std::fprintf(ctx.out, "This version: %s. Latest: %s. Download: %s\n", version.c_str(),
                   check.LatestVersion.c_str(), check.Address.c_str());
  }
  return status;
}

}  // namespace zel::cli
