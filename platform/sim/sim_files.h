// Files, folders and volumes of the simulated machine. Paths on a lettered
// volume of the machine file ("C:\tmpxxxquarn\f0") lead to that volume's
// virtual folders and files, whose free space falls as files are created or
// extended and rises as they are deleted; every other path is a real path of
// this machine (the program's folder, the current directory), so a test
// reads what a run wrote. The format is in docs/machine-format.md (Files).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

class SimFiles : public platform::Files {
 public:
  // What a test or another component of the machine may ask of a volume.
  struct VolumeState {
    uint64_t sizeBytes = 0;
    uint64_t freeBytes = 0;
  };
  // The live sizes of a volume; false when the machine has no such letter.
  virtual bool VolumeOf(char letter, VolumeState* state) const = 0;
  // Creates a file of `size` bytes without content on a volume (what the
  // platform's "fsutil file createnew" does). False with the last error set.
  virtual bool CreateSizedFile(const std::string& path, uint64_t size) = 0;
  // Where a file of a volume lies: the volume's files are laid out one after
  // the other from cluster 0, in the order of their paths (without case), each
  // in one run of whole clusters. False with the last error set when the path
  // names no file of a volume.
  struct Placement {
    uint64_t firstCluster = 0;
    uint64_t clusters = 0;
    uint32_t clusterBytes = 0;
  };
  virtual bool PlaceFile(const std::string& path, Placement* placement) = 0;
};

// Reads the volumes' "files" and "faults" and the top-level "files" section;
// throws FixtureError naming the place of a mistake.
std::unique_ptr<SimFiles> MakeSimFiles(SimMachine& machine);

}  // namespace zel::sim
