// Host side of the rig: reads what the guest printed (one section per
// program) and compares the system's answers with the oracles' (smartctl,
// nvme-cli) on the same emulated drives.
//
// Usage: rig_compare GUEST_OUTPUT [gtest options]
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "rig_sections.h"

using namespace rig;

namespace {

const Json* Disk(const Json& probe, const std::string& name) {
  if (!probe.contains("disks")) return nullptr;
  for (const Json& d : probe["disks"])
    if (d.value("name", "") == name) return &d;
  return nullptr;
}

std::vector<uint8_t> SataPage(const char* which) {
  Json probe = Section("probe");
  const Json* sda = Disk(probe, "sda");
  if (!sda) return {};
  const Json& r = (*sda)["probe"][which];
  EXPECT_TRUE(r.value("carried", false)) << which << ": " << r.dump();
  std::vector<uint8_t> page = Unhex(r.value("data", ""));
  EXPECT_EQ(page.size(), 512u) << which;
  return page.size() == 512 ? page : std::vector<uint8_t>(512, 0);
}

std::vector<uint8_t> NvmePage(const char* which, size_t size) {
  Json probe = Section("probe");
  const Json* ns = Disk(probe, "nvme0n1");
  if (!ns) return std::vector<uint8_t>(size, 0);
  const Json& r = (*ns)["probe"][which];
  EXPECT_TRUE(r.value("ok", false)) << which << ": " << r.dump();
  std::vector<uint8_t> page = Unhex(r.value("data", ""));
  EXPECT_EQ(page.size(), size) << which;
  return page.size() == size ? page : std::vector<uint8_t>(size, 0);
}

// --- The machine as the backend sees it --------------------------------------

TEST(RigMachine, DisksAreNumberedAndNamedAsThePlatformDoes) {
  Json probe = Section("probe");
  const Json* sda = Disk(probe, "sda");
  const Json* nvme = Disk(probe, "nvme0n1");
  ASSERT_TRUE(sda && nvme) << probe.dump();
  EXPECT_EQ((*sda)["number"], 0);
  EXPECT_EQ((*sda)["bus"], "ide");
  EXPECT_EQ((*sda)["interfaceType"], "IDE");
  EXPECT_EQ((*nvme)["number"], 1);
  EXPECT_EQ((*nvme)["bus"], "scsi");
  for (const Json* d : {sda, nvme}) {
    std::string path = (*d)["interfacePath"], pnp = (*d)["pnpDeviceId"];
    std::string working = path;
    for (char& c : working) c = c == '#' ? '\\' : c;
    std::string lowerPnp = pnp;
    for (char& c : lowerPnp) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(working.find(lowerPnp), std::string::npos) << path << " / " << pnp;
    EXPECT_EQ(path.rfind("\\\\?\\", 0), 0u) << path;
    EXPECT_LT(path.size(), 256u);
  }
  auto sys = KeyValues("sysfs");
  EXPECT_EQ((*sda)["sizeBytes"].get<uint64_t>(), std::stoull(sys["sda.size"]) * 512);
  EXPECT_EQ((*nvme)["sizeBytes"].get<uint64_t>(), std::stoull(sys["nvme0n1.size"]) * 512);
  for (const Json& s : probe["survey"]) EXPECT_TRUE(s.value("usable", false)) << s.dump();
}

TEST(RigMachine, ControllersCarryTheirClassCodesAndLink) {
  Json probe = Section("probe");
  auto sys = KeyValues("sysfs");
  std::map<std::string, Json> byAddress;
  for (const Json& c : probe["controllers"]) byAddress[c["address"]] = c;
  ASSERT_TRUE(byAddress.count("0000:00:1f.2") && byAddress.count("0000:01:00.0")) << probe.dump();
  const Json& ahci = byAddress["0000:00:1f.2"];
  const Json& nvme = byAddress["0000:01:00.0"];
  EXPECT_EQ(ahci["classCode"], sys["ahci.class"].substr(2));
  EXPECT_EQ(nvme["classCode"], sys["nvme.class"].substr(2));
  EXPECT_EQ(ahci["driver"], "ahci");
  EXPECT_EQ(nvme["driver"], "nvme");
  bool cc = false;
  for (const Json& id : nvme["hardwareIds"]) cc = cc || id.get<std::string>().find("&CC_010802") != std::string::npos;
  EXPECT_TRUE(cc) << nvme.dump();
  ASSERT_TRUE(nvme.contains("link"));
  EXPECT_EQ(nvme["link"]["currentSpeed"], Generation(sys["nvme.current_link_speed"]));
  EXPECT_EQ(nvme["link"]["maxSpeed"], Generation(sys["nvme.max_link_speed"]));
  EXPECT_EQ(nvme["link"]["currentWidth"], std::stoul(sys["nvme.current_link_width"]));
  EXPECT_EQ(nvme["link"]["maxWidth"], std::stoul(sys["nvme.max_link_width"]));
  EXPECT_FALSE(ahci.contains("link"));
}

// --- The SATA disk ---------------------------------------------------------------

TEST(RigSata, IdentityMatchesSmartctl) {
  Json s = Section("smartctl-sata");
  std::vector<uint8_t> id = SataPage("identify");
  EXPECT_EQ(AtaString(id, 27, 20), s["model_name"].get<std::string>());
  EXPECT_EQ(AtaString(id, 10, 10), s["serial_number"].get<std::string>());
  EXPECT_EQ(AtaString(id, 23, 4), s["firmware_version"].get<std::string>());
  uint64_t sectors = Le(id, 200, 8);
  EXPECT_EQ(sectors * 512, s["user_capacity"]["bytes"].get<uint64_t>());
  // World wide name, words 108-111: NAA (4 bits), OUI (24 bits), id (36 bits).
  uint64_t wwn = (static_cast<uint64_t>(Word(id, 108)) << 48) | (static_cast<uint64_t>(Word(id, 109)) << 32) |
                 (static_cast<uint64_t>(Word(id, 110)) << 16) | Word(id, 111);
  EXPECT_EQ(wwn >> 60, s["wwn"]["naa"].get<uint64_t>());
  EXPECT_EQ((wwn >> 36) & 0xFFFFFF, s["wwn"]["oui"].get<uint64_t>());
  EXPECT_EQ(wwn & 0xFFFFFFFFFull, s["wwn"]["id"].get<uint64_t>());
}

TEST(RigSata, EverySmartAttributeMatchesSmartctl) {
  Json s = Section("smartctl-sata");
  std::vector<uint8_t> data = SataPage("smartData"), thresholds = SataPage("smartThresholds");
  const Json& table = s["ata_smart_attributes"]["table"];
  ASSERT_FALSE(table.empty());
  size_t ours = 0;
  for (int i = 0; i < 30; ++i) ours += data[2 + 12 * i] != 0;
  EXPECT_EQ(ours, table.size());
  for (const Json& a : table) {
    int id = a["id"];
    bool found = false;
    for (int i = 0; i < 30; ++i) {
      const uint8_t* e = data.data() + 2 + 12 * i;
      if (e[0] != id) continue;
      found = true;
      EXPECT_EQ(e[3], a["value"].get<int>()) << "attribute " << id;
      EXPECT_EQ(e[4], a["worst"].get<int>()) << "attribute " << id;
      EXPECT_EQ(Le(data, 2 + 12 * i + 5, 6), a["raw"]["value"].get<uint64_t>()) << "attribute " << id;
      EXPECT_EQ(thresholds[2 + 12 * i], id) << "threshold entry " << i;
      EXPECT_EQ(thresholds[2 + 12 * i + 1], a["thresh"].get<int>()) << "attribute " << id;
      EXPECT_EQ(e[1] | (e[2] << 8), a["flags"]["value"].get<int>()) << "attribute " << id;
    }
    EXPECT_TRUE(found) << "attribute " << id;
  }
}

TEST(RigSata, TemperatureOfAttribute190MatchesSmartctl) {
  Json s = Section("smartctl-sata");
  std::vector<uint8_t> data = SataPage("smartData");
  int temperature = -1;
  for (int i = 0; i < 30; ++i)
    if (data[2 + 12 * i] == 190) temperature = data[2 + 12 * i + 5];
  EXPECT_EQ(temperature, s["temperature"]["current"].get<int>());
}

TEST(RigSata, AbortedCommandsComeBackWithTheDrivesRegisters) {
  Json probe = Section("probe");
  const Json* sda = Disk(probe, "sda");
  ASSERT_TRUE(sda);
  // SECURITY SET PASSWORD (PIO out) and SMART READ LOG of a log the drive
  // does not keep (PIO in): the drive aborts both; the request is carried and
  // the registers say so, read back from fixed-format sense.
  for (const char* which : {"securitySetPassword", "smartReadLogAborted"}) {
    const Json& r = (*sda)["probe"][which];
    EXPECT_TRUE(r["carried"].get<bool>()) << which << r.dump();
    EXPECT_TRUE(r["haveRegisters"].get<bool>()) << which << r.dump();
    EXPECT_EQ(r["status"].get<int>() & 0x01, 1) << which << r.dump();
    EXPECT_EQ(r["errorRegister"].get<int>() & 0x04, 4) << which << r.dump();
    EXPECT_EQ(r["responseCode"], 0x70) << which << r.dump();
  }
  // A command the drive completes: descriptor-format sense, no error bit.
  const Json& flush = (*sda)["probe"]["flush"];
  EXPECT_TRUE(flush["carried"].get<bool>());
  EXPECT_EQ(flush["responseCode"], 0x72);
  EXPECT_EQ(flush["status"].get<int>() & 0x01, 0);
}

TEST(RigSata, TrimmedSectorsReadBackAsZeros) {
  Json probe = Section("probe");
  const Json* sda = Disk(probe, "sda");
  ASSERT_TRUE(sda);
  EXPECT_TRUE((*sda)["probe"]["trim"]["carried"].get<bool>());
  EXPECT_EQ((*sda)["probe"]["trim"]["status"].get<int>() & 0x01, 0);
  // LBA 96..111 were written with 'A'; 100..107 were trimmed.
  std::vector<int> bytes = DumpBytes(SectionText("trim-readback"));
  ASSERT_EQ(bytes.size(), 16u * 512u);
  for (size_t i = 0; i < bytes.size(); ++i) {
    size_t lba = 96 + i / 512;
    int expected = (lba >= 100 && lba < 108) ? 0x00 : 0x41;
    if (bytes[i] != expected) {
      ADD_FAILURE() << "LBA " << lba << " byte " << i % 512 << " is " << bytes[i];
      break;
    }
  }
}

// --- The NVMe controller ---------------------------------------------------------

TEST(RigNvme, IdentifyControllerMatchesNvmeCli) {
  Json n = Section("nvme-id-ctrl");
  std::vector<uint8_t> id = NvmePage("identify", 4096);
  EXPECT_EQ(Le(id, 0, 2), n["vid"].get<uint64_t>());
  EXPECT_EQ(Le(id, 2, 2), n["ssvid"].get<uint64_t>());
  EXPECT_EQ(std::string(id.begin() + 4, id.begin() + 24), n["sn"].get<std::string>());
  EXPECT_EQ(std::string(id.begin() + 24, id.begin() + 64), n["mn"].get<std::string>());
  EXPECT_EQ(std::string(id.begin() + 64, id.begin() + 72), n["fr"].get<std::string>());
  EXPECT_EQ(id[72], n["rab"].get<int>());
  EXPECT_EQ(Le(id, 73, 3), n["ieee"].get<uint64_t>());
  EXPECT_EQ(id[77], n["mdts"].get<int>());
  EXPECT_EQ(Le(id, 78, 2), n["cntlid"].get<uint64_t>());
  EXPECT_EQ(Le(id, 80, 4), n["ver"].get<uint64_t>());
  EXPECT_EQ(Le(id, 256, 2), n["oacs"].get<uint64_t>());
  EXPECT_EQ(Le(id, 516, 4), n["nn"].get<uint64_t>());
}

TEST(RigNvme, HealthLogMatchesNvmeCli) {
  Json n = Section("nvme-smart-log");
  std::vector<uint8_t> log = NvmePage("smartLog", 512);
  EXPECT_EQ(log[0], Number(n["critical_warning"]));
  EXPECT_EQ(Le(log, 1, 2), Number(n["temperature"]));  // composite, kelvin
  EXPECT_EQ(log[3], Number(n["avail_spare"]));
  EXPECT_EQ(log[4], Number(n["spare_thresh"]));
  EXPECT_EQ(log[5], Number(n["percent_used"]));
  EXPECT_EQ(Le(log, 32, 8), Number(n["data_units_read"]));
  EXPECT_EQ(Le(log, 48, 8), Number(n["data_units_written"]));
  EXPECT_EQ(Le(log, 64, 8), Number(n["host_read_commands"]));
  EXPECT_EQ(Le(log, 112, 8), Number(n["power_cycles"]));
  EXPECT_EQ(Le(log, 128, 8), Number(n["power_on_hours"]));
  EXPECT_EQ(Le(log, 144, 8), Number(n["unsafe_shutdowns"]));
}

TEST(RigNvme, ACommandTheControllerRefusesIsAFailure) {
  Json probe = Section("probe");
  const Json* ns = Disk(probe, "nvme0n1");
  ASSERT_TRUE(ns);
  const Json& r = (*ns)["probe"]["unknownOpcode"];
  EXPECT_FALSE(r["ok"].get<bool>());
  EXPECT_NE(r["status"].get<int>(), 0);
  EXPECT_EQ(r["error"].get<int>(), 1);  // ERROR_INVALID_FUNCTION
}

// --- The system's own operations over the Linux platform ------------------

const Json* SystemDrive(const Json& system, const std::string& classCode) {
  if (!system.contains("drives")) return nullptr;
  for (const Json& d : system["drives"])
    if (d.value("classCode", "") == classCode) return &d;
  return nullptr;
}

TEST(RigSystem, TheDisksAreFoundAsTheSystemLooksForThem) {
  Json system = Section("system");
  ASSERT_EQ(system["interfaces"].size(), 2u) << system.dump();
  EXPECT_TRUE(system["diskTable"].get<bool>());
  EXPECT_EQ(system["version"]["ataPassThrough"], 1);
  EXPECT_EQ(system["version"]["windows8"], 0);  // the rules of version 6.1
  const Json* sata = SystemDrive(system, "010601");
  const Json* nvme = SystemDrive(system, "010802");
  ASSERT_TRUE(sata && nvme) << system.dump();
  EXPECT_EQ((*sata)["interfaceType"], "IDE");
  EXPECT_EQ((*nvme)["interfaceType"], "SCSI");
  EXPECT_FALSE((*sata)["devicePath"].get<std::string>().empty());
  EXPECT_FALSE((*nvme)["devicePath"].get<std::string>().empty());
}

TEST(RigSystem, SataIdentityAndEveryAttributeMatchSmartctl) {
  Json system = Section("system");
  Json s = Section("smartctl-sata");
  const Json* d = SystemDrive(system, "010601");
  ASSERT_TRUE(d) << system.dump();
  EXPECT_TRUE((*d)["identifyOk"].get<bool>());
  EXPECT_TRUE((*d)["smartOk"].get<bool>());
  EXPECT_EQ((*d)["modelName"], s["model_name"]);
  EXPECT_EQ((*d)["model"], s["model_name"]);  // the disk table's model, from the kernel's IDENTIFY copy
  EXPECT_EQ((*d)["serialNumber"], s["serial_number"]);
  EXPECT_EQ((*d)["firmwareRevision"], s["firmware_version"]);
  uint64_t wwn = (s["wwn"]["naa"].get<uint64_t>() << 60) | (s["wwn"]["oui"].get<uint64_t>() << 36) |
                 s["wwn"]["id"].get<uint64_t>();
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(wwn));
  EXPECT_EQ((*d)["worldWideName"], text);
  EXPECT_EQ((*d)["sizeGB"].get<uint64_t>(), s["user_capacity"]["bytes"].get<uint64_t>() / 1000000000u);
  EXPECT_EQ((*d)["temperature"].get<int>(), s["temperature"]["current"].get<int>());
  const Json& table = s["ata_smart_attributes"]["table"];
  ASSERT_EQ((*d)["attributes"].size(), table.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const Json& ours = (*d)["attributes"][i];
    const Json& theirs = table[i];
    SCOPED_TRACE("attribute " + std::to_string(theirs["id"].get<int>()));
    EXPECT_EQ(ours["id"], theirs["id"]);
    EXPECT_EQ(ours["current"], theirs["value"]);
    EXPECT_EQ(ours["worst"], theirs["worst"]);
    EXPECT_EQ(ours["raw"], theirs["raw"]["value"]);
    EXPECT_EQ(ours["threshold"], theirs["thresh"]);
  }
}

