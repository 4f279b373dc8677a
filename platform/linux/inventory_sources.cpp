#include "platform/linux/inventory_sources.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "platform/bytes.h"
#include "platform/text.h"

namespace zel::linuxbackend {

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// An os-release value: quoted with "..." (backslash escapes) or '...', or bare.
std::string UnquoteValue(std::string_view v) {
  std::string s = TrimBlanks(v);
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
    std::string out;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
      if (s[i] == '\\' && i + 2 < s.size()) ++i;
      out += s[i];
    }
    return out;
  }
  if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'') return s.substr(1, s.size() - 2);
  return s;
}

// String number `n` (1-based) of an SMBIOS structure whose strings start at `at`.
std::string SmbiosString(std::span<const uint8_t> t, size_t at, uint8_t n) {
  if (n == 0) return std::string();
  uint8_t index = 1;
  while (at < t.size()) {
    size_t end = at;
    while (end < t.size() && t[end] != 0) ++end;
    if (end == at) break;  // the empty string that ends the area
    if (index == n) return TrimBlanks(std::string_view(reinterpret_cast<const char*>(t.data() + at), end - at));
    ++index;
    at = end + 1;
  }
  return std::string();
}

std::string DecodeOctalEscapes(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    auto octal = [&](size_t k) { return s[k] >= '0' && s[k] <= '7'; };
    if (s[i] == '\\' && i + 3 < s.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

// The device number of a mount: its own, or for file systems that report an
// anonymous one (btrfs), the block device named as its source.
bool MountDevice(const HostFiles& files, const MountEntry& m, uint32_t* major, uint32_t* minor) {
  if (m.major != 0) {
    *major = m.major;
    *minor = m.minor;
    return true;
  }
  if (!StartsWith(m.source, "/dev/")) return false;
  struct stat st {};
  if (::stat(files.Path(m.source).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  *major = ::major(st.st_rdev);
  *minor = ::minor(st.st_rdev);
  return true;
}

uint64_t Sectors(const HostFiles& files, const std::string& path) {
  return static_cast<uint64_t>(std::strtoull(files.Attribute(path).c_str(), nullptr, 10)) * 512u;
}

void Leaves(const HostFiles& files, const std::string& blockPath, int depth,
            std::set<std::string>* leaves) {
  std::vector<std::string> slaves = files.List(blockPath + "/slaves");
  if (slaves.empty() || depth > 8) {
    leaves->insert(blockPath);
    return;
  }
  for (const std::string& s : slaves)
    if (std::optional<std::string> real = files.Resolve(blockPath + "/slaves/" + s))
      Leaves(files, *real, depth + 1, leaves);
}

}  // namespace

std::string OsNameFromOsRelease(std::string_view text) {
  std::string pretty, name, version;
  for (std::string_view line : Lines(text)) {
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = TrimBlanks(line.substr(0, eq));
    std::string value = UnquoteValue(line.substr(eq + 1));
    if (key == "PRETTY_NAME") pretty = value;
    if (key == "NAME") name = value;
    if (key == "VERSION") version = value;
  }
  if (!pretty.empty()) return pretty;
  if (!name.empty()) return version.empty() ? name : name + " " + version;
  return "Linux";
}

CpuInfo ParseCpuInfo(std::string_view text) {
  CpuInfo info;
  std::set<std::string> packages;
  std::string fallbackModel;
  for (std::string_view line : Lines(text)) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string key = TrimBlanks(line.substr(0, colon));
    std::string value = TrimBlanks(line.substr(colon + 1));
    if (key == "processor") {
      // "Processor" on old ARM kernels is the model; "processor" is the index.
      if (line.substr(0, 1) == "p") ++info.logicalProcessors;
    }
    if (key == "model name" && info.modelName.empty()) info.modelName = value;
    if ((key == "Processor" || key == "cpu model" || key == "Hardware" || key == "cpu") &&
        fallbackModel.empty() && !value.empty())
      fallbackModel = value;
    if (key == "vendor_id" && info.vendor.empty()) info.vendor = value;
    if (key == "physical id") packages.insert(value);
    if (key == "cpu MHz" && info.mhz == 0) info.mhz = static_cast<uint32_t>(std::strtod(value.c_str(), nullptr) + 0.5);
  }
  if (info.modelName.empty()) info.modelName = fallbackModel;
  info.packages = packages.empty() ? 1u : static_cast<uint32_t>(packages.size());
  return info;
}

int32_t AddressWidthOfMachine(std::string_view machine) {
  static const char* const k64[] = {"x86_64", "aarch64", "arm64", "ppc64", "ppc64le", "s390x",
                                   "riscv64", "mips64", "loongarch64", "sparc64", "ia64", "alpha"};
  for (const char* m : k64)
    if (machine == m) return 64;
  return 32;
}

std::optional<uint64_t> TotalMemoryBytes(std::string_view meminfo) {
  for (std::string_view line : Lines(meminfo)) {
    if (!StartsWith(line, "MemTotal:")) continue;
    std::string value = TrimBlanks(line.substr(9));
    char* end = nullptr;
    unsigned long long kb = std::strtoull(value.c_str(), &end, 10);
    if (end == value.c_str()) return std::nullopt;
    return static_cast<uint64_t>(kb) * 1024u;
  }
  return std::nullopt;
}

std::vector<MemoryModule> ParseSmbiosMemory(std::span<const uint8_t> t) {
  std::vector<MemoryModule> modules;
  size_t at = 0;
  while (at + 4 <= t.size()) {
    uint8_t type = t[at], length = t[at + 1];
    if (length < 4 || at + length > t.size()) break;
    size_t strings = at + length;
    size_t next = strings;
    while (next + 1 < t.size() && !(t[next] == 0 && t[next + 1] == 0)) ++next;
    if (next + 1 >= t.size()) next = t.size();
    else next += 2;
    if (type == 127) break;
    if (type == 17 && length >= 0x15) {
      const uint8_t* s = t.data() + at;
      uint16_t size = GetLE16(s + 0x0C);
      if (size != 0) {
        MemoryModule m;
        if (size == 0x7FFF && length >= 0x20)
          m.capacityBytes = static_cast<uint64_t>(GetLE32(s + 0x1C) & 0x7FFFFFFF) << 20;
        else if (size != 0xFFFF)
          m.capacityBytes = (size & 0x8000) ? static_cast<uint64_t>(size & 0x7FFF) << 10
                                            : static_cast<uint64_t>(size) << 20;
        m.deviceLocator = SmbiosString(t, strings, s[0x10]);
        m.bankLabel = SmbiosString(t, strings, s[0x11]);
        m.memoryType = s[0x12];
        if (length >= 0x17) {
          m.speed = GetLE16(s + 0x15);
          if (m.speed == 0xFFFF && length >= 0x58) m.speed = GetLE32(s + 0x54);
        }
        if (length >= 0x18) m.manufacturer = SmbiosString(t, strings, s[0x17]);
        if (length >= 0x19) m.serialNumber = SmbiosString(t, strings, s[0x18]);
        if (length >= 0x1B) m.partNumber = SmbiosString(t, strings, s[0x1A]);
        modules.push_back(std::move(m));
      }
    }
    at = next;
  }
  return modules;
}

DmiInfo ReadDmi(const HostFiles& files) {
  DmiInfo d;
  const std::string base = "/sys/class/dmi/id/";
  d.boardVendor = TrimBlanks(files.Attribute(base + "board_vendor"));
  d.boardName = TrimBlanks(files.Attribute(base + "board_name"));
  d.biosVersion = TrimBlanks(files.Attribute(base + "bios_version"));
  d.biosVendor = TrimBlanks(files.Attribute(base + "bios_vendor"));
  d.systemVendor = TrimBlanks(files.Attribute(base + "sys_vendor"));
  d.productName = TrimBlanks(files.Attribute(base + "product_name"));
  return d;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> out;
  for (std::string_view line : Lines(text)) {
    std::vector<std::string_view> f = Fields(line);
    size_t dash = 0;
    for (size_t i = 6; i < f.size(); ++i)
      if (f[i] == "-") {
        dash = i;
        break;
      }
    if (dash == 0 || dash + 1 >= f.size()) continue;
    MountEntry m;
    unsigned major = 0, minor = 0;
    if (std::sscanf(std::string(f[2]).c_str(), "%u:%u", &major, &minor) != 2) continue;
    m.major = major;
    m.minor = minor;
    m.root = DecodeOctalEscapes(f[3]);
    m.mountPoint = DecodeOctalEscapes(f[4]);
    m.fsType = std::string(f[dash + 1]);
    m.source = dash + 2 < f.size() ? DecodeOctalEscapes(f[dash + 2]) : std::string();
    out.push_back(std::move(m));
  }
  return out;
}

std::string FileSystemName(std::string_view fsType) {
  if (fsType == "ntfs" || fsType == "ntfs3") return "NTFS";
  if (fsType == "vfat") return "FAT32";
  if (fsType == "msdos") return "FAT";
  if (fsType == "exfat") return "exFAT";
  if (fsType == "iso9660") return "CDFS";
  if (fsType == "udf") return "UDF";
  return std::string(fsType);
}

bool IsVolumeDevice(const HostFiles& files, uint32_t major, uint32_t minor) {
  std::optional<std::string> real =
      files.Resolve("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  if (!real) return true;
  std::string name = BaseName(*real);
  return !(StartsWith(name, "loop") || StartsWith(name, "ram") || StartsWith(name, "zram"));
}

std::vector<LetteredVolume> AssignDriveLetters(
    const std::vector<MountEntry>& mounts,
    bool (*isVolumeDevice)(const HostFiles&, uint32_t, uint32_t), const HostFiles& files) {
  struct Candidate {
    MountEntry mount;
    uint32_t major, minor;
  };
  std::vector<Candidate> candidates;
  for (const MountEntry& m : mounts) {
    uint32_t major = 0, minor = 0;
    if (!MountDevice(files, m, &major, &minor)) continue;
    if (isVolumeDevice && !isVolumeDevice(files, major, minor)) continue;
    candidates.push_back(Candidate{m, major, minor});
  }
  std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
    bool ar = a.mount.mountPoint == "/", br = b.mount.mountPoint == "/";
    if (ar != br) return ar;
    return a.mount.mountPoint < b.mount.mountPoint;
  });
  std::vector<LetteredVolume> out;
  std::set<std::pair<uint32_t, uint32_t>> seen;
  char letter = 'C';
  for (const Candidate& c : candidates) {
    if (!seen.insert({c.major, c.minor}).second) continue;
    if (letter > 'Z') break;
    LetteredVolume v;
    v.letter = letter++;
    v.mount = c.mount;
    v.mount.major = c.major;
    v.mount.minor = c.minor;
    v.fileSystemName = FileSystemName(c.mount.fsType);
    out.push_back(std::move(v));
  }
  return out;
}

std::optional<VolumePlacement> PlaceBlockDevice(const HostFiles& files, uint32_t major, uint32_t minor) {
  std::optional<std::string> real =
      files.Resolve("/sys/dev/block/" + std::to_string(major) + ":" + std::to_string(minor));
  if (!real) return std::nullopt;
  bool layered = false;
  std::string path = *real;
  const std::string firstPartition = files.Attribute(path + "/partition");
  if (firstPartition.empty() && !files.List(path + "/slaves").empty()) {
    std::set<std::string> leaves;
    Leaves(files, path, 0, &leaves);
    if (leaves.size() != 1) return std::nullopt;
    path = *leaves.begin();
    layered = true;
  }
  VolumePlacement p;
  p.extentKnown = !layered;
  // A partition's folder has a "partition" attribute, never empty.
  std::string partition = layered ? files.Attribute(path + "/partition") : firstPartition;
  if (!partition.empty()) {
    p.partition = static_cast<uint32_t>(std::strtoul(partition.c_str(), nullptr, 10));
    p.startBytes = Sectors(files, path + "/start");
    p.lengthBytes = Sectors(files, path + "/size");
    p.diskName = BaseName(DirName(path));
  } else {
    p.diskName = BaseName(path);
    p.lengthBytes = Sectors(files, path + "/size");
  }
  if (layered) p.lengthBytes = Sectors(files, *real + "/size");
  return p;
}

}  // namespace zel::linuxbackend
