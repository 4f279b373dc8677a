// Processes, windows and named objects of the real machine. The window-title
// rendezvous and named mutexes are lock files in the user's runtime folder
// (platform/named_objects.h), held so that they vanish with the process that
// holds them; the command lines the system starts are carried out with the
// machine's own means where it has them (diskpart's "detail disk" is answered from sysfs,
// linux_diskpart.cpp), and refused (ERROR_FILE_NOT_FOUND, as a program that
// is not installed) where it has not.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/diskpart_script.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/linux/errors_linux.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_diskpart.h"
#include "platform/linux/linux_machine.h"
#include "platform/named_objects.h"
#include "platform/titled_windows.h"
#include "platform/text.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

// The folder of the named objects: the user's runtime folder, else one of
// the temporary directory that carries the user's number.
std::string RuntimeFolder() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  return run && *run == '/' ? std::string(run) + "/ssdzelvane"
                            : "/tmp/ssdzelvane-" + std::to_string(::geteuid());
}

// Splits a command line at blanks, with "..." quoting.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::string word;
  bool quoted = false, any = false;
  for (char c : line) {
    if (c == '"') {
      quoted = !quoted;
      any = true;
    } else if (c == ' ' && !quoted) {
      if (any) out.push_back(word);
      word.clear();
      any = false;
    } else {
      word += c;
      any = true;
    }
  }
  if (any) out.push_back(word);
  return out;
}

class LinuxProcesses final : public Processes {
 public:
  explicit LinuxProcesses(std::shared_ptr<LinuxMachine> m)
      : machine_(std::move(m)), objects_(RuntimeFolder(), "") {}

  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    std::vector<std::string> w = Words(commandLine);
    if (w.size() == 5 && (EqualsNoCaseAscii(w[0], "fsutil") || EqualsNoCaseAscii(w[0], "fsutil.exe")) &&
        EqualsNoCaseAscii(w[1], "file") && EqualsNoCaseAscii(w[2], "createnew"))
      return CreateNew(w[3], w[4], output);
    if (diskpart::IsDiskpartCommandLine(commandLine)) {
      // Answered here from sysfs and the mount table, in the user's code
      // page as a console program writes.
      std::string text = ToLocaleMultibyteReplacing(RunDiskpart(*machine_, commandLine));
      if (output) *output = std::move(text);
      SetLastError(ERROR_SUCCESS);
      return true;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }

  // The mutex exists while any process holds a handle to it.
  std::intptr_t CreateMutexW(const std::string& name) override { return objects_.Create("mutex", name); }

 private:
  // "fsutil file createnew PATH SIZE": a file of SIZE bytes whose blocks are
  // reserved on the volume (fallocate), as the platform's tool makes it; no
  // data is written. A file system that cannot reserve blocks refuses.
  bool CreateNew(const std::string& path, const std::string& sizeText, std::string* output) {
    if (sizeText.empty() || sizeText.find_first_not_of("0123456789") != std::string::npos ||
        sizeText.size() > 19) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    unsigned long long size = std::strtoull(sizeText.c_str(), nullptr, 10);
    int32_t number = -1;
    char letter = 0;
    if (ClassifyDevicePath(path, &number, &letter) != DevicePathKind::File) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    std::optional<VolumeInfo> v = FindVolume(*machine_, machine_->Disks(), letter);
    std::string file = v ? FilePathOnVolume(*v, path) : std::string();
    if (file.empty()) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    std::string real = machine_->DevicePath(file);
    int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return FailWithErrno(errno);
    // fallocate itself, never posix_fallocate: where the file system cannot
    // reserve blocks the C library would write the file through instead, and
    // a filler file must never be written with data.
    int err = size && ::fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0 ? errno : 0;
    ::close(fd);
    if (err != 0) {
      ::unlink(real.c_str());  // a file that did not get its size is not left behind
      return FailWithErrno(err);
    }
    if (output) *output = "File " + path + " is created\r\n";
    return true;
  }

  std::shared_ptr<LinuxMachine> machine_;
  NamedObjects objects_;
};

}  // namespace

std::unique_ptr<Processes> MakeLinuxProcesses(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxProcesses>(std::move(machine));
}

// Shown windows are named objects of the same folder as the mutexes, so
// every process of the user finds them.
std::unique_ptr<WindowMessages> MakeLinuxWindows() {
  auto objects = std::make_shared<NamedObjects>(RuntimeFolder(), "");
  return std::make_unique<TitledWindows>([objects]() -> NamedObjects& { return *objects; });
}

}  // namespace zel::linuxbackend
