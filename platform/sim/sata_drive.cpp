#include "platform/sim/sata_drive.h"

#include <algorithm>
#include <cstring>

#include "device/vendor_codes.h"
#include "platform/bytes.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"

namespace zel::sim {

using namespace zel::platform;
using wire::AtaTaskFile;

namespace {

// ATA command codes the drive knows.
constexpr uint8_t kDataSetManagement = 0x06;
constexpr uint8_t kVendorReply = vendor::kVendorReplyCommand;      // 0x86
constexpr uint8_t kVendorRequest = vendor::kVendorRequestCommand;  // 0x88
constexpr uint8_t kDownloadMicrocode = 0x92;
constexpr uint8_t kSmart = 0xB0;
constexpr uint8_t kStandbyImmediate = 0xE0;
constexpr uint8_t kCheckPowerMode = 0xE5;
constexpr uint8_t kFlushCache = 0xE7;
constexpr uint8_t kFlushCacheExt = 0xEA;
constexpr uint8_t kIdentify = 0xEC;
constexpr uint8_t kSetFeatures = 0xEF;
constexpr uint8_t kSecuritySetPassword = 0xF1;
constexpr uint8_t kSecurityUnlock = 0xF2;
constexpr uint8_t kSecurityErasePrepare = 0xF3;
constexpr uint8_t kSecurityEraseUnit = 0xF4;
constexpr uint8_t kSecurityFreezeLock = 0xF5;
constexpr uint8_t kSecurityDisablePassword = 0xF6;
constexpr uint8_t kVendorUid = vendor::kVendorUidCommand;  // 0xFA

// SMART sub-operations (features register).
constexpr uint8_t kSmartReadData = 0xD0;
constexpr uint8_t kSmartReadThresholds = 0xD1;
constexpr uint8_t kSmartAutosave = 0xD2;
constexpr uint8_t kSmartExecuteOffline = 0xD4;
constexpr uint8_t kSmartReadLog = 0xD5;
constexpr uint8_t kSmartWriteLog = 0xD6;
constexpr uint8_t kSmartEnable = 0xD8;
constexpr uint8_t kSmartDisable = 0xD9;
constexpr uint8_t kSmartReturnStatus = 0xDA;
constexpr uint8_t kSmartAutoOffline = 0xDB;

constexpr uint8_t kStatusOk = wire::kAtaStatusDrdy | 0x10;  // 0x50: ready, seek complete
constexpr uint8_t kStatusAborted = kStatusOk | wire::kAtaStatusError;  // 0x51

constexpr uint8_t kSctLogStatus = 0xE0;
constexpr uint8_t kSctLogData = 0xE1;
constexpr uint16_t kSctConfigIdAction = 0xC000;
constexpr uint32_t kHostLogSectors = 16;

constexpr uint32_t kVendorDataSize = 8192;

// The sequence of words the ATA strings of IDENTIFY occupy.
constexpr int kSerialWord = 10, kSerialWords = 10;
constexpr int kFirmwareWord = 23, kFirmwareWords = 4;
constexpr int kModelWord = 27, kModelWords = 20;

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

std::array<uint8_t, 32> Password(const std::string& text) {
  std::array<uint8_t, 32> p{};
  std::memcpy(p.data(), text.data(), std::min<size_t>(text.size(), p.size()));
  return p;
}

uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

// What a command transfers, as the drive expects it.
struct Protocol {
  bool known = false;
  int dir = 0;  // 0 none, 1 in, 2 out
  uint32_t length = 0;
};

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
      if (r.Features == vendor::kEnableFeatures && r.SectorCount == vendor::kEnableCount)
        return out(512);
      return none();
    case kVendorRequest:
      return out(count * 512);
    case kVendorReply:
      return in(count * 512);
    case kVendorUid:
      if (r.Features == vendor::kUidReadFeatures && r.SectorCount == vendor::kUidReadCount)
        return in(512);
      return none();
    default:
      return Protocol{};
  }
}

// Commands a locked drive still carries out: nothing that touches user data.
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

}  // namespace

// --- Loading -----------------------------------------------------------------

SataDrive::SataDrive(SimMachine& machine, const Json& spec, const std::string& where)
    : SimDrive(machine, spec, where) {
  CheckDriveKeys(spec, where,
                 {"identify", "wwn", "smart", "logs", "sct", "selfTest", "security", "microcode",
                  "vendor", "forms"});
  LoadIdentify(spec, where);
  LoadSmart(spec, where);
  LoadSecurity(spec, where);
  LoadRest(spec, where);
}

