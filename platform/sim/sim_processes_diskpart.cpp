#include "platform/sim/sim_processes_diskpart.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/bytes.h"
#include "platform/errors.h"
#include "platform/format.h"
#include "platform/sim/machine.h"
#include "platform/text.h"

namespace zel::sim {

namespace {

constexpr const char* kCrLf = "\r\n";

// Line feeds that stand alone become CR LF, as diskpart ends its lines.
std::string WithCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// A detail text of the machine file: one text, or a list of lines.
std::string CannedText(const Json& value, const std::string& where) {
  if (value.is_string()) {
    std::string text = WithCrLf(value.get<std::string>());
    if (text.size() < 2 || text.compare(text.size() - 2, 2, kCrLf) != 0) text += kCrLf;
    return text;
  }
  if (value.is_array()) {
    std::string text;
    for (const Json& line : value) {
      if (!line.is_string()) throw FixtureError(where + ": expected a text or a list of texts");
      text += line.get<std::string>() + kCrLf;
    }
    return text;
  }
  throw FixtureError(where + ": expected a text or a list of texts");
}

std::string Trim(const std::string& text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

// The words of a script line, lower-cased.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(ToLowerAscii(line));
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

bool ParseNumber(const std::string& text, int32_t* number) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *number = static_cast<int32_t>(std::stol(text));
  return true;
}

// A size as diskpart shows it: the largest binary unit that still leaves
// at least 10 of it, right-aligned in seven characters.
std::string SizeText(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  uint64_t value = bytes;
  while (unit < 4 && value / 1024 >= 10) {
    value /= 1024;
    ++unit;
  }
  return Format("%4llu %s", static_cast<unsigned long long>(value), kUnits[unit]);
}

std::string BusTypeText(const std::string& bus) {
  if (bus == "nvme") return "NVMe";
  if (bus == "usb") return "USB";
  if (bus == "scsi") return "SAS";
  return "SATA";
}

}  // namespace

SimDiskpart::SimDiskpart(SimMachine& machine) : machine_(machine) {
  const Json& root = machine.Root();
  if (!root.contains("diskpart")) return;
  const Json& section = root["diskpart"];
  const std::string where = "diskpart";
  CheckKeys(section, {"fails", "error", "banner", "disks", "comment"}, where);
  startFails_ = BoolOr(section, "fails", false, where);
  startError_ =
      static_cast<uint32_t>(NumberOr(section, "error", platform::ERROR_FILE_NOT_FOUND, where));
  if (section.contains("banner")) {
    hasBanner_ = true;
    banner_ = section["banner"].is_string() && section["banner"].get<std::string>().empty()
                  ? std::string()
                  : CannedText(section["banner"], where + ".banner");
  }
  if (section.contains("disks")) {
    const Json& disks = section["disks"];
    if (!disks.is_object())
      throw FixtureError(where +
                         ".disks: expected an object of disk numbers, such as {\"0\": \"...\"}");
    for (auto it = disks.begin(); it != disks.end(); ++it) {
      std::string w = where + ".disks." + it.key();
      int32_t number = 0;
      if (!ParseNumber(it.key(), &number))
        throw FixtureError(w + ": expected a disk number as the name");
      canned_[number] = CannedText(it.value(), w);
    }
  }
}

bool SimDiskpart::IsDiskpartCommand(const std::string& commandLine) {
  std::string lower = ToLowerAscii(Trim(commandLine));
  size_t end = lower.find(' ');
  std::string program = lower.substr(0, end);
  size_t slash = program.find_last_of("\\/");
  std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
  return name == "diskpart.exe" || name == "diskpart";
}

bool SimDiskpart::Run(const std::string& commandLine, std::string* output) {
  output->clear();
  if (startFails_) {
    platform::SetLastError(startError_);
    return false;
  }
  // "... /s SCRIPT": the script path is the rest of the line (quotes allowed).
  std::string rest = Trim(commandLine);
  rest = rest.substr(std::min(rest.size(), rest.find(' ')));
  rest = Trim(rest);
  std::string text;
  if (rest.size() < 2 || ToLowerAscii(rest.substr(0, 2)) != "/s") {
    text = "This simulated diskpart only runs scripts: diskpart /s SCRIPT" + std::string(kCrLf);
  } else {
    std::string script = Trim(rest.substr(2));
    if (script.size() >= 2 && script.front() == '"' && script.back() == '"')
      script = script.substr(1, script.size() - 2);
    text = Answer(script);
  }
  // In the code page of the user's locale; a character it lacks is "?", as
  // on a console.
  *output = ToLocaleMultibyteReplacing(text);
  platform::SetLastError(platform::ERROR_SUCCESS);
  return true;
}

std::string SimDiskpart::Answer(const std::string& scriptPath) const {
  std::string out;
  if (hasBanner_) {
    out = banner_;
  } else {
    std::string computer = "ZELVANE-SIM";
    const Json& root = machine_.Root();
    if (root.contains("system") && root["system"].is_object())
      computer = TextOr(root["system"], "computerName", computer, "system");
    out = Format("\r\nMicrosoft DiskPart version 10.0.19041.3636\r\n\r\nCopyright (C) Microsoft "
                 "Corporation.\r\nOn computer: %s\r\n\r\n",
                 computer.c_str());
  }

  // The platform's path, read here with forward slashes.
  std::ifstream in(ReplaceAll(scriptPath, "\\", "/"), std::ios::binary);
  if (!in) {
    out += Format("DiskPart could not open the script file \"%s\".\r\n", scriptPath.c_str());
    return out;
  }
  std::stringstream content;
  content << in.rdbuf();

  bool selected = false;
  int32_t disk = 0;
  std::istringstream lines(content.str());
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> w = Words(line);
    if (w.empty() || w[0] == "rem") continue;
    if (w.size() == 3 && (w[0] == "select" || w[0] == "sel") && w[1] == "disk") {
      int32_t number = 0;
      std::string detail;
      if (ParseNumber(w[2], &number) && DetailText(number, &detail)) {
        selected = true;
        disk = number;
        out += Format("Disk %d is now the selected disk.\r\n\r\n", number);
      } else {
        selected = false;
        out += "The disk you specified is not valid.\r\n\r\n";
      }
    } else if (w.size() == 2 && (w[0] == "detail" || w[0] == "det") && w[1] == "disk") {
      std::string detail;
      if (selected && DetailText(disk, &detail)) {
        out += detail + kCrLf;
      } else {
        out += "There is no disk selected.\r\nPlease select a disk and try again.\r\n\r\n";
      }
    } else {
      // Diskpart leaves a script at its first error.
      out += Format("The command \"%s\" is not available on the simulated machine.\r\n",
                    Trim(line).c_str());
      break;
    }
  }
  return out;
}

