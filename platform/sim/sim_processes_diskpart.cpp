#include "platform/sim/sim_processes_diskpart.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/diskpart_script.h"
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

std::string BusTypeText(const std::string& bus) {
  if (bus == "nvme") return "NVMe";
  if (bus == "usb") return "USB";
  if (bus == "scsi") return "SAS";
  return "SATA";
}

// A script's view of the machine: its disks and their "detail disk" texts.
class ScriptAnswers final : public diskpart::ScriptTarget {
 public:
  explicit ScriptAnswers(const SimDiskpart& diskpart) : diskpart_(diskpart) {}
  bool HasDisk(int32_t number) const override { return diskpart_.HasDisk(number); }
  std::string DetailDisk(int32_t number) const override {
    std::string text;
    diskpart_.DetailText(number, &text);
    return text;
  }
  std::string NotCarriedOut(const std::string& line) const override {
    return Format("The command \"%s\" is not available on the simulated machine.\r\n", line.c_str());
  }

 private:
  const SimDiskpart& diskpart_;
};

}  // namespace

SimDiskpart::SimDiskpart(SimMachine& machine) : machine_(machine) {
  const Json& root = machine.Root();
  if (!root.contains("diskpart")) return;
  const Json& section = root["diskpart"];
  const std::string where = "diskpart";
  CheckKeys(section, {"fails", "error", "banner", "disks", "comment"}, where);
  startFails_ = BoolOr(section, "fails", false, where);
  startError_ = U32Or(section, "error", platform::ERROR_FILE_NOT_FOUND, where);
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
      if (!diskpart::ParseDiskNumber(it.key(), &number))
        throw FixtureError(w + ": expected a disk number as the name");
      canned_[number] = CannedText(it.value(), w);
    }
  }
}

bool SimDiskpart::Run(const std::string& commandLine, std::string* output) {
  output->clear();
  if (startFails_) {
    platform::SetLastError(startError_);
    return false;
  }
  std::optional<std::string> script = diskpart::ScriptPath(commandLine);
  std::string text = script ? Answer(*script)
                            : "This simulated diskpart only runs scripts: diskpart /s SCRIPT" + std::string(kCrLf);
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

  out += diskpart::RunScript(content.str(), ScriptAnswers(*this));
  return out;
}

bool SimDiskpart::HasDisk(int32_t number) const {
  return canned_.count(number) > 0 || machine_.DriveByIndex(number) != nullptr;
}

bool SimDiskpart::DetailText(int32_t number, std::string* text) const {
  if (!HasDisk(number)) return false;
  auto it = canned_.find(number);
  *text = it != canned_.end() ? it->second : GeneratedDetail(number);
  return true;
}

std::string SimDiskpart::GeneratedDetail(int32_t number) const {
  const SimDrive& drive = *machine_.DriveByIndex(number);

  // The disk identifier from its first sectors: the GPT disk GUID behind a
  // protective MBR, else the MBR disk signature.
  std::vector<uint8_t> sectors;
  if (drive.Entry().contains("sectors"))
    sectors = ToBytes(drive.Entry()["sectors"], drive.Where() + ".sectors");
  sectors.resize(std::max<size_t>(sectors.size(), 1024), 0);
  std::string diskId = diskpart::DiskIdText(sectors, 512);

  std::string systemDrive = "C";
  const Json& root = machine_.Root();
  if (root.contains("environment") && root["environment"].is_object())
    systemDrive = TextOr(root["environment"], "SystemDrive", "C:", "environment").substr(0, 1);

  std::vector<std::string> volumeRows;
  bool boot = false;
  const std::vector<SimVolume>& volumes = machine_.Volumes();
  for (size_t v = 0; v < volumes.size(); ++v) {
    const SimVolume& vol = volumes[v];
    if (vol.disk != number) continue;
    const bool isBoot = EqualsNoCaseAscii(vol.letter, systemDrive);
    boot = boot || isBoot;
    std::string label = TextOr(vol.entry, "label", "", "volume");
    volumeRows.push_back(diskpart::VolumeRow(
        static_cast<uint32_t>(v), vol.letter, label, vol.fileSystem,
        vol.deviceType == platform::FILE_DEVICE_CD_ROM ? "DVD-ROM" : "Partition", vol.sizeBytes,
        isBoot ? "Boot" : ""));
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
  out += diskpart::VolumeTable(volumeRows);
  return out;
}

}  // namespace zel::sim
