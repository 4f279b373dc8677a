#include "platform/sim/machine_limits.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zel::sim {

namespace fs = std::filesystem;

bool ReadMachineFileText(const std::string& path, std::string* text, std::string* error) {
  // Opened without waiting, so a FIFO with no writer cannot block the run;
  // it is refused below like every other file that is not a regular one.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = path + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = path + ": not a regular file; a machine file must be one";
    return false;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxMachineFileBytes) {
    ::close(fd);
    *error = path + ": larger than " + std::to_string(kMaxMachineFileBytes >> 20) +
             " MiB, the most a machine file may hold";
    return false;
  }
  text->clear();
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = path + ": cannot be read (" + std::strerror(errno) + ")";
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    // A file that grows while it is read is still held to the limit.
    if (text->size() + static_cast<size_t>(n) > kMaxMachineFileBytes) {
      *error = path + ": larger than " + std::to_string(kMaxMachineFileBytes >> 20) +
               " MiB, the most a machine file may hold";
      ::close(fd);
      return false;
    }
    text->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

std::string CheckNesting(std::string_view text) {
  int depth = 0;
  size_t line = 1;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\n') {
      ++line;
    } else if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
        else if (text[i] == '\n') ++line;
      }
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
      while (i < text.size() && text[i] != '\n') ++i;
      --i;  // the line end is counted by the loop
    } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
      for (i += 2; i < text.size() && !(text[i] == '*' && i + 1 < text.size() && text[i + 1] == '/');
           ++i)
        if (text[i] == '\n') ++line;
      ++i;
    } else if (c == '{' || c == '[') {
      if (++depth > kMaxMachineNesting)
        return "line " + std::to_string(line) + ": nested deeper than " +
               std::to_string(kMaxMachineNesting) + " levels";
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return std::string();
}

namespace {

// Whether `target` is `folder` or lies below it, both made absolute with
// links resolved as far as they exist.
bool Within(const fs::path& target, const fs::path& folder) {
  std::error_code ec;
  fs::path t = fs::weakly_canonical(fs::absolute(target, ec), ec);
  if (ec) return false;
  fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec) return false;
  fs::path rel = t.lexically_relative(f);
  return !rel.empty() && *rel.begin() != "..";
}

void CheckOne(const std::string& name, const std::string& what, const std::string& where,
              const std::vector<std::string>& folders) {
  if (name.empty()) return;
  fs::path folder = fs::path(name).parent_path();
  if (folder.empty()) folder = ".";
  for (const std::string& allowed : folders)
    if (Within(folder, allowed)) return;
  std::string list;
  for (size_t i = 0; i < folders.size(); ++i)
    list += (i ? " or " : "") + folders[i];
  throw FixtureError(where + ": " + what + " would be written in " + folder.string() +
                     ", outside the folders this run may write (" + list + ")");
}

}  // namespace

void CheckWrittenPaths(const Json& root, const std::vector<std::string>& folders) {
  if (!root.is_object()) return;
  auto text = [&](const char* section, const char* key) -> std::string {
    auto s = root.find(section);
    if (s == root.end() || !s->is_object()) return std::string();
    auto v = s->find(key);
    return v != s->end() && v->is_string() ? v->get<std::string>() : std::string();
  };
  CheckOne(text("program", "path"), "the trace log and result files beside the program",
           "program.path", folders);
  CheckOne(text("registry", "file"), "the registry", "registry.file", folders);
}

}  // namespace zel::sim
