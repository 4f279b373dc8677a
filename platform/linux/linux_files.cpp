// Files, folders and volumes of the real machine: lettered paths ("C:\dir")
// lead to the mounted file system with that letter (linux_volumes.cpp gives
// the letters), every other path is this machine's own (relative to the
// current directory or absolute, as the program's path is).
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/host/host_file_calls.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

class LinuxFiles final : public platform::Files {
 public:
  explicit LinuxFiles(std::shared_ptr<LinuxMachine> machine) : machine_(std::move(machine)) {}

  HANDLE CreateFileW(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override {
    std::string host;
    if (!Map(path, &host)) return INVALID_HANDLE_VALUE;
    return host_.CreateFile(host, access, share, disposition, flags);
  }
  bool ReadFile(HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got) override {
    return host_.ReadFile(h, buffer, size, got);
  }
  bool WriteFile(HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written) override {
    return host_.WriteFile(h, data, size, written);
  }
  bool GetFileSizeEx(HANDLE h, uint64_t* size) override { return host_.GetFileSize(h, size); }
  bool GetFileTime(HANDLE h, FILETIME* c, FILETIME* a, FILETIME* w) override {
    return host_.GetFileTime(h, c, a, w);
  }
  bool FlushFileBuffers(HANDLE h) override { return host_.Flush(h); }
  bool LockFileEx(HANDLE h, uint32_t flags) override { return host_.Lock(h, flags); }
  bool UnlockFileEx(HANDLE h) override { return host_.Unlock(h); }
  bool CloseHandle(HANDLE h) override { return host_.Close(h); }

  uint32_t GetFileAttributesW(const std::string& path) override {
    std::string host;
    if (!Map(path, &host)) return INVALID_FILE_ATTRIBUTES;
    return host_.GetAttributes(host);
  }
  bool SetFileAttributesW(const std::string& path, uint32_t attributes) override {
    std::string host;
    return Map(path, &host) && host_.SetAttributes(host, attributes);
  }
  bool DeleteFileW(const std::string& path) override {
    std::string host;
    return Map(path, &host) && host_.DeleteFile(host);
  }
  bool CreateDirectoryW(const std::string& path) override {
    std::string host;
    return Map(path, &host) && host_.CreateFolder(host);
  }
  bool RemoveDirectoryW(const std::string& path) override {
    std::string host;
    return Map(path, &host) && host_.RemoveFolder(host);
  }

  HANDLE FindFirstFileW(const std::string& pattern, WIN32_FIND_DATAW* found) override {
    std::string host;
    if (!Map(pattern, &host)) return INVALID_HANDLE_VALUE;
    // A pattern straight below a lettered volume's root lists no "." and "..".
    char letter = 0;
    int32_t number = 0;
    bool root = ClassifyDevicePath(pattern, &number, &letter) == DevicePathKind::File &&
                pattern.find_first_of("\\/", 3) == std::string::npos;
    return host_.FindFirst(host, root, found);
  }
  bool FindNextFileW(HANDLE h, WIN32_FIND_DATAW* found) override { return host_.FindNext(h, found); }
  bool FindClose(HANDLE h) override { return host_.FindClose(h); }

  bool GetDiskFreeSpaceExW(const std::string& directory, uint64_t* toCaller, uint64_t* total,
                           uint64_t* free) override {
    std::string host;
    return Map(directory, &host) && host_.FreeSpace(host, toCaller, total, free);
  }
  bool GetDiskFreeSpaceW(const std::string& root, uint32_t* sectorsPerCluster,
                         uint32_t* bytesPerSector, uint32_t* freeClusters,
                         uint32_t* totalClusters) override {
    std::string host;
    return Map(root, &host) &&
           host_.Geometry(host, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
  }

  bool GetVolumePathNameW(const std::string& path, std::string* volumePath,
                          uint32_t bufferLength) override {
    char letter = LetterOf(path);
    if (!letter) return false;
    if (bufferLength < 4) return FailWith(ERROR_FILENAME_EXCED_RANGE);
    if (volumePath) *volumePath = std::string(1, letter) + ":\\";
    return true;
  }

  uint32_t GetLogicalDriveStringsW(uint32_t bufferLength, char16_t* buffer) override {
    std::string letters;
    for (const VolumeInfo& v : ListVolumes(*machine_, machine_->Disks())) letters += v.letter;
    return AnswerLogicalDriveStrings(letters, bufferLength, buffer);
  }

  std::string GetFullPathNameW(const std::string& path) override {
    // A lettered path is full already.
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return path;
    return host_.FullPath(path);
  }
  bool MoveFileExW(const std::string& existingPath, const std::string& newPath,
                   uint32_t flags) override {
    std::string from, to;
    return Map(existingPath, &from) && Map(newPath, &to) && host_.Move(from, to, flags);
  }

 private:
  // This machine's path of a platform path; false with the last error set
  // when it names no volume or leaves its volume.
  bool Map(const std::string& given, std::string* host) {
    if (given.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
    // On a lettered volume "/" separates folders as "\" does.
    std::string path = given;
    if (path.size() >= 3 && path[1] == ':' && path[2] == '/') std::replace(path.begin(), path.end(), '/', '\\');
    int32_t number = 0;
    char letter = 0;
    DevicePathKind kind = ClassifyDevicePath(path, &number, &letter);
    if (kind == DevicePathKind::File || (path.size() == 2 && path[1] == ':')) {
      if (kind != DevicePathKind::File) letter = static_cast<char>(ToUpperAscii(path.substr(0, 1))[0]);
      std::optional<VolumeInfo> v = FindVolume(*machine_, machine_->Disks(), letter);
      std::string file = v ? FilePathOnVolume(*v, path.size() == 2 ? path + "\\" : path) : std::string();
      if (file.empty()) return FailWith(ERROR_PATH_NOT_FOUND);
      *host = machine_->DevicePath(file);
      return true;
    }
    if (kind != DevicePathKind::Other || (path.size() >= 2 && path[1] == ':'))
      return FailWith(ERROR_INVALID_NAME);  // a device, or "C:name" relative to a drive
    *host = path;
    return true;
  }

  // The letter of the volume that holds a path: its own letter, else the
  // lettered mount that holds the longest part of its absolute path.
  char LetterOf(const std::string& path) {
    int32_t number = 0;
    char letter = 0;
    std::string host;
    if (!Map(path, &host)) return 0;
    if (ClassifyDevicePath(path, &number, &letter) == DevicePathKind::File) return letter;
    std::string absolute = HostPathOf(host);
    size_t best = 0;
    for (const VolumeInfo& v : ListVolumes(*machine_, machine_->Disks())) {
      const std::string& m = v.mountPoint;
      bool holds = m == "/" || absolute == m ||
                   (absolute.size() > m.size() && absolute.compare(0, m.size(), m) == 0 &&
                    absolute[m.size()] == '/');
      if (holds && m.size() >= best) {
        best = m.size();
        letter = v.letter;
      }
    }
    if (!letter) FailWith(ERROR_PATH_NOT_FOUND);
    return letter;
  }

  std::string HostPathOf(const std::string& host) {
    std::string p = hostfs::HostPath(host);
    if (!p.empty() && p[0] != '/') p = host_.CurrentDirectory() + "/" + p;
    return p;
  }

  std::shared_ptr<LinuxMachine> machine_;
  hostfs::HostFileCalls host_;
};

}  // namespace

std::unique_ptr<platform::Files> MakeLinuxFiles(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxFiles>(std::move(machine));
}

}  // namespace zel::linuxbackend
