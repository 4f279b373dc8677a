// Device handles of the real machine: the platform's paths mapped to the
// kernel's devices, with the platform's sharing rules among the handles of
// this process, and the control requests carried out with the kernel's
// means.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>

#include "platform/errors.h"
#include "platform/linux/errors_linux.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"
#include "platform/wire/storage.h"

namespace zel::linuxbackend {

using namespace zel::platform;

bool ParseNumberedPath(const std::string& path, const std::string& prefix, const std::string& suffix,
                       int32_t* number) {
  std::string lower = ToLowerAscii(path);
  std::string p = ToLowerAscii(prefix);
  if (!StartsWith(lower, p)) return false;
  std::string rest = lower.substr(p.size());
  if (rest.size() <= suffix.size() || rest.compare(rest.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  rest.resize(rest.size() - suffix.size());
  if (rest.empty() || rest.size() > 9 || rest.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *number = std::atoi(rest.c_str());
  return true;
}

DevicePathKind ClassifyDevicePath(const std::string& path, int32_t* number, char* letter) {
  if (ParseNumberedPath(path, "\\\\.\\PhysicalDrive", "", number)) return DevicePathKind::PhysicalDrive;
  if (ParseNumberedPath(path, "\\\\.\\SCSI", ":", number)) return DevicePathKind::Adapter;
  if (path.size() == 6 && StartsWith(path, "\\\\.\\") && path[5] == ':') {
    char c = path[4];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') {
      *letter = c;
      return DevicePathKind::Volume;
    }
  }
  if (StartsWith(path, "\\\\?\\")) return DevicePathKind::Interface;
  if (path.size() >= 3 && path[1] == ':' && path[2] == '\\') {
    char c = path[0];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') {
      *letter = c;
      return DevicePathKind::File;
    }
  }
  return DevicePathKind::Other;
}

std::string FilePathOnVolume(const VolumeInfo& volume, const std::string& platformPath) {
  if (platformPath.size() < 3) return std::string();
  std::string rest = platformPath.substr(3);
  std::string out = volume.mountPoint == "/" ? std::string() : volume.mountPoint;
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = rest.find('\\', start);
    if (end == std::string::npos) end = rest.size();
    std::string part = rest.substr(start, end - start);
    if (part == "..") return std::string();
    if (part.find('/') != std::string::npos) return std::string();
    if (!part.empty() && part != ".") out += "/" + part;
    start = end + 1;
  }
  return out.empty() ? std::string("/") : out;
}

namespace {

class LinuxDevices final : public DeviceIo {
 public:
  explicit LinuxDevices(std::shared_ptr<LinuxMachine> m) : machine_(std::move(m)) {}

  ~LinuxDevices() override {
    for (auto& [id, h] : handles_)
      if (h.fd >= 0) ::close(h.fd);
  }

