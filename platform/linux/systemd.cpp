#include "platform/linux/systemd.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace zel::linuxbackend {

CommandResult RunCommand(const std::vector<std::string>& argv) {
  CommandResult result;
  if (argv.empty()) {
    result.startError = EINVAL;
    return result;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    result.startError = errno;
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  if (spawned != 0) {
    ::close(pipeFds[0]);
    result.startError = spawned;
    return result;
  }
  result.started = true;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
    if (n > 0) {
      // Bounded: a command that writes without end cannot eat the memory.
      if (result.output.size() < (1u << 20)) result.output.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exitStatus = 128 + WTERMSIG(status);
  }
  return result;
}

Systemctl::Systemctl(CommandRunner runner, std::vector<std::string> globalOptions)
    : runner_(std::move(runner)), globalOptions_(std::move(globalOptions)) {}

CommandResult Systemctl::Run(const std::string& verb, const std::string& unit,
                             const std::vector<std::string>& options) const {
  std::vector<std::string> argv = {"systemctl"};
  argv.insert(argv.end(), globalOptions_.begin(), globalOptions_.end());
  argv.push_back("--no-ask-password");
  argv.push_back(verb);
  argv.insert(argv.end(), options.begin(), options.end());
  // "--" keeps a unit name from ever being read as an option.
  argv.push_back("--");
  argv.push_back(unit);
  return runner_(argv);
}

std::optional<std::map<std::string, std::string>> Systemctl::Show(
    const std::string& unit, const std::vector<std::string>& properties) const {
  std::string list;
  for (const std::string& p : properties) list += (list.empty() ? "" : ",") + p;
  CommandResult r = Run("show", unit, {"--property=" + list});
  if (!r.started || r.exitStatus != 0) return std::nullopt;
  return ParseShowOutput(r.output);
}

std::map<std::string, std::string> ParseShowOutput(const std::string& output) {
  std::map<std::string, std::string> values;
  size_t start = 0;
  while (start < output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    std::string line = output.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    start = end + 1;
  }
  return values;
}

std::string UnitForServiceName(const std::string& name) {
  if (name == kMonitorServiceName) return kMonitorUnit;
  if (name.empty() || name[0] == '-' || name.size() > 255) return std::string();
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    (c != '\0' && std::strchr("_.-@:\\", c) != nullptr);
    if (!ok) return std::string();
  }
  for (const char* suffix : {".service", ".timer"}) {
    const size_t n = std::strlen(suffix);
    if (name.size() > n && name.compare(name.size() - n, n, suffix) == 0) return name;
  }
  return std::string();
}

}  // namespace zel::linuxbackend