bool SimDiskpart::DetailText(int32_t number, std::string* text) const {
  auto it = canned_.find(number);
  if (it != canned_.end()) {
    *text = it->second;
    return true;
  }
  if (!machine_.DriveByIndex(number)) return false;
  *text = GeneratedDetail(number);
  return true;
}

std::string SimDiskpart::GeneratedDetail(int32_t number) const {
  const SimDrive& drive = *machine_.DriveByIndex(number);

  // The disk identifier from its first sectors: the GPT disk GUID behind a
  // protective MBR, else the MBR disk signature.
  std::vector<uint8_t> sectors;
  if (drive.Spec().contains("sectors"))
    sectors = ToBytes(drive.Spec()["sectors"], drive.Where() + ".sectors");
  sectors.resize(std::max<size_t>(sectors.size(), 1024), 0);
  std::string diskId;
  if (sectors[450] == 0xEE) {
    const uint8_t* g = sectors.data() + 512 + 56;
    diskId = Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", GetLE32(g), GetLE16(g + 4),
                    GetLE16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  } else {
    diskId = Format("%08X", GetLE32(sectors.data() + 440));
  }

  std::string systemDrive = "C";
  const Json& root = machine_.Root();
  if (root.contains("environment") && root["environment"].is_object())
    systemDrive = TextOr(root["environment"], "SystemDrive", "C:", "environment").substr(0, 1);

  std::vector<std::string> volumeLines;
  bool boot = false;
  const std::vector<SimVolume>& volumes = machine_.Volumes();
  for (size_t v = 0; v < volumes.size(); ++v) {
    const SimVolume& vol = volumes[v];
    if (vol.disk != number) continue;
    const bool isBoot = EqualsNoCaseAscii(vol.letter, systemDrive);
    boot = boot || isBoot;
    std::string label = TextOr(vol.spec, "label", "", "volume");
    volumeLines.push_back(Format("  Volume %-3d   %-1s   %-11s  %-5s  %-10s  %7s  %-9s  %s",
                                 static_cast<int>(v), vol.letter.c_str(),
                                 TruncateUtf16(label, 11).c_str(), vol.fileSystem.c_str(),
                                 vol.deviceType == platform::FILE_DEVICE_CD_ROM ? "DVD-ROM" : "Partition",
                                 SizeText(vol.sizeBytes).c_str(), "Healthy", isBoot ? "Boot" : ""));
  }

  const char* yesNo[] = {"No", "Yes"};
  std::string out;
  out += drive.Model() + kCrLf;
  out += "Disk ID: " + diskId + kCrLf;
  out += "Type   : " + BusTypeText(drive.Bus()) + kCrLf;
  out += "Status : Online\r\n";
  out += "Path   : 0\r\n";
  out += Format("Target : %d\r\n", static_cast<int>(drive.Index()));
  out += "LUN ID : 0\r\n";
  out += "Current Read-only State : No\r\n";
  out += "Read-only  : No\r\n";
  out += Format("Boot Disk  : %s\r\n", yesNo[boot]);
  out += Format("Pagefile Disk  : %s\r\n", yesNo[boot]);
  out += "Hibernation File Disk  : No\r\n";
  out += Format("Crashdump Disk  : %s\r\n", yesNo[boot]);
  out += "Clustered Disk  : No\r\n";
  out += kCrLf;
  if (volumeLines.empty()) {
    out += "There are no volumes.\r\n";
  } else {
    out += "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info\r\n";
    out += "  ----------  ---  -----------  -----  ----------  -------  ---------  --------\r\n";
    for (const std::string& l : volumeLines) {
      // No blanks after the last column.
      out += l.substr(0, l.find_last_not_of(' ') + 1) + kCrLf;
    }
  }
  return out;
}

}  // namespace zel::sim