  HANDLE CreateFileW(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t /*flags*/) override {
    if (disposition != OPEN_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    OpenDevice h;
    h.access = access;
    h.share = share;
    h.path = path;
    int32_t number = -1;
    char letter = 0;
    DiskScan scan = machine_->Disks();
    const LinuxDisk* disk = nullptr;
    switch (ClassifyDevicePath(path, &number, &letter)) {
      case DevicePathKind::PhysicalDrive:
        h.kind = OpenDevice::Disk;
        disk = scan.ByNumber(number);
        break;
      case DevicePathKind::Interface:
        h.kind = OpenDevice::Disk;
        disk = scan.ByInterfacePath(path);
        break;
      case DevicePathKind::Adapter:
        h.kind = OpenDevice::Adapter;
        h.port = number;
        disk = scan.ByPort(number);
        break;
      case DevicePathKind::Volume: {
        h.kind = OpenDevice::Volume;
        std::optional<VolumeInfo> v = FindVolume(*machine_, scan, letter);
        if (!v) {
          SetLastError(ERROR_FILE_NOT_FOUND);
          return INVALID_HANDLE_VALUE;
        }
        h.volume = *v;
        break;
      }
      case DevicePathKind::File: {
        h.kind = OpenDevice::File;
        std::optional<VolumeInfo> v = FindVolume(*machine_, scan, letter);
        std::string file = v ? FilePathOnVolume(*v, path) : std::string();
        if (file.empty()) {
          SetLastError(v ? ERROR_INVALID_NAME : ERROR_PATH_NOT_FOUND);
          return INVALID_HANDLE_VALUE;
        }
        h.volume = *v;
        int mode = (access & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
        h.fd = ::open(machine_->DevicePath(file).c_str(), mode | O_CLOEXEC | O_NOFOLLOW);
        if (h.fd < 0) {
          FailWithErrno(errno);
          return INVALID_HANDLE_VALUE;
        }
        break;
      }
      case DevicePathKind::Other:
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (h.kind == OpenDevice::Disk || h.kind == OpenDevice::Adapter) {
      if (!disk) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
      h.disk = *disk;
      // A query-only open (access 0) needs no descriptor: what it may ask
      // (device number, address) is known from sysfs.
      if (access & (GENERIC_READ | GENERIC_WRITE)) {
        std::string node = h.kind == OpenDevice::Adapter && disk->bus == DiskBus::Nvme
                               ? disk->NvmeControllerNode()
                               : disk->devNode;
        int mode = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
        h.fd = ::open(machine_->DevicePath(node).c_str(), mode | O_NONBLOCK | O_CLOEXEC);
        if (h.fd < 0) {
          FailWithErrno(errno);
          return INVALID_HANDLE_VALUE;
        }
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, other] : handles_) {
      if (!SameTarget(other, h)) continue;
      if (!Compatible(other, h)) {
        if (h.fd >= 0) ::close(h.fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
    }
    HANDLE id = next_++;
    handles_[id] = std::move(h);
    SetLastError(ERROR_SUCCESS);
    return id;
  }

  bool DeviceIoControl(HANDLE device, uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                       uint32_t outSize, uint32_t* returned, std::span<uint8_t> pointed) override {
    OpenDevice h;
    if (!Lookup(device, &h)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    uint32_t dummy = 0;
    if (!returned) returned = &dummy;
    *returned = 0;
    // The access a control code needs is in its bits 14-15.
    uint32_t needs = (code >> 14) & 3;
    if (((needs & 1) && !(h.access & GENERIC_READ)) || ((needs & 2) && !(h.access & GENERIC_WRITE))) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    ControlRequest request{code, std::span<const uint8_t>(in, in ? inSize : 0),
                           std::span<uint8_t>(out, out ? outSize : 0), pointed, returned};
    bool ok = h.kind == OpenDevice::Volume ? VolumeControl(*machine_, h, request)
              : h.kind == OpenDevice::File ? FileControl(*machine_, h, request)
                                           : DiskControl(*machine_, h, request);
    if (ok) SetLastError(ERROR_SUCCESS);
    return ok;
  }

  bool ReadFile(HANDLE device, uint8_t* buffer, uint32_t size, uint32_t* bytesRead) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(device);
    if (it == handles_.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    OpenDevice& h = it->second;
    if (!(h.access & GENERIC_READ) || (h.kind != OpenDevice::Disk && h.kind != OpenDevice::File) ||
        h.fd < 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    if (bytesRead) *bytesRead = 0;
    uint32_t got = 0;
    while (got < size) {
      ssize_t n = ::pread(h.fd, buffer + got, size - got, static_cast<off_t>(h.position + got));
      if (n < 0) {
        if (errno == EINTR) continue;
        if (got > 0) break;
        return FailWithErrno(errno);
      }
      if (n == 0) break;
      got += static_cast<uint32_t>(n);
    }
    h.position += got;
    if (bytesRead) *bytesRead = got;
    return true;
  }

  bool CloseHandle(HANDLE device) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(device);
    if (it == handles_.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    if (it->second.fd >= 0) ::close(it->second.fd);
    handles_.erase(it);
    return true;
  }

 private:
  bool Lookup(HANDLE id, OpenDevice* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) return false;
    *out = it->second;
    return true;
  }

  static bool SameTarget(const OpenDevice& a, const OpenDevice& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == OpenDevice::Volume) return a.volume.letter == b.volume.letter;
    if (a.kind == OpenDevice::File) return a.path == b.path;
    if (a.kind == OpenDevice::Adapter) return a.port == b.port;
    return a.disk.name == b.disk.name;
  }

  // The platform's rule: each open's sharing must admit the other's access.
  static bool Compatible(const OpenDevice& a, const OpenDevice& b) {
    auto admits = [](const OpenDevice& holder, const OpenDevice& newcomer) {
      if ((newcomer.access & GENERIC_READ) && !(holder.share & FILE_SHARE_READ)) return false;
      if ((newcomer.access & GENERIC_WRITE) && !(holder.share & FILE_SHARE_WRITE)) return false;
      return true;
    };
    return admits(a, b) && admits(b, a);
  }

  std::shared_ptr<LinuxMachine> machine_;
  std::mutex mutex_;
  std::map<HANDLE, OpenDevice> handles_;
  HANDLE next_ = 0x100;
};

}  // namespace

std::unique_ptr<DeviceIo> MakeLinuxDevices(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxDevices>(std::move(machine));
}

}  // namespace zel::linuxbackend
