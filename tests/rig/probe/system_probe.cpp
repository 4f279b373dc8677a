// The rig probe's second half: the system's own operations (interface
// enumeration, the WMI disk table, the class code of a disk's controller,
// the ATA and NVMe reads, the identity decoding and the health values) run
// over the Linux platform inside the guest, printed as JSON.
#include <cstring>
#include <nlohmann/json.hpp>

#include "device/ata_command.h"
#include "device/disk_interfaces.h"
#include "health/identify_decoding.h"
#include "health/smart_health.h"
#include "inventory/pcie_link.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/bytes.h"
#include "platform/linux/linux_platform.h"
#include "platform/text.h"
#include "platform/wire/ata.h"
#include "report/dvt_mode.h"

namespace zel {

using Json = nlohmann::json;
using namespace zel::platform;

Json SystemProbe(long trimLba, int trimCount, const std::string& dvtCriteria) {
  ScopedPlatform installed(linuxbackend::MakeLinuxPlatform());
  Json out;
  std::vector<std::string> paths;
  EnumerateDiskInterfaces(paths);
  out["interfaces"] = paths;
  UnderlyingUtil util;
  out["diskTable"] = util.GetPhysicalDriveSpace();
  ATACommand cmd;
  PhysicalDriveTable table;
  out["version"] = {{"ataPassThrough", cmd.AtaPassThroughAvailable}, {"windows8", cmd.IsWindows8}};
  for (const WmiDiskEntry& e : WmiDiskTable()) {
    Json d{{"index", e.Index}, {"sizeGB", e.SizeGB}, {"model", e.Model}, {"interfaceType", e.InterfaceType},
           {"pnpDeviceId", e.PnpDeviceId}};
    std::string path;
    for (const std::string& p : paths)
      if (Contains(ReplaceAll(p, "#", "\\"), ToLowerAscii(e.PnpDeviceId))) path = p;
    d["devicePath"] = path;
    d["classCode"] = util.GetDiskMode(e.Index);
    PhysicalDriveRecord r{};
    r.PhysicalDriveIndex = e.Index;
    r.DevicePath = path;
    if (d["classCode"] == "010802") {
      r.BusType = kBusNvme;
      d["identifyOk"] = cmd.Windows10NVMeIdentify(e.Index, path, r.NvmeIdentifyData.data()) != 0;
      DecodeIdentifyStrings(r);
      d["healthOk"] = cmd.Windows10NVMeSMART(e.Index, path, r.SmartData.data()) != 0;
      uint8_t mini[512] = {};
      d["miniportHealthOk"] = cmd.GetLogPageCommand_SMART_Health(path, mini) != 0 &&
                              std::memcmp(mini, r.SmartData.data(), 6) == 0;
      std::string port;
      d["scsiPortOk"] = cmd.GetScsiPortName(path, &port) != 0;
      d["scsiPort"] = port;
      uint8_t tunnel[512] = {};
      d["tunnelOk"] = cmd.DoGetLogPageNVMeSamsung(path, tunnel) != 0;
      r.Temperature = GetLE16(r.SmartData.data() + 1) - 273;
    } else {
      r.BusType = kBusAta;
      d["identifyOk"] = cmd.DoIdentify(path, 0xA0, r.IdentifyData.data()) != 0;
      DecodeIdentifyStrings(r);
      d["smartOk"] = cmd.GetSmartAttributePd(path, 0, r) != 0;
      cmd.GetSmartThresholdsPd(path, 0, r);
      d["worldWideName"] = GetWorldWideNameText(r);
      d["sataLinkSpeed"] = GetSataLinkSpeedText(r);
      Json attributes = Json::array();
      for (int i = 0; i < r.SmartAttributeCount; ++i) {
        const SmartAttributeEntry& a = r.SmartAttributes[i];
        attributes.push_back({{"id", a.Id()}, {"current", a.Current()}, {"worst", a.Worst()},
                              {"raw", a.Raw48()}, {"threshold", r.SmartThresholds[i].Threshold()}});
      }
      d["attributes"] = attributes;
      // SECURITY SET PASSWORD, which the emulated drive aborts: the buffered
      // form carries it, the direct form reports the drive's error bit.
      uint8_t block[512] = {};
      d["securityBuffered"] = cmd.SendAtaCommandPhysicalDrive(static_cast<uint32_t>(e.Index), 0, 0xF1, 0, 0, 0,
                                                              0, 0, block, 512, ATA_FLAGS_DATA_OUT);
      uint32_t length = 512;
      d["securityDirect"] = cmd.SendAtaCommandDirect(static_cast<uint32_t>(e.Index), 1, block, nullptr, &length,
                                                     wire::PackRegisterWord1(0, 0, 0, 0),
                                                     wire::PackRegisterWord2(0, 0xA0, 0xF1));
      if (trimCount > 0) {
        // DATA SET MANAGEMENT / TRIM of one range through the transport, as
        // the direct TRIM sends it: features 1, count 1, flags 0x1C.
        uint8_t ranges[512] = {};
        PutLE64(ranges, static_cast<uint64_t>(trimLba) | (static_cast<uint64_t>(trimCount) << 48));
        d["trim"] = cmd.SendAtaCommandPhysicalDrive(static_cast<uint32_t>(e.Index), 0, 0x06, 1, 1, 0, 0, 0, ranges,
                                                    512, ATA_FLAGS_DATA_OUT | ATA_FLAGS_48BIT_COMMAND | ATA_FLAGS_USE_DMA);
      }
    }
    d["modelName"] = r.ModelName;
    d["serialNumber"] = r.SerialNumber;
    d["firmwareRevision"] = r.FirmwareRevision;
    d["temperature"] = GetDriveTemperature(r);
    d["remainingLife"] = GetRemainingLife(r);
    d["totalBytesWritten"] = GetTotalBytesWritten(r);
    out["drives"].push_back(d);
    table.push_back(r);
  }
  // The system's own discovery: the drive table as the programs build it.
  PhysicalDriveTable discovered;
  out["discoveryCount"] = cmd.UpdatePhysicalDrivesInfo(discovered);
  for (const PhysicalDriveRecord& r : discovered) {
    PcieLinkInfo link = GetPcieLinkInfo(r.PhysicalDriveIndex);
    out["discovered"].push_back({{"index", r.PhysicalDriveIndex},
                                 {"busType", r.BusType},
                                 {"modelName", r.ModelName},
                                 {"serialNumber", r.SerialNumber},
                                 {"firmwareRevision", r.FirmwareRevision},
                                 {"diskSizeGB", r.DiskSizeGB},
                                 {"temperature", r.Temperature},
                                 {"smartAttributeCount", r.SmartAttributeCount},
                                 {"devicePath", r.DevicePath},
                                 {"link",
                                  {{"maxWidth", link.MaxLinkWidth},
                                   {"maxSpeed", link.MaxLinkSpeed},
                                   {"currentWidth", link.CurrentLinkWidth},
                                   {"currentSpeed", link.CurrentLinkSpeed}}}});
  }
  if (!discovered.empty()) table = discovered;
  if (!dvtCriteria.empty()) {
    // The verification mode on disk 0 with a criteria file for the rig's drive.
    SetLogLevel(1);
    DvtCounts counts;
    int rc = RunDvtModeWithCriteria(0, table, dvtCriteria, &counts);
    out["dvt"] = {{"result", rc}, {"smartLines", counts.smartLines}, {"smartPassed", counts.smartPassed},
                  {"identifyLines", counts.identifyLines}, {"identifyPassed", counts.identifyPassed}};
  }
  return out;
}

}  // namespace zel
