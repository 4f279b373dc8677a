// Free-space TRIM on the real machine. Linux file systems do not turn the
// clusters of a deleted file into TRIM by themselves unless mounted with
// "discard", so the free-space TRIM asks the file system, once its filler
// files are deleted, to trim all of its free space: FITRIM over the whole
// range, the request fstrim makes.
#include "platform/linux/linux_volume_trim.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <optional>

#include "platform/errors.h"
#include "platform/linux/errors_linux.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_transport.h"

namespace zel::linuxbackend {

using namespace zel::platform;

bool FileSystemTrimsOnRequest(std::string_view fsType) {
  static constexpr std::string_view kinds[] = {"ext4",  "ext3", "xfs", "btrfs", "f2fs",
                                               "vfat",  "ntfs3", "jfs", "nilfs2"};
  for (std::string_view k : kinds)
    if (fsType == k) return true;
  return false;
}

int TrimMountedFileSystem(int fd, uint64_t* bytesTrimmed) {
  struct fstrim_range range {};
  range.start = 0;
  range.len = ULLONG_MAX;
  range.minlen = 0;
  if (::ioctl(fd, FITRIM, &range) != 0) return errno;
  if (bytesTrimmed) *bytesTrimmed = range.len;
  return 0;
}

namespace {

class LinuxVolumeTrim final : public VolumeTrim {
 public:
  explicit LinuxVolumeTrim(std::shared_ptr<LinuxMachine> machine) : machine_(std::move(machine)) {}

  bool TurnsFreedClustersIntoTrim(const std::string& root) override {
    std::optional<VolumeInfo> v = Find(root);
    return v && !v->optical && FileSystemTrimsOnRequest(v->fsType);
  }

  bool TrimFreeSpace(const std::string& root, FreeSpaceTrim* result) override {
    if (result) *result = FreeSpaceTrim{};
    std::optional<VolumeInfo> v = Find(root);
    if (!v) return FailWith(ERROR_PATH_NOT_FOUND);
    if (v->optical || !FileSystemTrimsOnRequest(v->fsType)) return FailWith(ERROR_NOT_SUPPORTED);
    // The kernel's request only on the machine itself: a backend pointed at
    // a copied tree (tests) would otherwise trim the file system the copy
    // lies on. There only a test's own transport answers.
    const LinuxPlatformOptions& options = machine_->Options();
    std::function<int(int, uint64_t*)> fitrim;
    if (options.transports)
      fitrim = options.transports->fitrim;
    else if (options.root.empty() || options.root == "/")
      fitrim = TrimMountedFileSystem;
    if (!fitrim) return FailWith(ERROR_NOT_SUPPORTED);
    int fd = ::open(machine_->DevicePath(v->mountPoint).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FailWithErrno(errno);
    uint64_t bytes = 0;
    int err = fitrim(fd, &bytes);
    ::close(fd);
    if (err != 0) return FailWithErrno(err);
    if (result) {
      result->requested = true;
      result->bytesTrimmed = bytes;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
  }

 private:
  // The volume of a root "C:" or "C:\" (letter without regard to case).
  std::optional<VolumeInfo> Find(const std::string& root) const {
    if (root.size() < 2 || root[1] != ':') return std::nullopt;
    char letter = root[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    return FindVolume(*machine_, machine_->Disks(), letter);
  }

  std::shared_ptr<LinuxMachine> machine_;
};

}  // namespace

std::unique_ptr<VolumeTrim> MakeLinuxVolumeTrim(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxVolumeTrim>(std::move(machine));
}

}  // namespace zel::linuxbackend
