// The simulated NVMe drive: an Identify Controller page and a SMART / Health
// Information log, built from the machine file (or given there verbatim),
// reachable through exactly the request forms the machine file allows:
//
//   storageQuery   IOCTL_STORAGE_QUERY_PROPERTY, protocol-specific data (disk)
//   miniport       IOCTL_SCSI_MINIPORT "NvmeMini", data-out length 0 (adapter)
//   shortMiniport  IOCTL_SCSI_MINIPORT "NvmeMini", data-out length 1 (adapter)
//   tunnel         IOCTL_SCSI_PASS_THROUGH, security-protocol pair (disk)
//
// The disk also takes NVMe admin commands through the platform's storage
// protocol command (IOCTL_STORAGE_PROTOCOL_COMMAND): Device Self-test, which
// runs on the machine's virtual clock, and Get Log Page for the Device
// Self-test log (nvme_drive_self_test.cpp).
//
// Each form answers, is absent (the drive answers as a driver without it
// does) or answers with zero data. The disk also answers IOCTL_SCSI_GET_ADDRESS
// with its "scsiPort". Requests are checked as strictly as a driver checks
// them; a malformed one fails with the platform's error code.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
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
  // The health log as read now: with the composite temperature of the
  // drive's temperature steps when they set one.
  std::array<uint8_t, kHealthLogSize> HealthNow() const;
  const NvmeForms& Forms() const { return forms_; }

 private:
  bool StorageQuery(Request& request);
  bool ScsiAddress(Request& request);
  bool Tunnel(Request& request);
  bool Miniport(Request& request);
  bool ProtocolCommand(Request& request);
  static void StartReplyBlock(Request& request);
  void LoadSelfTest(const Json& entry, const std::string& where);
  // Settles a test that has ended by now; the caller holds testMutex_.
  void SettleSelfTest();
  std::array<uint8_t, 564> SelfTestLog();

  std::array<uint8_t, kIdentifySize> identify_{};
  std::array<uint8_t, kHealthLogSize> health_{};
  NvmeForms forms_;
  // The tunnel's send half names the log; the receive half returns it.
  std::atomic<bool> tunnelArmed_{false};

  // Device Self-test.
  std::mutex testMutex_;
  uint32_t shortTestMs_ = 120000;
  uint32_t extendedTestMs_ = 600000;
  std::optional<uint32_t> testEndsAfterMs_;
  uint8_t testResult_ = 0x0;       // result field of the entry a finished test leaves
  uint8_t testOperation_ = 0;      // 0 none, 1 short, 2 extended
  uint64_t testStartMs_ = 0;
  uint32_t testDurationMs_ = 0;
  std::deque<std::array<uint8_t, 28>> testEntries_;  // newest first, at most 20
};

}  // namespace zel::sim
