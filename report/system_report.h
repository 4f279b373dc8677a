// The system report: one plain-text file for support staff with the
// program's version and build, the operating system and hardware, the
// storage controllers and memory modules, and for every physical drive its
// identity, link, temperature, raw IDENTIFY page, SMART attributes and data
// page (or NVMe health log), its first sectors and diskpart's "detail disk".
//
// The text is gathered in memory and written in one go, in the user's code
// page with CR LF line ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/drive_record.h"
#include "inventory/system_info.h"

namespace zel {

// Refreshes the system inventory into `systemInfo` and `hbaList` (the
// program's own records, which it keeps in its application state), builds
// the report for the drives of `drives` (in table order) with the program's
// build number `buildNumber` (empty when the program file could not be
// read) and writes it to `path` exactly as typed (no extension is added).
// An earlier file at the path is replaced, and only by a complete report
// (written beside it and renamed over it); a path that names a folder, a
// device, a FIFO, a socket or a symbolic link is refused untouched, with
// `*refusal` (when given) saying what it names. The desktop program ignores
// the result; it is false when the file could not be written.
bool WriteSystemReport(const std::string& path, const PhysicalDriveTable& drives,
                       const std::string& buildNumber, SystemInformation& systemInfo,
                       std::vector<HbaEntry>& hbaList, std::string* refusal = nullptr);

// The report text itself, before conversion to the code page and line ends
// (UTF-8, "\n" line ends). Does not refresh the inventory.
std::string BuildSystemReportText(const PhysicalDriveTable& drives, const std::string& buildNumber,
                                  const SystemInformation& systemInfo,
                                  const std::vector<HbaEntry>& hbaList);

// Runs diskpart's "detail disk" for one disk through a script file in the
// current directory and fills `text` with what diskpart wrote (at most 1,023
// UTF-16 characters), or with an error line ending in "\n".
void GetDiskpartMsg(int32_t diskNumber, std::string* text);

// Where the script lives and how diskpart is started with it.
inline constexpr char kDiskpartScriptName[] = ".//tmpxxxquarn.bat";
inline constexpr char kDiskpartCommandFormat[] = "C:\\Windows\\System32\\diskpart.exe /s %s";

}  // namespace zel
