// The volume TRIM of the simulated machine. An NTFS volume reports freed
// clusters to its drive by itself (delete notifications), as on the platform
// the free-space TRIM was written for, so asking it to trim does nothing. A
// volume marked "trimOnRequest" stands for a file system that must be asked
// (as a Linux file system is): it answers with the free bytes it has, as
// the real request reports the bytes it trimmed.
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/sim/json_util.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_files.h"
#include "platform/text.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class SimVolumeTrim final : public VolumeTrim {
 public:
  // Reads each volume's "trimOnRequest"; throws FixtureError when it is not
  // true or false.
  explicit SimVolumeTrim(SimMachine& machine) : machine_(machine) {
    const std::vector<SimVolume>& volumes = machine_.Volumes();
    for (size_t i = 0; i < volumes.size(); ++i)
      onRequest_.push_back(volumes[i].entry.is_object() &&
                           BoolOr(volumes[i].entry, "trimOnRequest", false,
                                  "volumes[" + std::to_string(i) + "]"));
  }

  bool TurnsFreedClustersIntoTrim(const std::string& root) override {
    const SimVolume* v = Find(root);
    return v && (v->fileSystem == "NTFS" || OnRequest(*v));
  }

  bool TrimFreeSpace(const std::string& root, FreeSpaceTrim* result) override {
    if (result) *result = FreeSpaceTrim{};
    const SimVolume* v = Find(root);
    if (!v) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    if (OnRequest(*v)) {
      SimFiles::VolumeState state;
      if (!machine_.FileSystem().VolumeOf(v->letter[0], &state)) {
        SetLastError(ERROR_NOT_READY);
        return false;
      }
      if (result) {
        result->requested = true;
        result->bytesTrimmed = state.freeBytes;
      }
    } else if (v->fileSystem != "NTFS") {
      SetLastError(ERROR_NOT_SUPPORTED);
      return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
  }

 private:
  // The volume of a root "C:" or "C:\" (letter without regard to case).
  const SimVolume* Find(const std::string& root) const {
    if (root.size() < 2 || root[1] != ':') return nullptr;
    std::string letter = ToUpperAscii(root.substr(0, 1));
    for (const SimVolume& v : machine_.Volumes())
      if (ToUpperAscii(v.letter) == letter && v.deviceType != 2) return &v;
    return nullptr;
  }
  bool OnRequest(const SimVolume& v) const {
    size_t i = static_cast<size_t>(&v - machine_.Volumes().data());
    return i < onRequest_.size() && onRequest_[i];
  }

  SimMachine& machine_;
  std::vector<bool> onRequest_;  // parallel to the machine's volumes
};

}  // namespace

std::unique_ptr<VolumeTrim> MakeSimVolumeTrim(SimMachine& machine) {
  return std::make_unique<SimVolumeTrim>(machine);
}

}  // namespace zel::sim
