// zelvane alerts [--temperature C] [--remaining-life P] [--json]: shows the
// monitoring service's two alert thresholds, or stores the ones given. A
// value is read as the Diagnostics page reads its boxes: a base-10 integer,
// leading blanks and a sign allowed, nothing after it. Showing writes
// nothing (a stored remaining life above 100 is shown as 100 and left).
#include <string>

#include "cli/cli.h"
#include "cli/output.h"
#include "maintenance/alert_settings.h"

namespace zel::cli {

namespace {

// The value of an option given as "--name VALUE" or "--name=VALUE".
bool TakeValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
               std::string* value, bool* found) {
  const std::string& arg = args[*i];
  if (arg == name) {
    if (*i + 1 >= args.size()) return false;
    *value = args[++*i];
    *found = true;
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    *value = arg.substr(name.size() + 1);
    *found = true;
    return true;
  }
  return true;
}

}  // namespace

int RunAlerts(Context& ctx) {
  const char* usage = " (alerts [--temperature C] [--remaining-life P] [--json])";
  std::string temperatureText, lifeText;
  bool setTemperature = false, setLife = false;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string arg = ctx.args[i];
    const bool isTemperature = arg == "--temperature" || arg.rfind("--temperature=", 0) == 0;
    const bool isLife = arg == "--remaining-life" || arg.rfind("--remaining-life=", 0) == 0;
    if (!isTemperature && !isLife) {
      Error(ctx, "alerts: unexpected argument \"" + arg + "\"" + usage);
      return kExitCannotRun;
    }
    bool ok = isTemperature ? TakeValue(ctx.args, &i, "--temperature", &temperatureText, &setTemperature)
                            : TakeValue(ctx.args, &i, "--remaining-life", &lifeText, &setLife);
    if (!ok) {
      Error(ctx, "alerts: " + arg + " needs a value" + usage);
      return kExitCannotRun;
    }
  }

  int32_t temperature = 0, life = 0;
  if (setTemperature && !ParseThresholdText(temperatureText, &temperature)) {
    Error(ctx, "alerts: error input: \"" + temperatureText + "\" is not a whole number of degrees");
    return kExitCannotRun;
  }
  if (setLife && !ParseThresholdText(lifeText, &life)) {
    Error(ctx, "alerts: error input: \"" + lifeText + "\" is not a whole number of percent");
    return kExitCannotRun;
  }
  if (setLife && (life < 0 || life > 100))
    Error(ctx, "alerts: note: a remaining life outside 0 to 100 is read back as 100");

  int status = kExitOk;
  if (setTemperature && !SetAlertTemperature(temperature)) {
    Error(ctx, "alerts: the temperature threshold could not be stored (the settings store is not "
               "writable; run as root)");
    status = kExitFailed;
  }
  if (setLife && !SetAlertRemainingLife(life)) {
    Error(ctx, "alerts: the remaining-life threshold could not be stored (the settings store is "
               "not writable; run as root)");
    status = kExitFailed;
  }

  const bool temperatureStored = IsAlertValueStored(kAlertTemperatureValue);
  const bool lifeStored = IsAlertValueStored(kAlertRemainingLifeValue);
  const int32_t shownTemperature = ShownAlertTemperature();
  const int32_t shownLife = PeekAlertRemainingLife();
  if (ctx.json) {
    Json doc = Json::object();
    doc["temperature"] = shownTemperature;
    doc["temperatureStored"] = temperatureStored;
    doc["remainingLife"] = shownLife;
    doc["remainingLifeStored"] = lifeStored;
    PrintJson(ctx, doc);
  } else {
    TextTable table;
    table.AddColumn("");
    table.AddColumn("");
    table.AddRow({"Temperature over", std::to_string(shownTemperature) + " \xC2\xB0" "C" +
                                          (temperatureStored ? "" : " (default)")});
    table.AddRow({"Estimated life under", std::to_string(shownLife) + " %" +
                                              (lifeStored ? "" : " (default)")});
    PrintText(ctx, table.Render());
  }
  return status;
}

}  // namespace zel::cli