void SataDrive::LoadIdentify(const Json& spec, const std::string& where) {
  auto& w = identify_;
  uint64_t sectors = TotalSectors();
  w[0] = 0x0040;  // fixed, non-removable ATA device
  w[1] = 16383;
  w[2] = 0xC837;
  w[3] = 16;
  w[6] = 63;
  PutAtaString(w, kSerialWord, kSerialWords, serial_);
  PutAtaString(w, kFirmwareWord, kFirmwareWords, firmware_);
  PutAtaString(w, kModelWord, kModelWords, model_);
  w[47] = 0x8010;
  w[49] = 0x2F00;  // LBA, DMA, IORDY
  w[50] = 0x4000;
  w[53] = 0x0007;
  w[54] = 16383;
  w[55] = 16;
  w[56] = 63;
  w[57] = 0xFC10;  // 16383 * 16 * 63 sectors
  w[58] = 0x00FB;
  w[59] = 0x0110;
  uint32_t lba28 = static_cast<uint32_t>(std::min<uint64_t>(sectors, 0x0FFFFFFF));
  w[60] = static_cast<uint16_t>(lba28);
  w[61] = static_cast<uint16_t>(lba28 >> 16);
  w[63] = 0x0007;
  w[64] = 0x0003;
  w[65] = w[66] = w[67] = w[68] = 0x0078;
  w[69] = 0x4020;  // deterministic, zeroed data after TRIM
  w[75] = 0x001F;
  w[76] = 0x010E;  // SATA 1.5, 3.0 and 6.0 Gb/s, NCQ
  w[77] = 0x0006;  // negotiated: 6.0 Gb/s
  w[78] = 0x0040;
  w[79] = 0x0040;
  w[80] = 0x07F0;
  w[81] = 0x0110;
  w[82] = 0x746B;  // SMART, security, power management, caches, buffers, NOP
  w[83] = 0x7401;  // microcode, 48-bit, FLUSH CACHE (EXT)
  w[84] = 0x4123;  // SMART error log, self-test, general-purpose logs, WWN
  w[85] = 0x7469;
  w[86] = 0xB401;
  w[87] = 0x4123;
  w[88] = 0x407F;  // UDMA modes 0-6, mode 6 selected
  w[89] = 2;       // SECURITY ERASE UNIT: 4 minutes
  w[90] = 2;
  w[92] = 0xFFFE;
  for (int i = 0; i < 4; ++i) w[100 + i] = static_cast<uint16_t>(sectors >> (16 * i));
  w[106] = 0x4000;
  // World wide name: NAA 5, an organisation identifier, a number from the
  // serial number so that each drive has its own.
  uint64_t oui = 0x0A1B2C;
  uint64_t id = Fnv1a(serial_ + std::to_string(index_)) & 0xFFFFFFFFFull;
  uint64_t wwn = (5ull << 60) | (oui << 36) | id;
  for (int i = 0; i < 4; ++i) w[108 + i] = static_cast<uint16_t>(wwn >> (48 - 16 * i));
  w[119] = 0x4010;  // segmented DOWNLOAD MICROCODE
  w[120] = 0x4010;
  w[128] = 0x0021;  // security supported, enhanced erase supported
  w[169] = 0x0001;  // DATA SET MANAGEMENT TRIM
  w[206] = 0;
  w[217] = 0x0001;  // non-rotating medium
  w[222] = 0x107F;
  w[255] = 0x00A5;

  bool checksumGiven = false;
  if (spec.contains("identify")) {
    const Json& id = spec["identify"];
    std::string at = where + ".identify";
    CheckKeys(id, {"page", "words", "comment"}, at);
    if (id.contains("page")) {
      std::vector<uint8_t> page = ToBytes(id["page"], at + ".page");
      if (page.size() != 512) throw FixtureError(at + ".page: expected 512 bytes");
      for (int i = 0; i < 256; ++i) w[i] = GetLE16(&page[2 * i]);
      // The identity fields of the drive object, when given, win over the page.
      if (spec.contains("serial")) PutAtaString(w, kSerialWord, kSerialWords, serial_);
      if (spec.contains("firmware")) PutAtaString(w, kFirmwareWord, kFirmwareWords, firmware_);
      if (spec.contains("model")) PutAtaString(w, kModelWord, kModelWords, model_);
    }
    if (id.contains("words")) {
      const Json& words = id["words"];
      if (!words.is_object()) throw FixtureError(at + ".words: expected an object of words");
      for (auto it = words.begin(); it != words.end(); ++it) {
        std::string wat = at + ".words." + it.key();
        uint64_t n = ToNumber(Json(it.key()), wat);
        if (n > 255) throw FixtureError(wat + ": word numbers run from 0 to 255");
        uint64_t v = ToNumber(*it, wat);
        if (v > 0xFFFF) throw FixtureError(wat + ": not a 16-bit value");
        w[n] = static_cast<uint16_t>(v);
        if (n == 255) checksumGiven = true;
      }
    }
  }
  if (spec.contains("wwn")) {
    uint64_t v = ToNumber(spec["wwn"], where + ".wwn");
    for (int i = 0; i < 4; ++i) w[108 + i] = static_cast<uint16_t>(v >> (48 - 16 * i));
  }
  identifyChecksum_ = !checksumGiven && (w[255] & 0xFF) == 0xA5;
  currentFirmware_ = GetAtaString(w, kFirmwareWord, kFirmwareWords);
  smartEnabled_ = (w[85] & 1) != 0;
}

