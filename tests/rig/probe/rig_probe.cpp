// Runs inside the rig's guest: drives the Linux backend's own transport
// (sysfs scan, SG_IO ATA PASS-THROUGH, NVMe admin commands) against the
// emulated drives and prints what it got as one JSON document, for the
// host-side comparison with smartctl and nvme.
//
// Usage: zel_rig_probe [--trim LBA COUNT] [--system [--dvt CRITERIA]] | --volume-trim ROOT
//   --system: the system's own operations over the Linux platform instead
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/linux/ata_passthrough.h"
#include "platform/linux/disks.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/nvme_admin.h"
#include "platform/linux/pci.h"
#include "platform/platform.h"

using namespace zel::linuxbackend;
using Json = nlohmann::json;

namespace zel {
nlohmann::json SystemProbe(long trimLba, int trimCount, const std::string& dvtCriteria);
}

namespace {

std::string Hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

Json Registers(const AtaOutcome& o) {
  return Json{{"carried", o.carried},           {"error", o.error},
              {"status", o.registers.status},   {"errorRegister", o.registers.error},
              {"haveRegisters", o.registers.haveRegisters},
              {"responseCode", o.registers.responseCode},
              {"senseKey", o.registers.senseKey}, {"asc", o.registers.asc},
              {"ascq", o.registers.ascq}};
}

// One ATA command with the raw sense bytes kept, for the sense fixtures.
Json Ata(int fd, const AtaRequest& request, uint8_t* data, uint32_t timeoutMs) {
  uint8_t cdb[kAta16CdbSize];
  BuildAta16Cdb(request, cdb);
  bool hasData = request.protocol != AtaProtocol::NonData && request.dataLength > 0;
  uint8_t sense[64] = {};
  uint32_t senseLength = 0;
  SgCompletion c = SendScsiCommand(fd, std::span<const uint8_t>(cdb, sizeof cdb),
                                   hasData ? (request.dataIn ? 1 : 2) : 0, data,
                                   hasData ? request.dataLength : 0, timeoutMs, sense, &senseLength);
  AtaOutcome o = JudgeAtaCompletion(c, std::span<const uint8_t>(sense, senseLength));
  Json j = Registers(o);
  j["scsiStatus"] = c.scsiStatus;
  j["hostStatus"] = c.hostStatus;
  j["driverStatus"] = c.driverStatus;
  j["sense"] = Hex(sense, senseLength);
  if (hasData && request.dataIn && o.carried) j["data"] = Hex(data, request.dataLength);
  return j;
}

AtaRequest Request(uint8_t command, uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid,
                    uint8_t lbaHigh, AtaProtocol protocol, bool in, uint32_t length) {
  AtaRequest s;
  s.registers.command = command;
  s.registers.features = features;
  s.registers.count = count;
  s.registers.lbaLow = lbaLow;
  s.registers.lbaMid = lbaMid;
  s.registers.lbaHigh = lbaHigh;
  s.protocol = protocol;
  s.dataIn = in;
  s.dataLength = length;
  return s;
}

Json ProbeSata(const LinuxDisk& d, long trimLba, int trimCount) {
  Json j;
  int fd = ::open(d.devNode.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Json{{"openError", errno}};
  std::vector<uint8_t> page(512);
  j["identify"] = Ata(fd, Request(0xEC, 0, 0, 0, 0, 0, AtaProtocol::PioIn, true, 512), page.data(), 2000);
  j["smartData"] =
      Ata(fd, Request(0xB0, 0xD0, 0, 0, 0x4F, 0xC2, AtaProtocol::PioIn, true, 512), page.data(), 2000);
  j["smartThresholds"] =
      Ata(fd, Request(0xB0, 0xD1, 0, 0, 0x4F, 0xC2, AtaProtocol::PioIn, true, 512), page.data(), 2000);
  // The emulated drive keeps no SMART logs: the drive aborts this PIO data-in command.
  j["smartReadLogAborted"] =
      Ata(fd, Request(0xB0, 0xD5, 1, 0xE0, 0x4F, 0xC2, AtaProtocol::PioIn, true, 512), page.data(), 2000);
  j["flush"] = Ata(fd, Request(0xEA, 0, 0, 0, 0, 0, AtaProtocol::NonData, false, 0), nullptr, 10000);
  // The emulated drive has no security feature set: the drive aborts this.
  std::vector<uint8_t> password(512, 0);
  j["securitySetPassword"] =
      Ata(fd, Request(0xF1, 0, 0, 0, 0, 0, AtaProtocol::PioOut, false, 512), password.data(), 10000);
  if (trimCount > 0) {
    // DATA SET MANAGEMENT / TRIM of one range, 48-bit, DMA out.
    std::vector<uint8_t> ranges(512, 0);
    uint64_t entry = static_cast<uint64_t>(trimLba) | (static_cast<uint64_t>(trimCount) << 48);
    for (int i = 0; i < 8; ++i) ranges[i] = static_cast<uint8_t>(entry >> (8 * i));
    AtaRequest s = Request(0x06, 0x01, 0x01, 0, 0, 0, AtaProtocol::Dma, false, 512);
    s.extend = true;
    j["trim"] = Ata(fd, s, ranges.data(), 10000);
  }
  ::close(fd);
  return j;
}

Json ProbeNvme(const LinuxDisk& d) {
  Json j;
  int fd = ::open(d.NvmeControllerNode().c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Json{{"openError", errno}};
  std::vector<uint8_t> page(4096);
  NvmeAdminCommand id;
  id.opcode = kNvmeIdentify;
  id.cdw10 = 1;
  NvmeAdminResult r = SendNvmeAdmin(fd, id, page.data(), 4096);
  j["identify"] = Json{{"ok", r.ok}, {"status", r.status}, {"data", r.ok ? Hex(page.data(), 4096) : ""}};
  NvmeAdminCommand log;
  log.opcode = kNvmeGetLogPage;
  log.nsid = 0xFFFFFFFF;
  log.cdw10 = 0x007F0002;
  std::vector<uint8_t> health(512);
  r = SendNvmeAdmin(fd, log, health.data(), 512);
  j["smartLog"] = Json{{"ok", r.ok}, {"status", r.status}, {"data", r.ok ? Hex(health.data(), 512) : ""}};
  // An opcode the controller does not know must come back as a failure.
  NvmeAdminCommand bad;
  bad.opcode = 0xC3;
  r = SendNvmeAdmin(fd, bad, nullptr, 0);
  j["unknownOpcode"] = Json{{"ok", r.ok}, {"status", r.status}, {"error", r.error}};
  ::close(fd);
  return j;
}

}  // namespace

int main(int argc, char** argv) {
  long trimLba = 0;
  int trimCount = 0;
  bool system = false;
  std::string dvt;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--trim") == 0 && i + 2 < argc) {
      trimLba = std::atol(argv[i + 1]);
      trimCount = std::atoi(argv[i + 2]);
    }
    if (std::strcmp(argv[i], "--system") == 0) system = true;
    if (std::strcmp(argv[i], "--dvt") == 0 && i + 1 < argc) dvt = argv[i + 1];
    // The volume TRIM of the Linux platform on one lettered volume ("C:"):
    // the request the free-space TRIM makes once a volume's filler files
    // are deleted.
    if (std::strcmp(argv[i], "--volume-trim") == 0 && i + 1 < argc) {
      std::shared_ptr<zel::platform::Platform> machine = MakeLinuxPlatform();
      zel::platform::FreeSpaceTrim result;
      bool ok = machine->VolumeTrim().TrimFreeSpace(argv[i + 1], &result);
      Json out{{"ok", ok}, {"requested", result.requested}, {"bytesTrimmed", result.bytesTrimmed},
               {"error", ok ? 0u : zel::platform::GetLastError()}};
      std::printf("%s\n", out.dump().c_str());
      return ok ? 0 : 1;
    }
  }
  if (system) {
    std::printf("%s\n", zel::SystemProbe(trimLba, trimCount, dvt).dump().c_str());
    return 0;
  }
  HostFiles files;
  DiskScan scan = ScanDisks(files);
  Json out;
  for (const LinuxDisk& d : scan.disks) {
    Json disk{{"number", d.number},         {"name", d.name},
              {"bus", d.BusName()},         {"interfaceType", d.InterfaceType()},
              {"pnpDeviceId", d.pnpDeviceId}, {"interfacePath", d.interfacePath},
              {"sizeBytes", d.sizeBytes},    {"model", d.model},
              {"serial", d.serial},          {"revision", d.revision},
              {"pciAddress", d.pciAddress},  {"port", d.portNumber}};
    if (d.bus == DiskBus::Ata) disk["probe"] = ProbeSata(d, trimLba, trimCount);
    if (d.bus == DiskBus::Nvme) disk["probe"] = ProbeNvme(d);
    out["disks"].push_back(disk);
  }
  for (const LeftOutDevice& l : scan.leftOut)
    out["leftOut"].push_back(Json{{"name", l.name}, {"kind", l.kind}, {"reason", l.reason}});
  for (const StorageController& c : ScanControllers(files)) {
    Json cj{{"address", c.address}, {"classCode", c.ClassCodeText()}, {"driver", c.driver},
            {"driverVersion", c.driverVersion}, {"instanceId", c.instanceId},
            {"hardwareIds", c.hardwareIds}, {"name", c.name}};
    if (c.link)
      cj["link"] = Json{{"currentSpeed", c.link->currentSpeed}, {"currentWidth", c.link->currentWidth},
                        {"maxSpeed", c.link->maxSpeed}, {"maxWidth", c.link->maxWidth}};
    out["controllers"].push_back(cj);
  }
  for (const DiskSurveyEntry& e : SurveyDisks())
    out["survey"].push_back(Json{{"name", e.name}, {"number", e.number}, {"usable", e.usable},
                                 {"reason", e.reason}});
  std::printf("%s\n", out.dump().c_str());
  return 0;
}
