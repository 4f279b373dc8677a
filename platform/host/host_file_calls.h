// The file calls of the seam carried out on this machine's own file system,
// shared by the backends: the Linux backend for every file, the simulated
// machine for its real folders (the program's folder and the current
// directory). Paths here are this machine's paths; a "\" in them is taken as
// a folder separator, as the platform's paths use it. Failures set the
// platform's last error through the one errno map (errno_map.h).
//
// POSIX has no sharing modes, so the platform's are kept among the handles
// of this process: a second open of one file whose access the first did not
// share fails with ERROR_SHARING_VIOLATION. The read-only attribute is the
// owner's write permission; folders carry FILE_ATTRIBUTE_DIRECTORY, files
// FILE_ATTRIBUTE_ARCHIVE, names starting with "." FILE_ATTRIBUTE_HIDDEN.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"

namespace zel::hostfs {

class HostFileCalls {
 public:
  // Handles are numbered from `firstHandle`, so a backend that keeps handles
  // of its own can tell them apart.
  explicit HostFileCalls(platform::HANDLE firstHandle = 0x10000) : next_(firstHandle) {}
  ~HostFileCalls();
  HostFileCalls(const HostFileCalls&) = delete;
  HostFileCalls& operator=(const HostFileCalls&) = delete;

  platform::HANDLE CreateFile(const std::string& path, uint32_t access, uint32_t share,
                              uint32_t disposition, uint32_t flags);
  bool ReadFile(platform::HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got);
  bool WriteFile(platform::HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written);
  bool GetFileSize(platform::HANDLE h, uint64_t* size);
  bool GetFileTime(platform::HANDLE h, platform::FILETIME* creation, platform::FILETIME* access,
                   platform::FILETIME* write);
  bool Flush(platform::HANDLE h);
  // A whole-file lock (flock): LOCKFILE_EXCLUSIVE_LOCK and
  // LOCKFILE_FAIL_IMMEDIATELY as the seam's LockFileEx takes them.
  bool Lock(platform::HANDLE h, uint32_t flags);
  bool Unlock(platform::HANDLE h);
  bool Close(platform::HANDLE h);
  // Whether a handle (of a file or of a listing) is one of these calls'.
  bool Owns(platform::HANDLE h) const;

  uint32_t GetAttributes(const std::string& path);
  bool SetAttributes(const std::string& path, uint32_t attributes);
  bool DeleteFile(const std::string& path);
  // MoveFileExW on this machine's file system (rename(2) semantics: one
  // step, the new name's symbolic link itself is what gets replaced).
  bool Move(const std::string& from, const std::string& to, uint32_t flags);
  bool CreateFolder(const std::string& path);
  bool RemoveFolder(const std::string& path);

  // Lists `pattern` ("folder/name*.ext"); `volumeRoot` leaves "." and ".."
  // out, as a volume's root lists none.
  platform::HANDLE FindFirst(const std::string& pattern, bool volumeRoot,
                             platform::WIN32_FIND_DATAW* found);
  bool FindNext(platform::HANDLE h, platform::WIN32_FIND_DATAW* found);
  bool FindClose(platform::HANDLE h);

  bool FreeSpace(const std::string& path, uint64_t* toCaller, uint64_t* total, uint64_t* free);
  bool Geometry(const std::string& path, uint32_t* sectorsPerCluster, uint32_t* bytesPerSector,
                uint32_t* freeClusters, uint32_t* totalClusters);
  std::string CurrentDirectory();
  // The path itself when absolute, else below the current directory.
  std::string FullPath(const std::string& path);

 private:
  struct OpenFile {
    int fd = -1;
    uint32_t access = 0, share = 0;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  mutable std::mutex mutex_;
  platform::HANDLE next_;
  std::map<platform::HANDLE, OpenFile> files_;
  std::map<platform::HANDLE, std::vector<platform::WIN32_FIND_DATAW>> finds_;
};

// The folder for the programs' logs when a program's own folder cannot be
// written: $ZELVANE_STATE_DIR when set (one folder for all of a test's or a
// package's state); /var/log/ssdzelvane for root; else
// $XDG_STATE_HOME/ssdzelvane (an absolute XDG_STATE_HOME only), else
// ~/.local/state/ssdzelvane; empty when none of these can be named.
std::string DefaultLogFolder();

// This machine's path of a platform path: "\" becomes "/".
std::string HostPath(std::string path);

}  // namespace zel::hostfs
