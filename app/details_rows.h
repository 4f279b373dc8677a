// The content of the details popup, without a window: the header text, the
// list's columns (header texts and widths) and its rows, for one of two modes
// and the drive's bus type. Everything comes from a copy of the drive's record
// and from the controller list made at start-up; nothing is sent to the drive.
//
//   mode 1 (drive details): NVMe Identify Controller rows, or the 256 IDENTIFY
//                           words with their descriptions;
//   mode 2 (SMART details): NVMe health rows, or the SMART attributes with
//                           names, values, thresholds and raw bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/drive_record.h"
#include "inventory/system_info.h"

namespace zel {

enum class DetailsMode : int {
  Drive = 1,  // "Drive Details"
  Smart = 2,  // "SMART Details"
};

struct DetailsColumn {
  std::string Header;
  int Width = 0;  // pixels
};

// One list row: one text per column, in column order.
using DetailsRow = std::vector<std::string>;

struct DetailsList {
  std::string HeaderText;
  std::vector<DetailsColumn> Columns;
  std::vector<DetailsRow> Rows;
};

// The interface text of a controller's PCI class code: "IDE" for any code
// that begins with "0101", "AHCI" for "010601", "NVMe" for "010802", empty
// for anything else.
std::string HbaInterfaceText(std::string_view classCode);

// "HBA: <name> / <interface>\nDriver Version: <version> (<provider>)" for the
// controller that the drive hangs on (the last match in `controllers` of an
// attached device whose physical drive index equals the record's); empty when
// no controller lists the drive.
std::string DetailsControllerLine(const PhysicalDriveRecord& record,
                                  const std::vector<HbaEntry>& controllers);

// The header above the list. Mode 1: "Drive Detail Information: <model>\n"
// followed by the controller line; mode 2: "SMART Detail Information: <model>".
std::string DetailsHeaderText(DetailsMode mode, const PhysicalDriveRecord& record,
                              const std::vector<HbaEntry>& controllers);

// The list's columns for the mode and the drive's bus type.
std::vector<DetailsColumn> DetailsColumns(DetailsMode mode, int32_t busType);

// The list's rows for the mode and the drive of `record`.
std::vector<DetailsRow> DetailsRows(DetailsMode mode, const PhysicalDriveRecord& record);

// Header, columns and rows together, as the popup shows them. Builds the
// SMART name dictionaries first, as the popup does when it is constructed.
DetailsList BuildDetailsList(DetailsMode mode, const PhysicalDriveRecord& record,
                             const std::vector<HbaEntry>& controllers);

}  // namespace zel
