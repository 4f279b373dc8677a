// The update-server client's text helpers: CRC-32, address escaping, the
// parts of a download address, file-name checks, the language tag, the model
// rules and where the server is.
#include <array>
#include <atomic>

#include "maintenance/update_server.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x77073096u && kCrcTable[255] == 0x2D02EF8Du);

constexpr const char* kProductKey = "SOFTWARE\\Quarn\\SSDZelvane";

std::string ReadHostValue() {
  platform::Registry& reg = platform::Current().Reg();
  platform::HKEY key = 0;
  if (reg.RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, kProductKey, 0,
                        platform::KEY_READ | platform::KEY_WOW64_32KEY, &key) != 0)
    return {};
  uint8_t data[512] = {};
  uint32_t size = sizeof data;
  uint32_t type = 0;
  std::string value;
  if (reg.RegQueryValueExW(key, kUpdateServerValue, &type, data, &size) == 0 &&
      (type == platform::REG_SZ || type == platform::REG_EXPAND_SZ)) {
    value = Utf16LeBytesToUtf8(data, size);
    size_t nul = value.find('\0');
    if (nul != std::string::npos) value.resize(nul);
  }
  reg.RegCloseKey(key);
  return TrimBlanks(value);
}

std::atomic<uint32_t> g_idleTimeoutMs{kIdleTimeoutMs};

}  // namespace

uint32_t IdleTimeoutMs() { return g_idleTimeoutMs.load(); }
void SetIdleTimeoutMs(uint32_t milliseconds) { g_idleTimeoutMs.store(milliseconds); }

uint32_t Crc32(const uint8_t* bytes, size_t length) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) c = kCrcTable[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string EscapeUrl(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case ' ': out += "%20"; break;
      case '<': out += "%3C"; break;
      case '>': out += "%3E"; break;
      case '#': out += "%23"; break;
      case '{': out += "%7B"; break;
      case '}': out += "%7D"; break;
      case '|': out += "%7C"; break;
      case '[': out += "%5B"; break;
      case ']': out += "%5D"; break;
      default: out += c;
    }
  }
  return out;
}

bool IsSafeDownloadFileName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > kMaxFileNameBytes) return false;
  // ":" too: on the platform's paths it would name a drive or a stream.
  return name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

DownloadAddress SplitDownloadAddress(const std::string& address) {
  DownloadAddress parts;
  size_t start = address.find("//");
  start = start == std::string::npos ? 0 : start + 2;
  size_t slash = address.find('/', start);
  if (slash == std::string::npos) {
    parts.host = address.substr(start);
    return parts;
  }
  parts.host = address.substr(start, slash - start);
  parts.path = address.substr(slash);
  std::string name = address.substr(address.rfind('/') + 1);
  size_t comma = name.find(',');
  if (comma != std::string::npos) name.resize(comma);
  parts.fileName = name;
  return parts;
}

std::string LanguageTag(uint16_t language) {
  if (language == 1028) return "zh-TW";
  if (language == 2052) return "zh-CN";
  return "en-US";
}

std::string ModelNumberOf(const std::string& modelName, size_t maxChars) {
  if (modelName.size() <= 6) return {};
  return TruncateUtf16(modelName.substr(6), maxChars);
}

std::string ControllerSolutionOf(const std::string& modelNumber) {
  return Contains(modelNumber, "KD765KK") ? "MRV9189" : "SF-2000";
}

std::string UpdateServerHost() {
  if (auto env = platform::Sys().GetEnvironmentVariable(kUpdateServerEnvironment)) {
    std::string host = TrimBlanks(*env);
    if (!host.empty()) return host;
  }
  std::string stored = ReadHostValue();
  return stored.empty() ? kDefaultUpdateServerHost : stored;
}

std::string DownloadPath(const std::string& folder, const std::string& fileName) {
  if (folder.empty()) return fileName;
  if (folder.back() == '/' || folder.back() == '\\') return folder + fileName;
  return folder + "/" + fileName;
}

}  // namespace zel
