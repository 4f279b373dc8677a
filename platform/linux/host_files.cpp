#include "platform/linux/host_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zel::linuxbackend {

namespace {

std::string ReadFirstLine(const std::string& path);

std::string NormalRoot(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (root == "/") root.clear();
  return root;
}

}  // namespace

std::string JoinPath(std::string_view a, std::string_view b) {
  std::string out(a);
  if (out.empty() || out.back() != '/') out += '/';
  size_t i = 0;
  while (i < b.size() && b[i] == '/') ++i;
  out.append(b.substr(i));
  return out;
}

std::string BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t at = path.rfind('/');
  return std::string(at == std::string_view::npos ? path : path.substr(at + 1));
}

std::string DirName(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  size_t at = path.rfind('/');
  if (at == std::string_view::npos) return ".";
  if (at == 0) return "/";
  return std::string(path.substr(0, at));
}

HostFiles::HostFiles(std::string root) : root_(NormalRoot(std::move(root))) {}

std::string HostFiles::Path(std::string_view machinePath) const {
  if (root_.empty()) return std::string(machinePath);
  return JoinPath(root_, machinePath);
}

std::optional<std::string> HostFiles::Read(std::string_view machinePath) const {
  // sysfs files report a size of 4096 whatever they hold, so read until the end.
  int fd = ::open(Path(machinePath).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
    if (out.size() > (64u << 20)) break;  // no file the backend reads is this large
  }
  ::close(fd);
  return out;
}

std::string HostFiles::Attribute(std::string_view machinePath) const {
  const bool keep = machinePath == "/proc/sys/kernel/osrelease" || machinePath == "/proc/sys/kernel/arch" ||
                    machinePath == "/proc/sys/kernel/hostname";
  if (keep) {
    std::lock_guard<std::mutex> lock(kept_->mutex);
    auto it = kept_->values.find(machinePath);
    if (it != kept_->values.end()) return it->second;
  }
  std::string line = ReadFirstLine(Path(machinePath));
  if (keep) {
    std::lock_guard<std::mutex> lock(kept_->mutex);
    kept_->values.emplace(std::string(machinePath), line);
  }
  return line;
}

namespace {

std::string ReadFirstLine(const std::string& path) {
  // Only the first line is wanted: reading stops at the first read that has
  // it, which for a sysfs attribute is the first one (no read for the end).
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::string();
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (std::memchr(buf, '\n', static_cast<size_t>(n)) || text.size() > (1u << 20)) break;
  }
  ::close(fd);
  std::string line = text.substr(0, text.find('\n'));
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r' || line.back() == '\t' ||
                           line.back() == '\0'))
    line.pop_back();
  return line;
}

}  // namespace

bool HostFiles::Exists(std::string_view machinePath) const {
  struct stat st {};
  return ::stat(Path(machinePath).c_str(), &st) == 0;
}

bool HostFiles::IsDirectory(std::string_view machinePath) const {
  struct stat st {};
  return ::stat(Path(machinePath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> HostFiles::List(std::string_view machinePath) const {
  std::vector<std::string> names;
  int fd = ::open(Path(machinePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return names;
  // sysfs and procfs hand out entries until the buffer cannot take the
  // next one, so a read that leaves room for the longest entry was the last
  // (which saves the read that returns nothing); other file systems are read
  // to their end.
  const bool kernelFolder = machinePath.starts_with("/sys/") || machinePath.starts_with("/proc/");
  constexpr size_t kLongestEntry = offsetof(struct dirent64, d_name) + NAME_MAX + 1;
  alignas(struct dirent64) char buf[32768];
  for (;;) {
    ssize_t n = ::getdents64(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const struct dirent64*>(buf + at);
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
      at += e->d_reclen;
    }
    if (kernelFolder && sizeof buf - static_cast<size_t>(n) > kLongestEntry) break;
  }
  ::close(fd);
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// The path with every link resolved by the kernel in one walk: opened
// without being read (O_PATH), then named by the process's descriptor link.
// realpath() asks readlink of every component instead, which fails for
// each one that is no link: a dozen calls for one sysfs path.
std::optional<std::string> RealPath(const std::string& path) {
  int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
  if (fd >= 0) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf);
    ::close(fd);
    // Without procfs (or for a name the kernel marks as deleted) the slow way.
    if (n > 0 && n < static_cast<ssize_t>(sizeof buf) && buf[0] == '/') {
      std::string real(buf, static_cast<size_t>(n));
      if (!real.ends_with(" (deleted)")) return real;
    }
  } else if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) {
    return std::nullopt;
  }
  char buf[PATH_MAX];
  if (!::realpath(path.c_str(), buf)) return std::nullopt;
  return std::string(buf);
}

}  // namespace

std::optional<std::string> HostFiles::Resolve(std::string_view machinePath) const {
  std::optional<std::string> resolved = RealPath(Path(machinePath));
  if (!resolved) return std::nullopt;
  std::string real = *resolved;
  if (root_.empty()) return real;
  std::optional<std::string> rootResolved = RealPath(root_);
  if (!rootResolved) return std::nullopt;
  std::string rootReal = *rootResolved;
  if (real == rootReal) return std::string("/");
  if (real.compare(0, rootReal.size() + 1, rootReal + "/") != 0) return std::nullopt;
  return real.substr(rootReal.size());
}

std::string HostFiles::LinkName(std::string_view machinePath) const {
  char buf[PATH_MAX];
  ssize_t n = ::readlink(Path(machinePath).c_str(), buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return BaseName(std::string_view(buf, static_cast<size_t>(n)));
}

int HostFiles::WriteExisting(std::string_view machinePath, std::string_view text) const {
  int fd = ::open(Path(machinePath).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  ssize_t n = ::write(fd, text.data(), text.size());
  int err = n < 0 ? errno : (static_cast<size_t>(n) == text.size() ? 0 : EIO);
  ::close(fd);
  return err;
}

}  // namespace zel::linuxbackend
