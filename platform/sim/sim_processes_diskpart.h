// diskpart on the simulated machine: the one command line the system starts
// with its output captured ("...\diskpart.exe /s SCRIPT"). It reads the
// script as diskpart does ("select disk N", "detail disk") and answers with
// the machine file's canned "detail disk" text for the disk, or with a text
// made from the disk's own fields. The `diskpart` section of the machine file
// is described in docs/machine-format.md (Processes).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

class SimDiskpart {
 public:
  // Reads the machine file's `diskpart` section; throws FixtureError.
  explicit SimDiskpart(SimMachine& machine);

  // Runs it: false with the last error set when the machine file makes the
  // start fail; otherwise true with everything diskpart wrote, in the code
  // page of the C runtime's current locale.
  bool Run(const std::string& commandLine, std::string* output);

  // Whether the machine has disk `number`: a canned text or a drive.
  bool HasDisk(int32_t number) const;
  // The "detail disk" answer for disk `number` (UTF-8, CR LF line ends);
  // false when the machine has no such disk.
  bool DetailText(int32_t number, std::string* text) const;

 private:
  std::string Answer(const std::string& scriptPath) const;
  std::string GeneratedDetail(int32_t number) const;

  SimMachine& machine_;
  bool startFails_ = false;
  uint32_t startError_ = 2;  // ERROR_FILE_NOT_FOUND
  bool hasBanner_ = false;
  std::string banner_;
  std::map<int32_t, std::string> canned_;
};

}  // namespace zel::sim
