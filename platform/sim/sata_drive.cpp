// Placeholder until the SATA drive state machine lands: a disk that answers
// only the device-number query.
#include "platform/sim/machine.h"

namespace zel::sim {

std::shared_ptr<SimDrive> MakeSataDrive(SimMachine& machine, const Json& spec,
                                        const std::string& where) {
  return std::make_shared<SimDrive>(machine, spec, where);
}

}  // namespace zel::sim
