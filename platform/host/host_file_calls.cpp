#include "platform/host/host_file_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/host/errno_map.h"

namespace zel::hostfs {

using namespace zel::platform;

namespace {

constexpr uint32_t kReadAccess = GENERIC_READ;
constexpr uint32_t kWriteAccess = GENERIC_WRITE | FILE_APPEND_DATA;

bool Reads(uint32_t access) { return (access & kReadAccess) != 0; }
bool Writes(uint32_t access) { return (access & kWriteAccess) != 0; }

// Whether a new open fits beside an open one of the same file.
bool Shares(uint32_t access1, uint32_t share1, uint32_t access2, uint32_t share2) {
  if (Reads(access1) && !(share2 & FILE_SHARE_READ)) return false;
  if (Writes(access1) && !(share2 & FILE_SHARE_WRITE)) return false;
  if (Reads(access2) && !(share1 & FILE_SHARE_READ)) return false;
  if (Writes(access2) && !(share1 & FILE_SHARE_WRITE)) return false;
  return true;
}

FILETIME TimeOf(const struct timespec& ts) {
  return FileTimeFromUnixMs(static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

uint32_t AttributesOf(const struct stat& st, const std::string& name) {
  uint32_t a = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (!(st.st_mode & S_IWUSR)) a |= FILE_ATTRIBUTE_READONLY;
  if (name.size() > 1 && name[0] == '.' && name != "..") a |= FILE_ATTRIBUTE_HIDDEN;
  return a;
}

std::string LastComponent(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t at = p.rfind('/');
  return at == std::string::npos ? p : p.substr(at + 1);
}

WIN32_FIND_DATAW FindRecord(const struct stat& st, const std::string& name) {
  WIN32_FIND_DATAW d;
  d.dwFileAttributes = AttributesOf(st, name);
  d.ftCreationTime = TimeOf(st.st_mtim);
  d.ftLastAccessTime = TimeOf(st.st_atim);
  d.ftLastWriteTime = TimeOf(st.st_mtim);
  uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
  d.nFileSizeHigh = static_cast<uint32_t>(size >> 32);
  d.nFileSizeLow = static_cast<uint32_t>(size);
  d.cFileName = name;
  return d;
}

// Listing order: names without regard to ASCII case, then byte order.
bool ListedBefore(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
  auto upper = [](std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
  };
  std::string ua = upper(a.cFileName), ub = upper(b.cFileName);
  return ua != ub ? ua < ub : a.cFileName < b.cFileName;
}

// The error of a path that is not there: ERROR_PATH_NOT_FOUND when a folder
// on its way is missing, ERROR_FILE_NOT_FOUND when only the last name is.
uint32_t MissingError(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  size_t at = p.rfind('/');
  std::string parent = at == std::string::npos ? "." : (at == 0 ? "/" : p.substr(0, at));
  struct stat st {};
  return ::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                  : ERROR_PATH_NOT_FOUND;
}

// The platform's error of a call on `path` that failed with `err`.
bool FailOn(const std::string& path, int err) {
  if (err == ENOENT) return FailWith(MissingError(path));
  return FailWithErrno(err);
}

}  // namespace

std::string DefaultLogFolder() {
  std::string folder;
  const char* dir = std::getenv("ZELVANE_STATE_DIR");
  const char* state = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  if (dir && *dir) folder = dir;
  else if (::geteuid() == 0) folder = "/var/log/ssdzelvane";
  else if (state && *state == '/') folder = std::string(state) + "/ssdzelvane";
  else if (home && *home == '/') folder = std::string(home) + "/.local/state/ssdzelvane";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

std::string HostPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

HostFileCalls::~HostFileCalls() {
  for (auto& [h, f] : files_)
    if (f.fd >= 0) ::close(f.fd);
}

HANDLE HostFileCalls::CreateFile(const std::string& platformPath, uint32_t access, uint32_t share,
                                 uint32_t disposition, uint32_t flags) {
  const std::string path = HostPath(platformPath);
  if (path.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  int oflags = O_CLOEXEC | O_NONBLOCK;
  switch (disposition) {
    case CREATE_NEW: oflags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: oflags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: oflags |= O_CREAT; break;
    case TRUNCATE_EXISTING: oflags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && !Writes(access)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (Reads(access) && Writes(access)) {
    oflags |= O_RDWR;
  } else if (Writes(access)) {
    oflags |= O_WRONLY;
  } else if (Reads(access)) {
    oflags |= O_RDONLY;
  } else if (oflags & O_CREAT) {
    oflags |= O_RDONLY;
  } else {
    oflags |= O_PATH;  // attribute queries only
  }
  if ((access & FILE_APPEND_DATA) && !(access & GENERIC_WRITE)) oflags |= O_APPEND;

  struct stat before {};
  bool existed = ::stat(path.c_str(), &before) == 0;
  if (existed && S_ISDIR(before.st_mode)) {
    SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  // The read-only attribute refuses writing and truncating even to an owner
  // the kernel would let through (root).
  if (existed && !(before.st_mode & S_IWUSR) && disposition != CREATE_NEW &&
      (Writes(access) || (oflags & O_TRUNC))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  mode_t mode = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
  int fd = ::open(path.c_str(), oflags, mode);
  if (fd < 0) {
    FailOn(path, errno);
    return INVALID_HANDLE_VALUE;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    FailWithErrno(err);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [h, other] : files_) {
    if (other.dev == st.st_dev && other.ino == st.st_ino &&
        !Shares(other.access, other.share, access, share)) {
      ::close(fd);
      SetLastError(ERROR_SHARING_VIOLATION);
      return INVALID_HANDLE_VALUE;
    }
  }
  HANDLE h = next_++;
  files_[h] = OpenFile{fd, access, share, st.st_dev, st.st_ino};
  bool reportsExisting = existed && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS);
  SetLastError(reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

bool HostFileCalls::ReadFile(HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(h);
    if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (!Reads(it->second.access)) return FailWith(ERROR_ACCESS_DENIED);
    fd = it->second.fd;
  }
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, buffer + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (got) *got = done;
      return FailWithErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  if (got) *got = done;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFileCalls::WriteFile(HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(h);
    if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
    if (!Writes(it->second.access)) return FailWith(ERROR_ACCESS_DENIED);
    fd = it->second.fd;
  }
  uint32_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (written) *written = done;
      return FailWithErrno(errno);
    }
    done += static_cast<uint32_t>(n);
  }
  if (written) *written = done;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFileCalls::GetFileSize(HANDLE h, uint64_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(h);
  if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
  struct stat st {};
  if (::fstat(it->second.fd, &st) != 0) return FailWithErrno(errno);
  if (size) *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool HostFileCalls::GetFileTime(HANDLE h, FILETIME* creation, FILETIME* access, FILETIME* write) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(h);
  if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
  struct stat st {};
  if (::fstat(it->second.fd, &st) != 0) return FailWithErrno(errno);
  // Linux keeps no creation time every file system reports; the last
  // write stands in for it.
  if (creation) *creation = TimeOf(st.st_mtim);
  if (access) *access = TimeOf(st.st_atim);
  if (write) *write = TimeOf(st.st_mtim);
  return true;
}

bool HostFileCalls::Flush(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(h);
  if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
  if (!Writes(it->second.access)) return FailWith(ERROR_ACCESS_DENIED);
  if (::fsync(it->second.fd) != 0 && errno != EINVAL) return FailWithErrno(errno);
  return true;
}

bool HostFileCalls::Lock(HANDLE h, uint32_t flags) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = files_.find(h);
    if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
    fd = it->second.fd;
  }
  int op = (flags & LOCKFILE_EXCLUSIVE_LOCK) ? LOCK_EX : LOCK_SH;
  if (flags & LOCKFILE_FAIL_IMMEDIATELY) op |= LOCK_NB;
  // Waiting happens outside the handle table's lock, so other handles of
  // this process go on meanwhile.
  while (::flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK) return FailWith(ERROR_LOCK_VIOLATION);
    return FailWithErrno(errno);
  }
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFileCalls::Unlock(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(h);
  if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
  if (::flock(it->second.fd, LOCK_UN) != 0) return FailWithErrno(errno);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFileCalls::Close(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = files_.find(h);
  if (it == files_.end()) return FailWith(ERROR_INVALID_HANDLE);
  int fd = it->second.fd;
  files_.erase(it);
  if (::close(fd) != 0 && errno != EINTR) return FailWithErrno(errno);
  return true;
}

bool HostFileCalls::Owns(HANDLE h) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return files_.count(h) != 0 || finds_.count(h) != 0;
}

uint32_t HostFileCalls::GetAttributes(const std::string& platformPath) {
  const std::string path = HostPath(platformPath);
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
    if (path.empty()) SetLastError(ERROR_PATH_NOT_FOUND);
    else FailOn(path, errno);
    return INVALID_FILE_ATTRIBUTES;
  }
  // A symbolic link says so, and otherwise describes what it leads to (a
  // dangling one: a file); device nodes, FIFOs and sockets hold no data.
  uint32_t extra = 0;
  if (S_ISLNK(st.st_mode)) {
    extra = FILE_ATTRIBUTE_REPARSE_POINT;
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) st = target;
  }
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
    extra |= FILE_ATTRIBUTE_DEVICE;
  return AttributesOf(st, LastComponent(path)) | extra;
}

bool HostFileCalls::SetAttributes(const std::string& platformPath, uint32_t attributes) {
  const std::string path = HostPath(platformPath);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FailOn(path, errno);
  mode_t mode = st.st_mode & 07777;
  // Only the read-only bit has a place here; the others are accepted.
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) return FailWithErrno(errno);
  return true;
}

bool HostFileCalls::DeleteFile(const std::string& platformPath) {
  const std::string path = HostPath(platformPath);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return FailOn(path, errno);
  if (S_ISDIR(st.st_mode)) return FailWith(ERROR_ACCESS_DENIED);
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) return FailWith(ERROR_ACCESS_DENIED);
  if (::unlink(path.c_str()) != 0) return FailWithErrno(errno);
  return true;
}

bool HostFileCalls::Move(const std::string& platformFrom, const std::string& platformTo,
                         uint32_t flags) {
  const std::string from = HostPath(platformFrom);
  const std::string to = HostPath(platformTo);
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return FailOn(from, errno);
  struct stat target {};
  if (flags & MOVEFILE_REPLACE_EXISTING) {
    // A folder is never replaced, nor a file marked read-only.
    if (::lstat(to.c_str(), &target) == 0 &&
        (S_ISDIR(target.st_mode) || (S_ISREG(target.st_mode) && !(target.st_mode & S_IWUSR))))
      return FailWith(ERROR_ACCESS_DENIED);
    if (::rename(from.c_str(), to.c_str()) != 0) return FailOn(to, errno);
    return true;
  }
  // Without replacing, a file created under the new name meanwhile is kept:
  // renameat2's no-replace, or where the file system cannot, a link and an
  // unlink.
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
  if (errno != EINVAL && errno != ENOSYS) return FailOn(to, errno);
  if (::link(from.c_str(), to.c_str()) != 0)
    return errno == EEXIST ? FailWith(ERROR_ALREADY_EXISTS) : FailOn(to, errno);
  ::unlink(from.c_str());
  return true;
}

bool HostFileCalls::CreateFolder(const std::string& platformPath) {
  const std::string path = HostPath(platformPath);
  if (::mkdir(path.c_str(), 0755) != 0) {
    if (errno == EEXIST) return FailWith(ERROR_ALREADY_EXISTS);
    if (errno == ENOENT) return FailWith(ERROR_PATH_NOT_FOUND);
    return FailWithErrno(errno);
  }
  return true;
}

bool HostFileCalls::RemoveFolder(const std::string& platformPath) {
  const std::string path = HostPath(platformPath);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return FailOn(path, errno);
  if (!S_ISDIR(st.st_mode)) return FailWith(ERROR_DIRECTORY);
  if (!(st.st_mode & S_IWUSR)) return FailWith(ERROR_ACCESS_DENIED);
  if (::rmdir(path.c_str()) != 0) {
    if (errno == EEXIST) return FailWith(ERROR_DIR_NOT_EMPTY);
    return FailWithErrno(errno);
  }
  return true;
}

HANDLE HostFileCalls::FindFirst(const std::string& platformPattern, bool volumeRoot,
                                WIN32_FIND_DATAW* found) {
  const std::string pattern = HostPath(platformPattern);
  size_t slash = pattern.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(1, '.')
                       : slash == 0                ? std::string(1, '/')
                                                   : pattern.substr(0, slash);
  std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  if (namePattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) {
    SetLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  std::vector<WIN32_FIND_DATAW> entries;
  int fd = ::dirfd(dir);
  while (struct dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if ((name == "." || name == "..") && (volumeRoot || folder == "/")) continue;
    if (!MatchesWildcard(namePattern, name)) continue;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, 0) != 0 &&
        ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      continue;  // gone meanwhile
    entries.push_back(FindRecord(st, name));
  }
  ::closedir(dir);
  if (entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(entries.begin(), entries.end(), ListedBefore);
  if (found) *found = entries.front();
  entries.erase(entries.begin());
  std::reverse(entries.begin(), entries.end());  // the next one is taken from the back
  std::lock_guard<std::mutex> lock(mutex_);
  HANDLE h = next_++;
  finds_[h] = std::move(entries);
  SetLastError(ERROR_SUCCESS);
  return h;
}

bool HostFileCalls::FindNext(HANDLE h, WIN32_FIND_DATAW* found) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = finds_.find(h);
  if (it == finds_.end()) return FailWith(ERROR_INVALID_HANDLE);
  if (it->second.empty()) return FailWith(ERROR_NO_MORE_FILES);
  if (found) *found = std::move(it->second.back());
  it->second.pop_back();
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool HostFileCalls::FindClose(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finds_.erase(h) == 0) return FailWith(ERROR_INVALID_HANDLE);
  return true;
}

bool HostFileCalls::FreeSpace(const std::string& platformPath, uint64_t* toCaller, uint64_t* total,
                              uint64_t* free) {
  const std::string path = HostPath(platformPath);
  struct statvfs vfs {};
  // The argument is a folder: a missing one is a path not found.
  if (::statvfs(path.empty() ? "." : path.c_str(), &vfs) != 0)
    return errno == ENOENT ? FailWith(ERROR_PATH_NOT_FOUND) : FailWithErrno(errno);
  const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  if (toCaller) *toCaller = static_cast<uint64_t>(vfs.f_bavail) * unit;
  if (total) *total = static_cast<uint64_t>(vfs.f_blocks) * unit;
  if (free) *free = static_cast<uint64_t>(vfs.f_bfree) * unit;
  return true;
}

bool HostFileCalls::Geometry(const std::string& platformPath, uint32_t* sectorsPerCluster,
                             uint32_t* bytesPerSector, uint32_t* freeClusters,
                             uint32_t* totalClusters) {
  const std::string path = HostPath(platformPath);
  struct statvfs vfs {};
  if (::statvfs(path.empty() ? "." : path.c_str(), &vfs) != 0)
    return errno == ENOENT ? FailWith(ERROR_PATH_NOT_FOUND) : FailWithErrno(errno);
  const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  const uint64_t sectors = std::max<uint64_t>(1, unit / 512);
  const uint64_t clusterBytes = sectors * 512;
  auto clusters = [&](uint64_t blocks) {
    return static_cast<uint32_t>(std::min<uint64_t>(blocks * unit / clusterBytes, 0xFFFFFFFFu));
  };
  if (sectorsPerCluster) *sectorsPerCluster = static_cast<uint32_t>(sectors);
  if (bytesPerSector) *bytesPerSector = 512;
  if (freeClusters) *freeClusters = clusters(vfs.f_bavail);
  if (totalClusters) *totalClusters = clusters(vfs.f_blocks);
  return true;
}

std::string HostFileCalls::CurrentDirectory() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) {
    FailWithErrno(errno);
    return std::string();
  }
  return buf;
}

}  // namespace zel::hostfs

namespace zel::hostfs {

std::string HostFileCalls::FullPath(const std::string& platformPath) {
  const std::string path = HostPath(platformPath);
  if (path.empty()) {
    SetLastError(platform::ERROR_PATH_NOT_FOUND);
    return std::string();
  }
  if (path[0] == '/') return path;
  std::string cwd = CurrentDirectory();
  if (cwd.empty()) return std::string();
  if (cwd.back() != '/') cwd += '/';
  cwd += path;
  return cwd;
}

}  // namespace zel::hostfs
