// The simulated SATA drive: its construction, the table of the commands it
// knows (what each transfers, which a locked drive still runs), the dispatch
// of one command to its topic, and what tests read back. The topics live
// beside it: sata_drive_load.cpp (the machine file), sata_drive_forms.cpp
// (the request forms), sata_drive_identity.cpp (IDENTIFY, SMART and logs),
// sata_drive_self_test.cpp, sata_drive_security.cpp,
// sata_drive_microcode.cpp, sata_drive_trim.cpp and sata_drive_vendor.cpp.
#include "platform/sim/sata_drive.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::platform;
using namespace zel::sim::sata;
using wire::AtaTaskFile;

SataDrive::SataDrive(SimMachine& machine, const Json& entry, const std::string& where)
    : SimDrive(machine, entry, where) {
  CheckDriveKeys(entry, where,
                 {"identify", "wwn", "smart", "logs", "sct", "selfTest", "security", "microcode",
                  "vendor", "forms"});
  LoadIdentify(entry, where);
  LoadSmart(entry, where);
  LoadSecurity(entry, where);
  LoadRest(entry, where);
}

// --- The command set ---------------------------------------------------------

namespace sata {

Protocol ProtocolOf(const AtaTaskFile& r) {
  auto none = [] { return Protocol{true, 0, 0}; };
  auto in = [](uint32_t n) { return Protocol{n > 0, 1, n}; };
  auto out = [](uint32_t n) { return Protocol{n > 0, 2, n}; };
  uint32_t count = r.SectorCount;
  switch (r.Command) {
    case kIdentify:
      return in(512);
    case kSmart:
      switch (r.Features) {
        case kSmartReadData:
        case kSmartReadThresholds:
          return in(512);
        case kSmartReadLog:
          return in(count * 512);
        case kSmartWriteLog:
          return out(count * 512);
        case kSmartAutosave:
        case kSmartExecuteOffline:
        case kSmartEnable:
        case kSmartDisable:
        case kSmartReturnStatus:
        case kSmartAutoOffline:
          return none();
        default:
          return Protocol{};
      }
    case kFlushCache:
    case kFlushCacheExt:
    case kStandbyImmediate:
    case kCheckPowerMode:
    case kSecurityErasePrepare:
    case kSecurityFreezeLock:
      return none();
    case kSecuritySetPassword:
    case kSecurityUnlock:
    case kSecurityEraseUnit:
    case kSecurityDisablePassword:
      return out(512);
    case kDownloadMicrocode:
      return out((count | (static_cast<uint32_t>(r.LbaLow) << 8)) * 512);
    case kDataSetManagement:
      return out(count * 512);
    case kSetFeatures:
      if (r.Features == kVendorEnableFeatures && r.SectorCount == kVendorEnableCount)
        return out(512);
      return none();
    case kVendorRequest:
      return out(count * 512);
    case kVendorReply:
      return in(count * 512);
    case kVendorUid:
      if (r.Features == kUidReadFeatures && r.SectorCount == kUidReadCount)
        return in(512);
      return none();
    default:
      return Protocol{};
  }
}

bool AllowedWhenLocked(uint8_t command) {
  switch (command) {
    case kIdentify:
    case kCheckPowerMode:
    case kStandbyImmediate:
    case kFlushCache:
    case kFlushCacheExt:
    case kSecurityUnlock:
    case kSecurityErasePrepare:
    case kSecurityEraseUnit:
    case kSetFeatures:
    case kSmart:
      return true;
    default:
      return false;
  }
}

}  // namespace sata

// --- The drive -----------------------------------------------------------------

uint64_t SataDrive::NowMs() const { return machine_.Clock().NowMs(); }

SataDrive::Answer SataDrive::AbortedAnswer(const AtaTaskFile& regs) {
  Answer a;
  a.regs = regs;
  a.regs.Features = kErrorAbort;
  a.regs.Command = kStatusAborted;
  a.aborted = true;
  return a;
}

