// zelvane details N [--smart]: the list the details popup shows for disk N,
// its drive details (mode 1) or its SMART details (mode 2).
#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/app_state.h"
#include "app/details_rows.h"
#include "app/startup_sequence.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "inventory/system_info.h"
#include "platform/text.h"

namespace zel::cli {

namespace {

// Stable field names of the columns for scripts, whatever the language of
// the column headers.
std::vector<std::string> ColumnKeys(DetailsMode mode, int32_t busType) {
  if (mode == DetailsMode::Drive) return {"item", "value", "description"};
  if (busType == kBusNvme) return {"id", "value", "description"};
  return {"id", "hex", "description", "current", "worst", "threshold", "raw"};
}

const char* BusName(int32_t busType) {
  switch (busType) {
    case kBusAta: return "ata";
    case kBusUsb: return "usb";
    case kBusNvme: return "nvme";
    default: return "scsi";
  }
}

// The list as an aligned table: every column but the last padded to its
// widest text, two blanks between columns.
void PrintTable(std::FILE* out, const DetailsList& list) {
  const size_t columns = list.Columns.size();
  std::vector<size_t> width(columns, 0);
  for (size_t c = 0; c < columns; ++c) width[c] = Utf16Length(list.Columns[c].Header);
  for (const DetailsRow& row : list.Rows)
    for (size_t c = 0; c < columns && c < row.size(); ++c)
      width[c] = std::max(width[c], Utf16Length(row[c]));

  auto printLine = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (size_t c = 0; c < columns; ++c) {
      const std::string cell = c < cells.size() ? cells[c] : std::string();
      line += cell;
      if (c + 1 < columns) line += std::string(width[c] - Utf16Length(cell) + 2, ' ');
    }
    std::fprintf(out, "%s\n", line.c_str());
  };

  std::vector<std::string> headers;
  for (const DetailsColumn& column : list.Columns) headers.push_back(column.Header);
  printLine(headers);
  for (const DetailsRow& row : list.Rows) printLine(row);
}

void PrintJson(std::FILE* out, int disk, DetailsMode mode, const PhysicalDriveRecord& drive,
               const DetailsList& list) {
  const std::vector<std::string> keys = ColumnKeys(mode, drive.BusType);
  nlohmann::ordered_json doc;
  doc["disk"] = disk;
  doc["mode"] = mode == DetailsMode::Drive ? "drive" : "smart";
  doc["bus"] = BusName(drive.BusType);
  doc["model"] = drive.ModelName;
  doc["header"] = list.HeaderText;
  doc["columns"] = nlohmann::ordered_json::array();
  for (size_t c = 0; c < list.Columns.size(); ++c)
    doc["columns"].push_back(
        {{"key", keys[c]}, {"header", list.Columns[c].Header}, {"width", list.Columns[c].Width}});
  doc["rows"] = nlohmann::ordered_json::array();
  for (const DetailsRow& row : list.Rows) {
    nlohmann::ordered_json item = nlohmann::ordered_json::object();
    for (size_t c = 0; c < keys.size() && c < row.size(); ++c) item[keys[c]] = row[c];
    doc["rows"].push_back(std::move(item));
  }
  const std::string text = doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  std::fprintf(out, "%s\n", text.c_str());
}

}  // namespace

int RunDetails(Context& ctx) {
  DetailsMode mode = DetailsMode::Drive;
  std::vector<std::string> positional;
  for (const std::string& arg : ctx.args) {
    if (arg == "--smart") {
      mode = DetailsMode::Smart;
    } else if (StartsWith(arg, "--")) {
      Error(ctx, "details: unknown option \"" + arg + "\" (details N [--smart] [--json])");
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1) {
    Error(ctx, "details: expected one disk number (details N [--smart] [--json])");
    return kExitCannotRun;
  }
  int disk = 0;
  if (!ParseDiskNumber(ctx, positional[0], &disk)) return kExitCannotRun;

  // The start-up of the desktop program: the user's locale, then the
  // start-up sequence (inventory, discovery, the controller list once more
  // with the disk numbers discovery found).
  std::setlocale(LC_ALL, "");
  AppState state;
  StartupSteps steps;
  steps.stopWhenInventoryFails = false;
  steps.discover = [&ctx](AppState& s) { return LoadDriveTable(ctx, &s.PhysicalDriveTable); };
  if (RunStartupSequence(state, steps) != StartupOutcome::Ready) return kExitCannotRun;
  const PhysicalDriveRecord* drive = FindDisk(ctx, state.PhysicalDriveTable, disk);
  if (!drive) return kExitCannotRun;

  const DetailsList list = BuildDetailsList(mode, *drive, state.HbaList);
  if (ctx.json) {
    PrintJson(ctx.out, disk, mode, *drive, list);
  } else {
    // The header of a drive without a controller line ends in its line feed.
    std::string header = list.HeaderText;
    while (!header.empty() && header.back() == '\n') header.pop_back();
    std::fprintf(ctx.out, "%s\n\n", header.c_str());
    PrintTable(ctx.out, list);
  }
  return kExitOk;
}

}  // namespace zel::cli