void SataDrive::LoadSmart(const Json& spec, const std::string& where) {
  Json smart = spec.value("smart", Json::object());
  std::string at = where + ".smart";
  CheckKeys(smart, {"enabled", "revision", "attributes", "bytes", "page", "thresholdPage",
                    "comment"},
            at);
  smartEnabled_ = BoolOr(smart, "enabled", smartEnabled_, at);
  smartRevision_ = static_cast<uint16_t>(NumberOr(smart, "revision", 0x0010, at));
  auto page = [&](const char* key) -> std::optional<std::array<uint8_t, 512>> {
    if (!smart.contains(key)) return std::nullopt;
    std::vector<uint8_t> b = ToBytes(smart[key], at + "." + key);
    if (b.size() != 512) throw FixtureError(at + "." + key + ": expected 512 bytes");
    std::array<uint8_t, 512> p{};
    std::copy(b.begin(), b.end(), p.begin());
    return p;
  };
  smartPage_ = page("page");
  thresholdPage_ = page("thresholdPage");

  Json list;
  if (smart.contains("attributes")) {
    list = smart["attributes"];
  } else {
    // A plain SSD's attributes: read errors, reallocations, power-on hours,
    // power cycles, temperature.
    list = Json::parse(R"([
      {"id": 1, "flags": 11, "current": 100, "worst": 100, "raw": 0, "threshold": 50},
      {"id": 5, "flags": 51, "current": 100, "worst": 100, "raw": 0, "threshold": 10},
      {"id": 9, "flags": 50, "current": 100, "worst": 100, "raw": 1234, "threshold": 0},
      {"id": 12, "flags": 50, "current": 100, "worst": 100, "raw": 56, "threshold": 0},
      {"id": 194, "flags": 34, "current": 65, "worst": 50, "raw": 35, "threshold": 0}])");
  }
  if (!list.is_array()) throw FixtureError(at + ".attributes: expected a list");
  if (list.size() > 30) throw FixtureError(at + ".attributes: a page holds at most 30");
  for (size_t i = 0; i < list.size(); ++i) {
    std::string aat = at + ".attributes[" + std::to_string(i) + "]";
    const Json& a = list[i];
    CheckKeys(a, {"id", "flags", "current", "worst", "raw", "threshold", "comment"}, aat);
    Attribute attr;
    auto byte = [&](const char* key, uint64_t fallback) {
      uint64_t v = NumberOr(a, key, fallback, aat);
      if (v > 0xFF) throw FixtureError(aat + "." + key + ": not a byte");
      return static_cast<uint8_t>(v);
    };
    attr.entry[0] = byte("id", 0);
    uint64_t flags = NumberOr(a, "flags", 0x0032, aat);
    if (flags > 0xFFFF) throw FixtureError(aat + ".flags: not a 16-bit value");
    PutLE16(&attr.entry[1], static_cast<uint16_t>(flags));
    attr.entry[3] = byte("current", 100);
    attr.entry[4] = byte("worst", attr.entry[3]);
    if (a.contains("raw")) {
      const Json& raw = a["raw"];
      if (raw.is_array()) {
        std::vector<uint8_t> b = ToBytes(raw, aat + ".raw");
        if (b.size() > 6) throw FixtureError(aat + ".raw: at most six bytes");
        std::copy(b.begin(), b.end(), attr.entry.begin() + 5);
      } else {
        uint64_t v = ToNumber(raw, aat + ".raw");
        if (v >> 48) throw FixtureError(aat + ".raw: more than six bytes");
        for (int k = 0; k < 6; ++k) attr.entry[5 + k] = static_cast<uint8_t>(v >> (8 * k));
      }
    }
    attr.threshold = byte("threshold", 0);
    attributes_.push_back(attr);
  }

  if (smart.contains("bytes")) {
    const Json& bytes = smart["bytes"];
    if (!bytes.is_array()) throw FixtureError(at + ".bytes: expected a list");
    for (size_t i = 0; i < bytes.size(); ++i) {
      std::string bat = at + ".bytes[" + std::to_string(i) + "]";
      const Json& b = bytes[i];
      CheckKeys(b, {"offset", "text", "hex", "comment"}, bat);
      uint64_t offset = NumberOr(b, "offset", 512, bat);
      std::vector<uint8_t> data;
      if (b.contains("text")) {
        std::string t = TextOr(b, "text", "", bat);
        data.assign(t.begin(), t.end());
      } else if (b.contains("hex")) {
        data = ToBytes(b["hex"], bat + ".hex");
      } else {
        throw FixtureError(bat + ": needs \"text\" or \"hex\"");
      }
      if (offset + data.size() > 511)
        throw FixtureError(bat + ": the bytes must lie within bytes 0 to 510 of the page");
      smartBytes_.emplace_back(static_cast<uint32_t>(offset), data);
    }
  }
}

void SataDrive::LoadSecurity(const Json& spec, const std::string& where) {
  uint16_t w128 = identify_[128];
  secSupported_ = w128 & 0x0001;
  secEnabled_ = w128 & 0x0002;
  secLocked_ = w128 & 0x0004;
  secFrozen_ = w128 & 0x0008;
  secExpired_ = w128 & 0x0010;
  secEnhanced_ = w128 & 0x0020;
  secMasterMax_ = w128 & 0x0100;
  if (!spec.contains("security")) return;
  const Json& s = spec["security"];
  std::string at = where + ".security";
  CheckKeys(s, {"supported", "enabled", "locked", "frozen", "enhancedErase", "userPassword",
                "masterPassword", "eraseTime", "enhancedEraseTime", "eraseSeconds",
                "enhancedEraseSeconds", "comment"},
            at);
  secSupported_ = BoolOr(s, "supported", secSupported_, at);
  secFrozen_ = BoolOr(s, "frozen", secFrozen_, at);
  secEnhanced_ = BoolOr(s, "enhancedErase", secEnhanced_, at);
  if (s.contains("userPassword")) {
    userPassword_ = Password(TextOr(s, "userPassword", "", at));
    secEnabled_ = true;
  }
  secEnabled_ = BoolOr(s, "enabled", secEnabled_, at);
  secLocked_ = BoolOr(s, "locked", secLocked_, at);
  if (s.contains("masterPassword")) masterPassword_ = Password(TextOr(s, "masterPassword", "", at));
  if (secLocked_ && !secEnabled_)
    throw FixtureError(at + ".locked: a drive is locked only with a user password set");
  if (s.contains("eraseTime")) {
    uint64_t v = NumberOr(s, "eraseTime", 0, at);
    if (v > 0xFFFF) throw FixtureError(at + ".eraseTime: not a 16-bit value");
    identify_[89] = static_cast<uint16_t>(v);
  }
  if (s.contains("enhancedEraseTime")) {
    uint64_t v = NumberOr(s, "enhancedEraseTime", 0, at);
    if (v > 0xFFFF) throw FixtureError(at + ".enhancedEraseTime: not a 16-bit value");
    identify_[90] = static_cast<uint16_t>(v);
  }
  if (s.contains("eraseSeconds"))
    eraseMs_ = static_cast<uint32_t>(NumberOr(s, "eraseSeconds", 0, at) * 1000);
  if (s.contains("enhancedEraseSeconds"))
    enhancedEraseMs_ = static_cast<uint32_t>(NumberOr(s, "enhancedEraseSeconds", 0, at) * 1000);
}

