// Output helpers shared by the zelvane commands: the JSON writer, a text
// table, the drive table of a command, and the fields every command that
// shows a drive prints the same way in text and JSON.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "app/drive_info_values.h"
#include "cli/cli.h"
#include "device/drive_record.h"

namespace zel::cli {

// JSON documents keep their fields in the order they were added.
using Json = nlohmann::ordered_json;

// Prints one JSON document (two-space indent, UTF-8 as it is) and a line
// feed on the command's output.
void PrintJson(const Context& ctx, const Json& document);

// Prints a text as it is on the command's output.
void PrintText(const Context& ctx, const std::string& text);

// The width of a UTF-8 text in characters (code points), for aligning
// columns that hold texts such as "32 °C".
size_t TextWidth(const std::string& text);

// A table of texts in aligned columns: two blanks between columns, no
// blanks at the end of a line. Without headers (all empty) the header line
// is left out.
class TextTable {
 public:
  enum class Align { Left, Right };
  void AddColumn(std::string header, Align align = Align::Left);
  // One text per column; missing cells are empty, extra cells are dropped.
  void AddRow(std::vector<std::string> cells);
  // Every line ends with a line feed.
  std::string Render() const;

 private:
  struct Column {
    std::string header;
    Align align;
  };
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
};

// Runs a drive discovery on the installed platform into `table` (emptied
// first). When no drive is usable it prints why (on the real machine also
// what became of each block device) and returns false; the command then
// ends with kExitCannotRun.
bool LoadDriveTable(const Context& ctx, PhysicalDriveTable* table);
// Says on standard error why no drive is usable, as LoadDriveTable does.
void ExplainNoUsableDrive(const Context& ctx);

// The record of disk number `disk` in the table, or null after printing
// that the disk is not a usable drive (and which ones are).
const PhysicalDriveRecord* FindDisk(const Context& ctx, const PhysicalDriveTable& table, int disk);

// The disk a command names with its one positional argument: checks that
// there is exactly one, parses it, discovers the drives into `table` and
// finds the disk there. Prints why not ("COMMAND: expected one disk
// number" + usage, a bad number, no usable drive, not a usable drive) and
// returns null; the command then ends with kExitCannotRun.
const PhysicalDriveRecord* FindOneDisk(const Context& ctx, const std::string& command,
                                       const std::vector<std::string>& positional,
                                       const char* usage, PhysicalDriveTable* table, int* disk);

// "SATA", "NVMe", "SCSI" or "USB" for a record's bus type.
const char* BusName(int32_t busType);
// "cool", "normal" or "hot" for a thermometer state.
const char* TemperatureBandName(int band);
// "good", "warning" or "bad" for a disk status (1, 2, 3).
const char* DiskStatusName(int status);

// The fields of a drive that every command shows the same way (as the Drive
// Info page rules them): disk, bus, identity, size, health, temperature,
// remaining life and total bytes written. `values` come from the record.
Json DriveSummaryJson(const PhysicalDriveRecord& record, const DriveInfoValues& values);

}  // namespace zel::cli
