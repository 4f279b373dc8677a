// Free-space TRIM ("SSD Optimization"): the drive learns which of its blocks
// are free. The free space of each volume of the drive whose file system
// turns freed clusters into TRIM is filled with large filler files (made by
// the process runner's "fsutil file createnew", which reserves space without
// writing data) and they are deleted again; then the volume is asked to
// trim its free space, which on a file system that reports freed clusters by
// itself is nothing, and on one that must be asked (Linux) is the request
// that does the TRIM.
//
// Written once as a synchronous operation (RunSsdOptimize) on a drive number
// with a progress sink and a cancel flag; the System Optimization page runs
// it on a worker (SsdOptimizeThreadProc), the tray program and `zelvane trim`
// call it directly. StartSsdOptimize holds the Run button's refusals and the
// run-state step before the worker starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "device/drive_record.h"
#include "platform/registry.h"
#include "platform/volume_trim.h"

namespace zel {

// A volume is filled only while its free space is at least this.
inline constexpr uint64_t kTrimFreeSpaceReserve = 5368709120ull;  // 5 GiB
// Size of each filler file.
inline constexpr uint64_t kTrimFillerFileSize = 2147483648ull;  // 2 GiB
// Each filler file is waited for: tries to open it, and the pause between.
inline constexpr int kTrimFillerOpenTries = 10;
inline constexpr uint32_t kTrimFillerOpenPauseMs = 500;
// A volume's fill ends after this many filler files in a row that did not
// appear or did not lower the free space (the tool cannot make them).
inline constexpr int kTrimFillerFilesWithoutProgress = 3;
// The running-operation code published while the TRIM runs.
inline constexpr int32_t kSsdOptimizationOperationCode = 6;

// "<root>\tmpxxxquarn" for a volume root "C:".
std::string TrimFolderOf(const std::string& root);
// "<folder>\xxxtmpxxxquarnxxxwtf<n>.tmp".
std::string TrimFillerFileOf(const std::string& folder, int n);
// "fsutil file createnew <folder>\xxxtmpxxxquarnxxxwtf<n>.tmp 2147483648".
std::string TrimFillerCommandOf(const std::string& folder, int n);

// Removes a folder's files (and, with `recursive`, its subfolders) and then
// the folder. Entries whose names begin with "." are left, and so is a
// folder that still holds anything. 0 on success or when there is nothing to
// delete, else the platform's error code (logged).
uint32_t DeleteDirectory(const std::string& folder, bool recursive);

// Switches the file system's delete notifications on (DisableDeleteNotification
// = 0 under SYSTEM\CurrentControlSet\Control\FileSystem); the registry status.
platform::LSTATUS SetDeleteNotificationRegistry();

// Removes the TRIM folder of every trimming volume of every drive of `table`
// (only a folder whose attributes are exactly "directory").
void DeleteTrimTempFolder(const PhysicalDriveTable& table);

// What happened on one volume of the drive.
struct VolumeTrimOutcome {
  std::string root;        // "C:"
  std::string fileSystem;  // as the inventory names it
  bool trims = false;      // its file system turns freed clusters into TRIM
  bool freeKnown = false;  // its free space could be read
  uint64_t freeBytes = 0;  // free bytes before the fill
  bool filled = false;     // it went through the fill
  int fillerFiles = 0;     // filler files started
  bool stalled = false;    // the fill ended for want of progress
  bool trimmed = false;    // the TRIM request after the fill succeeded
  platform::FreeSpaceTrim trim;
};

// Where a run reports its progress bar and its volumes.
class SsdOptimizeProgress {
 public:
  virtual ~SsdOptimizeProgress() = default;
  // The bar's range is 0 .. total (set once, after the count pass).
  virtual void Range(uint64_t /*total*/) {}
  // The bar's position.
  virtual void Position(uint64_t /*position*/) {}
  // A volume's fill starts, and a volume is done (every volume of the drive,
  // filled or skipped).
  virtual void VolumeStarted(const std::string& /*root*/) {}
  virtual void VolumeFinished(const VolumeTrimOutcome& /*outcome*/) {}
};

struct SsdOptimizeResult {
  uint64_t total = 0;     // filler files the count pass expects
  uint64_t position = 0;  // where the bar ended
  bool cancelled = false;
  std::vector<VolumeTrimOutcome> volumes;
};

// The TRIM of one drive's volumes, steps 2 to 6 of the worker: delete
// notifications on, the count pass, the range, the fill pass. The cancel flag
// is looked at before each filler file; a cancelled run still deletes the
// volume's TRIM folder. The run-state values are the caller's.
//
// With `directTrim` (a platform whose file system reports no freed clusters,
// version 5.1) delete notifications are left alone, each filler file's LBA
// ranges are trimmed by DATA SET MANAGEMENT before its folder is deleted,
// and the bar counts each filler file twice (made, trimmed).
SsdOptimizeResult RunSsdOptimize(int32_t driveNumber, SsdOptimizeProgress& progress,
                                 const std::atomic<bool>& cancel, bool directTrim = false);

// Whether this platform needs the direct TRIM: version 5.1, as ATACommand
// records it.
bool UsesDirectTrim();

}  // namespace zel