void SataDrive::LoadRest(const Json& spec, const std::string& where) {
  if (spec.contains("logs")) {
    const Json& logs = spec["logs"];
    std::string at = where + ".logs";
    if (!logs.is_object()) throw FixtureError(at + ": expected an object of logs by address");
    for (auto it = logs.begin(); it != logs.end(); ++it) {
      std::string lat = at + "." + it.key();
      uint64_t address = ToNumber(Json(it.key()), lat);
      if (address > 0xFF) throw FixtureError(lat + ": log addresses run from 0 to 0xFF");
      std::vector<uint8_t> bytes = ToBytes(*it, lat);
      if (bytes.empty()) bytes.resize(512);
      bytes.resize((bytes.size() + 511) / 512 * 512, 0);
      logs_[static_cast<uint8_t>(address)] = bytes;
      if (address == 0) directoryGiven_ = true;
    }
  }

  if (spec.contains("sct")) {
    const Json& s = spec["sct"];
    std::string at = where + ".sct";
    CheckKeys(s, {"configId", "busyReads", "comment"}, at);
    sct_ = true;
    if (s.contains("configId")) {
      std::string text = TextOr(s, "configId", "", at);
      if (text.size() > 8) throw FixtureError(at + ".configId: at most eight characters");
      std::array<uint8_t, 8> id{};
      std::memcpy(id.data(), text.data(), text.size());
      configId_ = id;
    }
    sctBusyReads_ = static_cast<uint32_t>(NumberOr(s, "busyReads", 1, at));
    identify_[206] |= 0x0001;  // SCT command transport
  }

  if (spec.contains("selfTest")) {
    const Json& t = spec["selfTest"];
    std::string at = where + ".selfTest";
    CheckKeys(t, {"shortSeconds", "extendedSeconds", "result", "endsAfterSeconds", "status",
                  "comment"},
              at);
    shortTestMs_ = static_cast<uint32_t>(NumberOr(t, "shortSeconds", 120, at) * 1000);
    extendedTestMs_ = static_cast<uint32_t>(NumberOr(t, "extendedSeconds", 600, at) * 1000);
    if (shortTestMs_ == 0 || extendedTestMs_ == 0)
      throw FixtureError(at + ": a self-test takes at least one second");
    uint64_t result = NumberOr(t, "result", 0, at);
    uint64_t status = NumberOr(t, "status", 0, at);
    if (result > 0xFF || status > 0xFF) throw FixtureError(at + ": status bytes are bytes");
    testResult_ = static_cast<uint8_t>(result);
    testStatus_ = static_cast<uint8_t>(status);
    if (t.contains("endsAfterSeconds"))
      testEndsAfterMs_ = static_cast<uint32_t>(NumberOr(t, "endsAfterSeconds", 0, at) * 1000);
  }

  if (spec.contains("microcode")) {
    const Json& m = spec["microcode"];
    std::string at = where + ".microcode";
    CheckKeys(m, {"firmware", "size", "contains", "abortAtOffset", "comment"}, at);
    MicrocodeRule rule;
    rule.firmware = TextOr(m, "firmware", "", at);
    if (rule.firmware.empty()) throw FixtureError(at + ".firmware: required");
    rule.size = std::max<uint64_t>(1, NumberOr(m, "size", 1, at));
    rule.contains = TextOr(m, "contains", "", at);
    if (m.contains("abortAtOffset"))
      rule.abortAtOffset = static_cast<uint32_t>(NumberOr(m, "abortAtOffset", 0, at));
    microcode_ = rule;
  }

  if (spec.contains("vendor")) {
    const Json& v = spec["vendor"];
    std::string at = where + ".vendor";
    CheckKeys(v, {"data", "words32", "uid", "comment"}, at);
    vendor_ = true;
    vendorData_.assign(kVendorDataSize, 0);
    if (v.contains("data")) {
      std::vector<uint8_t> d = ToBytes(v["data"], at + ".data");
      if (d.size() > kVendorDataSize) throw FixtureError(at + ".data: at most 8192 bytes");
      std::copy(d.begin(), d.end(), vendorData_.begin());
    }
    if (v.contains("words32")) {
      const Json& words = v["words32"];
      if (!words.is_object()) throw FixtureError(at + ".words32: expected an object");
      for (auto it = words.begin(); it != words.end(); ++it) {
        std::string wat = at + ".words32." + it.key();
        uint64_t offset = ToNumber(Json(it.key()), wat);
        if (offset + 4 > kVendorDataSize) throw FixtureError(wat + ": outside the 8192 bytes");
        uint64_t value = ToNumber(*it, wat);
        if (value > 0xFFFFFFFFull) throw FixtureError(wat + ": not a 32-bit value");
        PutLE32(&vendorData_[offset], static_cast<uint32_t>(value));
      }
    }
    if (v.contains("uid")) {
      std::vector<uint8_t> u = ToBytes(v["uid"], at + ".uid");
      if (u.size() > 512) throw FixtureError(at + ".uid: at most 512 bytes");
      std::copy(u.begin(), u.end(), uid_.begin());
    }
  }

  if (spec.contains("forms")) {
    const Json& f = spec["forms"];
    std::string at = where + ".forms";
    CheckKeys(f, {kFormAtaPassThrough, kFormIdePassThrough, kFormAtaDirect, kFormSmartRcv,
                  "comment"},
              at);
    for (const char* form : {kFormAtaPassThrough, kFormIdePassThrough, kFormAtaDirect,
                             kFormSmartRcv})
      forms_[form] = BoolOr(f, form, true, at);
  }
}

