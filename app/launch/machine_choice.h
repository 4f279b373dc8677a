// Choosing the machine a program runs on: "--machine FILE" on the command line
// (FILE "demo" is the demo machine built into the programs), else the
// ZELVANE_MACHINE environment variable, else the real machine. The option is
// taken out of the arguments before the program's own option scan sees them.
//
// This folder is the only place above the seam that names a backend: the
// programs ask it for their machine, for what the machine says of unusable
// disks, and for the simulated machine's registry file; everything else
// works on platform::Current().
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
// The same, where the lines that point to the trace log name its path.
std::vector<std::string> UnusableDriveReasonsNamingLog(const std::string& traceLogPath);

// "--registry-out FILE" / "--registry-out=FILE": where a simulated machine's
// registry is written when the program ends. Takes the option out of `args`
// and arms the machine; the error text when the option stands without a file
// or the machine is not simulated (empty when all is well or the option is
// absent).
std::string TakeRegistryOut(std::vector<std::string>& args, const MachineChoice& machine);

// Writes the registry of a simulated machine armed by TakeRegistryOut now,
// rather than silently when the machine ends, so that a file that cannot be
// written is told: the error text, or empty when written or not asked for.
std::string SaveRegistryOut(const MachineChoice& machine);

}  // namespace zel
