#include "platform/linux/disks.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "platform/format.h"
#include "platform/linux/pci.h"
#include "platform/text.h"

namespace zel::linuxbackend {

namespace {

constexpr const char* kDiskInterfaceClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// "nvme0n1" -> controller instance 0, namespace 1; false for other names
// (including the hidden per-path devices "nvme0c0n1").
bool ParseNvmeName(std::string_view name, uint32_t* instance, uint32_t* ns) {
  if (!StartsWith(name, "nvme")) return false;
  std::string_view rest = name.substr(4);
  size_t n = rest.find('n');
  if (n == std::string_view::npos) return false;
  std::string_view a = rest.substr(0, n), b = rest.substr(n + 1);
  if (!AllDigits(a) || !AllDigits(b) || a.size() > 6 || b.size() > 9) return false;
  *instance = static_cast<uint32_t>(std::strtoul(std::string(a).c_str(), nullptr, 10));
  *ns = static_cast<uint32_t>(std::strtoul(std::string(b).c_str(), nullptr, 10));
  return true;
}

// "sda" ... "sdz", "sdaa": a SCSI disk name.
bool IsScsiDiskName(std::string_view name) {
  if (!StartsWith(name, "sd") || name.size() < 3) return false;
  for (char c : name.substr(2))
    if (c < 'a' || c > 'z') return false;
  return true;
}

bool HasComponent(std::string_view path, bool (*match)(std::string_view)) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (match(path.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

bool IsAtaPortName(std::string_view s) { return StartsWith(s, "ata") && AllDigits(s.substr(3)); }
bool IsUsbName(std::string_view s) { return StartsWith(s, "usb") && AllDigits(s.substr(3)); }

std::string AtaPortOf(std::string_view path) {
  std::string found;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (IsAtaPortName(part)) found = std::string(part);
    start = end + 1;
  }
  return found;
}

struct Virtual {
  const char* prefix;
  const char* what;
};
constexpr Virtual kVirtual[] = {
    {"loop", "a loop device"},        {"ram", "a RAM disk"},
    {"zram", "a compressed RAM disk"}, {"dm-", "a device-mapper volume"},
    {"md", "a software RAID volume"}, {"nbd", "a network block device"},
    {"drbd", "a replicated block device"}, {"rbd", "a network block device"},
    {"zd", "a ZFS volume"},           {"ublk", "a user-space block device"},
};

uint32_t ParseUnsigned(const std::string& s) {
  return static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 10));
}

// The identity of a USB disk's USB device: its serial number, else its port path.
std::string UsbInstance(const HostFiles& files, const std::string& deviceDir) {
  std::string dir = deviceDir;
  while (dir.size() > 1) {
    if (files.Exists(dir + "/idVendor")) {
      std::string serial = files.Attribute(dir + "/serial");
      return serial.empty() ? BaseName(dir) : serial;
    }
    dir = DirName(dir);
  }
  return std::string();
}

std::string Tag(const std::string& pciAddress) {
  std::string tag;
  for (char c : pciAddress)
    if (c != ':' && c != '.') tag += c;
  return tag.empty() ? std::string("0") : ToUpperAscii(tag);
}

void Name(LinuxDisk& d, const std::string& usbInstance) {
  std::string tag = Tag(d.pciAddress);
  switch (d.bus) {
    case DiskBus::Ata:
      d.pnpDeviceId = "IDE\\DISK" + PnpText(d.model, 40) + "_" + PnpText(d.revision, 8) + "\\1&" +
                      tag + "&0&" +
                      Format("%d.%d.%d", d.ataPort >= 0 ? d.ataPort : d.scsiChannel, d.scsiTarget,
                             d.scsiLun);
      break;
    case DiskBus::Nvme:
      d.pnpDeviceId = "SCSI\\DISK&VEN_NVME&PROD_" + PnpText(d.model, 40) + "\\5&" + tag + "&0&" +
                      Format("%06X", d.nsid);
      break;
    case DiskBus::Scsi:
      d.pnpDeviceId = "SCSI\\DISK&VEN_" + PnpText(d.vendor, 8) + "&PROD_" + PnpText(d.model, 16) +
                      "\\5&" + (d.pciAddress.empty() ? Format("H%d", d.scsiHost) : tag) + "&0&" +
                      Format("%d.%d.%d", d.scsiChannel, d.scsiTarget, d.scsiLun);
      break;
    case DiskBus::Usb:
      d.pnpDeviceId = "USBSTOR\\DISK&VEN_" + PnpText(d.vendor, 8) + "&PROD_" + PnpText(d.model, 16) +
                      "&REV_" + PnpText(d.revision, 4) + "\\" +
                      (usbInstance.empty() ? tag : PnpText(usbInstance, 32)) + "&" +
                      std::to_string(d.scsiLun);
      break;
  }
}

// Fills a SCSI disk ("sdX"); false with a reason when it is no disk.
bool ReadScsiDisk(const HostFiles& files, LinuxDisk& d, std::string* usbInstance,
                  std::string* reason) {
  std::string block = "/sys/block/" + d.name;
  std::optional<std::string> dev = files.Resolve(block + "/device");
  if (!dev) {
    *reason = "it has no SCSI device behind it";
    return false;
  }
  std::string type = files.Attribute(*dev + "/type");
  if (!type.empty() && type != "0" && type != "7" && type != "14") {
    *reason = "its SCSI device type " + type + " is not a disk";
    return false;
  }
  std::string hctl = BaseName(*dev);
  int h = -1, c = 0, t = 0, l = 0;
  if (std::sscanf(hctl.c_str(), "%d:%d:%d:%d", &h, &c, &t, &l) == 4) {
    d.scsiHost = h;
    d.scsiChannel = c;
    d.scsiTarget = t;
    d.scsiLun = l;
  }
  d.vendor = files.Attribute(*dev + "/vendor");
  d.model = files.Attribute(*dev + "/model");
  d.revision = files.Attribute(*dev + "/rev");
  if (HasComponent(d.sysPath, IsUsbName)) {
    d.bus = DiskBus::Usb;
    *usbInstance = UsbInstance(files, *dev);
  } else if (std::string port = AtaPortOf(d.sysPath); !port.empty()) {
    d.bus = DiskBus::Ata;
    d.identifyPage = files.Read(block + "/device/vpd_pg89");
    d.identifyPageRead = true;
    std::string portNo = files.Attribute("/sys/class/ata_port/" + port + "/port_no");
    d.ataPort = AllDigits(portNo) && ParseUnsigned(portNo) > 0 ? static_cast<int32_t>(ParseUnsigned(portNo)) - 1
                                                            : -1;
  } else {
    d.bus = DiskBus::Scsi;
  }
  return true;
}

// Fills an NVMe namespace; false with a reason when its controller is not found.
bool ReadNvmeNamespace(const HostFiles& files, LinuxDisk& d, uint32_t ns, std::string* reason) {
  std::string block = "/sys/block/" + d.name;
  std::string controller;
  if (std::optional<std::string> dev = files.Resolve(block + "/device")) {
    std::string base = BaseName(*dev);
    if (StartsWith(base, "nvme") && AllDigits(base.substr(4))) controller = base;
  }
  if (controller.empty()) {
    // A multipath namespace lives in its subsystem; it is reached through
    // the subsystem's first controller.
    std::string subsystem = DirName(d.sysPath);
    for (const std::string& entry : files.List(subsystem))
      if (StartsWith(entry, "nvme") && AllDigits(entry.substr(4))) {
        controller = entry;
        break;
      }
  }
  if (controller.empty()) {
    *reason = "its NVMe controller was not found";
    return false;
  }
  d.bus = DiskBus::Nvme;
  d.nvmeController = controller;
  std::string nsid = files.Attribute(block + "/nsid");
  d.nsid = AllDigits(nsid) ? ParseUnsigned(nsid) : ns;
  std::string cls = "/sys/class/nvme/" + controller;
  d.model = files.Attribute(cls + "/model");
  d.serial = files.Attribute(cls + "/serial");
  d.revision = files.Attribute(cls + "/firmware_rev");
  d.vendor = "NVMe";
  if (std::optional<std::string> ctl = files.Resolve(cls)) d.pciAddress = PciAddressOf(*ctl);
  return true;
}

int32_t HighestScsiHost(const HostFiles& files) {
  int32_t highest = -1;
  for (const std::string& host : files.List("/sys/class/scsi_host"))
    if (StartsWith(host, "host") && AllDigits(host.substr(4)))
      highest = std::max<int32_t>(highest, static_cast<int32_t>(ParseUnsigned(host.substr(4))));
  return highest;
}

}  // namespace