TEST(RigSystem, AnAbortedSecurityCommandIsReportedAsEachFormReportsIt) {
  Json system = Section("system");
  const Json* d = SystemDrive(system, "010601");
  ASSERT_TRUE(d);
  EXPECT_NE((*d)["securityBuffered"].get<int>(), 0);  // carried: the verdict is in the registers
  EXPECT_EQ((*d)["securityDirect"].get<int>(), 0);    // the drive's error bit fails the direct form
}

TEST(RigSystem, TheSystemsTrimReadsBackAsZeros) {
  Json system = Section("system");
  const Json* d = SystemDrive(system, "010601");
  ASSERT_TRUE(d);
  EXPECT_NE((*d)["trim"].get<int>(), 0);
  std::vector<int> bytes = DumpBytes(SectionText("system-trim-readback"));
  ASSERT_EQ(bytes.size(), 8u * 512u);
  for (size_t i = 0; i < bytes.size(); ++i) {
    size_t lba = 198 + i / 512;
    int expected = (lba >= 200 && lba < 204) ? 0x00 : 0x42;
    if (bytes[i] != expected) {
      ADD_FAILURE() << "LBA " << lba << " byte " << i % 512 << " is " << bytes[i];
      break;
    }
  }
}

TEST(RigSystem, NvmeIdentityAndHealthMatchNvmeCli) {
  Json system = Section("system");
  Json id = Section("nvme-id-ctrl");
  Json log = Section("nvme-smart-log");
  const Json* d = SystemDrive(system, "010802");
  ASSERT_TRUE(d) << system.dump();
  EXPECT_TRUE((*d)["identifyOk"].get<bool>());
  EXPECT_TRUE((*d)["healthOk"].get<bool>());
  EXPECT_TRUE((*d)["miniportHealthOk"].get<bool>());
  EXPECT_TRUE((*d)["scsiPortOk"].get<bool>());
  EXPECT_FALSE((*d)["tunnelOk"].get<bool>());  // no SCSI behind an NVMe namespace
  EXPECT_EQ((*d)["modelName"], Trim(id["mn"].get<std::string>()));
  EXPECT_EQ((*d)["serialNumber"], Trim(id["sn"].get<std::string>()));
  EXPECT_EQ((*d)["firmwareRevision"], Trim(id["fr"].get<std::string>()));
  EXPECT_EQ((*d)["temperature"].get<int64_t>(), static_cast<int64_t>(Number(log["temperature"])) - 273);
  EXPECT_EQ((*d)["remainingLife"].get<int64_t>(), 100 - static_cast<int64_t>(Number(log["percent_used"])));
  EXPECT_EQ((*d)["totalBytesWritten"].get<uint64_t>(), Number(log["data_units_written"]) / 2048);
}

