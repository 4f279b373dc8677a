// The simulated SATA drive: a small ATA device behind the platform's request
// forms. It parses each request (buffered and direct ATA pass-through, the
// legacy IDE pass-through, the SMART receive request), checks it as a
// driver would, and answers the ATA commands the system sends: IDENTIFY,
// the SMART pages, logs and self-tests, flush, standby, the security feature
// set, DOWNLOAD MICROCODE, DATA SET MANAGEMENT TRIM and the vendor commands.
// Long operations (self-tests, the security erase) run on the machine's
// virtual clock. The machine-file fields are described in
// docs/machine-format.md.
//
// The implementation is split by topic over sata_drive*.cpp; the command
// codes and access codes the drive recognises are its own, in
// sata_drive_commands.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/sim_drive.h"
#include "platform/wire/ata.h"

namespace zel::sim {

// One range of a TRIM request as the drive received it.
struct TrimRange {
  uint64_t lba = 0;
  uint32_t sectors = 0;
  bool operator==(const TrimRange&) const = default;
};

class SataDrive final : public SimDrive {
 public:
  SataDrive(SimMachine& machine, const Json& entry, const std::string& where);

  bool Control(Request& request) override;
  bool Read(uint64_t offset, uint8_t* buffer, uint32_t size, uint32_t* read) override;

  // --- What tests and later components read back --------------------------
  // The pages as the drive would return them now.
  std::array<uint8_t, 512> IdentifyPage();
  std::array<uint8_t, 512> SmartDataPage();
  std::array<uint8_t, 512> SmartThresholdPage();
  // A log's contents (written host logs included); empty when absent.
  std::vector<uint8_t> LogContents(uint8_t address);
  // Every TRIM range received, in order.
  std::vector<TrimRange> TrimRanges();
  // The microcode image collected by the current download and the number of
  // segments it came in.
  std::vector<uint8_t> MicrocodeImage();
  uint32_t MicrocodeSegments();
  // The firmware revision IDENTIFY reports now.
  std::string CurrentFirmware();
  // IDENTIFY word 128 now (security state bits).
  uint16_t SecurityWord();
  bool InStandby();
  // Whether a vendor statistics read was answered, and how often.
  uint32_t VendorReplies();

  // The request forms a driver may lack, by their fault-form names.
  static constexpr const char* kFormAtaPassThrough = "ata_pass_through";
  static constexpr const char* kFormIdePassThrough = "ide_pass_through";
  static constexpr const char* kFormAtaDirect = "ata_direct";
  static constexpr const char* kFormSmartRcv = "smart_rcv";

 private:
  enum class Dir { None, In, Out };

  // One ATA command as the drive sees it, whatever form carried it.
  struct Task {
    wire::AtaTaskFile regs;
    Dir dir = Dir::None;
    std::vector<uint8_t> out;  // data sent to the drive
    uint32_t length = 0;       // transfer length the host set up
  };
  // The drive's answer: returned registers (error in Features, status in
  // Command), data for a data-in command.
  struct Answer {
    wire::AtaTaskFile regs;
    std::vector<uint8_t> in;
    bool aborted = false;
  };
  // How a fault shaped the reply.
  struct Shaping {
    bool shortReply = false;
    uint32_t bytes = 0;
  };

  bool BufferedPassThrough(Request& request);
  bool LegacyPassThrough(Request& request);
  bool DirectPassThrough(Request& request);
  bool SmartReceive(Request& request);
  bool FormEnabled(const std::string& form) const;

  // Applies the faults of `form`, then executes the command. False (last
  // error set) when a fault fails the request.
  bool Run(const std::string& form, Task& task, Answer* answer, Shaping* shaping);

  // The drive's answer to a command it aborts: the registers as sent, ABRT
  // in the error register and the error bit in the status.
  static Answer AbortedAnswer(const wire::AtaTaskFile& regs);
  // Executes one command; the state lock is held.
  Answer Execute(const Task& task);
  Answer Identify(const Task& task);
  Answer Smart(const Task& task);
  Answer SmartReadLog(const Task& task);
  Answer SmartWriteLog(const Task& task);
  Answer ExecuteOffline(const Task& task);
  Answer Security(const Task& task, bool wasPrepared);
  Answer Microcode(const Task& task);
  Answer DataSetManagement(const Task& task);
  Answer SetFeatures(const Task& task);
  Answer VendorRequest(const Task& task);
  Answer VendorReply(const Task& task);
  Answer VendorUid(const Task& task);

