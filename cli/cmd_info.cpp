// zelvane info N: what the Drive Info page shows for disk N (identity lines,
// connection speed, logical drives with total and free space, total bytes
// written, temperature with its band, drive health, remaining life), in the
// page's own texts. Text and JSON render the same values.
#include <string>
#include <vector>

#include "app/drive_info_values.h"
#include "app/strings.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "inventory/pcie_link.h"
#include "inventory/underlying_util.h"
#include "platform/format.h"

namespace zel::cli {

namespace {

constexpr int kStrLogicalDriveInfo = 253;
constexpr int kStrDriveHealth = 254;
constexpr int kStrRemainingLife = 255;
constexpr int kStrTotalBytesWritten = 256;
constexpr int kStrCurrentTemperature = 257;

std::string Labelled(int id, const std::string& value) {
  return LoadStringText(id) + ": " + value + "\n";
}

std::string RenderText(const PhysicalDriveRecord& record, const DriveInfoValues& v) {
  std::string out = Format("Disk %d: %s (%s, %llu GB)\n", v.DriveIndex, v.Model.c_str(), BusName(v.BusType),
                           static_cast<unsigned long long>(record.DiskSizeGB));
  for (const std::string* line :
       {&v.ModelLine, &v.FirmwareLine, &v.SerialLine, &v.WorldWideNameLine, &v.ConnectionLine})
    out += *line + "\n";

  out += "\n" + LoadStringText(kStrLogicalDriveInfo) + "\n";
  if (v.LogicalDrives.empty()) {
    out += "  " + v.PartitionNameText + "\n";
  } else {
    TextTable drives;
    using A = TextTable::Align;
    drives.AddColumn("");
    drives.AddColumn("");
    drives.AddColumn("", A::Right);
    drives.AddColumn("", A::Right);
    drives.AddColumn("", A::Right);
    for (const LogicalDriveValues& d : v.LogicalDrives)
      drives.AddRow({"  " + d.Name, d.FileSystem, d.TotalText, d.FreeText, d.FreePercentText});
    out += drives.Render();
  }

  std::string temperature = v.TemperatureText;
  if (v.HasTemperature) temperature += Format(" (%s)", TemperatureBandName(v.TemperatureBand));
  out += "\n";
  out += Labelled(kStrTotalBytesWritten, v.TotalBytesWrittenText);
  out += Labelled(kStrCurrentTemperature, temperature);
  out += Labelled(kStrDriveHealth, v.HealthText);
  out += Labelled(kStrRemainingLife, v.RemainingLifeText);
  return out;
}

Json RenderJson(const PhysicalDriveRecord& record, const DriveInfoValues& v) {
  Json j = DriveSummaryJson(record, v);
  j["makersDrive"] = v.IsMakersDrive;
  j["wwn"] = v.WorldWideName;
  j["connectionSpeed"] = v.ConnectionSpeed;
  if (v.IsNvme) {
    j["pcieLink"] = {{"maxWidth", v.PcieLink.MaxLinkWidth},
                     {"maxSpeed", v.PcieLink.MaxLinkSpeed},
                     {"currentWidth", v.PcieLink.CurrentLinkWidth},
                     {"currentSpeed", v.PcieLink.CurrentLinkSpeed}};
  } else {
    j["pcieLink"] = nullptr;
  }
  j["temperatureBand"] = TemperatureBandName(v.TemperatureBand);
  Json drives = Json::array();
  for (const LogicalDriveValues& d : v.LogicalDrives) {
    Json e;
    e["name"] = d.Name;
    e["fileSystem"] = d.FileSystem;
    e["sizeMB"] = d.SizeMB;
    e["freeMB"] = d.FreeMB;
    e["totalGB"] = d.TotalGB;
    e["freeGB"] = d.FreeGB;
    e["freePercent"] = d.HasFreePercent ? Json(d.FreePercent) : Json(nullptr);
    e["usagePercent"] = d.UsagePercent;
    e["totalText"] = d.TotalText;
    e["freeText"] = d.FreeText;
    e["freePercentText"] = d.FreePercentText;
    drives.push_back(e);
  }
  j["logicalDrives"] = drives;
  j["partitionText"] = v.PartitionNameText;
  return j;
}

}  // namespace

int RunInfo(Context& ctx) {
  if (ctx.args.size() != 1) {
    Error(ctx, ctx.args.empty() ? "info needs a disk number (zelvane list shows them)"
                                : "info takes one disk number");
    return kExitCannotRun;
  }
  int disk = 0;
  if (!ParseDiskNumber(ctx, ctx.args[0], &disk)) return kExitCannotRun;

  PhysicalDriveTable table;
  if (!LoadDriveTable(ctx, &table)) return kExitCannotRun;
  const PhysicalDriveRecord* found = FindDisk(ctx, table, disk);
  if (!found) return kExitCannotRun;
  const PhysicalDriveRecord record = *found;

  // What the page reads when it shows a drive: the logical drives of its
  // disk number and, for an NVMe drive, the link of its controller.
  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> logical;
  util.GetLogicalDriveInfo(record.PhysicalDriveIndex, logical);
  PcieLinkInfo link;
  if (record.BusType == kBusNvme) link = GetPcieLinkInfo(record.PhysicalDriveIndex);
  DriveInfoValues v = GetDriveInfoValues(record, logical, link);

  if (ctx.json) {
    Json j = RenderJson(record, v);
    // The PCI class code of the disk's controller, as discovery reads it
    // ("010601" AHCI, "010802" NVMe; empty when the disk is on none).
    j["pciClassCode"] = util.GetDiskMode(record.PhysicalDriveIndex);
    PrintJson(ctx, j);
  } else {
    PrintText(ctx, RenderText(record, v));
  }
  return kExitOk;
}

}  // namespace zel::cli