TEST(RigSystem, TheVerificationModeRunsAndWritesItsResultFiles) {
  Json system = Section("system");
  ASSERT_TRUE(system.contains("dvt")) << system.dump();
  const Json& dvt = system["dvt"];
  EXPECT_EQ(dvt["result"], 0) << dvt.dump() << "\n" << Sections()["dvt-files"];
  EXPECT_EQ(dvt["smartLines"], 2);
  EXPECT_EQ(dvt["smartPassed"], 2);
  EXPECT_EQ(dvt["identifyLines"], 3);
  EXPECT_EQ(dvt["identifyPassed"], 3);
  const std::string& files = Sections()["dvt-files"];
  EXPECT_NE(files.find("== zel_rig_probe_pass.log"), std::string::npos) << files;
  EXPECT_NE(files.find("== zel_rig_probe_DVT_"), std::string::npos) << files;  // the report, named by serial
  EXPECT_NE(files.find("Total: 2 SMART attributes from config file."), std::string::npos) << files;
  EXPECT_NE(files.find("Zelvane DVT Complete!!!"), std::string::npos) << files;
}

TEST(RigSystem, DiscoveryListsBothDrivesWithTheirIdentityAndLink) {
  Json system = Section("system");
  Json s = Section("smartctl-sata");
  Json id = Section("nvme-id-ctrl");
  Json log = Section("nvme-smart-log");
  auto sys = KeyValues("sysfs");
  ASSERT_EQ(system["discoveryCount"], 2) << system.dump();
  const Json& sata = system["discovered"][0];
  const Json& nvme = system["discovered"][1];
  EXPECT_EQ(sata["busType"], 1);
  EXPECT_EQ(sata["modelName"], s["model_name"]);
  EXPECT_EQ(sata["serialNumber"], s["serial_number"]);
  EXPECT_EQ(sata["firmwareRevision"], s["firmware_version"]);
  EXPECT_EQ(sata["temperature"], s["temperature"]["current"]);
  EXPECT_EQ(sata["smartAttributeCount"].get<size_t>(), s["ata_smart_attributes"]["table"].size());
  EXPECT_EQ(sata["diskSizeGB"].get<uint64_t>(), s["user_capacity"]["bytes"].get<uint64_t>() / 1000000000u);
  EXPECT_EQ(nvme["busType"], 3);
  EXPECT_EQ(nvme["modelName"], Trim(id["mn"].get<std::string>()));
  EXPECT_EQ(nvme["serialNumber"], Trim(id["sn"].get<std::string>()));
  EXPECT_EQ(nvme["temperature"].get<int64_t>(), static_cast<int64_t>(Number(log["temperature"])) - 273);
  // The PCI Express link of the NVMe controller, as sysfs shows it.
  EXPECT_EQ(nvme["link"]["currentSpeed"], Generation(sys["nvme.current_link_speed"]));
  EXPECT_EQ(nvme["link"]["maxSpeed"], Generation(sys["nvme.max_link_speed"]));
  EXPECT_EQ(nvme["link"]["currentWidth"], std::stoul(sys["nvme.current_link_width"]));
  EXPECT_EQ(nvme["link"]["maxWidth"], std::stoul(sys["nvme.max_link_width"]));
  // The AHCI controller is no PCI Express device here: no link.
  EXPECT_EQ(sata["link"]["maxWidth"], 0);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: rig_compare GUEST_OUTPUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  Sections() = ParseSections(ss.str());
  return RUN_ALL_TESTS();
}
