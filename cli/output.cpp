#include "cli/output.h"

#include <algorithm>
#include <cstdio>

#include "device/ata_command.h"
#include "health/smart_health.h"
#include "log/log.h"

#include "app/launch/machine_choice.h"

namespace zel::cli {

void PrintJson(const Context& ctx, const Json& document) {
  // Texts that are not valid UTF-8 are written with replacement characters
  // instead of ending the command.
  std::string text = document.dump(2, ' ', false, Json::error_handler_t::replace);
  std::fprintf(ctx.out, "%s\n", text.c_str());
}

void PrintText(const Context& ctx, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), ctx.out);
}

size_t TextWidth(const std::string& text) {
  size_t width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++width;  // continuation bytes belong to the character before
  return width;
}

void TextTable::AddColumn(std::string header, Align align) {
  columns_.push_back({std::move(header), align});
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(columns_.size());
  rows_.push_back(std::move(cells));
}

std::string TextTable::Render() const {
  std::vector<size_t> widths(columns_.size(), 0);
  bool headers = false;
  for (size_t c = 0; c < columns_.size(); ++c) {
    widths[c] = TextWidth(columns_[c].header);
    headers = headers || !columns_[c].header.empty();
  }
  for (const auto& row : rows_)
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], TextWidth(row[c]));

  std::string out;
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < columns_.size(); ++c) {
      const std::string& cell = cells[c];
      std::string pad(widths[c] - TextWidth(cell), ' ');
      if (c > 0) text += "  ";
      text += columns_[c].align == Align::Right ? pad + cell : cell + pad;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  };
  if (headers) {
    std::vector<std::string> header;
    for (const Column& c : columns_) header.push_back(c.header);
    line(header);
  }
  for (const auto& row : rows_) line(row);
  return out;
}

bool LoadDriveTable(const Context& ctx, PhysicalDriveTable* table) {
  table->clear();
  ATACommand ata;
  if (ata.UpdatePhysicalDrivesInfo(*table) > 0) return true;
  ExplainNoUsableDrive(ctx);
  return false;
}

void ExplainNoUsableDrive(const Context& ctx) {
  Error(ctx,
        "no usable drive: no SATA or NVMe drive answered its identity and health requests "
        "(USB disks are never used; a SATA controller may need an AHCI driver)");
  // On the real machine the backend says what became of each block device.
  const std::string traceLog = LogFilePath(LogWriter::Trace);
  for (const std::string& line : UnusableDriveReasonsNamingLog(traceLog))
    std::fprintf(ctx.err, "  %s\n", line.c_str());
  if (!traceLog.empty()) std::fprintf(ctx.err, "  each request is in the trace log %s\n", traceLog.c_str());
}

const PhysicalDriveRecord* FindDisk(const Context& ctx, const PhysicalDriveTable& table, int disk) {
  for (const PhysicalDriveRecord& r : table)
    if (r.PhysicalDriveIndex == disk) return &r;
  std::string usable;
  for (const PhysicalDriveRecord& r : table)
    usable += (usable.empty() ? "" : ", ") + std::to_string(r.PhysicalDriveIndex);
  Error(ctx, "disk " + std::to_string(disk) + " is not a usable drive (the usable drives are disk" +
                 (table.size() == 1 ? " " : "s ") + usable + "; zelvane list shows them)");
  return nullptr;
}

const PhysicalDriveRecord* FindOneDisk(const Context& ctx, const std::string& command,
                                       const std::vector<std::string>& positional,
                                       const char* usage, PhysicalDriveTable* table, int* disk) {
  if (positional.size() != 1) {
    Error(ctx, command + ": expected one disk number" + usage);
    return nullptr;
  }
  if (!ParseDiskNumber(ctx, positional[0], disk)) return nullptr;
  if (!LoadDriveTable(ctx, table)) return nullptr;
  return FindDisk(ctx, *table, *disk);
}

const char* BusName(int32_t busType) {
  switch (busType) {
    case kBusAta: return "SATA";
    case kBusUsb: return "USB";
    case kBusNvme: return "NVMe";
    default: return "SCSI";
  }
}

const char* TemperatureBandName(int band) {
  switch (band) {
    case kThermometerCool: return "cool";
    case kThermometerNormal: return "normal";
    default: return "hot";
  }
}

const char* DiskStatusName(int status) {
  switch (status) {
    case kDiskStatusGood: return "good";
    case kDiskStatusWarning: return "warning";
    default: return "bad";
  }
}

Json DriveSummaryJson(const PhysicalDriveRecord& record, const DriveInfoValues& v) {
  Json j;
  j["disk"] = v.DriveIndex;
  j["bus"] = BusName(v.BusType);
  j["model"] = v.Model;
  j["firmware"] = v.Firmware;
  j["serial"] = v.Serial;
  j["sizeGB"] = record.DiskSizeGB;
  j["health"] = v.HealthText;
  j["diskStatus"] = v.DiskStatus;
  j["diskStatusText"] = DiskStatusName(v.DiskStatus);
  j["temperatureC"] = v.HasTemperature ? Json(v.Temperature) : Json(nullptr);
  j["temperatureText"] = v.TemperatureText;
  j["remainingLifePercent"] = v.RemainingLife;
  j["remainingLifeText"] = v.RemainingLifeText;
  j["totalWrittenGB"] = v.HasTotalBytesWritten ? Json(v.TotalBytesWrittenGB) : Json(nullptr);
  j["totalWrittenTB"] = v.HasTotalBytesWritten ? Json(v.TotalBytesWrittenTB) : Json(nullptr);
  j["totalWrittenText"] = v.TotalBytesWrittenText;
  return j;
}

}  // namespace zel::cli