const char* LinuxDisk::BusName() const {
  switch (bus) {
    case DiskBus::Ata: return "ide";
    case DiskBus::Usb: return "usbstor";
    default: return "scsi";
  }
}

const char* LinuxDisk::InterfaceType() const {
  switch (bus) {
    case DiskBus::Ata: return "IDE";
    case DiskBus::Usb: return "USB";
    default: return "SCSI";
  }
}

const LinuxDisk* DiskScan::ByNumber(int32_t number) const {
  for (const LinuxDisk& d : disks)
    if (d.number == number) return &d;
  return nullptr;
}

const LinuxDisk* DiskScan::ByName(const std::string& name) const {
  for (const LinuxDisk& d : disks)
    if (d.name == name) return &d;
  return nullptr;
}

const LinuxDisk* DiskScan::ByInterfacePath(const std::string& path) const {
  for (const LinuxDisk& d : disks)
    if (EqualsNoCaseAscii(d.interfacePath, path)) return &d;
  return nullptr;
}

const LinuxDisk* DiskScan::ByPort(int32_t port) const {
  for (const LinuxDisk& d : disks)
    if (d.portNumber == port) return &d;
  return nullptr;
}

std::string PnpText(const std::string& text, size_t max) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string out;
  for (size_t i = b; i < e && out.size() < max; ++i) {
    char c = text[i];
    bool keep = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                c == '.' || c == '-';
    out += keep ? c : '_';
  }
  return ToUpperAscii(out);
}