SataDrive::Answer SataDrive::Execute(const Task& t) {
  Advance();
  bool wasPrepared = prepared_;
  prepared_ = false;
  const AtaTaskFile& r = t.regs;
  auto abort = [&] { return AbortedAnswer(r); };
  Protocol p = ProtocolOf(r);
  Dir expected = p.dir == 1 ? Dir::In : p.dir == 2 ? Dir::Out : Dir::None;
  if (!p.known || t.dir != expected || t.length != p.length) return abort();
  if (secLocked_ && !AllowedWhenLocked(r.Command)) return abort();

  Answer a;
  switch (r.Command) {
    case kIdentify:
      a = Identify(t);
      break;
    case kSmart:
      a = Smart(t);
      break;
    case kFlushCache:
    case kFlushCacheExt:
      a.regs = r;
      break;
    case kStandbyImmediate:
      standby_ = true;
      a.regs = r;
      break;
    case kCheckPowerMode:
      a.regs = r;
      a.regs.SectorCount = standby_ ? 0x00 : 0xFF;
      break;
    case kSecuritySetPassword:
    case kSecurityUnlock:
    case kSecurityErasePrepare:
    case kSecurityEraseUnit:
    case kSecurityFreezeLock:
    case kSecurityDisablePassword:
      a = Security(t, wasPrepared);
      break;
    case kDownloadMicrocode:
      a = Microcode(t);
      break;
    case kDataSetManagement:
      a = DataSetManagement(t);
      break;
    case kSetFeatures:
      a = SetFeatures(t);
      break;
    case kVendorRequest:
      a = VendorRequest(t);
      break;
    case kVendorReply:
      a = VendorReply(t);
      break;
    case kVendorUid:
      a = VendorUid(t);
      break;
    default:
      return abort();
  }
  if (a.aborted) return abort();
  a.regs.Features = 0;
  a.regs.Command = kStatusOk;
  return a;
}

bool SataDrive::Read(uint64_t offset, uint8_t* buffer, uint32_t size, uint32_t* read) {
  std::lock_guard<std::mutex> lock(state_);
  Advance();
  if (secLocked_) return FailWith(ERROR_IO_DEVICE);  // a locked drive keeps its data to itself
  standby_ = false;
  return SimDrive::Read(offset, buffer, size, read);
}

// --- Read-back for tests -----------------------------------------------------------

std::array<uint8_t, 512> SataDrive::IdentifyPage() {
  std::lock_guard<std::mutex> lock(state_);
  Advance();
  return BuildIdentify();
}

std::array<uint8_t, 512> SataDrive::SmartDataPage() {
  std::lock_guard<std::mutex> lock(state_);
  return BuildSmartData();
}

std::array<uint8_t, 512> SataDrive::SmartThresholdPage() {
  std::lock_guard<std::mutex> lock(state_);
  return BuildThresholds();
}

std::vector<uint8_t> SataDrive::LogContents(uint8_t address) {
  std::lock_guard<std::mutex> lock(state_);
  if (address == 0 && !directoryGiven_) return LogDirectory();
  auto it = logs_.find(address);
  return it == logs_.end() ? std::vector<uint8_t>() : it->second;
}

std::vector<TrimRange> SataDrive::TrimRanges() {
  std::lock_guard<std::mutex> lock(state_);
  return trims_;
}

std::vector<uint8_t> SataDrive::MicrocodeImage() {
  std::lock_guard<std::mutex> lock(state_);
  return image_;
}

uint32_t SataDrive::MicrocodeSegments() {
  std::lock_guard<std::mutex> lock(state_);
  return segments_;
}

std::string SataDrive::CurrentFirmware() {
  std::lock_guard<std::mutex> lock(state_);
  return currentFirmware_;
}

uint16_t SataDrive::SecurityWord() {
  std::lock_guard<std::mutex> lock(state_);
  Advance();
  auto page = BuildIdentify();
  return GetLE16(&page[256]);
}

bool SataDrive::InStandby() {
  std::lock_guard<std::mutex> lock(state_);
  return standby_;
}

uint32_t SataDrive::VendorReplies() {
  std::lock_guard<std::mutex> lock(state_);
  return vendorReplies_;
}

std::shared_ptr<SimDrive> MakeSataDrive(SimMachine& machine, const Json& entry,
                                        const std::string& where) {
  return std::make_shared<SataDrive>(machine, entry, where);
}

}  // namespace zel::sim
