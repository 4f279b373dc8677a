// The simulated NVMe drive: an Identify Controller page and a SMART / Health
// Information log, built from the machine file (or given there verbatim),
// reachable through exactly the request forms the machine file allows:
//
//   storageQuery   IOCTL_STORAGE_QUERY_PROPERTY, protocol-specific data (disk)
//   miniport       IOCTL_SCSI_MINIPORT "NvmeMini", data-out length 0 (adapter)
//   shortMiniport  IOCTL_SCSI_MINIPORT "NvmeMini", data-out length 1 (adapter)
//   tunnel         IOCTL_SCSI_PASS_THROUGH, security-protocol pair (disk)
//
// Each form answers, is absent (the drive answers as a driver without it
// does) or answers with zero data. The disk also answers IOCTL_SCSI_GET_ADDRESS
// with its "scsiPort". Requests are checked as strictly as a driver checks
// them; a malformed one fails with the platform's error code.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "platform/sim/sim_drive.h"

namespace zel::sim {

enum class FormMode { Answer, Absent, Zeros };

struct NvmeForms {
  FormMode storageQuery = FormMode::Answer;
  FormMode miniport = FormMode::Absent;
  FormMode shortMiniport = FormMode::Absent;
  FormMode tunnel = FormMode::Absent;
};

class NvmeDrive final : public SimDrive {
 public:
  static constexpr size_t kIdentifySize = 4096;
  static constexpr size_t kHealthLogSize = 512;

  NvmeDrive(SimMachine& machine, const Json& entry, const std::string& where);

  bool Control(Request& request) override;
  bool AdapterControl(Request& request) override;

  const std::array<uint8_t, kIdentifySize>& IdentifyPage() const { return identify_; }
  const std::array<uint8_t, kHealthLogSize>& HealthLog() const { return health_; }
  const NvmeForms& Forms() const { return forms_; }

 private:
  bool StorageQuery(Request& request);
  bool ScsiAddress(Request& request);
  bool Tunnel(Request& request);
  bool Miniport(Request& request);

  std::array<uint8_t, kIdentifySize> identify_{};
  std::array<uint8_t, kHealthLogSize> health_{};
  NvmeForms forms_;
  // The tunnel's send half names the log; the receive half returns it.
  std::atomic<bool> tunnelArmed_{false};
};

}  // namespace zel::sim
