// Drive discovery: the usable physical drives of the machine, one record
// each, and the PCI Express link of the controller behind a disk.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "device/disk_interfaces.h"
#include "device/nvme_paths.h"
#include "health/identify_decoding.h"
#include "health/smart_health.h"
#include "inventory/pcie_link.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/bytes.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wire/nvme_health.h"

namespace zel {

using namespace zel::platform;

namespace {

// The disk of the inventory whose PnP identifier (lower-cased) occurs in the
// working copy of an interface path as whole path segments: the identifier
// must end where a segment ends (at a "\" or at the end of the path). One
// identifier may begin another ("...\5&1&0&1" and "...\5&1&0&10"); without
// the segment rule the shorter one would claim the longer one's disk, and of
// several identifiers that do match, the longest is the disk's own.
// `ids` holds the lower-cased identifiers, parallel to `disks`.
const WmiDiskEntry* MatchDiskOfInterface(const std::string& working,
                                         const std::vector<WmiDiskEntry>& disks,
                                         const std::vector<std::string>& ids) {
  const WmiDiskEntry* best = nullptr;
  size_t bestLength = 0;
  for (size_t d = 0; d < disks.size(); ++d) {
    const std::string& id = ids[d];
    // An empty identifier would occur in every path.
    if (id.empty()) continue;
    bool whole = false;
    for (size_t at = working.find(id); at != std::string::npos; at = working.find(id, at + 1)) {
      size_t end = at + id.size();
      if (end == working.size() || working[end] == '\\') {
        whole = true;
        break;
      }
    }
    if (whole && id.size() >= bestLength) {
      best = &disks[d];
      bestLength = id.size();
    }
  }
  return best;
}

}  // namespace

int32_t ATACommand::UpdatePhysicalDrivesInfo(PhysicalDriveTable& table) {
  LogEnter("ATACommand::UpdatePhysicalDrivesInfo");
  ATACommand ata;

  std::vector<std::string> paths;
  int32_t interfaces = EnumerateDiskInterfaces(paths);

  UnderlyingUtil util;
  util.GetPhysicalDriveSpace();
  const std::vector<WmiDiskEntry>& disks = WmiDiskTable();
  std::vector<std::string> ids;
  ids.reserve(disks.size());
  for (const WmiDiskEntry& disk : disks) ids.push_back(ToLowerAscii(disk.PnpDeviceId));

  // Records are large; room for every candidate is made at once.
  table.reserve(table.size() + paths.size());
  int32_t appended = 0;
  for (int32_t i = 0; i < interfaces && i < static_cast<int32_t>(paths.size()); ++i) {
    const std::string& path = paths[i];
    LogTraceF("UpdatePhysicalDrivesInfo():DevicePath:%s", path.c_str());
    if (Contains(path, "usb")) continue;

    // With "#" read as "\" an interface path contains the PnP identifier of
    // its disk literally, followed by the "\" before the interface class.
    std::string working = ReplaceAll(path, "#", "\\");
    PhysicalDriveRecord record;
    const WmiDiskEntry* disk = MatchDiskOfInterface(working, disks, ids);
    // An interface that matches no disk of the inventory has no disk number:
    // examined as disk 0 it would send every later command addressed by
    // number (self-test, security erase) to whatever disk 0 is.
    if (!disk) {
      LogTraceF("UpdatePhysicalDrivesInfo():DevicePath:%s matches no disk of the inventory, skipped",
                path.c_str());
      continue;
    }
    record.PhysicalDriveIndex = disk->Index;
    record.DiskSizeGB = disk->SizeGB;
    record.DevicePath = TruncateUtf16(path, kDevicePathChars);
    if (ata.GetPhysicalDriveIdentifySmart(i, path, record)) {
      table.push_back(record);
      ++appended;
    }
  }

  LogTraceF("UpdatePhysicalDrivesInfo::Physical Disk cnt: %d", static_cast<int>(table.size()));
  LogExit("ATACommand::UpdatePhysicalDrivesInfo");
  return appended;
}

uint32_t ATACommand::GetPhysicalDriveIdentifySmart(int32_t interfaceNumber,
                                                   const std::string& devicePath,
                                                   PhysicalDriveRecord& record) {
  const int32_t disk = record.PhysicalDriveIndex;
  const std::string lower = ToLowerAscii(devicePath);
  // The bus is decided afresh: a record read again (after a firmware update)
  // must not keep the bus of its earlier reading when no rule below matches.
  record.BusType = kBusScsi;

  UnderlyingUtil util;
  if (util.GetDiskMode(disk) == "010802") {
    record.BusType = kBusNvme;
    LogTraceF("Disk %d is NVMe device.", disk);
  } else if (Contains(lower, "usb")) {
    record.BusType = kBusUsb;
    LogTraceF("Disk %d is mounted on USB interface.", disk);
    return 0;
  } else if (Contains(lower, "scsi")) {
    record.BusType = kBusScsi;
    LogTraceF("Disk %d is mounted on SCSI interface.", disk);
  } else if (Contains(lower, "ide")) {
    record.BusType = kBusAta;
    LogTraceF("Disk %d is mounted on IDE/SATA interface.", disk);
  }

  if (record.BusType == kBusNvme) {
    uint8_t identify[4096] = {};
    ReadNvmeIdentifyController(*this, disk, devicePath, identify);
    std::memcpy(record.NvmeIdentifyData.data(), identify, sizeof identify);
    DecodeIdentifyStrings(record);

    uint8_t health[512] = {};
    if (!ReadNvmeHealthLog(*this, disk, devicePath, health)) return 0;
    std::memcpy(record.SmartData.data(), health, sizeof health);
    // Composite temperature in kelvin, by the one rule for "none".
    std::optional<int32_t> celsius = wire::NvmeCompositeTemperatureCelsius(health);
    record.Temperature = celsius ? *celsius : kNoTemperature;
    return 1;
  }

  if (!DoIdentify(devicePath, 0xA0, record.IdentifyData.data())) {
    LogTraceF("ATACommand::GetPhysicalDriveIdentifySmart(%d) fail.", interfaceNumber);
    return 0;
  }
  DecodeIdentifyStrings(record);
  if (!GetSmartAttributePd(devicePath, 0, record)) {
    LogTraceF("ATACommand::GetSmartAttributePd(%d) fail.", interfaceNumber);
    return 0;
  }
  GetSmartThresholdsPd(devicePath, 0, record);
  return 1;
}

PcieLinkInfo GetPcieLinkInfo(int32_t driveIndex) {
  PcieLinkInfo link;
  UnderlyingUtil util;
  std::string controllerId;
  if (!util.GetDeviceIDFromPhysicalDrive(driveIndex, &controllerId)) return link;

  DeviceTree& tree = Current().Tree();
  HDEVINFO set = tree.SetupDiGetClassDevsW(GUID_DEVCLASS_SCSIADAPTER, DIGCF_PRESENT);
  if (set == INVALID_DEVINFO) return link;
  // The property call is looked up at run time; without it nothing is known.
  const bool haveProperties = tree.HasLibraryFunction("Setupapi.dll", "SetupDiGetDevicePropertyW");
  for (uint32_t member = 0; haveProperties; ++member) {
    uint32_t devInst = 0;
    if (!tree.SetupDiEnumDeviceInfo(set, member, &devInst)) break;
    char16_t id[260] = {};  // 520 bytes
    if (tree.CM_Get_Device_IDW(devInst, id, 260) != CR_SUCCESS) continue;
    if (Utf16ToUtf8(id) != controllerId) continue;

    auto lowByte = [&](const DEVPROPKEY& key) -> uint32_t {
      uint8_t value[8] = {};
      uint32_t type = 0, required = 0;
      if (!tree.SetupDiGetDevicePropertyW(set, member, key, &type, value, sizeof value, &required))
        return 0;
      return value[0];
    };
    link.MaxLinkSpeed = lowByte(DEVPKEY_PciDevice_MaxLinkSpeed);
    link.MaxLinkWidth = lowByte(DEVPKEY_PciDevice_MaxLinkWidth);
    link.CurrentLinkSpeed = lowByte(DEVPKEY_PciDevice_CurrentLinkSpeed);
    link.CurrentLinkWidth = lowByte(DEVPKEY_PciDevice_CurrentLinkWidth);
    break;
  }
  tree.SetupDiDestroyDeviceInfoList(set);
  return link;
}

}  // namespace zel
