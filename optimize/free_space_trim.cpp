// The count and fill passes of the free-space TRIM.
#include "optimize/free_space_trim.h"

#include "device/ata_command.h"
#include "inventory/underlying_util.h"
#include "optimize/direct_trim.h"
#include "platform/file_util.h"
#include "platform/format.h"
#include "log/log.h"
#include "platform/platform.h"

namespace zel {

using namespace zel::platform;

namespace {

// The volume's total free bytes; false (logged) when the seam cannot tell,
// and such a volume is never filled nor trimmed.
bool ReadFreeBytes(const std::string& root, uint64_t* freeBytes) {
  uint64_t toCaller = 0, total = 0, free = 0;
  if (!Current().Files().GetDiskFreeSpaceExW(root, &toCaller, &total, &free)) {
    LogTraceF("SsdOptimizeThreadProc::GetDiskFreeSpaceEx(%s) fail. Error code = 0x%X", root.c_str(),
              GetLastError());
    return false;
  }
  *freeBytes = free;
  return true;
}

// The TRIM folder is absent exactly when asking for its attributes fails
// with file-not-found; any other answer (it exists, or the volume cannot
// say) leaves the volume alone.
bool FolderAbsent(const std::string& folder) {
  return Current().Files().GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES &&
         GetLastError() == ERROR_FILE_NOT_FOUND;
}

// Waits for a filler file to become openable: up to 10 tries, 500 ms apart.
bool WaitForFiller(const std::string& path) {
  Platform& machine = Current();
  for (int attempt = 0; attempt < kTrimFillerOpenTries; ++attempt) {
    HANDLE file = machine.Files().CreateFileW(path, GENERIC_READ, 0, OPEN_EXISTING, 0);
    if (file != INVALID_HANDLE_VALUE) {
      machine.Files().CloseHandle(file);
      return true;
    }
    machine.Sys().Sleep(kTrimFillerOpenPauseMs);
  }
  return false;
}

// Direct TRIM of each filler file of the folder before it is deleted; the
// bar advances once per file.
void TrimFillerFiles(const std::string& folder, int32_t driveNumber, uint64_t range,
                     SsdOptimizeProgress& progress, uint64_t* position) {
  uint32_t error = 0;
  for (const std::string& name : ListMatching(Current().Files(), Format("%s\\*.*", folder.c_str()), &error)) {
    if (name.empty() || name[0] == '.') continue;
    std::string path = Format("%s\\%s", folder.c_str(), name.c_str());
    std::vector<LbaExtent> extents;
    if (!GetLBA_XP(path, &extents, false))
      LogTraceF("SsdOptimizeThreadProc_XP::GetLBA_XP(%s, %d) fail.", path.c_str(), driveNumber);
    else if (!DoTrim_XP(extents, static_cast<uint32_t>(driveNumber), false))
      LogTraceF("SsdOptimizeThreadProc_XP::DoTrim_XP(%s, %d) fail.", path.c_str(), driveNumber);
    if (*position < range) progress.Position(++*position);
  }
}

}  // namespace

bool UsesDirectTrim() {
  ATACommand ata;
  return ata.OsVersion.dwMajorVersion == 5 && ata.OsVersion.dwMinorVersion == 1;
}

SsdOptimizeResult RunSsdOptimize(int32_t driveNumber, SsdOptimizeProgress& progress,
                                 const std::atomic<bool>& cancel, bool directTrim) {
  Platform& machine = Current();
  SsdOptimizeResult result;
  if (!directTrim) SetDeleteNotificationRegistry();

  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> volumes;
  util.GetLogicalDriveInfo(driveNumber, volumes);

  // Count pass: the filler files the fill is expected to make.
  for (const LogicalDriveEntry& volume : volumes) {
    if (!machine.VolumeTrim().TurnsFreedClustersIntoTrim(volume.DriveName)) continue;
    std::string folder = TrimFolderOf(volume.DriveName);
    DeleteDirectory(folder, true);  // a leftover of an earlier run
    uint64_t free = 0;
    if (!ReadFreeBytes(volume.DriveName, &free)) continue;
    if (free > kTrimFreeSpaceReserve && FolderAbsent(folder))
      result.total += (free - kTrimFreeSpaceReserve) / kTrimFillerFileSize + 1;
  }
  const uint64_t range = directTrim ? 2 * result.total : result.total;
  progress.Range(range);
  progress.Position(0);

  // Fill pass, volume by volume.
  for (const LogicalDriveEntry& volume : volumes) {
    VolumeTrimOutcome outcome;
    outcome.root = volume.DriveName;
    outcome.fileSystem = volume.FileSystem;
    outcome.trims = machine.VolumeTrim().TurnsFreedClustersIntoTrim(volume.DriveName);
    std::string folder = TrimFolderOf(volume.DriveName);
    if (outcome.trims && !result.cancelled) {
      outcome.freeKnown = ReadFreeBytes(volume.DriveName, &outcome.freeBytes);
      if (outcome.freeKnown && outcome.freeBytes > kTrimFreeSpaceReserve && FolderAbsent(folder)) {
        if (!machine.Files().CreateDirectoryW(folder)) {
          LogTraceF("SsdOptimizeThreadProc::CreateDirectory(%s) fail. Error code = 0x%X",
                    folder.c_str(), GetLastError());
        } else {
          outcome.filled = true;
          progress.VolumeStarted(volume.DriveName);
          int n = 0;
          int withoutProgress = 0;
          bool appeared = true;
          uint64_t lastFree = 0;
          for (;;) {
            if (cancel.load()) {
              result.cancelled = true;
              break;
            }
            uint64_t free = 0;
            if (!ReadFreeBytes(volume.DriveName, &free)) break;
            if (free < kTrimFreeSpaceReserve) break;
            if (n > 0) {
              withoutProgress = appeared && free < lastFree ? 0 : withoutProgress + 1;
              if (withoutProgress >= kTrimFillerFilesWithoutProgress) {
                outcome.stalled = true;
                LogTraceF("SsdOptimizeThreadProc::%s: %d filler files in a row did not lower the "
                          "free space, fill of the volume stopped.",
                          volume.DriveName.c_str(), withoutProgress);
                break;
              }
            }
            lastFree = free;
            std::string output;
            // The tool's result is not examined: progress is measured by the
            // free space alone.
            machine.Procs().RunAndCapture(TrimFillerCommandOf(folder, n), &output);
            appeared = WaitForFiller(TrimFillerFileOf(folder, n));
            ++n;
            if (result.position < range) progress.Position(++result.position);
          }
          outcome.fillerFiles = n;
          if (directTrim) TrimFillerFiles(folder, driveNumber, range, progress, &result.position);
          DeleteDirectory(folder, true);
          // Here the deleted filler files' clusters become known to the
          // drive: by the file system itself, or by asking it now.
          outcome.trimmed = machine.VolumeTrim().TrimFreeSpace(volume.DriveName, &outcome.trim);
          if (!outcome.trimmed)
            LogTraceF("SsdOptimizeThreadProc::TrimFreeSpace(%s) fail. Error code = 0x%X",
                      volume.DriveName.c_str(), GetLastError());
          else if (outcome.trim.requested)
            LogTraceF("SsdOptimizeThreadProc::TrimFreeSpace(%s) trimmed %llu bytes.",
                      volume.DriveName.c_str(),
                      static_cast<unsigned long long>(outcome.trim.bytesTrimmed));
        }
      }
    }
    progress.VolumeFinished(outcome);
    result.volumes.push_back(std::move(outcome));
  }
  return result;
}

}  // namespace zel
