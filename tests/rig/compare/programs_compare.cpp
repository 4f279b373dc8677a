// The programs themselves in the rig's guest (zelvane list, info, details,
// report; SSDZelvane -dvt), on the real machine of the guest, compared with
// smartctl, nvme-cli and sysfs on the same emulated drives.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "rig_sections.h"

using namespace rig;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Hex16(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(v));
  return text;
}

// The SATA drive's world wide name as smartctl gives it, in sixteen digits.
std::string SmartctlWwn(const Json& s) {
  return Hex16((s["wwn"]["naa"].get<uint64_t>() << 60) | (s["wwn"]["oui"].get<uint64_t>() << 36) |
               s["wwn"]["id"].get<uint64_t>());
}

uint64_t HexValue(const Json& text) { return std::stoull(text.get<std::string>(), nullptr, 16); }

const Json* RowWhere(const Json& rows, const char* key, const std::string& value) {
  for (const Json& r : rows)
    if (r.value(key, "") == value) return &r;
  return nullptr;
}

// The part of the system report that belongs to disk N: from its
// "Disk Channel: N" line to the next drive's or the end.
std::string ReportDriveSection(const std::string& report, int disk) {
  size_t at = report.find("Disk Channel: " + std::to_string(disk) + "\n");
  if (at == std::string::npos) return "";
  size_t next = report.find("Disk Channel: ", at + 14);
  return report.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

// The bytes of the report's "MBR Table" (or "GPT Table") dump in a drive's section.
std::vector<int> ReportSectorDump(const std::string& section) {
  std::vector<int> bytes;
  size_t at = section.find("\nMBR Table\n");
  if (at == std::string::npos) at = section.find("\nGPT Table\n");
  if (at == std::string::npos) return bytes;
  std::istringstream in(section.substr(at + 11));
  std::string line;
  std::getline(in, line);  // the column header
  while (std::getline(in, line) && line.size() > 4 && line.find_first_not_of("0123456789ABCDEF") == 3) {
    std::istringstream cells(line.substr(3));
    std::string cell;
    while (cells >> cell) bytes.push_back(std::stoi(cell, nullptr, 16));
  }
  return bytes;
}

TEST(RigPrograms, ListShowsBothDrivesAsTheOraclesSeeThem) {
  ProgramRun list = Program("zelvane-list");
  Json s = Section("smartctl-sata"), id = Section("nvme-id-ctrl"), log = Section("nvme-smart-log");
  auto sys = KeyValues("sysfs");
  ASSERT_EQ(list.exit, 0) << list.stderrText;
  const Json& drives = list.json["drives"];
  ASSERT_EQ(drives.size(), 2u) << list.json.dump(2);
  const Json& sata = drives[0];
  EXPECT_EQ(sata["disk"], 0);
  EXPECT_EQ(sata["bus"], "SATA");
  EXPECT_EQ(sata["model"], s["model_name"]);
  EXPECT_EQ(sata["serial"], s["serial_number"]);
  EXPECT_EQ(sata["firmware"], s["firmware_version"]);
  // GB of 10^9 bytes: the disks' sizes differ from their GiB.
  EXPECT_EQ(sata["sizeGB"].get<uint64_t>(), s["user_capacity"]["bytes"].get<uint64_t>() / 1000000000u);
  EXPECT_EQ(sata["temperatureC"], s["temperature"]["current"]);
  const Json& nvme = drives[1];
  EXPECT_EQ(nvme["disk"], 1);
  EXPECT_EQ(nvme["bus"], "NVMe");
  EXPECT_EQ(nvme["model"], Trim(id["mn"].get<std::string>()));
  EXPECT_EQ(nvme["serial"], Trim(id["sn"].get<std::string>()));
  EXPECT_EQ(nvme["firmware"], Trim(id["fr"].get<std::string>()));
  EXPECT_EQ(nvme["sizeGB"].get<uint64_t>(), std::stoull(sys["nvme0n1.size"]) * 512 / 1000000000u);
  EXPECT_EQ(nvme["temperatureC"].get<int64_t>(), static_cast<int64_t>(Number(log["temperature"])) - 273);
}

TEST(RigPrograms, InfoShowsWwnControllerClassLinkAndTheLetteredVolume) {
  Json s = Section("smartctl-sata");
  auto sys = KeyValues("sysfs");

  ProgramRun sata = Program("zelvane-info-0");
  ASSERT_EQ(sata.exit, 0) << sata.stderrText;
  const Json& a = sata.json;
  EXPECT_EQ(a["serial"], s["serial_number"]);
  EXPECT_EQ(a["wwn"], SmartctlWwn(s));
  std::string speed = s.contains("interface_speed") ? s["interface_speed"]["current"]["string"].get<std::string>()
                                                    : std::string("N/A");
  EXPECT_EQ(a["connectionSpeed"], "SATA " + speed);
  EXPECT_EQ(a["pciClassCode"], sys["ahci.class"].substr(2));
  EXPECT_TRUE(a["pcieLink"].is_null());
  // The FAT partition mounted at /mnt/d. The guest's root is no block
  // device, so the first lettered volume is C:.
  ASSERT_EQ(a["logicalDrives"].size(), 1u) << a.dump(2);
  const Json& volume = a["logicalDrives"][0];
  EXPECT_EQ(volume["name"], "C:");
  EXPECT_EQ(volume["fileSystem"], "FAT32");
  const uint64_t blockSize = std::stoull(sys["d.blockSize"]);
  EXPECT_EQ(volume["sizeMB"].get<uint64_t>(), std::stoull(sys["d.blocks"]) * blockSize >> 20);
  EXPECT_EQ(volume["freeMB"].get<uint64_t>(), std::stoull(sys["d.available"]) * blockSize >> 20);
  EXPECT_EQ(a["partitionText"], "C:");

  ProgramRun nvme = Program("zelvane-info-1");
  ASSERT_EQ(nvme.exit, 0) << nvme.stderrText;
  const Json& n = nvme.json;
  EXPECT_EQ(n["pciClassCode"], sys["nvme.class"].substr(2));
  const uint32_t current = Generation(sys["nvme.current_link_speed"]);
  const uint32_t width = static_cast<uint32_t>(std::stoul(sys["nvme.current_link_width"]));
  EXPECT_EQ(n["pcieLink"]["currentSpeed"], current);
  EXPECT_EQ(n["pcieLink"]["currentWidth"], width);
  EXPECT_EQ(n["pcieLink"]["maxSpeed"], Generation(sys["nvme.max_link_speed"]));
  EXPECT_EQ(n["pcieLink"]["maxWidth"], std::stoul(sys["nvme.max_link_width"]));
  EXPECT_EQ(n["connectionSpeed"], "PCIe Gen" + std::to_string(current) + " x" + std::to_string(width));
  EXPECT_TRUE(n["logicalDrives"].empty());
}

TEST(RigPrograms, SataDriveDetailsAreTheIdentifyPageSmartctlDecodes) {
  Json s = Section("smartctl-sata");
  ProgramRun details = Program("zelvane-details-0");
  ASSERT_EQ(details.exit, 0) << details.stderrText;
  EXPECT_EQ(details.json["mode"], "drive");
  EXPECT_EQ(details.json["bus"], "ata");
  // The controller line names the AHCI class of the disk's controller.
  EXPECT_TRUE(Contains(details.json["header"].get<std::string>(), " / AHCI\n")) << details.json["header"];
  const Json& rows = details.json["rows"];
  ASSERT_EQ(rows.size(), 256u);
  std::vector<uint8_t> page(512);
  for (int w = 0; w < 256; ++w) {
    ASSERT_EQ(rows[w]["item"], "Word " + std::to_string(w));
    uint64_t word = HexValue(rows[w]["value"]);
    page[2 * w] = static_cast<uint8_t>(word);
    page[2 * w + 1] = static_cast<uint8_t>(word >> 8);
  }
  // The record keeps its text fields in reading order (discovery swaps
  // their bytes when it decodes them), so they read low byte first here.
  auto text = [&](int word, int words) { return Trim(std::string(page.begin() + 2 * word, page.begin() + 2 * (word + words))); };
  EXPECT_EQ(text(27, 20), s["model_name"].get<std::string>());
  EXPECT_EQ(text(10, 10), s["serial_number"].get<std::string>());
  EXPECT_EQ(text(23, 4), s["firmware_version"].get<std::string>());
  EXPECT_EQ(Le(page, 200, 8), s["user_capacity"]["blocks"].get<uint64_t>());
  EXPECT_EQ(Hex16(Le(page, 216, 2) << 48 | Le(page, 218, 2) << 32 | Le(page, 220, 2) << 16 | Le(page, 222, 2)),
            SmartctlWwn(s));
}

TEST(RigPrograms, SataSmartDetailsHoldEveryAttributeSmartctlShows) {
  Json s = Section("smartctl-sata");
  ProgramRun details = Program("zelvane-smart-0");
  ASSERT_EQ(details.exit, 0) << details.stderrText;
  const Json& rows = details.json["rows"];
  const Json& table = s["ata_smart_attributes"]["table"];
  ASSERT_FALSE(table.empty());
  ASSERT_EQ(rows.size(), table.size()) << details.json.dump(2);
  bool temperatureSeen = false;
  for (size_t i = 0; i < table.size(); ++i) {
    const Json& ours = rows[i];
    const Json& theirs = table[i];
    const int id = theirs["id"];
    SCOPED_TRACE("attribute " + std::to_string(id));
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", id);
    EXPECT_EQ(ours["id"], std::to_string(id));
    EXPECT_EQ(ours["hex"], hex);
    EXPECT_EQ(ours["current"], std::to_string(theirs["value"].get<int>()));
    EXPECT_EQ(ours["worst"], std::to_string(theirs["worst"].get<int>()));
    EXPECT_EQ(ours["threshold"], std::to_string(theirs["thresh"].get<int>()));
    // "0x", the reserved byte, then raw bytes 5 down to 0.
    const std::string raw = ours["raw"];
    ASSERT_EQ(raw.size(), 16u) << raw;
    const uint64_t raw48 = std::stoull(raw.substr(4), nullptr, 16);
    EXPECT_EQ(raw48, theirs["raw"]["value"].get<uint64_t>());
    if (id == 190) {
      temperatureSeen = true;
      EXPECT_EQ(static_cast<int>(raw48 & 0xFF), s["temperature"]["current"].get<int>());
    }
  }
  EXPECT_TRUE(temperatureSeen) << "no attribute 190";
}

TEST(RigPrograms, NvmeDriveDetailsAreTheIdentifyControllerFieldsNvmeCliShows) {
  Json id = Section("nvme-id-ctrl");
  ProgramRun details = Program("zelvane-details-1");
  ASSERT_EQ(details.exit, 0) << details.stderrText;
  EXPECT_EQ(details.json["mode"], "drive");
  EXPECT_EQ(details.json["bus"], "nvme");
  const Json& rows = details.json["rows"];
  ASSERT_EQ(rows.size(), 502u);
  for (const char* text : {"SN", "MN", "FR"}) {
    const Json* row = RowWhere(rows, "item", text);
    ASSERT_TRUE(row) << text;
    std::string key = text;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ((*row)["value"], id[key]) << text;
  }
  // The numeric fields; the two the list shows as their bit 0 only are masked.
  struct Field {
    const char* item;
    const char* key;
    uint64_t mask;
  } const fields[] = {
      {"VID", "vid", ~0ull},
      {"SSVID", "ssvid", ~0ull},
      {"RAB", "rab", ~0ull},
      {"MDTS", "mdts", ~0ull},
      {"Optional Admin Command Support", "oacs", 1},
      {"ACL", "acl", ~0ull},
      {"UAERL", "aerl", ~0ull},
      {"Firmware Updates", "frmw", 1},
      {"Log Page Attributes", "lpa", ~0ull},
      {"Error Log Page Entries", "elpe", ~0ull},
      {"Number of Power States Support", "npss", ~0ull},
      {"Admin Vendor Specific Command Configuration", "avscc", ~0ull},
      {"Submission Queue Entry Size", "sqes", ~0ull},
      {"Completion Queue Entry Size", "cqes", ~0ull},
      {"Number of Namespaces", "nn", ~0ull},
      {"Optional NVM Command Support", "oncs", ~0ull},
      {"Fused Operation Support", "fuses", ~0ull},
      {"Format NVM Attributes", "fna", ~0ull},
      {"Volatile Write Cache", "vwc", ~0ull},
      {"Atomic Write Unit Normal", "awun", ~0ull},
      {"Atomic Write Unit Power Fail", "awupf", ~0ull},
  };
  for (const Field& f : fields) {
    const Json* row = RowWhere(rows, "item", f.item);
    ASSERT_TRUE(row) << f.item;
    EXPECT_EQ(HexValue((*row)["value"]), Number(id[f.key]) & f.mask) << f.item;
  }
  // IEEE OUI and CMIC, bytes 73 to 76 in page order.
  const Json* ieee = RowWhere(rows, "item", "IEEE");
  ASSERT_TRUE(ieee);
  const uint64_t oui = Number(id["ieee"]);
  char bytes[16];
  std::snprintf(bytes, sizeof bytes, "0x%02X%02X%02X%02X", static_cast<unsigned>(oui & 0xFF),
                static_cast<unsigned>(oui >> 8 & 0xFF), static_cast<unsigned>(oui >> 16 & 0xFF),
                static_cast<unsigned>(Number(id["cmic"])));
  EXPECT_EQ((*ieee)["value"], bytes);
}

TEST(RigPrograms, NvmeSmartDetailsAreTheHealthLogNvmeCliShows) {
  Json log = Section("nvme-smart-log");
  ProgramRun details = Program("zelvane-smart-1");
  ASSERT_EQ(details.exit, 0) << details.stderrText;
  const Json& rows = details.json["rows"];
  ASSERT_EQ(rows.size(), 15u);
  auto value = [&](const char* row) {
    const Json* r = RowWhere(rows, "id", row);
    EXPECT_TRUE(r) << row;
    return r ? HexValue((*r)["value"]) : ~0ull;
  };
  // The same log page read later: fixed values agree, read counters only grow.
  struct Field {
    const char* row;
    const char* key;
  } const same[] = {{"01h", "critical_warning"},   {"02h", "temperature"},     {"03h", "avail_spare"},
                    {"04h", "spare_thresh"},       {"05h", "percent_used"},    {"07h", "data_units_written"},
                    {"09h", "host_write_commands"}, {"0Bh", "power_cycles"},   {"0Ch", "power_on_hours"},
                    {"0Dh", "unsafe_shutdowns"},   {"0Eh", "media_errors"},    {"0Fh", "num_err_log_entries"}};
  for (const Field& f : same) EXPECT_EQ(value(f.row), Number(log[f.key])) << f.row << " " << f.key;
  EXPECT_GT(value("07h"), 0u) << "the guest wrote to the namespace";
  const Field growing[] = {{"06h", "data_units_read"}, {"08h", "host_read_commands"}, {"0Ah", "controller_busy_time"}};
  for (const Field& f : growing) EXPECT_GE(value(f.row), Number(log[f.key])) << f.row << " " << f.key;
}

TEST(RigPrograms, ReportHoldsTheDriveSectionOfBothDisks) {
  Json s = Section("smartctl-sata"), id = Section("nvme-id-ctrl");
  ProgramRun run = Program("zelvane-report");
  ASSERT_EQ(run.exit, 0) << run.stderrText;
  EXPECT_EQ(run.json["written"], true);
  EXPECT_EQ(run.json["drives"], 2);
  const std::string report = SectionText("report-file");
  EXPECT_TRUE(Contains(report, "There are 2 disk drives attached.\n")) << report.substr(0, 3000);

  const std::string sata = ReportDriveSection(report, 0);
  const uint64_t sectors = s["user_capacity"]["blocks"].get<uint64_t>();
  char maxLba[64];
  std::snprintf(maxLba, sizeof maxLba, "Maximum LBA: %llX (%llu)\n", static_cast<unsigned long long>(sectors),
                static_cast<unsigned long long>(sectors));
  for (const std::string& line :
       {"Model Name: " + s["model_name"].get<std::string>() + "\n",
        "Disk Size: " + std::to_string(s["user_capacity"]["bytes"].get<uint64_t>() / 1000000000u) + " GB\n",
        std::string(maxLba), "World Wide Name: " + SmartctlWwn(s) + "\n",
        "Serial Number: " + s["serial_number"].get<std::string>() + "\n",
        "Firmware Revision: " + s["firmware_version"].get<std::string>() + "\n",
        "Temperature: " + std::to_string(s["temperature"]["current"].get<int>()) + " degree C\n",
        // diskpart's detail text, as the backend answers it
        std::string("Disk 0 is now the selected disk.\n\n") + s["model_name"].get<std::string>() +
            "\nDisk ID: 1A2B3C4D\nPartition style : MBR\nType   : SATA\nSize   : " +
            std::to_string(s["user_capacity"]["bytes"].get<uint64_t>() >> 20) + " MB\n",
        std::string("Device : /dev/sda\n"), std::string("  Volume 1     C   ZELVANE      FAT32  Partition  ")})
    EXPECT_TRUE(Contains(sata, line)) << line << "\n" << sata;
  // The first sectors, read raw: sector 0 as the guest reads it.
  std::vector<int> dump = ReportSectorDump(sata);
  std::vector<int> sector0 = DumpBytes(SectionText("sda-sector0"));
  ASSERT_EQ(dump.size(), 512u) << sata;
  EXPECT_EQ(dump, sector0);

  const std::string nvme = ReportDriveSection(report, 1);
  for (const std::string& line : {"Model Name: " + Trim(id["mn"].get<std::string>()) + "\n",
                                  "Serial Number: " + Trim(id["sn"].get<std::string>()) + "\n",
                                  std::string("Disk 1 is now the selected disk.\n"), std::string("Type   : NVMe\n"),
                                  std::string("Device : /dev/nvme0n1\n"), std::string("There are no volumes.\n")})
    EXPECT_TRUE(Contains(nvme, line)) << line << "\n" << nvme;
  // The guest wrote 'N' over the namespace's first sectors.
  EXPECT_EQ(ReportSectorDump(nvme), std::vector<int>(512, 'N')) << nvme;
}

TEST(RigPrograms, ShortSelfTestPassesAsTheDriveLogsItAndNvmeSaysNotSupported) {
  ProgramRun sata = Program("zelvane-selftest-0");
  EXPECT_EQ(sata.exit, 0) << sata.stderrText;
  EXPECT_EQ(sata.json.value("outcome", ""), "passed");
  EXPECT_EQ(sata.json.value("result", 0), 101);
  // The drive's own log, as smartctl reads it: the newest entry is the
  // short off-line test this run started, completed without error.
  Json log = Section("smartctl-selftest");
  Json table = log["ata_smart_self_test_log"]["standard"]["table"];
  ASSERT_TRUE(table.is_array() && !table.empty()) << log.dump();
  EXPECT_EQ(table[0]["type"]["value"], 1);
  EXPECT_EQ(table[0]["status"]["value"], 0);

  ProgramRun nvme = Program("zelvane-selftest-1");
  EXPECT_EQ(nvme.exit, 2) << nvme.stderrText;
  EXPECT_EQ(nvme.json.value("outcome", ""), "not supported");
  EXPECT_TRUE(nvme.json["result"].is_null());
  EXPECT_EQ(nvme.json.dump().find("passed"), std::string::npos);
}

TEST(RigPrograms, TheDesktopProgramVerifiesTheSataDriveAndWritesItsFiles) {
  Json s = Section("smartctl-sata");
  const std::string criteria = SectionText("dvt-criteria");
  // The criteria file was made from the drive's own values.
  EXPECT_TRUE(Contains(criteria, "27-46," + s["model_name"].get<std::string>() + "\n")) << criteria;
  EXPECT_TRUE(Contains(criteria, "23-26," + s["firmware_version"].get<std::string>() + "\n")) << criteria;
  const std::string files = SectionText("ssdzelvane-files");
  EXPECT_TRUE(Contains(SectionText("ssdzelvane-dvt"), "exit=0\n")) << SectionText("ssdzelvane-dvt") << files;
  for (const std::string& part :
       {std::string("== SSDZelvane.log\n"), std::string("Zelvane DVT criteria file :ZelvaneDvtRig.txt\n"),
        std::string("Zelvane DVT Complete!!!\n"),
        "== SSDZelvane_DVT_fail_" + s["serial_number"].get<std::string>() + ".log\n",
        std::string("== SSDZelvane_dvt.log\n"), std::string("Total: 2 SMART attributes from config file.\n"),
        std::string("Total: 4 Identify Table from config file.\n"), std::string("== SSDZelvane_pass.log\n")})
    EXPECT_TRUE(Contains(files, part)) << part << "\n" << files;
  EXPECT_FALSE(Contains(files, "== SSDZelvane_fail.log")) << files;
}

}  // namespace
