#include "platform/named_objects.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/format.h"

namespace zel::platform {

namespace {

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

struct flock Range(short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return lock;
}

bool SameFile(int fd, const std::string& path) {
  struct stat open {}, named {};
  return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

}  // namespace

NamedObjects::NamedObjects(std::string folder, std::string prefix)
    : folder_(std::move(folder)), prefix_(std::move(prefix)) {}

NamedObjects::~NamedObjects() {
  for (const auto& [token, held] : held_) Drop(held);
}

std::string NamedObjects::HashText(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return Format("%016llx", static_cast<unsigned long long>(h));
}

std::intptr_t NamedObjects::Hold(const std::string& kind, const std::string& name) {
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

std::intptr_t NamedObjects::Create(const std::string& kind, const std::string& name) {
  bool existed = Exists(kind, name);
  std::intptr_t token = Hold(kind, name);
  if (token) SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return token;
}

void NamedObjects::Release(std::intptr_t token) {
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

bool NamedObjects::Exists(const std::string& kind, const std::string& name) {
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

// Ends a hold; the last holder removes the file, so no object leaves
// anything behind.
void NamedObjects::Drop(const Held& held) {
  ::close(held.fd);
  RemoveIfUnheld(held.path);
}

// Removes an object's file when nobody holds it: only then can the exclusive
// lock be had, and a holder that opened the file meanwhile finds it removed
// and takes its hold on a new one.
void NamedObjects::RemoveIfUnheld(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  struct flock lock = Range(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &lock) == 0 && SameFile(fd, path)) ::unlink(path.c_str());
  ::close(fd);
}

// The object's file, in the user's own folder. A folder of that name that is
// not a directory of this user, or that others may write to, is not used:
// another user could otherwise plant or remove objects.
bool NamedObjects::PathOf(const std::string& kind, const std::string& name, std::string* path) {
  if (::mkdir(folder_.c_str(), 0700) != 0 && errno != EEXIST) {
    SetLastError(PlatformErrorOf(errno));
    return false;
  }
  struct stat st {};
  if (::lstat(folder_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & 022) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  *path = folder_ + "/" + prefix_ + kind + "-" + HashText(name);
  return true;
}

}  // namespace zel::platform
