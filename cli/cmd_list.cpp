// zelvane list: one line per usable drive, in discovery order, with the
// values the Drive Info page shows for it.
#include "app/drive_info_values.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "platform/format.h"

namespace zel::cli {

int RunList(Context& ctx) {
  if (!ctx.args.empty()) {
    Error(ctx, "list takes no arguments");
    return kExitCannotRun;
  }
  PhysicalDriveTable table;
  if (!LoadDriveTable(ctx, &table)) return kExitCannotRun;

  // The list shows no partitions and no connection speed, so it asks for
  // neither; the values are those of the page for the same record.
  Json drives = Json::array();
  TextTable text;
  using A = TextTable::Align;
  for (const char* h : {"Disk", "Bus", "Model", "Firmware", "Serial"}) text.AddColumn(h);
  text.AddColumn("Size", A::Right);
  text.AddColumn("Health");
  text.AddColumn("Temperature", A::Right);
  text.AddColumn("Life", A::Right);
  text.AddColumn("Written", A::Right);
  for (const PhysicalDriveRecord& record : table) {
    DriveInfoValues v = GetDriveInfoValues(record, {}, PcieLinkInfo{});
    drives.push_back(DriveSummaryJson(record, v));
    text.AddRow({std::to_string(v.DriveIndex), BusName(v.BusType), v.Model, v.Firmware, v.Serial,
                 Format("%llu GB", static_cast<unsigned long long>(record.DiskSizeGB)), v.HealthText,
                 v.TemperatureText, v.RemainingLifeText, v.TotalBytesWrittenText});
  }

  if (ctx.json) {
    Json document;
    document["drives"] = drives;
    PrintJson(ctx, document);
  } else {
    PrintText(ctx, text.Render());
  }
  return kExitOk;
}

}  // namespace zel::cli
