// zelvane: the command-line face of SSD Zelvane.
#include <cstdio>
#include <string>
#include <vector>

#include "app/machine_choice.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  zel::MachineChoice machine = zel::ChooseMachine(args);
  if (!machine.platform) {
    std::fprintf(stderr, "zelvane: %s\n", machine.error.c_str());
    return 2;
  }
  zel::platform::ScopedPlatform installed(machine.platform);
  std::fprintf(stderr, "zelvane: no commands yet\n");
  return 2;
}
