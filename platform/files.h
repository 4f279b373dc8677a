// Files, folders and volumes of the seam: the platform's file calls with the
// platform's conventions (handles, last error, attribute bits, find records,
// free bytes). A path is the platform's path: "C:\dir\file" on a lettered
// volume, or a path relative to the current directory, or a path below the
// program's folder as GetModuleFileName names it; each backend maps these to
// its own objects, so the code above the seam never builds a path of the
// machine underneath.
#pragma once

#include <cstdint>
#include <string>

#include "platform/device_io.h"

namespace zel::platform {

// CreateFileW dispositions beside OPEN_EXISTING, and the append access right.
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;
inline constexpr uint32_t FILE_APPEND_DATA = 0x4;
inline constexpr uint32_t FILE_SHARE_DELETE = 0x4;

// LockFileEx flags: without LOCKFILE_EXCLUSIVE_LOCK the lock is shared.
inline constexpr uint32_t LOCKFILE_FAIL_IMMEDIATELY = 0x1;
inline constexpr uint32_t LOCKFILE_EXCLUSIVE_LOCK = 0x2;

// File attribute bits.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x1;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x2;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x4;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
// Not a file that holds data: a device node, a FIFO or a socket.
inline constexpr uint32_t FILE_ATTRIBUTE_DEVICE = 0x40;
// A symbolic link; the other bits then describe what it leads to.
inline constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;

// MoveFileExW flag: an existing file of the new name is replaced.
inline constexpr uint32_t MOVEFILE_REPLACE_EXISTING = 0x1;

// 100-nanosecond intervals since 1601-01-01 UTC, in two 32-bit halves.
struct FILETIME {
  uint32_t dwLowDateTime = 0;
  uint32_t dwHighDateTime = 0;
};
// Conversions between FILETIME and milliseconds since 1970-01-01 UTC.
FILETIME FileTimeFromUnixMs(int64_t unixMs);
int64_t UnixMsFromFileTime(const FILETIME& time);

// One entry of a folder listing (WIN32_FIND_DATAW); the name is UTF-8 here.
struct WIN32_FIND_DATAW {
  uint32_t dwFileAttributes = 0;
  FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
  uint32_t nFileSizeHigh = 0;
  uint32_t nFileSizeLow = 0;
  std::string cFileName;
};

class Files {
 public:
  virtual ~Files() = default;

  // Opens or creates a file. Access is GENERIC_READ, GENERIC_WRITE and/or
  // FILE_APPEND_DATA (every write goes to the end); 0 opens for attribute
  // queries only. Sharing refuses a second open whose access the first did
  // not share (ERROR_SHARING_VIOLATION). A folder does not open
  // (ERROR_ACCESS_DENIED). INVALID_HANDLE_VALUE with the last error set on
  // failure; a successful OPEN_ALWAYS/CREATE_ALWAYS of an existing file sets
  // ERROR_ALREADY_EXISTS, as the platform does.
  virtual HANDLE CreateFileW(const std::string& path, uint32_t desiredAccess, uint32_t shareMode,
                             uint32_t creationDisposition, uint32_t flagsAndAttributes) = 0;
  // Reads from the current position; 0 bytes read at the end of the file.
  virtual bool ReadFile(HANDLE file, uint8_t* buffer, uint32_t size, uint32_t* bytesRead) = 0;
  // Writes at the current position (at the end for an append open). A
  // volume without room takes what fits and fails with ERROR_DISK_FULL.
  virtual bool WriteFile(HANDLE file, const uint8_t* data, uint32_t size, uint32_t* written) = 0;
  virtual bool GetFileSizeEx(HANDLE file, uint64_t* size) = 0;
  // Creation, last-access and last-write times; any pointer may be null.
  virtual bool GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess,
                           FILETIME* lastWrite) = 0;
  // Writes what is buffered through to the medium.
  virtual bool FlushFileBuffers(HANDLE file) = 0;
  virtual bool CloseHandle(HANDLE file) = 0;

