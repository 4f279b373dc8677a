// The simulated SATA drive: IDENTIFY, the SMART pages and sub-operations,
// the general-purpose and host logs, and the SCT status the vendor
// configuration identifier is read through.
#include "platform/sim/sata_drive.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::sim::sata;
using wire::AtaTaskFile;

namespace sata {

// ATA strings hold two characters per word, the first in the high byte, so
// read as bytes of the little-endian page each pair appears swapped.
void PutAtaString(std::array<uint16_t, 256>& w, int first, int words, const std::string& text) {
  std::string s = text.substr(0, static_cast<size_t>(words) * 2);
  s.resize(static_cast<size_t>(words) * 2, ' ');
  for (int i = 0; i < words; ++i)
    w[first + i] = static_cast<uint16_t>((static_cast<uint8_t>(s[2 * i]) << 8) |
                                         static_cast<uint8_t>(s[2 * i + 1]));
}

std::string GetAtaString(const std::array<uint16_t, 256>& w, int first, int words) {
  std::string s;
  for (int i = 0; i < words; ++i) {
    s += static_cast<char>(w[first + i] >> 8);
    s += static_cast<char>(w[first + i] & 0xFF);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

uint8_t Checksum(const uint8_t* page) {
  uint8_t sum = 0;
  for (int i = 0; i < 511; ++i) sum = static_cast<uint8_t>(sum + page[i]);
  return static_cast<uint8_t>(-sum);
}

}  // namespace sata

SataDrive::Answer SataDrive::Identify(const Task& t) {
  Answer a;
  a.regs = t.regs;
  std::array<uint8_t, 512> page = BuildIdentify();
  a.in.assign(page.begin(), page.end());
  return a;
}

std::array<uint8_t, 512> SataDrive::BuildIdentify() {
  std::array<uint16_t, 256> w = identify_;
  PutAtaString(w, kFirmwareWord, kFirmwareWords, currentFirmware_);
  w[82] = static_cast<uint16_t>((w[82] & ~0x0002) | (secSupported_ ? 0x0002 : 0));
  w[85] = static_cast<uint16_t>((w[85] & ~0x0003) | (smartEnabled_ ? 0x0001 : 0) |
                                (secEnabled_ ? 0x0002 : 0));
  if (secSupported_) {
    uint16_t bits = 0x0001;
    if (secEnabled_) bits |= 0x0002;
    if (secLocked_) bits |= 0x0004;
    if (secFrozen_) bits |= 0x0008;
    if (secExpired_) bits |= 0x0010;
    if (secEnhanced_) bits |= 0x0020;
    if (secMasterMax_) bits |= 0x0100;
    w[128] = static_cast<uint16_t>((w[128] & ~0x013F) | bits);
  } else {
    w[128] = 0;
  }
  std::array<uint8_t, 512> page{};
  for (int i = 0; i < 256; ++i) PutLE16(&page[2 * i], w[i]);
  if (identifyChecksum_) {
    page[510] = 0xA5;
    page[511] = Checksum(page.data());
  }
  return page;
}

std::array<uint8_t, 512> SataDrive::BuildSmartData() {
  uint8_t status = SelfTestStatusNow();
  std::array<uint8_t, 512> page{};
  if (smartPage_) {
    page = *smartPage_;
    if (!testTouched_) return page;
    page[363] = status;
    page[511] = Checksum(page.data());
    return page;
  }
  PutLE16(&page[0], smartRevision_);
  for (size_t i = 0; i < attributes_.size(); ++i)
    std::copy(attributes_[i].entry.begin(), attributes_[i].entry.end(), page.begin() + 2 + 12 * i);
  page[362] = 0x00;  // off-line data collection: never started
  page[363] = status;
  PutLE16(&page[364], 0);
  page[367] = 0x5B;  // off-line immediate, auto off-line, read scan, self-tests, selective
  PutLE16(&page[368], 0x0003);
  page[370] = 0x01;  // error logging
  auto minutes = [](uint32_t ms) { return (ms + 59999) / 60000; };
  page[372] = static_cast<uint8_t>(std::min<uint32_t>(minutes(shortTestMs_), 0xFF));
  uint32_t ext = minutes(extendedTestMs_);
  if (ext >= 0xFF) {
    page[373] = 0xFF;
    PutLE16(&page[375], static_cast<uint16_t>(std::min<uint32_t>(ext, 0xFFFF)));
  } else {
    page[373] = static_cast<uint8_t>(ext);
  }
  // A temperature that changes with virtual time goes into the temperature
  // attributes' first raw byte.
  if (std::optional<int32_t> celsius = TemperatureNow())
    for (size_t i = 0; i < attributes_.size(); ++i)
      if (page[2 + 12 * i] == 190 || page[2 + 12 * i] == 194)
        page[2 + 12 * i + 5] = static_cast<uint8_t>(*celsius);
  for (const auto& [offset, bytes] : smartBytes_)
    std::copy(bytes.begin(), bytes.end(), page.begin() + offset);
  page[511] = Checksum(page.data());
  return page;
}

std::array<uint8_t, 512> SataDrive::BuildThresholds() const {
  if (thresholdPage_) return *thresholdPage_;
  std::array<uint8_t, 512> page{};
  PutLE16(&page[0], smartRevision_);
  for (size_t i = 0; i < attributes_.size(); ++i) {
    page[2 + 12 * i] = attributes_[i].entry[0];
    page[3 + 12 * i] = attributes_[i].entry[0] ? attributes_[i].threshold : 0;
  }
  page[511] = Checksum(page.data());
  return page;
}

SataDrive::Answer SataDrive::Smart(const Task& t) {
  const AtaTaskFile& r = t.regs;
  Answer a;
  a.regs = r;
  // Every SMART command carries the signature; without it the drive refuses.
  if (r.LbaMid != 0x4F || r.LbaHigh != 0xC2) {
    a.aborted = true;
    return a;
  }
  if (!smartEnabled_ && r.Features != kSmartEnable) {
    a.aborted = true;
    return a;
  }
  switch (r.Features) {
    case kSmartReadData: {
      auto page = BuildSmartData();
      a.in.assign(page.begin(), page.end());
      return a;
    }
    case kSmartReadThresholds: {
      auto page = BuildThresholds();
      a.in.assign(page.begin(), page.end());
      return a;
    }
    case kSmartReadLog:
      return SmartReadLog(t);
    case kSmartWriteLog:
      return SmartWriteLog(t);
    case kSmartExecuteOffline:
      return ExecuteOffline(t);
    case kSmartEnable:
      smartEnabled_ = true;
      return a;
    case kSmartDisable:
      smartEnabled_ = false;
      return a;
    case kSmartAutosave:
    case kSmartAutoOffline:
      return a;
    case kSmartReturnStatus: {
      bool exceeded = false;
      for (const Attribute& attr : attributes_) {
        bool preFail = attr.entry[1] & 0x01;
        if (attr.entry[0] && preFail && attr.threshold && attr.entry[3] <= attr.threshold)
          exceeded = true;
      }
      a.regs.LbaMid = exceeded ? 0xF4 : 0x4F;
      a.regs.LbaHigh = exceeded ? 0x2C : 0xC2;
      return a;
    }
    default:
      a.aborted = true;
      return a;
  }
}

std::vector<uint8_t> SataDrive::LogDirectory() const {
  std::vector<uint8_t> dir(512, 0);
  PutLE16(&dir[0], 0x0001);
  for (uint32_t a = 0x80; a <= 0x9F; ++a) dir[2 * a] = kHostLogSectors;
  for (const auto& [address, bytes] : logs_)
    if (address != 0) PutLE16(&dir[2 * address], static_cast<uint16_t>(bytes.size() / 512));
  if (sct_) {
    PutLE16(&dir[2 * kSctLogStatus], 1);
    PutLE16(&dir[2 * kSctLogData], 1);
  }
  return dir;
}

std::vector<uint8_t> SataDrive::SctStatus() {
  std::vector<uint8_t> page(512, 0);
  PutLE16(&page[0], 0x0003);  // format version
  PutLE16(&page[2], 0x0001);  // SCT version
  PutLE16(&page[4], 0x0001);  // revision of the SCT command set
  if (sctBusyLeft_ > 0) {
    page[10] = 5;  // an SCT command is being processed
    PutLE16(&page[14], 0xFFFF);
    --sctBusyLeft_;
  } else {
    page[10] = 0;  // waiting for a command
  }
  PutLE16(&page[16], sctAction_);
  PutLE16(&page[18], sctFunction_);
  for (const Attribute& attr : attributes_)
    if (attr.entry[0] == 194) page[200] = attr.entry[5];
  return page;
}

SataDrive::Answer SataDrive::SmartReadLog(const Task& t) {
  Answer a;
  a.regs = t.regs;
  uint8_t address = t.regs.LbaLow;
  uint32_t count = t.regs.SectorCount;
  std::vector<uint8_t> log;
  if (sct_ && address == kSctLogStatus) {
    log = SctStatus();
  } else if (sct_ && address == kSctLogData) {
    if (!sctConfigReady_ || sctBusyLeft_ > 0 || !configId_) {
      a.aborted = true;
      return a;
    }
    log.assign(512, 0);
    std::copy(configId_->begin(), configId_->end(), log.begin() + 16);
  } else if (address == 0 && !directoryGiven_) {
    log = LogDirectory();
  } else if (logs_.count(address)) {
    log = logs_[address];
  } else if (address >= 0x80 && address <= 0x9F) {
    log.assign(kHostLogSectors * 512, 0);
  } else {
    a.aborted = true;  // no such log
    return a;
  }
  if (count * 512 > log.size()) {
    a.aborted = true;
    return a;
  }
  a.in.assign(log.begin(), log.begin() + count * 512);
  return a;
}

SataDrive::Answer SataDrive::SmartWriteLog(const Task& t) {
  Answer a;
  a.regs = t.regs;
  uint8_t address = t.regs.LbaLow;
  uint32_t count = t.regs.SectorCount;
  if (sct_ && address == kSctLogStatus) {
    // An SCT command: action and function code lead the key page.
    uint16_t action = GetLE16(&t.out[0]);
    uint16_t function = GetLE16(&t.out[2]);
    if (count != 1 || action != kSctConfigIdAction || !configId_) {
      a.aborted = true;
      return a;
    }
    sctAction_ = action;
    sctFunction_ = function;
    sctBusyLeft_ = sctBusyReads_;
    sctConfigReady_ = true;
    return a;
  }
  if (address < 0x80 || address > 0x9F || count > kHostLogSectors) {
    a.aborted = true;  // only the host's own logs are writable
    return a;
  }
  std::vector<uint8_t>& log = logs_[address];
  if (log.size() < kHostLogSectors * 512) log.resize(kHostLogSectors * 512, 0);
  std::copy(t.out.begin(), t.out.end(), log.begin());
  return a;
}

}  // namespace zel::sim
