// The simulated SATA drive: loading its entry of the machine file (the
// IDENTIFY page and words, SMART attributes and pages, security state, logs,
// SCT, self-test, microcode rule, vendor areas and request forms). Each
// mistake names its field.
#include "platform/sim/sata_drive.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::sim::sata;

namespace {

std::array<uint8_t, 32> Password(const std::string& text) {
  std::array<uint8_t, 32> p{};
  std::memcpy(p.data(), text.data(), std::min<size_t>(text.size(), p.size()));
  return p;
}

// Times given in seconds are kept in 32-bit milliseconds.
constexpr int64_t kMaxSeconds = 0xFFFFFFFF / 1000;

uint64_t Fnv1a(const std::string& text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
  return h;
}

}  // namespace

void SataDrive::LoadIdentify(const Json& entry, const std::string& where) {
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
  if (entry.contains("identify")) {
    const Json& id = entry["identify"];
    std::string at = where + ".identify";
    CheckKeys(id, {"page", "words", "comment"}, at);
    if (id.contains("page")) {
      std::vector<uint8_t> page = ToBytes(id["page"], at + ".page");
      if (page.size() != 512) throw FixtureError(at + ".page: expected 512 bytes");
      for (int i = 0; i < 256; ++i) w[i] = GetLE16(&page[2 * i]);
      // The identity fields of the drive object, when given, win over the page.
      if (entry.contains("serial")) PutAtaString(w, kSerialWord, kSerialWords, serial_);
      if (entry.contains("firmware")) PutAtaString(w, kFirmwareWord, kFirmwareWords, firmware_);
      if (entry.contains("model")) PutAtaString(w, kModelWord, kModelWords, model_);
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
  if (entry.contains("wwn")) {
    uint64_t v = ToNumber(entry["wwn"], where + ".wwn");
    for (int i = 0; i < 4; ++i) w[108 + i] = static_cast<uint16_t>(v >> (48 - 16 * i));
  }
  identifyChecksum_ = !checksumGiven && (w[255] & 0xFF) == 0xA5;
  currentFirmware_ = GetAtaString(w, kFirmwareWord, kFirmwareWords);
  smartEnabled_ = (w[85] & 1) != 0;
}

void SataDrive::LoadSmart(const Json& entry, const std::string& where) {
  Json smart = entry.value("smart", Json::object());
  std::string at = where + ".smart";
  CheckKeys(smart, {"enabled", "revision", "attributes", "bytes", "page", "thresholdPage",
                    "comment"},
            at);
  smartEnabled_ = BoolOr(smart, "enabled", smartEnabled_, at);
  smartRevision_ = U16Or(smart, "revision", 0x0010, at);
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
      // Checked on its own first, so a huge or negative offset cannot wrap
      // around in the sum below.
      uint64_t offset = static_cast<uint64_t>(IntegerOr(b, "offset", 512, 0, 511, bat));
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

void SataDrive::LoadSecurity(const Json& entry, const std::string& where) {
  uint16_t w128 = identify_[128];
  secSupported_ = w128 & 0x0001;
  secEnabled_ = w128 & 0x0002;
  secLocked_ = w128 & 0x0004;
  secFrozen_ = w128 & 0x0008;
  secExpired_ = w128 & 0x0010;
  secEnhanced_ = w128 & 0x0020;
  secMasterMax_ = w128 & 0x0100;
  if (!entry.contains("security")) return;
  const Json& s = entry["security"];
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
    eraseMs_ = static_cast<uint32_t>(IntegerOr(s, "eraseSeconds", 0, 0, kMaxSeconds, at) * 1000);
  if (s.contains("enhancedEraseSeconds"))
    enhancedEraseMs_ =
        static_cast<uint32_t>(IntegerOr(s, "enhancedEraseSeconds", 0, 0, kMaxSeconds, at) * 1000);
}

void SataDrive::LoadRest(const Json& entry, const std::string& where) {
  if (entry.contains("logs")) {
    const Json& logs = entry["logs"];
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

  if (entry.contains("sct")) {
    const Json& s = entry["sct"];
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
    sctBusyReads_ = U32Or(s, "busyReads", 1, at);
    identify_[206] |= 0x0001;  // SCT command transport
  }

  if (entry.contains("selfTest")) {
    const Json& t = entry["selfTest"];
    std::string at = where + ".selfTest";
    CheckKeys(t, {"shortSeconds", "extendedSeconds", "result", "endsAfterSeconds", "status",
                  "comment"},
              at);
    shortTestMs_ =
        static_cast<uint32_t>(IntegerOr(t, "shortSeconds", 120, 0, kMaxSeconds, at) * 1000);
    extendedTestMs_ =
        static_cast<uint32_t>(IntegerOr(t, "extendedSeconds", 600, 0, kMaxSeconds, at) * 1000);
    if (shortTestMs_ == 0 || extendedTestMs_ == 0)
      throw FixtureError(at + ": a self-test takes at least one second");
    uint64_t result = NumberOr(t, "result", 0, at);
    uint64_t status = NumberOr(t, "status", 0, at);
    if (result > 0xFF || status > 0xFF) throw FixtureError(at + ": status bytes are bytes");
    testResult_ = static_cast<uint8_t>(result);
    testStatus_ = static_cast<uint8_t>(status);
    if (t.contains("endsAfterSeconds"))
      testEndsAfterMs_ =
          static_cast<uint32_t>(IntegerOr(t, "endsAfterSeconds", 0, 0, kMaxSeconds, at) * 1000);
  }

  if (entry.contains("microcode")) {
    const Json& m = entry["microcode"];
    std::string at = where + ".microcode";
    CheckKeys(m, {"firmware", "size", "contains", "abortAtOffset", "comment"}, at);
    MicrocodeRule rule;
    rule.firmware = TextOr(m, "firmware", "", at);
    if (rule.firmware.empty()) throw FixtureError(at + ".firmware: required");
    rule.size = std::max<uint64_t>(1, NumberOr(m, "size", 1, at));
    rule.contains = TextOr(m, "contains", "", at);
    if (m.contains("abortAtOffset"))
      rule.abortAtOffset = U32Or(m, "abortAtOffset", 0, at);
    microcode_ = rule;
  }

  if (entry.contains("vendor")) {
    const Json& v = entry["vendor"];
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
        // A key such as "-1" reads as a huge number; the bound is checked
        // without adding to it, so it cannot wrap.
        uint64_t offset = ToNumber(Json(it.key()), wat);
        if (offset > kVendorDataSize - 4) throw FixtureError(wat + ": outside the 8192 bytes");
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

  if (entry.contains("forms")) {
    const Json& f = entry["forms"];
    std::string at = where + ".forms";
    CheckKeys(f, {kFormAtaPassThrough, kFormIdePassThrough, kFormAtaDirect, kFormSmartRcv,
                  "comment"},
              at);
    for (const char* form : {kFormAtaPassThrough, kFormIdePassThrough, kFormAtaDirect,
                             kFormSmartRcv})
      forms_[form] = BoolOr(f, form, true, at);
  }
}

}  // namespace zel::sim