std::string InterfacePathFor(const std::string& pnpDeviceId) {
  return "\\\\?\\" + ToLowerAscii(ReplaceAll(pnpDeviceId, "\\", "#")) + "#" + kDiskInterfaceClass;
}

DiskScan ScanDisks(const HostFiles& files) { return ScanDisks(files, files.List("/sys/block")); }

DiskScan ScanDisks(const HostFiles& files, const std::vector<std::string>& blockNames) {
  DiskScan scan;
  struct Found {
    LinuxDisk disk;
    std::string usbInstance;
    uint32_t nvmeInstance = 0;
  };
  std::vector<Found> scsi, nvme;

  for (const std::string& name : blockNames) {
    std::string block = "/sys/block/" + name;
    auto leave = [&](const char* kind, std::string reason) {
      scan.leftOut.push_back(LeftOutDevice{name, kind, std::move(reason)});
    };
    if (files.Attribute(block + "/hidden") == "1") {
      leave("hidden", "it is a hidden path of a multipath namespace");
      continue;
    }
    const Virtual* virt = nullptr;
    for (const Virtual& v : kVirtual)
      if (StartsWith(name, v.prefix)) virt = &v;
    std::optional<std::string> real = files.Resolve(block);
    if (virt || (real && Contains(*real, "/devices/virtual/") && !Contains(*real, "nvme-subsystem"))) {
      leave("virtual", std::string("it is ") + (virt ? virt->what : "a virtual block device") +
                           ", not a drive");
      continue;
    }
    if (!real) {
      leave("other", "its sysfs entry cannot be read");
      continue;
    }

    LinuxDisk d;
    d.name = name;
    d.devNode = "/dev/" + name;
    d.sysPath = *real;
    std::string size = files.Attribute(block + "/size");
    d.sizeBytes = static_cast<uint64_t>(std::strtoull(size.c_str(), nullptr, 10)) * 512u;
    std::string lbs = files.Attribute(block + "/queue/logical_block_size");
    if (AllDigits(lbs) && ParseUnsigned(lbs) >= 512) d.logicalBlockSize = ParseUnsigned(lbs);
    std::sscanf(files.Attribute(block + "/dev").c_str(), "%u:%u", &d.devMajor, &d.devMinor);
    d.removable = files.Attribute(block + "/removable") == "1";
    d.pciAddress = PciAddressOf(d.sysPath);

    uint32_t instance = 0, ns = 0;
    std::string reason;
    if (IsScsiDiskName(name)) {
      Found f;
      f.disk = d;
      if (!ReadScsiDisk(files, f.disk, &f.usbInstance, &reason)) {
        leave("other", reason);
        continue;
      }
      scsi.push_back(std::move(f));
    } else if (ParseNvmeName(name, &instance, &ns)) {
      Found f;
      f.disk = d;
      f.nvmeInstance = instance;
      if (!ReadNvmeNamespace(files, f.disk, ns, &reason)) {
        leave("other", reason);
        continue;
      }
      nvme.push_back(std::move(f));
    } else if (StartsWith(name, "vd")) {
      leave("virtio",
            "it is a virtio disk: it answers neither ATA nor NVMe commands, so its identity "
            "and health cannot be read");
    } else if (StartsWith(name, "xvd")) {
      leave("virtio", "it is a Xen virtual disk, which answers neither ATA nor NVMe commands");
    } else if (StartsWith(name, "mmcblk")) {
      leave("mmc", "it is an SD/MMC card, which answers neither ATA nor NVMe commands");
    } else if (StartsWith(name, "sr")) {
      leave("optical", "it is an optical drive, not a disk");
    } else {
      std::string driver = files.LinkName(block + "/device/driver");
      leave("other", "it is not a SATA, SCSI or NVMe disk" +
                         (driver.empty() ? std::string() : " (driver " + driver + ")"));
    }
  }

  std::sort(scsi.begin(), scsi.end(), [](const Found& a, const Found& b) {
    if (a.disk.name.size() != b.disk.name.size()) return a.disk.name.size() < b.disk.name.size();
    return a.disk.name < b.disk.name;
  });
  std::sort(nvme.begin(), nvme.end(), [](const Found& a, const Found& b) {
    if (a.nvmeInstance != b.nvmeInstance) return a.nvmeInstance < b.nvmeInstance;
    return a.disk.nsid < b.disk.nsid;
  });

  int32_t nvmePortBase = HighestScsiHost(files) + 1;
  for (const Found& f : scsi) nvmePortBase = std::max(nvmePortBase, f.disk.scsiHost + 1);
  std::map<std::string, int32_t> nvmePorts;
  for (const Found& f : nvme)
    if (!nvmePorts.count(f.disk.nvmeController))
      nvmePorts[f.disk.nvmeController] =
          nvmePortBase + static_cast<int32_t>(ParseUnsigned(f.disk.nvmeController.substr(4)));

  std::map<std::string, int> seenIds;
  auto add = [&](Found f) {
    LinuxDisk& d = f.disk;
    d.number = static_cast<int32_t>(scan.disks.size());
    d.portNumber = d.bus == DiskBus::Nvme ? nvmePorts[d.nvmeController] : d.scsiHost;
    Name(d, f.usbInstance);
    // Two disks must never share an identifier (two USB sticks without
    // serial numbers, say): later ones get a counter.
    int& seen = seenIds[ToLowerAscii(d.pnpDeviceId)];
    if (seen++ > 0) d.pnpDeviceId += "&" + std::to_string(seen - 1);
    d.interfacePath = InterfacePathFor(d.pnpDeviceId);
    scan.disks.push_back(std::move(d));
  };
  for (Found& f : scsi) add(std::move(f));
  for (Found& f : nvme) add(std::move(f));
  return scan;
}

}  // namespace zel::linuxbackend