  // Completes what the virtual clock has finished (the security erase).
  void Advance();
  uint8_t SelfTestStatusNow();
  std::array<uint8_t, 512> BuildIdentify();
  std::array<uint8_t, 512> BuildSmartData();
  std::array<uint8_t, 512> BuildThresholds() const;
  std::vector<uint8_t> LogDirectory() const;
  std::vector<uint8_t> SctStatus();
  uint64_t TotalSectors() const { return sizeBytes_ / 512; }
  uint64_t NowMs() const;

  void LoadIdentify(const Json& entry, const std::string& where);
  void LoadSmart(const Json& entry, const std::string& where);
  void LoadSecurity(const Json& entry, const std::string& where);
  void LoadRest(const Json& entry, const std::string& where);

  std::mutex state_;

  // IDENTIFY: the page as configured; the dynamic words (firmware, SMART
  // and security state, checksum) are laid over it when it is read.
  std::array<uint16_t, 256> identify_{};
  bool identifyChecksum_ = true;
  std::string currentFirmware_;

  // SMART.
  bool smartEnabled_ = true;
  std::optional<std::array<uint8_t, 512>> smartPage_;  // captured page given verbatim
  std::optional<std::array<uint8_t, 512>> thresholdPage_;
  struct Attribute {
    std::array<uint8_t, 12> entry{};
    uint8_t threshold = 0;
  };
  std::vector<Attribute> attributes_;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> smartBytes_;  // vendor bytes by offset
  uint16_t smartRevision_ = 0x0010;

  // Self-test.
  uint32_t shortTestMs_ = 120000;
  uint32_t extendedTestMs_ = 600000;
  std::optional<uint32_t> testEndsAfterMs_;
  uint8_t testResult_ = 0x00;
  uint8_t testStatus_ = 0x00;  // status byte when no test runs
  bool testTouched_ = false;   // a test ran: byte 363 of a captured page follows the drive
  bool testRunning_ = false;
  uint64_t testStartMs_ = 0;
  uint32_t testDurationMs_ = 0;

  // Logs by address (multiples of 512 bytes).
  std::map<uint8_t, std::vector<uint8_t>> logs_;
  bool directoryGiven_ = false;

  // SCT command transport for the vendor configuration identifier.
  bool sct_ = false;
  std::optional<std::array<uint8_t, 8>> configId_;
  uint32_t sctBusyReads_ = 1;
  uint32_t sctBusyLeft_ = 0;
  uint16_t sctAction_ = 0;
  uint16_t sctFunction_ = 0;
  bool sctConfigReady_ = false;

  // Security feature set.
  bool secSupported_ = true;
  bool secEnabled_ = false;
  bool secLocked_ = false;
  bool secFrozen_ = false;
  bool secExpired_ = false;
  bool secEnhanced_ = true;
  bool secMasterMax_ = false;
  int secAttempts_ = 5;
  std::array<uint8_t, 32> userPassword_{};
  std::array<uint8_t, 32> masterPassword_{};
  bool prepared_ = false;
  std::optional<uint32_t> eraseMs_, enhancedEraseMs_;  // actual durations, when given
  bool erasing_ = false;
  uint64_t eraseEndsMs_ = 0;

  // DOWNLOAD MICROCODE.
  std::vector<uint8_t> image_;
  uint32_t segments_ = 0;
  struct MicrocodeRule {
    std::string firmware;
    uint64_t size = 1;
    std::string contains;
    std::optional<uint32_t> abortAtOffset;
  };
  std::optional<MicrocodeRule> microcode_;

  // TRIM.
  std::vector<TrimRange> trims_;

  // Power.
  bool standby_ = false;

  // Vendor commands.
  bool vendor_ = false;
  bool vendorEnabled_ = false;
  bool vendorArmed_ = false;
  bool uidOpen_ = false;
  std::vector<uint8_t> vendorData_;
  std::array<uint8_t, 512> uid_{};
  uint32_t vendorReplies_ = 0;

  // Request forms the driver lacks.
  std::map<std::string, bool> forms_;
};

}  // namespace zel::sim
