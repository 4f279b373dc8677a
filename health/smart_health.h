// The four health values of a drive, computed on demand from a record copy.
#pragma once

#include <cstdint>

#include "device/drive_record.h"

namespace zel {

inline constexpr int kDiskStatusGood = 1;
inline constexpr int kDiskStatusWarning = 2;
inline constexpr int kDiskStatusBad = 3;
inline constexpr uint16_t kNoTemperature = 0xFFFF;

int CheckDiskStatus(const PhysicalDriveRecord& record);
// Degrees Celsius, kNoTemperature when the drive reports none.
uint16_t GetDriveTemperature(const PhysicalDriveRecord& record);
// Percent.
int32_t GetRemainingLife(const PhysicalDriveRecord& record);
// GB written by the host; -1 when the drive offers no counter.
int64_t GetTotalBytesWritten(const PhysicalDriveRecord& record);

}  // namespace zel