// --- Request forms -------------------------------------------------------------

bool SataDrive::FormEnabled(const std::string& form) const {
  auto it = forms_.find(form);
  return it == forms_.end() || it->second;
}

bool SataDrive::Control(Request& request) {
  const char* form = nullptr;
  switch (request.code) {
    case IOCTL_ATA_PASS_THROUGH: form = kFormAtaPassThrough; break;
    case IOCTL_IDE_PASS_THROUGH: form = kFormIdePassThrough; break;
    case IOCTL_ATA_PASS_THROUGH_DIRECT: form = kFormAtaDirect; break;
    case SMART_RCV_DRIVE_DATA: form = kFormSmartRcv; break;
    default: return SimDrive::Control(request);
  }
  // A driver without the form does not know the control code.
  if (!FormEnabled(form)) return FailWith(ERROR_INVALID_FUNCTION);
  switch (request.code) {
    case IOCTL_ATA_PASS_THROUGH: return BufferedPassThrough(request);
    case IOCTL_IDE_PASS_THROUGH: return LegacyPassThrough(request);
    case IOCTL_ATA_PASS_THROUGH_DIRECT: return DirectPassThrough(request);
    default: return SmartReceive(request);
  }
}

bool SataDrive::Run(const std::string& form, Task& task, Answer* answer, Shaping* shaping) {
  std::optional<Fault> fault = TakeFault(form, task.regs.Command, task.regs.Features);
  if (fault && fault->effect == FaultEffect::Fail) return FailWith(fault->error);
  if (fault && fault->effect == FaultEffect::Abort) {
    *answer = AbortedAnswer(task.regs);
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(state_);
    *answer = Execute(task);
  }
  if (fault && fault->effect == FaultEffect::Zeros) std::fill(answer->in.begin(), answer->in.end(), 0);
  if (fault && fault->effect == FaultEffect::Short) {
    shaping->shortReply = true;
    shaping->bytes = fault->bytes;
  }
  return true;
}

// Buffered requests work in one system buffer that starts as a copy of the
// input and is copied back to the output, as the platform does for them.
bool SataDrive::BufferedPassThrough(Request& r) {
  using H = wire::AtaPassThroughEx;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < H::kSize || outSize < H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  H h = H::Decode(sys.data());
  if (h.Length != H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  bool in = h.AtaFlags & 0x02, out = h.AtaFlags & 0x04;
  if (in && out) return FailWith(ERROR_INVALID_PARAMETER);
  Task task;
  task.regs = h.CurrentTaskFile;
  task.length = h.DataTransferLength;
  if (task.length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    uint64_t end = static_cast<uint64_t>(h.DataBufferOffset) + task.length;
    if (h.DataBufferOffset < H::kSize) return FailWith(ERROR_INVALID_PARAMETER);
    if (end > (out ? inSize : outSize)) return FailWith(ERROR_INVALID_PARAMETER);
    task.dir = in ? Dir::In : Dir::Out;
    if (out) task.out.assign(sys.begin() + h.DataBufferOffset, sys.begin() + end);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormAtaPassThrough, task, &a, &shaping)) return false;
  uint32_t transferred = static_cast<uint32_t>(a.in.size());
  if (task.dir == Dir::Out && !a.aborted) transferred = task.length;
  uint32_t reply = H::kSize;
  if (task.dir == Dir::In && !a.in.empty()) {
    std::copy(a.in.begin(), a.in.end(), sys.begin() + h.DataBufferOffset);
    reply = h.DataBufferOffset + static_cast<uint32_t>(a.in.size());
  }
  if (shaping.shortReply) reply = std::min(reply, shaping.bytes);
  h.CurrentTaskFile = a.regs;
  h.DataTransferLength = transferred;
  h.Encode(sys.data());
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool SataDrive::LegacyPassThrough(Request& r) {
  using L = wire::IdePassThrough;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < L::kData || outSize < L::kData) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  Task task;
  task.regs = L::DecodeRegisters(sys.data());
  task.length = L::DecodeDataBufferSize(sys.data());
  if (static_cast<uint64_t>(L::kData) + task.length > inSize) return FailWith(ERROR_INVALID_PARAMETER);
  // The legacy form has no direction flags: the driver knows each command's.
  Protocol p = ProtocolOf(task.regs);
  if (task.length > 0) {
    task.dir = p.dir == 1 ? Dir::In : Dir::Out;
    if (task.dir == Dir::In && L::kData + task.length > outSize)
      return FailWith(ERROR_INVALID_PARAMETER);
    if (task.dir == Dir::Out)
      task.out.assign(sys.begin() + L::kData, sys.begin() + L::kData + task.length);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormIdePassThrough, task, &a, &shaping)) return false;
  uint32_t reply = L::kData;
  if (task.dir == Dir::In && !a.in.empty()) {
    std::copy(a.in.begin(), a.in.end(), sys.begin() + L::kData);
    reply = L::kData + static_cast<uint32_t>(a.in.size());
  }
  if (shaping.shortReply) reply = std::min(reply, shaping.bytes);
  AtaTaskFile back = a.regs;
  back.Reserved = 0;
  L::EncodeHeader(sys.data(), back, task.dir == Dir::In ? static_cast<uint32_t>(a.in.size())
                                                         : (a.aborted ? 0 : task.length));
  uint32_t copy = std::min(reply, outSize);
  std::copy(sys.begin(), sys.begin() + copy, r.out.begin());
  *r.returned = copy;
  return true;
}

