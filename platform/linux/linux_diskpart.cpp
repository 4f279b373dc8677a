#include "platform/linux/linux_diskpart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/diskpart_script.h"
#include "platform/format.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_wmi.h"
#include "platform/text.h"

namespace zel::linuxbackend {

namespace {

constexpr const char* kCrLf = "\r\n";
// A script longer than this is not one the system wrote.
constexpr std::streamsize kMaxScriptBytes = 64 * 1024;

const char* BusText(const LinuxDisk& d) {
  switch (d.bus) {
    case DiskBus::Ata: return "SATA";
    case DiskBus::Nvme: return "NVMe";
    case DiskBus::Usb: return "USB";
    default: return "SCSI";
  }
}

// The partition table as the disk's first two logical blocks show it.
struct TableIdentity {
  std::string diskId;  // "1A2B3C4D", "{GUID}", "00000000", or "unknown"
  std::string style;   // "MBR", "GPT", "none (no partition table)", or why it is unknown
};

TableIdentity ReadTableIdentity(const LinuxMachine& machine, const LinuxDisk& d) {
  const uint32_t block = d.logicalBlockSize >= 512 && d.logicalBlockSize <= 65536 ? d.logicalBlockSize : 512;
  std::vector<uint8_t> sectors(2 * static_cast<size_t>(block), 0);
  int fd = ::open(machine.DevicePath(d.devNode).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    int err = errno;
    return {"unknown", Format("unknown (%s cannot be read: %s)", d.devNode.c_str(), std::strerror(err))};
  }
  size_t got = 0;
  int err = 0;
  while (got < sectors.size()) {
    ssize_t n = ::pread(fd, sectors.data() + got, sectors.size() - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) err = errno;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (err != 0)
    return {"unknown", Format("unknown (%s cannot be read: %s)", d.devNode.c_str(), std::strerror(err))};
  if (got < 512) return {"00000000", "none (no partition table)"};
  const bool gpt = sectors[450] == 0xEE, mbr = sectors[510] == 0x55 && sectors[511] == 0xAA;
  if (gpt || mbr) return {diskpart::DiskIdText(sectors, block), gpt ? "GPT" : "MBR"};
  return {"00000000", "none (no partition table)"};
}

// udev writes "\x20" for a blank (and any other byte it escapes) in link names.
std::string UnescapeUdev(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out += static_cast<char>(std::strtol(name.substr(i + 2, 2).c_str(), nullptr, 16));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The file-system label of a block device from udev's /dev/disk/by-label
// links; empty when udev keeps none.
std::string LabelOf(const HostFiles& files, const std::string& deviceName) {
  for (const std::string& link : files.List("/dev/disk/by-label")) {
    if (files.LinkName("/dev/disk/by-label/" + link) == deviceName) return UnescapeUdev(link);
  }
  return "";
}

// What holds swap: the devices (major, minor) of swap partitions and of the
// file systems that hold swap files, and the names of swap partitions
// ("sda3", as /proc/swaps names them).
struct SwapPlaces {
  std::vector<std::pair<uint32_t, uint32_t>> devices;
  std::vector<std::string> partitionNames;
  bool Holds(const std::string& name, uint32_t major, uint32_t minor) const {
    return std::find(partitionNames.begin(), partitionNames.end(), name) != partitionNames.end() ||
           std::find(devices.begin(), devices.end(), std::make_pair(major, minor)) != devices.end();
  }
};

SwapPlaces ReadSwapPlaces(const LinuxMachine& machine) {
  SwapPlaces out;
  std::istringstream in(machine.Files().Read("/proc/swaps").value_or(std::string()));
  std::string line;
  std::getline(in, line);  // the header
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string name, type;
    if (!(words >> name >> type)) continue;
    if (type == "partition" && StartsWith(name, "/dev/")) out.partitionNames.push_back(BaseName(name));
    struct stat st {};
    if (::stat(machine.DevicePath(name).c_str(), &st) != 0) continue;
    dev_t dev = S_ISBLK(st.st_mode) ? st.st_rdev : st.st_dev;
    out.devices.emplace_back(major(dev), minor(dev));
  }
  return out;
}

struct PartitionRow {
  uint32_t number = 0;
  std::string name;  // "sda1"; the disk's own name for a file system on the whole disk
  uint32_t major = 0, minor = 0;
  uint64_t sizeBytes = 0;
};

// The disks of the machine as a script finds them, each scanned afresh.
class DiskpartTarget final : public diskpart::ScriptTarget {
 public:
  explicit DiskpartTarget(const LinuxMachine& machine) : machine_(machine), scan_(machine.Disks()) {}
  bool HasDisk(int32_t number) const override { return scan_.ByNumber(number) != nullptr; }
  std::string DetailDisk(int32_t number) const override {
    return DiskDetailText(machine_, scan_, *scan_.ByNumber(number));
  }
  std::string NotCarriedOut(const std::string& line) const override {
    return Format("The command \"%s\" is not carried out on Linux.\r\n", line.c_str());
  }

 private:
  const LinuxMachine& machine_;
  DiskScan scan_;
};

bool ParseDev(const std::string& text, uint32_t* major, uint32_t* minor) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  *major = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
  *minor = static_cast<uint32_t>(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
  return true;
}

std::vector<PartitionRow> PartitionsOf(const HostFiles& files, const LinuxDisk& d) {
  std::vector<PartitionRow> out;
  for (const std::string& name : files.List(d.sysPath)) {
    std::string path = d.sysPath + "/" + name;
    if (!files.Exists(path + "/partition")) continue;
    PartitionRow p;
    p.number = static_cast<uint32_t>(std::strtoul(files.Attribute(path + "/partition").c_str(), nullptr, 10));
    p.name = name;
    ParseDev(files.Attribute(path + "/dev"), &p.major, &p.minor);
    p.sizeBytes = std::strtoull(files.Attribute(path + "/size").c_str(), nullptr, 10) * 512;
    out.push_back(std::move(p));
  }
  std::sort(out.begin(), out.end(), [](const PartitionRow& a, const PartitionRow& b) { return a.number < b.number; });
  return out;
}

}  // namespace

std::string DiskDetailText(const LinuxMachine& machine, const DiskScan& scan, const LinuxDisk& d) {
  const HostFiles& files = machine.Files();
  TableIdentity table = ReadTableIdentity(machine, d);
  std::vector<VolumeInfo> volumes = ListVolumes(machine, scan);
  const SwapPlaces swaps = ReadSwapPlaces(machine);

  std::vector<PartitionRow> partitions = PartitionsOf(files, d);
  // A file system on the whole disk, without a partition table, is its one volume.
  PartitionRow whole;
  whole.name = d.name;
  whole.major = d.devMajor;
  whole.minor = d.devMinor;
  whole.sizeBytes = d.sizeBytes;
  bool wholeVolume = false;
  for (const VolumeInfo& v : volumes)
    wholeVolume = wholeVolume || (v.diskNumber == d.number && v.placement && v.placement->partition == 0);
  if (wholeVolume) partitions.insert(partitions.begin(), whole);

  bool boot = false, pagefile = swaps.Holds(d.name, d.devMajor, d.devMinor);
  std::vector<std::string> rows;
  for (const PartitionRow& p : partitions) {
    const VolumeInfo* volume = nullptr;
    for (const VolumeInfo& v : volumes)
      if (v.diskNumber == d.number && v.placement && v.placement->partition == p.number) volume = &v;
    const bool isBoot = volume && volume->mountPoint == "/";
    const bool isSwap = swaps.Holds(p.name, p.major, p.minor) ||
                        (volume && swaps.Holds("", volume->major, volume->minor));
    boot = boot || isBoot;
    pagefile = pagefile || isSwap;
    std::string letter = volume ? std::string(1, volume->letter) : std::string();
    std::string fileSystem = volume ? volume->fileSystem : isSwap ? std::string("swap") : std::string();
    const char* info = isBoot ? "Boot" : isSwap ? "Pagefile" : "";
    rows.push_back(diskpart::VolumeRow(p.number, letter, LabelOf(files, p.name), fileSystem, "Partition",
                                       p.sizeBytes, info));
  }

  int32_t path = d.scsiChannel, target = d.scsiTarget, lun = d.scsiLun;
  if (d.bus == DiskBus::Nvme) {
    path = 0;
    target = 0;
    lun = d.nsid > 0 ? static_cast<int32_t>(d.nsid) - 1 : 0;
  }
  const char* yesNo[] = {"No", "Yes"};
  const bool readOnly = files.Attribute(d.sysPath + "/ro") == "1";
  std::string out;
  out += DiskModelText(files, d) + kCrLf;
  out += "Disk ID: " + table.diskId + kCrLf;
  out += "Partition style : " + table.style + kCrLf;
  out += std::string("Type   : ") + BusText(d) + kCrLf;
  out += "Size   : " + TrimBlanks(diskpart::SizeText(d.sizeBytes)) + kCrLf;
  out += "Status : Online\r\n";
  out += Format("Path   : %d\r\nTarget : %d\r\nLUN ID : %d\r\n", path, target, lun);
  out += "Device : " + d.devNode + kCrLf;
  out += Format("Read-only  : %s\r\n", yesNo[readOnly]);
  out += Format("Boot Disk  : %s\r\n", yesNo[boot]);
  out += Format("Pagefile Disk  : %s\r\n", yesNo[pagefile]);
  out += kCrLf;
  out += diskpart::VolumeTable(rows);
  return out;
}

std::string RunDiskpart(const LinuxMachine& machine, const std::string& commandLine) {
  std::string hostname = machine.Files().Attribute("/proc/sys/kernel/hostname");
  std::string out = "\r\nDisk details from sysfs (Linux has no diskpart)\r\n";
  out += "On computer: " + ToUpperAscii(hostname.empty() ? std::string("localhost") : hostname) + "\r\n\r\n";

  std::optional<std::string> scriptPath = diskpart::ScriptPath(commandLine);
  if (!scriptPath) {
    out += "Only scripts are carried out here: diskpart /s SCRIPT\r\n";
    return out;
  }
  const std::string& script = *scriptPath;

  std::ifstream in(ReplaceAll(script, "\\", "/"), std::ios::binary);
  std::string content(static_cast<size_t>(kMaxScriptBytes) + 1, '\0');
  if (in) {
    in.read(content.data(), kMaxScriptBytes + 1);
    content.resize(static_cast<size_t>(in.gcount()));
  }
  if (!in && !in.eof()) {
    out += Format("DiskPart could not open the script file \"%s\".\r\n", script.c_str());
    return out;
  }
  if (content.size() > static_cast<size_t>(kMaxScriptBytes)) {
    out += Format("The script file \"%s\" is too long.\r\n", script.c_str());
    return out;
  }

  out += diskpart::RunScript(content, DiskpartTarget(machine));
  return out;
}

}  // namespace zel::linuxbackend
