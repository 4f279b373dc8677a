#include "platform/linux/pci.h"

#include <cstdlib>

#include "platform/format.h"

namespace zel::linuxbackend {

namespace {

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "dddd:bb:dd.f"
bool IsPciAddress(std::string_view s) {
  if (s.size() != 12) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (i == 4 || i == 7) {
      if (c != ':') return false;
    } else if (i == 10) {
      if (c != '.') return false;
    } else if (!IsHex(c)) {
      return false;
    }
  }
  return true;
}

uint32_t HexAttribute(const HostFiles& files, const std::string& path) {
  std::string text = files.Attribute(path);
  if (text.empty()) return 0;
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}

std::string ClassName(uint32_t classCode) {
  uint32_t sub = (classCode >> 8) & 0xFF, progIf = classCode & 0xFF;
  switch (sub) {
    case 0x00: return "SCSI Controller";
    case 0x01: return "Standard Dual Channel PCI IDE Controller";
    case 0x04: return "RAID Controller";
    case 0x05: return "ATA Controller";
    case 0x06: return progIf == 0x01 ? "Standard SATA AHCI Controller" : "SATA Controller";
    case 0x07: return "SAS Controller";
    case 0x08: return progIf == 0x02 ? "Standard NVM Express Controller" : "Non-Volatile Memory Controller";
    default: return "Mass Storage Controller";
  }
}

// The instance part of the identifier: the PCI address in hexadecimal digits,
// so it is the same at every start and unique on the machine.
std::string InstanceTag(std::string_view address) {
  std::string tag;
  for (char c : address)
    if (IsHex(c)) tag += static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
  return tag;
}

}  // namespace

uint32_t PcieGenerationFromText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  std::string number;
  while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'))
    number += text[i++];
  if (number.empty()) return 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (text.substr(i, 4) != "GT/s") return 0;
  double gts = std::strtod(number.c_str(), nullptr);
  struct {
    double gts;
    uint32_t generation;
  } const table[] = {{2.5, 1}, {5.0, 2}, {8.0, 3}, {16.0, 4}, {32.0, 5}, {64.0, 6}};
  for (const auto& row : table)
    if (gts > row.gts - 0.01 && gts < row.gts + 0.01) return row.generation;
  return 0;
}

uint32_t PcieWidthFromText(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == 'x' || text[i] == 'X')) ++i;
  uint32_t width = 0;
  bool any = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && width < 1000) {
    width = width * 10 + static_cast<uint32_t>(text[i++] - '0');
    any = true;
  }
  if (!any) return 0;
  // Only a lone number counts; "255" is what some kernels show for an unknown width.
  if (i != text.size() || width == 255) return 0;
  return width;
}

bool StorageController::IsIdeClass() const {
  uint32_t sub = (classCode >> 8) & 0xFF;
  return sub == 0x01 || sub == 0x05 || sub == 0x06;
}

std::string StorageController::ClassCodeText() const { return Format("%06X", classCode & 0xFFFFFF); }

std::string PciAddressOf(std::string_view path) {
  std::string found;
  size_t start = 0;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (IsPciAddress(part)) found = std::string(part);
    start = end + 1;
  }
  return found;
}

std::optional<StorageController> ReadController(const HostFiles& files, const std::string& address) {
  std::string dir = "/sys/bus/pci/devices/" + address;
  if (!files.Exists(dir + "/class")) return std::nullopt;
  return ReadController(files, address, HexAttribute(files, dir + "/class"));
}

std::optional<StorageController> ReadController(const HostFiles& files, const std::string& address,
                                                uint32_t classCode) {
  std::string dir = "/sys/bus/pci/devices/" + address;
  StorageController c;
  c.address = address;
  c.classCode = classCode;
  c.vendor = static_cast<uint16_t>(HexAttribute(files, dir + "/vendor"));
  c.device = static_cast<uint16_t>(HexAttribute(files, dir + "/device"));
  c.subsystemVendor = static_cast<uint16_t>(HexAttribute(files, dir + "/subsystem_vendor"));
  c.subsystemDevice = static_cast<uint16_t>(HexAttribute(files, dir + "/subsystem_device"));
  c.revision = static_cast<uint8_t>(HexAttribute(files, dir + "/revision"));
  c.driver = files.LinkName(dir + "/driver");
  if (!c.driver.empty()) {
    c.driverVersion = files.Attribute("/sys/module/" + c.driver + "/version");
    if (c.driverVersion.empty()) c.driverVersion = files.Attribute("/proc/sys/kernel/osrelease");
  }
  c.name = ClassName(c.classCode);

  std::string ven = Format("PCI\\VEN_%04X&DEV_%04X", c.vendor, c.device);
  std::string subsys = Format("&SUBSYS_%04X%04X", c.subsystemDevice, c.subsystemVendor);
  std::string rev = Format("&REV_%02X", c.revision);
  c.instanceId = ven + subsys + rev + "\\3&" + InstanceTag(address) + "&0";
  c.hardwareIds = {ven + subsys + rev, ven + subsys, ven + Format("&CC_%06X", c.classCode & 0xFFFFFF),
                   ven + Format("&CC_%04X", (c.classCode >> 8) & 0xFFFF)};

  if (files.Exists(dir + "/current_link_speed") || files.Exists(dir + "/max_link_speed")) {
    PciLink link;
    link.currentSpeed = PcieGenerationFromText(files.Attribute(dir + "/current_link_speed"));
    link.currentWidth = PcieWidthFromText(files.Attribute(dir + "/current_link_width"));
    link.maxSpeed = PcieGenerationFromText(files.Attribute(dir + "/max_link_speed"));
    link.maxWidth = PcieWidthFromText(files.Attribute(dir + "/max_link_width"));
    c.link = link;
  }
  return c;
}

std::vector<StorageController> ScanControllers(const HostFiles& files) {
  return ScanControllers(files, files.List("/sys/bus/pci/devices"));
}

std::vector<StorageController> ScanControllers(const HostFiles& files, const std::vector<std::string>& addresses) {
  std::vector<StorageController> out;
  for (const std::string& address : addresses) {
    if (!IsPciAddress(address)) continue;
    const std::string classPath = "/sys/bus/pci/devices/" + address + "/class";
    const uint32_t classCode = HexAttribute(files, classPath);
    if ((classCode >> 16) != 0x01) continue;
    if (auto c = ReadController(files, address, classCode)) out.push_back(std::move(*c));
  }
  return out;
}

}  // namespace zel::linuxbackend
