// Choosing the machine a program runs on: "--machine FILE" on the command line
// (FILE "demo" is the demo machine built into the programs), else the
// ZELVANE_MACHINE environment variable, else the real machine. The option is
// taken out of the arguments before the program's own option scan sees them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zel {

struct MachineChoice {
  std::shared_ptr<platform::Platform> platform;  // null when `error` is set
  std::string description;                       // "demo", the file's path, or "real machine"
  bool simulated = false;
  std::string error;
};

// Removes "--machine FILE" / "--machine=FILE" from `args` (args[0] is the
// program name and stays) and builds the chosen machine.
MachineChoice ChooseMachine(std::vector<std::string>& args);

// The machine a file or "demo" names.
MachineChoice LoadSimulatedMachine(const std::string& fileOrDemo);

// Why the installed machine offers no usable drive, one line per disk it
// has (not root, a virtio disk, a USB disk, ...). Only the real machine
// knows; on a simulated machine the list is empty.
std::vector<std::string> UnusableDriveReasons();

}  // namespace zel
