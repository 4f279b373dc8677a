// zelvane report PATH: the system report of the Utilities page's
// "Export Log" button, written to PATH as typed.
#include <sys/stat.h>

#include <cerrno>
#include <clocale>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "device/ata_command.h"
#include "inventory/underlying_util.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "report/log.h"
#include "report/system_report.h"

namespace zel::cli {

namespace {

// The build number from the program file's last-write time (UTC): the year
// as the character of code year - 1936, the month in one hexadecimal digit,
// then day, hour and minute in two each ("Q91B102E" for 27 September 2017,
// 16:46). Empty when the file cannot be examined, as on a simulated machine
// whose program path is not a file here.
std::string ProgramBuildNumber() {
  const std::string program = platform::Sys().GetModuleFileName();
  struct stat st {};
  if (program.empty() || ::stat(program.c_str(), &st) != 0) {
    LogTraceF("Open %s fail:%d!", program.c_str(), errno == EACCES ? 5 : 2);
    return "";
  }
  std::time_t when = st.st_mtime;
  std::tm utc {};
  if (!::gmtime_r(&when, &utc)) return "";
  const int year = utc.tm_year + 1900, month = utc.tm_mon + 1;
  std::string number = Format("%c%X%02X%02X%02X", static_cast<char>(year - 1936), month,
                              utc.tm_mday, utc.tm_hour, utc.tm_min);
  LogTraceF("Build number:%s, Creation Time(UTC):%d %d %d %d %d!", number.c_str(), year, month,
            utc.tm_mday, utc.tm_hour, utc.tm_min);
  return number;
}

}  // namespace

int RunReport(Context& ctx) {
  if (ctx.args.size() != 1 || ctx.args[0].empty()) {
    Error(ctx, "report: expected the path of the report file (report PATH)");
    return kExitCannotRun;
  }
  const std::string& path = ctx.args[0];

  // The start-up pass of the desktop program before the page's button can
  // be pressed: the user's locale, build number, system inventory and drive
  // discovery. The report refreshes the inventory itself.
  std::setlocale(LC_ALL, "");
  BuildNumber() = ProgramBuildNumber();
  UnderlyingUtil util;
  util.GetSystemInfo();
  PhysicalDriveTable table;
  ATACommand ata;
  ata.UpdatePhysicalDrivesInfo(table);

  const bool written = WriteSystemReport(path, table);
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
    Error(ctx, "the report could not be written to " + path);
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace zel::cli
