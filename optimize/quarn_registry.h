// The product key and the drive subkeys: the only state the desktop program,
// the tray program and the monitoring service share. The helpers here read
// and write single values of the key, store a drive's scheduled-TRIM
// settings, and carry out the run-state protocol (TrimInProgress,
// TrimStartAt) that keeps two TRIM runs from overlapping.
//
// Registry failures never reach the user: the helpers log them and return the
// status of closing the key, which callers ignore; a failed read leaves the
// caller's buffer, that is its default, untouched.
#pragma once

#include <cstdint>
#include <string>

#include "device/drive_record.h"
#include "platform/registry.h"

namespace zel {

// The product key under HKEY_LOCAL_MACHINE (opened without a view flag, so
// a 32-bit program meets the other programs in the 32-bit view).
inline constexpr const char* kQuarnProductKey = "SOFTWARE\\Quarn\\SSDZelvane";

// Run-state values of the product key.
inline constexpr const char* kTrimInProgressValue = "TrimInProgress";
inline constexpr const char* kTrimStartAtValue = "TrimStartAt";
// A TRIM that started less than this many seconds ago counts as running.
inline constexpr int64_t kStaleTrimSeconds = 3600;

// Values of a drive subkey.
inline constexpr const char* kPhysicalDriveIndexValue = "PhysicalDriveIndex";
inline constexpr const char* kScheduledTrimEnableValue = "ScheduledTrimEnable";
inline constexpr const char* kScheduledTrimIntervalValue = "ScheduledTrimInterval";
inline constexpr const char* kScheduledTrimLastTimeValue = "ScheduledTrimLastTime";
inline constexpr const char* kScheduledTrimTimesValue = "ScheduledTrimTimes";
inline constexpr const char* kScheduleCheckWoTrimValue = "ScheduleCheckWoTrim";
inline constexpr const char* kCurrentTimeValue = "CurrentTime";
inline constexpr const char* kPostponeTimeValue = "PostponeTime";

inline constexpr uint32_t kSecondsPerDay = 86400;
// The shortest interval the page shows; shorter or absent ones show as this.
inline constexpr uint32_t kMinimumShownIntervalSeconds = 604800;

// The privilege step before every registry access. There is no privilege to
// enable on Linux (the programs run as root), so it succeeds: 1.
int32_t EnableRestorePrivilege();

// Creates or opens `subkey` and sets one value; logs around the work and a
// failed set with its status. Returns the status of closing the key.
platform::LSTATUS WriteQuarnRegistry(const std::string& subkey, const std::string& valueName,
                                     uint32_t byteCount, uint32_t type, const void* data);
// Opens `subkey` and queries one value into `data`; `byteCount` and `type`
// are in/out as the platform's query has them (the stored type is not
// compared with the caller's). `data` is left untouched on any failure.
// Returns the status of closing the key (the open's status when it fails).
platform::LSTATUS ReadQuarnRegistry(const std::string& subkey, const std::string& valueName,
                                    uint32_t* byteCount, uint32_t* type, void* data);

// Typed shorthands: the value as a 32-bit or 64-bit number, `fallback` when
// it cannot be read.
uint32_t ReadQuarnDword(const std::string& subkey, const std::string& valueName, uint32_t fallback);
int64_t ReadQuarnQword(const std::string& subkey, const std::string& valueName, int64_t fallback);
void WriteQuarnDword(const std::string& subkey, const std::string& valueName, uint32_t value);
void WriteQuarnQword(const std::string& subkey, const std::string& valueName, int64_t value);

// "SOFTWARE\Quarn\SSDZelvane\<device path without its \\?\ prefix>".
std::string DriveSubkey(const PhysicalDriveRecord& record);
// Only the maker's drives (model text holding "QUARN") get a subkey.
bool IsQuarnDrive(const PhysicalDriveRecord& record);

// Stores a drive's scheduled-TRIM settings in its subkey (created with its
// parents): PhysicalDriveIndex, ScheduledTrimInterval = days x 86400 and
// ScheduledTrimEnable, in that order; a failed write is logged and the next
// one still happens. Returns the status of closing the key (of creating it
// when that fails).
platform::LSTATUS SaveScheduledTrimSetting(uint32_t enable, uint32_t intervalDays,
                                           PhysicalDriveRecord record);

// A drive's scheduled-TRIM settings as the page shows them: the check box,
// and the interval in whole days, an interval below 7 days (or absent)
// shown as 7.
struct ScheduledTrimShown {
  uint32_t enable = 0;
  uint32_t days = 7;
};
ScheduledTrimShown ReadScheduledTrimSettingForPage(const PhysicalDriveRecord& record);

// --- The run-state protocol ---------------------------------------------------

struct TrimRunState {
  uint32_t inProgress = 0;  // TrimInProgress, 0 when absent
  int64_t startAt = 0;      // TrimStartAt, read only when inProgress is 1
  bool active = false;      // a run counts as going on
};
// Reads the run state at time `now` (seconds since 1970): active when
// TrimInProgress is 1 and now - TrimStartAt (signed) is below 3600, so a
// start time in the future also counts as active.
TrimRunState ReadTrimRunState(int64_t now);
// A starter marks its run: TrimInProgress = 1, TrimStartAt = now.
void MarkTrimStarted(int64_t now);
// The run is over: TrimInProgress = 0 (TrimStartAt keeps its value).
void MarkTrimEnded();
// The platform's time in seconds since 1970.
int64_t NowSeconds();

}  // namespace zel
