// The processes component of the simulated machine: the named objects that
// processes on one machine share (window titles, mutexes) and the command
// lines the system starts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "platform/diskpart_script.h"
#include "platform/format.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_processes_diskpart.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

// ---------------------------------------------------------------------------
// Named objects
//
// A named object of the simulated machine (a shown window title, a mutex)
// must be visible to every process that runs on the same machine, as the
// platform's own objects are, and must vanish when the process that holds it
// ends, however it ends. Each object is a file in a folder of the temporary
// directory that belongs to the user ("zelvane-sim-<uid>"), named from the
// machine's source, the object's kind and its name. A process that holds the
// object holds a shared open-file-description lock on that file; the object
// exists while any such lock is held. The test for a holder only asks for the
// lock, so processes that ask at the same time never mistake each other's
// question for a holder. Locks belong to one open description each, so two
// holders in one process count separately and a test in the holder's own
// process sees them. The file goes when the last holder lets go (or, after
// holders that died, at the next test), so nothing stays behind.
// ---------------------------------------------------------------------------

uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

uint32_t PlatformErrorOf(int err) {
  switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case ELOOP: return ERROR_ACCESS_DENIED;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

class NamedObjects {
 public:
  // `source` identifies the machine; a machine without one gets a key of its
  // own process, so its objects are private to it.
  explicit NamedObjects(const std::string& source, const void* machine) {
    std::string key = source.empty()
                          ? Format("process %d machine %p", static_cast<int>(::getpid()), machine)
                          : source;
    machineKey_ = Format("%016llx", static_cast<unsigned long long>(Fnv1a(key)));
  }

  ~NamedObjects() {
    for (const auto& [token, held] : held_) Drop(held);
  }

  // Takes a hold on the object; returns a token (never 0), or 0 with the
  // last error set.
  std::intptr_t Hold(const std::string& kind, const std::string& name) {
    std::string path;
    if (!PathOf(kind, name, &path)) return 0;
    // The file may be removed by the last holder of another process between
    // our open and our lock; a lock on a removed file holds nothing, so the
    // hold is taken again on the file that the name now gives.
    for (int attempt = 0; attempt < 16; ++attempt) {
      int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (fd < 0) {
        SetLastError(PlatformErrorOf(errno));
        return 0;
      }
      struct flock lock = Range(F_RDLCK);
      int rc;
      do {
        rc = ::fcntl(fd, F_OFD_SETLKW, &lock);
      } while (rc != 0 && errno == EINTR);
      if (rc != 0) {
        SetLastError(PlatformErrorOf(errno));
        ::close(fd);
        return 0;
      }
      if (!SameFile(fd, path)) {
        ::close(fd);
        continue;
      }
      std::lock_guard<std::mutex> guard(mutex_);
      std::intptr_t token = next_++;
      held_[token] = Held{fd, path};
      return token;
    }
    SetLastError(ERROR_BUSY);
    return 0;
  }

  void Release(std::intptr_t token) {
    Held held;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      auto it = held_.find(token);
      if (it == held_.end()) return;
      held = it->second;
      held_.erase(it);
    }
    Drop(held);
  }

  bool Exists(const std::string& kind, const std::string& name) {
    std::string path;
    if (!PathOf(kind, name, &path)) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;  // not held on this machine
    // Only a shared lock is a holder; an exclusive one is a last holder
    // removing the file, which it can only do when nobody holds it.
    struct flock probe = Range(F_WRLCK);
    bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type == F_RDLCK;
    ::close(fd);
    // The file of an object whose holders all died is removed here.
    if (!held) RemoveIfUnheld(path);
    return held;
  }

 private:
  struct Held {
    int fd = -1;
    std::string path;
  };

  static struct flock Range(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 1;
    return lock;
  }

  static bool SameFile(int fd, const std::string& path) {
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  }

  // Ends a hold; the last holder removes the file, so no object leaves
  // anything behind in the temporary directory.
  static void Drop(const Held& held) {
    ::close(held.fd);
    RemoveIfUnheld(held.path);
  }

  // Removes an object's file when nobody holds it: only then can the
  // exclusive lock be had, and a holder that opened the file meanwhile finds
  // it removed and takes its hold on a new one.
  static void RemoveIfUnheld(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    struct flock lock = Range(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0 && SameFile(fd, path)) ::unlink(path.c_str());
    ::close(fd);
  }

  // The object's file, in the user's own folder. A folder of that name that
  // is not a directory of this user, or that others may write to, is not
  // used: another user could otherwise plant or remove objects.
  bool PathOf(const std::string& kind, const std::string& name, std::string* path) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string folder = (base / Format("zelvane-sim-%u", static_cast<unsigned>(::geteuid()))).string();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      SetLastError(PlatformErrorOf(errno));
      return false;
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 022) != 0) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    *path = folder + "/" + machineKey_ + "-" + kind + "-" +
            Format("%016llx", static_cast<unsigned long long>(Fnv1a(name)));
    return true;
  }

  std::string machineKey_;
  std::mutex mutex_;
  std::map<std::intptr_t, Held> held_;
  std::intptr_t next_ = 0x200;
};

// ---------------------------------------------------------------------------
// Command lines
//
// diskpart is answered by its own component (sim_processes_diskpart.cpp);
// any other command line fails to start as a program that is not there would.
// ---------------------------------------------------------------------------

bool RunCommandLine(SimDiskpart& diskpart, const std::string& commandLine, std::string* output) {
  if (diskpart::IsDiskpartCommandLine(commandLine)) return diskpart.Run(commandLine, output);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

// ---------------------------------------------------------------------------

class SimProcesses final : public Processes {
 public:
  explicit SimProcesses(SimMachine& machine) : machine_(machine), diskpart_(machine) {}

  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    return RunCommandLine(diskpart_, commandLine, output);
  }

  bool FindWindowTitle(const std::string& title) override {
    return Objects().Exists("window", title);
  }
  std::intptr_t ShowWindowTitle(const std::string& title) override {
    return Objects().Hold("window", title);
  }
  void HideWindowTitle(std::intptr_t token) override { Objects().Release(token); }

  // The mutex exists while any process holds a handle to it; the platform
  // tells a creator that found it already there with ERROR_ALREADY_EXISTS.
  std::intptr_t CreateMutexW(const std::string& name) override {
    bool existed = Objects().Exists("mutex", name);
    std::intptr_t token = Objects().Hold("mutex", name);
    if (token) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return token;
  }

 private:
  // The machine's source is known only once loading has finished, after the
  // components were made, so the named objects are set up on first use.
  NamedObjects& Objects() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!objects_) objects_ = std::make_unique<NamedObjects>(machine_.Source(), &machine_);
    return *objects_;
  }

  SimMachine& machine_;
  SimDiskpart diskpart_;
  std::mutex mutex_;
  std::unique_ptr<NamedObjects> objects_;
};

}  // namespace

std::unique_ptr<Processes> MakeSimProcesses(SimMachine& machine) {
  return std::make_unique<SimProcesses>(machine);
}

}  // namespace zel::sim
