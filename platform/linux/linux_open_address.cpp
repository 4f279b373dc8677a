#include "platform/linux/linux_open_address.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

extern char** environ;

namespace zel::linuxbackend {

bool OpenAddressWithDesktop(const std::string& address) {
  if (address.empty() || address[0] == '-') return false;
  for (unsigned char c : address)
    if (c < 0x20 || c == 0x7F) return false;
  std::string program = "xdg-open";
  std::string argument = address;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace zel::linuxbackend
