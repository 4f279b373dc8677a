// Inside the simulated machine's files: the model of its volumes, shared by
// the file calls (sim_files.cpp) and the reading of the machine file's
// "files", "faults" and "clusterSize" (sim_files_load.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

struct SimVolume;

namespace simfs {

using platform::ERROR_GEN_FAILURE;
using platform::FILE_ATTRIBUTE_ARCHIVE;
using platform::FILE_ATTRIBUTE_HIDDEN;
using platform::FILE_ATTRIBUTE_READONLY;
using platform::FILE_ATTRIBUTE_SYSTEM;

// No file of a test is given this much content; a write that would give a
// file without content (a filler file) this much is refused.
inline constexpr uint64_t kMaxContentBytes = 64ull << 20;
inline constexpr uint32_t kChangeableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

struct Node {
  std::string name;  // the last component as it was created
  bool folder = false;
  uint32_t attributes = 0;  // folders carry FILE_ATTRIBUTE_DIRECTORY too
  uint64_t size = 0;
  bool hasContent = false;
  std::string content;  // the first bytes of the file; the rest reads as zeros
  int64_t created = 0, written = 0, accessed = 0;
};

struct Fault {
  std::string call;  // a call's name, or "any"
  std::string path;  // the end of the paths it takes (without case); empty for every path
  uint32_t error = ERROR_GEN_FAILURE;
  int64_t times = -1;  // how many calls it takes; -1 for all
};

struct Volume {
  char letter = 0;
  std::string fileSystem;
  uint64_t size = 0;
  uint64_t free = 0;
  uint32_t cluster = 4096;
  bool noMedium = false;  // a CD-ROM drive without a disc
  // Nodes by their upper-cased path inside the volume ("TMP\\F0"); the root
  // is not a node.
  std::map<std::string, Node> nodes;
  std::vector<Fault> faults;
};

// A path component's key: upper-cased, as names are compared without case.
std::string Upper(std::string_view s);
// The key of the folder that holds a key ("" for the root).
std::string ParentKey(const std::string& key);
// Whether a name may be a file's (no control characters, none of <>:"|?*).
bool ValidName(const std::string& name);

// The "faults" list of a section of the machine file.
std::vector<Fault> ReadFaults(const Json& section, const std::string& where);
// A volume of the machine file with its folders and files; `now` is the
// time of entries that name none. Throws FixtureError.
Volume LoadVolume(const SimVolume& volume, const std::string& where, int64_t now);

}  // namespace simfs
}  // namespace zel::sim