bool SataDrive::DirectPassThrough(Request& r) {
  using D = wire::AtaPassThroughDirect;
  const uint32_t inSize = static_cast<uint32_t>(r.in.size());
  const uint32_t outSize = static_cast<uint32_t>(r.out.size());
  if (inSize < D::kSize || outSize < D::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> sys(std::max(inSize, outSize), 0);
  std::copy(r.in.begin(), r.in.end(), sys.begin());
  D h = D::Decode(sys.data());
  if (h.Length != D::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  bool in = h.AtaFlags & 0x02, out = h.AtaFlags & 0x04;
  if (in && out) return FailWith(ERROR_INVALID_PARAMETER);
  Task task;
  task.regs = h.CurrentTaskFile;
  task.length = h.DataTransferLength;
  if (task.length > 0) {
    if (!in && !out) return FailWith(ERROR_INVALID_PARAMETER);
    // The pointer must name the memory handed over, cover the transfer and
    // meet the adapter's alignment.
    if (r.pointed.size() < task.length || h.DataBuffer != wire::Address32(r.pointed.data()))
      return FailWith(ERROR_INVALID_PARAMETER);
    if (h.DataBuffer % wire::kAtaDirectAlignment != 0) return FailWith(ERROR_INVALID_PARAMETER);
    task.dir = in ? Dir::In : Dir::Out;
    if (out) task.out.assign(r.pointed.begin(), r.pointed.begin() + task.length);
  }

  Answer a;
  Shaping shaping;
  if (!Run(kFormAtaDirect, task, &a, &shaping)) return false;
  uint32_t transferred = task.dir == Dir::Out && !a.aborted ? task.length : 0;
  if (task.dir == Dir::In) {
    size_t n = a.in.size();
    if (shaping.shortReply) n = std::min<size_t>(n, shaping.bytes);
    std::copy(a.in.begin(), a.in.begin() + n, r.pointed.begin());
    transferred = static_cast<uint32_t>(n);
  }
  h.CurrentTaskFile = a.regs;
  h.DataTransferLength = transferred;
  h.Encode(sys.data());
  std::copy(sys.begin(), sys.begin() + D::kSize, r.out.begin());
  *r.returned = D::kSize;
  return true;
}

bool SataDrive::SmartReceive(Request& r) {
  using I = wire::SendCmdInParams;
  using O = wire::SendCmdOutParams;
  if (r.in.size() < I::kMinimumSize) return FailWith(ERROR_INVALID_PARAMETER);
  I params = I::Decode(r.in.data());
  Task task;
  task.regs = params.irDriveRegs;
  // The receive request carries only the reads: IDENTIFY and the SMART
  // data, thresholds and log reads. Everything else needs another request.
  uint32_t size = 512;
  if (task.regs.Command == kSmart) {
    uint8_t f = task.regs.Features;
    if (f == kSmartReadLog) {
      size = task.regs.SectorCount * 512u;
    } else if (f != kSmartReadData && f != kSmartReadThresholds) {
      return FailWith(ERROR_INVALID_PARAMETER);
    }
  } else if (task.regs.Command != kIdentify) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  if (r.out.size() < O::kHeaderSize + size) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  task.dir = Dir::In;
  task.length = size;

  Answer a;
  Shaping shaping;
  if (!Run(kFormSmartRcv, task, &a, &shaping)) return false;
  std::vector<uint8_t> reply(O::kHeaderSize, 0);
  O header;
  if (a.aborted) {
    header.bDriverError = O::kSmartIdeError;
    header.bIDEError = a.regs.Error();
  } else {
    header.cBufferSize = static_cast<uint32_t>(a.in.size());
    reply.insert(reply.end(), a.in.begin(), a.in.end());
  }
  header.EncodeHeader(reply.data());
  uint32_t n = static_cast<uint32_t>(reply.size());
  if (shaping.shortReply) n = std::min(n, shaping.bytes);
  std::copy(reply.begin(), reply.begin() + n, r.out.begin());
  *r.returned = n;
  return true;
}

// --- The drive -----------------------------------------------------------------

uint64_t SataDrive::NowMs() const { return machine_.Clock().NowMs(); }

void SataDrive::Advance() {
  if (erasing_ && NowMs() >= eraseEndsMs_) {
    erasing_ = false;
    sectors_.clear();  // the whole medium reads as zeros
    secEnabled_ = false;
    secLocked_ = false;
    userPassword_.fill(0);
    secAttempts_ = 5;
    secExpired_ = false;
  }
}

SataDrive::Answer SataDrive::AbortedAnswer(const AtaTaskFile& regs) {
  Answer a;
  a.regs = regs;
  a.regs.Features = wire::kAtaErrorAbort;
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

uint8_t SataDrive::SelfTestStatusNow() {
  if (testRunning_) {
    uint64_t elapsed = NowMs() - testStartMs_;
    uint64_t endsAt = testDurationMs_;
    if (testEndsAfterMs_ && *testEndsAfterMs_ < endsAt) endsAt = *testEndsAfterMs_;
    if (elapsed >= endsAt) {
      testRunning_ = false;
      testStatus_ = testResult_;
    } else {
      // Tens of percent still to run, from 9 at the start down to 1.
      uint64_t left = testDurationMs_ - elapsed;
      uint64_t tens = (left * 10 + testDurationMs_ - 1) / testDurationMs_;
      tens = std::clamp<uint64_t>(tens, 1, 9);
      return static_cast<uint8_t>(0xF0 | tens);
    }
  }
  return testStatus_;
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

SataDrive::Answer SataDrive::ExecuteOffline(const Task& t) {
  Answer a;
  a.regs = t.regs;
  SelfTestStatusNow();  // settle a test that has already ended
  switch (t.regs.LbaLow) {
    case 0x00:  // off-line data collection: nothing to show
      return a;
    case 0x01:
    case 0x02:
      testRunning_ = true;
      testTouched_ = true;
      testStartMs_ = NowMs();
      testDurationMs_ = t.regs.LbaLow == 0x01 ? shortTestMs_ : extendedTestMs_;
      return a;
    case 0x7F:
      if (testRunning_) {
        testRunning_ = false;
        testStatus_ = 0x10;  // aborted by the host
      }
      return a;
    case 0x81:
    case 0x82:
      // Captive: the test is over when the command completes.
      testRunning_ = false;
      testTouched_ = true;
      testStatus_ = testResult_;
      return a;
    default:
      a.aborted = true;
      return a;
  }
}

SataDrive::Answer SataDrive::Security(const Task& t, bool wasPrepared) {
  Answer a;
  a.regs = t.regs;
  auto refuse = [&] {
    a.aborted = true;
    return a;
  };
  if (!secSupported_) return refuse();
  uint8_t command = t.regs.Command;
  uint16_t control = t.out.size() >= 2 ? GetLE16(&t.out[0]) : 0;
  bool master = control & 0x0001;
  std::array<uint8_t, 32> password{};
  if (t.out.size() >= 34) std::copy(t.out.begin() + 2, t.out.begin() + 34, password.begin());
  // A wrong password costs one of five attempts; then only a power cycle helps.
  auto matches = [&] {
    bool ok = master ? (!secMasterMax_ || command != kSecurityUnlock) && password == masterPassword_
                     : secEnabled_ && password == userPassword_;
    if (!ok && --secAttempts_ <= 0) secExpired_ = true;
    return ok;
  };

  switch (command) {
    case kSecuritySetPassword:
      if (secFrozen_ || secLocked_) return refuse();
      if (master) {
        masterPassword_ = password;
      } else {
        userPassword_ = password;
        secEnabled_ = true;
        secMasterMax_ = control & 0x0100;
      }
      return a;
    case kSecurityUnlock:
      if (secFrozen_ || secExpired_) return refuse();
      if (!matches()) return refuse();
      secLocked_ = false;
      return a;
    case kSecurityErasePrepare:
      if (secFrozen_) return refuse();
      prepared_ = true;
      return a;
    case kSecurityEraseUnit: {
      if (secFrozen_ || secExpired_ || !wasPrepared) return refuse();
      bool enhanced = control & 0x0002;
      if (enhanced && !secEnhanced_) return refuse();
      if (!matches()) return refuse();
      uint16_t units = identify_[enhanced ? 90 : 89];
      uint64_t ms = units == 255 ? 510ull * 60000 : units * 2ull * 60000;
      if (enhanced && enhancedEraseMs_) ms = *enhancedEraseMs_;
      if (!enhanced && eraseMs_) ms = *eraseMs_;
      // The erase goes on in the drive after the command has completed; the
      // user password stays set (word 128 bit 1) until it is over.
      erasing_ = true;
      eraseEndsMs_ = NowMs() + ms;
      standby_ = false;
      Advance();
      return a;
    }
    case kSecurityFreezeLock:
      if (secLocked_) return refuse();
      secFrozen_ = true;
      return a;
    case kSecurityDisablePassword:
      if (secFrozen_ || secLocked_) return refuse();
      if (!matches()) return refuse();
      secEnabled_ = false;
      userPassword_.fill(0);
      return a;
    default:
      return refuse();
  }
}

SataDrive::Answer SataDrive::Microcode(const Task& t) {
  Answer a;
  a.regs = t.regs;
  auto refuse = [&] {
    a.aborted = true;
    return a;
  };
  if (!(identify_[83] & 0x0001)) return refuse();
  uint8_t mode = t.regs.Features;
  uint32_t offset = t.regs.LbaMid | (static_cast<uint32_t>(t.regs.LbaHigh) << 8);
  standby_ = false;
  if (mode == 0x03) {
    if (!(identify_[119] & 0x0010)) return refuse();
    if (offset == 0) {
      image_.clear();
      segments_ = 0;
    }
    // Segments arrive in order; a gap or a repeat is refused.
    if (static_cast<uint64_t>(offset) * 512 != image_.size()) return refuse();
    if (microcode_ && microcode_->abortAtOffset && *microcode_->abortAtOffset == offset)
      return refuse();
  } else if (mode == 0x07) {
    if (offset != 0) return refuse();
    image_.clear();
    segments_ = 0;
  } else {
    return refuse();
  }
  size_t before = image_.size();
  image_.insert(image_.end(), t.out.begin(), t.out.end());
  ++segments_;
  if (microcode_ && image_.size() >= microcode_->size) {
    if (!microcode_->contains.empty()) {
      auto it = std::search(image_.begin(), image_.end(), microcode_->contains.begin(),
                            microcode_->contains.end());
      if (it == image_.end()) {
        // Not an image for this drive: the segment is refused and dropped.
        image_.resize(before);
        --segments_;
        return refuse();
      }
    }
    currentFirmware_ = microcode_->firmware;
  }
  return a;
}

SataDrive::Answer SataDrive::DataSetManagement(const Task& t) {
  Answer a;
  a.regs = t.regs;
  if (!(t.regs.Features & 0x01) || !(identify_[169] & 0x0001)) {
    a.aborted = true;
    return a;
  }
  std::vector<TrimRange> ranges;
  for (size_t e = 0; e + 8 <= t.out.size(); e += 8) {
    uint64_t lba = 0;
    for (int k = 0; k < 6; ++k) lba |= static_cast<uint64_t>(t.out[e + k]) << (8 * k);
    uint32_t length = GetLE16(&t.out[e + 6]);
    if (length == 0) continue;  // an empty entry
    if (lba + length > TotalSectors()) {
      a.aborted = true;  // beyond the end of the medium: nothing is trimmed
      return a;
    }
    ranges.push_back(TrimRange{lba, length});
  }
  standby_ = false;
  for (const TrimRange& range : ranges) {
    trims_.push_back(range);
    uint64_t from = range.lba * 512, to = (range.lba + range.sectors) * 512;
    if (from < sectors_.size())
      std::fill(sectors_.begin() + from, sectors_.begin() + std::min<uint64_t>(to, sectors_.size()),
                0);
  }
  return a;
}

SataDrive::Answer SataDrive::SetFeatures(const Task& t) {
  Answer a;
  a.regs = t.regs;
  uint8_t sub = t.regs.Features;
  if (sub == vendor::kEnableFeatures && t.regs.SectorCount == vendor::kEnableCount) {
    if (!vendor_) {
      a.aborted = true;
      return a;
    }
    vendorEnabled_ = true;
    return a;
  }
  switch (sub) {
    case 0x02: case 0x82:  // write cache
    case 0x03:             // transfer mode
    case 0x10: case 0x90:  // SATA features
    case 0x55: case 0xAA:  // read look-ahead
      return a;
    default:
      a.aborted = true;
      return a;
  }
}

SataDrive::Answer SataDrive::VendorRequest(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  bool ok = vendor_ && vendorEnabled_ && r.SectorCount == 1 &&
            r.LbaLow == vendor::kVendorRequestLbaLow && r.LbaMid == vendor::kVendorLbaMid &&
            r.LbaHigh == vendor::kVendorLbaHigh &&
            std::equal(std::begin(vendor::kVendorRequestTag), std::end(vendor::kVendorRequestTag),
                       t.out.begin()) &&
            GetBE32(&t.out[4]) == vendor::kVendorStatisticsAddress;
  if (!ok) {
    a.aborted = true;
    return a;
  }
  vendorArmed_ = true;
  return a;
}

SataDrive::Answer SataDrive::VendorReply(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  bool ok = vendor_ && vendorEnabled_ && vendorArmed_ && r.LbaLow == vendor::kVendorReplyLbaLow &&
            r.LbaMid == vendor::kVendorLbaMid && r.LbaHigh == vendor::kVendorLbaHigh;
  if (!ok) {
    a.aborted = true;
    return a;
  }
  vendorArmed_ = false;
  ++vendorReplies_;
  a.in.assign(t.length, 0);
  std::copy(vendorData_.begin(),
            vendorData_.begin() + std::min<size_t>(t.length, vendorData_.size()), a.in.begin());
  return a;
}

SataDrive::Answer SataDrive::VendorUid(const Task& t) {
  Answer a;
  a.regs = t.regs;
  const AtaTaskFile& r = t.regs;
  if (!vendor_) {
    a.aborted = true;
    return a;
  }
  if (t.dir == Dir::In) {
    if (!uidOpen_) {
      a.aborted = true;
      return a;
    }
    a.in.assign(uid_.begin(), uid_.end());
    return a;
  }
  if (r.Features == vendor::kUidAccessFeatures && r.SectorCount == vendor::kUidAccessCount &&
      r.LbaLow == vendor::kUidAccessLbaLow && r.LbaMid == vendor::kUidAccessLbaMid &&
      r.LbaHigh == vendor::kUidAccessLbaHigh) {
    uidOpen_ = true;
    return a;
  }
  a.aborted = true;
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

std::shared_ptr<SimDrive> MakeSataDrive(SimMachine& machine, const Json& spec,
                                        const std::string& where) {
  return std::make_shared<SataDrive>(machine, spec, where);
}

}  // namespace zel::sim