  // INVALID_FILE_ATTRIBUTES with the last error set when the path does not
  // name a file or folder.
  virtual uint32_t GetFileAttributesW(const std::string& path) = 0;
  // FILE_ATTRIBUTE_NORMAL (0x80) clears the changeable bits.
  virtual bool SetFileAttributesW(const std::string& path, uint32_t attributes) = 0;
  virtual bool DeleteFileW(const std::string& path) = 0;
  virtual bool CreateDirectoryW(const std::string& path) = 0;
  // Only an empty folder is removed (ERROR_DIR_NOT_EMPTY otherwise).
  virtual bool RemoveDirectoryW(const std::string& path) = 0;

  // Lists a folder: the pattern is "folder\*.*" or "folder\name*.ext" (only
  // the last component holds wild cards; "*" any run, "?" one character,
  // without regard to case). Entries come in name order, "." and ".." first
  // for a folder that is not a volume root. The end of the listing is
  // FindNextFileW failing with ERROR_NO_MORE_FILES; a pattern that matches
  // nothing fails FindFirstFileW with ERROR_FILE_NOT_FOUND.
  virtual HANDLE FindFirstFileW(const std::string& pattern, WIN32_FIND_DATAW* found) = 0;
  virtual bool FindNextFileW(HANDLE find, WIN32_FIND_DATAW* found) = 0;
  virtual bool FindClose(HANDLE find) = 0;

  // Free bytes the caller may still use, total bytes and free bytes of the
  // volume that holds `directory` (any pointer may be null).
  virtual bool GetDiskFreeSpaceExW(const std::string& directory, uint64_t* freeBytesToCaller,
                                   uint64_t* totalBytes, uint64_t* totalFreeBytes) = 0;
  // The volume's geometry in clusters, with its root ("C:\") as argument;
  // cluster counts beyond 32 bits are given as 0xFFFFFFFF.
  virtual bool GetDiskFreeSpaceW(const std::string& rootPath, uint32_t* sectorsPerCluster,
                                 uint32_t* bytesPerSector, uint32_t* freeClusters,
                                 uint32_t* totalClusters) = 0;
  // The root of the volume that holds a path ("C:\" for "C:\dir\file").
  // `bufferLength` counts UTF-16 characters with the terminating one; a
  // root that does not fit fails with ERROR_FILENAME_EXCED_RANGE.
  virtual bool GetVolumePathNameW(const std::string& path, std::string* volumePath,
                                  uint32_t bufferLength) = 0;
  // The roots of the lettered volumes as the platform's buffer
  // "C:\<NUL>D:\<NUL><NUL>": returns the characters written without the
  // last NUL, or, when `bufferLength` is too small, the length needed with it
  // (nothing written). 0 with the last error set on failure.
  virtual uint32_t GetLogicalDriveStringsW(uint32_t bufferLength, char16_t* buffer) = 0;
  // The full path of a path: a relative one is taken from the current
  // directory; empty with the last error set on failure.
  virtual std::string GetFullPathNameW(const std::string& path) = 0;

  // Renames a file within its volume in one step. With
  // MOVEFILE_REPLACE_EXISTING an existing file of the new name is replaced
  // (a folder or a read-only file is not: ERROR_ACCESS_DENIED); without it
  // an existing name fails with ERROR_ALREADY_EXISTS. Another volume fails
  // with ERROR_NOT_SAME_DEVICE.
  virtual bool MoveFileExW(const std::string& existingPath, const std::string& newPath,
                           uint32_t flags) = 0;
  // Locks the whole file against the locks of other handles, in this and in
  // other processes: shared locks go together, an exclusive one stands alone.
  // Waits for a conflicting lock to go unless LOCKFILE_FAIL_IMMEDIATELY asks
  // to fail at once (ERROR_LOCK_VIOLATION). A handle holds one lock at a
  // time; unlock before taking another. Closing the handle unlocks it.
  virtual bool LockFileEx(HANDLE file, uint32_t flags) = 0;
  virtual bool UnlockFileEx(HANDLE file) = 0;
};

}  // namespace zel::platform
