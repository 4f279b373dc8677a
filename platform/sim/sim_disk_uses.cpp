// The simulated machine's answer to what keeps a disk in use besides its
// lettered volumes: the drive's "inUse" lists of the machine file.
#include "platform/sim/machine.h"

namespace zel::sim {

namespace {

class SimDiskUses final : public platform::DiskUses {
 public:
  explicit SimDiskUses(SimMachine& machine) : machine_(machine) {}
  std::vector<platform::DiskUse> UnletteredUses(int32_t diskNumber) override {
    const SimDrive* drive = machine_.DriveByIndex(diskNumber);
    return drive ? drive->InUse() : std::vector<platform::DiskUse>{};
  }

 private:
  SimMachine& machine_;
};

}  // namespace

std::unique_ptr<platform::DiskUses> MakeSimDiskUses(SimMachine& machine) {
  return std::make_unique<SimDiskUses>(machine);
}

}  // namespace zel::sim
