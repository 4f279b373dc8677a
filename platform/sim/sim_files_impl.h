// Inside the simulated machine's files: the component that carries out the
// file calls, split by topic over sim_files.cpp (handles), sim_files_names.cpp
// (attributes, deletion, folders, listings) and sim_files_volumes.cpp (free
// space, volume roots, drive strings).
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/host/host_file_calls.h"
#include "platform/sim/sim_files.h"
#include "platform/sim/sim_files_model.h"
#include "platform/text.h"

namespace zel::sim {
class SimMachine;
}

namespace zel::sim::simfs {

using namespace zel::platform;

// Handles of virtual files and listings are numbered apart from those of
// the real folders.
inline constexpr HANDLE kFirstVirtualHandle = 0x40000000;
inline constexpr HANDLE kFirstHostHandle = 0x10000;

struct OpenFile {
  Volume* volume = nullptr;
  std::string key;
  uint32_t access = 0, share = 0;
  uint64_t position = 0;
};

inline bool Reads(uint32_t access) { return (access & GENERIC_READ) != 0; }
inline bool Writes(uint32_t access) { return (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0; }
// Whether a new open fits beside an open handle of the same file.
bool Shares(const OpenFile& a, uint32_t access, uint32_t share);
// Listing order: names without regard to ASCII case, then byte order.
bool ListedBefore(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b);
// Takes the first fault of the list that matches the call and path.
bool TakeFault(std::vector<Fault>& faults, std::string_view call, const std::string& path);

class SimFilesImpl final : public SimFiles {
 public:
  explicit SimFilesImpl(SimMachine& machine);

  // Handles (sim_files.cpp).
  HANDLE CreateFileW(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override;
  bool ReadFile(HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got) override;
  bool WriteFile(HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written) override;
  bool GetFileSizeEx(HANDLE h, uint64_t* size) override;
  bool GetFileTime(HANDLE h, FILETIME* creation, FILETIME* access, FILETIME* write) override;
  bool FlushFileBuffers(HANDLE h) override;
  bool CloseHandle(HANDLE h) override;
  // Locks reach the real folders only; a file of a virtual volume is not
  // locked (ERROR_NOT_SUPPORTED).
  bool LockFileEx(HANDLE h, uint32_t flags) override;
  bool UnlockFileEx(HANDLE h) override;

  // Names, folders and listings (sim_files_names.cpp).
  uint32_t GetFileAttributesW(const std::string& path) override;
  bool SetFileAttributesW(const std::string& path, uint32_t attributes) override;
  bool DeleteFileW(const std::string& path) override;
  bool CreateDirectoryW(const std::string& path) override;
  bool RemoveDirectoryW(const std::string& path) override;
  HANDLE FindFirstFileW(const std::string& pattern, WIN32_FIND_DATAW* found) override;
  bool FindNextFileW(HANDLE h, WIN32_FIND_DATAW* found) override;
  bool FindClose(HANDLE h) override;

  // Volumes (sim_files_volumes.cpp).
  bool GetDiskFreeSpaceExW(const std::string& directory, uint64_t* toCaller, uint64_t* total,
                           uint64_t* free) override;
  bool GetDiskFreeSpaceW(const std::string& rootPath, uint32_t* sectorsPerCluster,
                         uint32_t* bytesPerSector, uint32_t* freeClusters,
                         uint32_t* totalClusters) override;
  bool GetVolumePathNameW(const std::string& path, std::string* volumePath,
                          uint32_t bufferLength) override;
  uint32_t GetLogicalDriveStringsW(uint32_t bufferLength, char16_t* buffer) override;
  std::string GetFullPathNameW(const std::string& path) override;
  bool MoveFileExW(const std::string& existingPath, const std::string& newPath,
                   uint32_t flags) override;
  bool VolumeOf(char letter, VolumeState* state) const override;
  bool CreateSizedFile(const std::string& path, uint64_t size) override;
  bool PlaceFile(const std::string& path, Placement* placement) override;

 private:
  enum class Where { Failed, Host, Volume };
  static Where Failed(uint32_t error) {
    SetLastError(error);
    return Where::Failed;
  }
  struct Listing {
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
  };

  // Where a path leads: a volume of the machine file ("C:\..."), or a real
  // path. Takes the faults of the call; false (Failed) with the last error
  // set for a path on no volume, a drive-relative path or a bad name.
  Where Resolve(const std::string& path, std::string_view call, Volume** volume, std::string* key) {
    const bool lettered = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (!lettered) {
      if (path.empty() || StartsWith(path, "\\\\")) return Failed(ERROR_PATH_NOT_FOUND);
      if (TakeFault(hostFaults_, call, path)) return Where::Failed;
      return Where::Host;
    }
    auto it = volumes_.find(static_cast<char>(ToUpperAscii(path.substr(0, 1))[0]));
    if (it == volumes_.end()) return Failed(ERROR_PATH_NOT_FOUND);
    Volume& v = it->second;
    if (v.noMedium) return Failed(ERROR_NOT_READY);
    std::string rest = path.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/')
      return Failed(ERROR_INVALID_NAME);  // "C:name" is relative to a drive
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
      size_t end = rest.find_first_of("\\/", start);
      if (end == std::string::npos) end = rest.size();
      std::string part = rest.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      if (!ValidName(part)) return Failed(ERROR_INVALID_NAME);
      parts.push_back(Upper(part));
    }
    std::string k;
    for (const std::string& p : parts) k += (k.empty() ? "" : "\\") + p;
    if (TakeFault(v.faults, call, path)) return Where::Failed;
    *volume = &v;
    *key = std::move(k);
    return Where::Volume;
  }

  static std::string LastName(const std::string& path) {
    std::string p = path;
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    size_t at = p.find_last_of("\\/:");
    return at == std::string::npos ? p : p.substr(at + 1);
  }

  static bool ParentIsFolder(const Volume& v, const std::string& key) {
    std::string parent = ParentKey(key);
    if (parent.empty()) return true;
    auto it = v.nodes.find(parent);
    return it != v.nodes.end() && it->second.folder;
  }

  // The node of a key, or null with FILE_NOT_FOUND / PATH_NOT_FOUND set.
  static Node* Find(Volume& v, const std::string& key) {
    auto it = v.nodes.find(key);
    if (it != v.nodes.end()) return &it->second;
    SetLastError(ParentIsFolder(v, key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return nullptr;
  }

  // Space a file of this size takes: whole clusters.
  static uint64_t Allocated(const Volume& v, uint64_t size) {
    return (size + v.cluster - 1) / v.cluster * v.cluster;
  }

  // Gives a file a new size, taking or returning the volume's free space;
  // false (nothing changed) when the volume has no room.
  static bool Resize(Volume& v, Node& n, uint64_t size) {
    uint64_t before = Allocated(v, n.size), after = Allocated(v, size);
    if (after > before && after - before > v.free) return false;
    v.free = v.free + before - after;
    n.size = size;
    if (n.content.size() > size) n.content.resize(size);
    return true;
  }

  static WIN32_FIND_DATAW Record(const Node& n) {
    WIN32_FIND_DATAW d;
    d.dwFileAttributes = n.attributes ? n.attributes : FILE_ATTRIBUTE_NORMAL;
    d.ftCreationTime = FileTimeFromUnixMs(n.created);
    d.ftLastAccessTime = FileTimeFromUnixMs(n.accessed);
    d.ftLastWriteTime = FileTimeFromUnixMs(n.written);
    d.nFileSizeHigh = static_cast<uint32_t>(n.size >> 32);
    d.nFileSizeLow = static_cast<uint32_t>(n.size);
    d.cFileName = n.name;
    return d;
  }

  OpenFile* Lookup(HANDLE h) {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : &it->second;
  }

  SimMachine& machine_;
  mutable std::mutex mutex_;
  hostfs::HostFileCalls host_;
  std::vector<Fault> hostFaults_;
  // The last name of each open file of the real folders, for their faults.
  std::map<HANDLE, std::string> hostNames_;
  std::map<char, Volume> volumes_;
  std::map<HANDLE, OpenFile> open_;
  std::map<HANDLE, Listing> finds_;
  HANDLE next_ = kFirstVirtualHandle;
};

}  // namespace zel::sim::simfs
