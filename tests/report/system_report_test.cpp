#include "report/system_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/file_util.h"
#include "platform/format.h"
#include "report/system_report_support.h"

namespace zel {
namespace {

using test::CrLfLines;
using test::FindLine;
using test::Slice;

const std::string kS60(60, '=');
const std::string kD60(60, '-');
const std::string kD83(83, '-');
const std::string kByteHeader = "     0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F";
const std::string kZeroRowTail = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";

// The lines of drive `disk`'s block: from its "Disk Channel" line up to the
// separator that opens the next block (or the closing one).
std::vector<std::string> DriveBlock(const std::vector<std::string>& lines, int disk) {
  int start = FindLine(lines, Format("Disk Channel: %d", disk));
  EXPECT_GE(start, 1) << "no block of disk " << disk;
  if (start < 1) return {};
  EXPECT_EQ(lines[static_cast<size_t>(start - 1)], kD83);
  int end = start;
  const int size = static_cast<int>(lines.size());
  for (; end < size; ++end) {
    const std::string& line = lines[static_cast<size_t>(end)];
    if (line == kS60) break;
    if (line == kD83 && end + 1 < size &&
        lines[static_cast<size_t>(end + 1)].rfind("Disk Channel:", 0) == 0)
      break;
  }
  return Slice(lines, start, end - start);
}

// The lines after `title` in a block, up to the next 83-dash separator.
std::vector<std::string> Section(const std::vector<std::string>& block, const std::string& title) {
  int start = FindLine(block, title);
  EXPECT_GE(start, 0) << "no section " << title;
  if (start < 0) return {};
  int end = FindLine(block, kD83, start);
  return Slice(block, start + 1, (end < 0 ? static_cast<int>(block.size()) : end) - start - 1);
}

// A 16-byte dump row as the report prints it, from bytes known to the test.
std::string ByteRow(const uint8_t* data, int row) {
  std::string line = Format("%02X0", row);
  for (int i = 0; i < 16; ++i) line += Format(" %02X", data[16 * row + i]);
  return line;
}

class SystemReportTest : public test::ReportTest {};

TEST_F(SystemReportTest, SystemControllerAndMemorySectionsLineForLine) {
  const std::vector<std::string> lines = CrLfLines(Export());
  const std::string name0 = "QUARN KD785KK 512GB";
  const std::string ahci = "PCI\\\\VEN_8086&DEV_A352&SUBSYS_86941043&REV_10\\\\3&11583659&0&B8";
  const std::vector<std::string> expected = {
      Format("QUARN Zelvane Version: %d.%d.%d", ZEL_VERSION_MAJOR, ZEL_VERSION_MINOR,
             ZEL_VERSION_PATCH),
      "Build Number:Q91B102E",
      kS60,
      // The name keeps the line break the inventory puts before its suffix.
      "OS: Microsoft Windows 10 Pro",
      " x64",
      "Language: 0x0411",
      "CPU: Intel(R) Core(TM) i5-9400 CPU @ 2.90GHz x64",
      "Available RAM: 8192 MB",
      "MotherBoard Vendor: Board Co",
      "MotherBoard: B360M",
      "BIOS Version: F12",
      kS60,
      "",
      "HBA Information",
      "HBA Number: 2",
      kD60,
      "HBA Name: Standard SATA AHCI Controller",
      "Driver Provider: Microsoft",
      "Attached Device Number: 3",
      "    Attached Device Name: " + name0 + ahci,
      "    Physical Drive Index: 0",
      "    Attached Device Name: QUARN SSD KV455 4TB" + ahci,
      "    Physical Drive Index: 1",
      "    Attached Device Name: OTHERCO SSD 500GB" + ahci,
      "    Physical Drive Index: 2",
      // A controller without drives: its count and nothing more.
      kD60,
      "HBA Name: Add-on SATA Controller",
      "Driver Provider: Add-on Maker",
      "Attached Device Number: 0",
      kS60,
      "",
      // No memory modules: the title, the count and the separator.
      "DRAM Information",
      "DRAM Number: 0",
      kS60,
      "",
      "There are 4 disk drives attached.",
      kD83,
      "Disk Channel: 0",
  };
  EXPECT_EQ(Slice(lines, 0, static_cast<int>(expected.size())), expected);
  // The report ends with its separator and a line end.
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), kS60);
}

TEST_F(SystemReportTest, MemoryModulesAreListed) {
  UseMachine(R"({"system": {"modules": [
      {"deviceLocator": "DIMM1", "bankLabel": "BANK 0", "manufacturer": "Mem Co", "capacity": 4294967296, "speed": 2400},
      {"deviceLocator": "DIMM2", "bankLabel": "BANK 1", "manufacturer": "BANK 1", "capacity": 4294967296, "speed": 2133}]},
    "drives": [{"index": 0}]})");
  const std::vector<std::string> lines = CrLfLines(Export());
  int at = FindLine(lines, "DRAM Information");
  ASSERT_GE(at, 0);
  EXPECT_EQ(Slice(lines, at, 16), (std::vector<std::string>{
                                      "DRAM Information", "DRAM Number: 2", kD60,
                                      "Device Locator: DIMM1", "Bank Label: BANK 0",
                                      "Manufacturer: Mem Co", "Capacity: 4294967296", "Speed: 2400",
                                      kD60, "Device Locator: DIMM2", "Bank Label: BANK 1",
                                      "Manufacturer: N/A", "Capacity: 4294967296", "Speed: 2133",
                                      kS60, ""}));
}

TEST_F(SystemReportTest, SataDriveOnAGptDisk) {
  const PhysicalDriveTable table = Discover();
  ASSERT_EQ(table.size(), 4u);
  ASSERT_TRUE(WriteReport(Dir() + "/report.log", table));
  const std::vector<std::string> block = DriveBlock(CrLfLines(test::ReadFile(Dir() + "/report.log")), 0);

  EXPECT_EQ(Slice(block, 0, 11), (std::vector<std::string>{
                                     "Disk Channel: 0",
                                     "Model Name: QUARN KD785KK 512GB",
                                     "Disk Size: 512 GB",
                                     "Maximum LBA: 3B9E12B0 (1000215216)",
                                     "World Wide Name: 5001B44A1C2D3E4F",
                                     "Serial Number: QKD785KK00000001",
                                     "Firmware Revision: KD785A01",
                                     "Connection Speed: SATA 6.0 Gb/s",
                                     "Temperature: 35 degree C",
                                     kD83,
                                     "Identify Table",
                                 }));

  // The identify page as 16 rows of 16 words, labels 00 to F0.
  const std::vector<std::string> identify = Section(block, "Identify Table");
  ASSERT_EQ(identify.size(), 17u);
  EXPECT_EQ(identify[0],
            "       0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F");
  for (int r = 0; r < 16; ++r) {
    std::string row = Format("%X0 ", r);
    for (int i = 0; i < 16; ++i) row += Format(" %04X", table[0].IdentifyWord(16 * r + i));
    EXPECT_EQ(identify[static_cast<size_t>(r + 1)], row);
  }
  // Words 100-103 (the maximum LBA) and 108-111 (the world wide name).
  EXPECT_EQ(identify[7], "60  0000 0000 0000 0000 12B0 3B9E 0000 0000 0000 0000 4000 0000 5001 B44A 1C2D 3E4F");

  // The attributes with their thresholds by position: the reserved byte and
  // raw[5] down to raw[0], then the two flag bytes.
  EXPECT_EQ(Section(block, "SMART Attributes"), (std::vector<std::string>{
                                                    "ID Current Worst Threshold RAW_value      Flags",
                                                    "01      64    64        32 00000000000000 0B00",
                                                    "05      64    63        0A 00000000002710 3300",
                                                    "09      64    64        00 000000000010E1 3200",
                                                    "C2      41    32        00 00003200140023 2200",
                                                }));

  // The SMART data page: 32 rows, labels 000 to 1F0.
  const std::vector<std::string> smart = Section(block, "SMART Read Data");
  ASSERT_EQ(smart.size(), 33u);
  EXPECT_EQ(smart[0], kByteHeader);
  for (int r = 0; r < 32; ++r) EXPECT_EQ(smart[static_cast<size_t>(r + 1)], ByteRow(table[0].SmartData.data(), r));
  EXPECT_EQ(smart[32].substr(0, 4), "1F0 ");

  // A protective MBR (type 0xEE at byte 450): both sectors, 64 rows to 3F0.
  const std::vector<std::string> gpt = Section(block, "GPT Table");
  ASSERT_EQ(gpt.size(), 65u);
  EXPECT_EQ(gpt[0], kByteHeader);
  EXPECT_EQ(gpt[1], "000" + kZeroRowTail);
  EXPECT_EQ(gpt[0x1C + 1], "1C0 02 00 EE FF FF FF 01 00 00 00 FF FF FF FF 00 00");
  EXPECT_EQ(gpt[0x1F + 1], "1F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 55 AA");
  EXPECT_EQ(gpt[0x20 + 1], "200 45 46 49 20 50 41 52 54 00 00 01 00 5C 00 00 00");
  EXPECT_EQ(gpt[0x23 + 1], "230 00 00 00 00 00 00 00 00 78 56 34 12 BC 9A F0 DE");
  EXPECT_EQ(gpt[64], "3F0" + kZeroRowTail);
  EXPECT_EQ(FindLine(block, "MBR Table"), -1);
}

TEST_F(SystemReportTest, TemperatureLineShowsTheRecordsTemperature) {
  // The value decoded when the pages were read: the last temperature
  // attribute wins, and a drive without one shows 0 (not the "no reading"
  // value 65535 of the health page).
  UseMachine(R"({"drives": [
    {"index": 0, "smart": {"attributes": [{"id": 9, "raw": 100}]}},
    {"index": 1, "smart": {"attributes": [{"id": 194, "raw": 44}, {"id": 190, "raw": 30}]}},
    {"index": 2, "model": "SAMSUNG SV0802N", "smart": {"attributes": [{"id": 194, "raw": 300}]}}]})");
  const std::vector<std::string> lines = CrLfLines(Export());
  const struct {
    int disk;
    const char* line;
  } cases[] = {
      {0, "Temperature: 0 degree C"},
      {1, "Temperature: 30 degree C"},
      {2, "Temperature: 30 degree C"},  // 300 tenths of a degree for this model
  };
  for (const auto& c : cases) {
    const std::vector<std::string> block = DriveBlock(lines, c.disk);
    EXPECT_GE(FindLine(block, c.line), 0) << "disk " << c.disk;
  }
}

TEST_F(SystemReportTest, MbrDiskWithAMaximumLbaBeyond32Bits) {
  const std::vector<std::string> block = DriveBlock(CrLfLines(Export()), 1);
  // 7,814,037,168 sectors: in full, not its low 32 bits.
  EXPECT_EQ(Slice(block, 2, 2), (std::vector<std::string>{"Disk Size: 4000 GB",
                                                          "Maximum LBA: 1D1C0BEB0 (7814037168)"}));
  const std::vector<std::string> mbr = Section(block, "MBR Table");
  ASSERT_EQ(mbr.size(), 33u);  // sector 0 only, labels 000 to 1F0
  EXPECT_EQ(mbr[0x1B + 1], "1B0 00 00 00 00 00 00 00 00 4D 3C 2B 1A 00 00 80 20");
  EXPECT_EQ(mbr[0x1C + 1], "1C0 21 00 07 FE FF FF 00 08 00 00 00 F8 FF FF 00 00");
  EXPECT_EQ(mbr[32], "1F0 00 00 00 00 00 00 00 00 00 00 00 00 00 00 55 AA");
  EXPECT_EQ(FindLine(block, "GPT Table"), -1);
}

TEST_F(SystemReportTest, UnreadableFirstSectorsShowAZeroMbr) {
  const std::vector<std::string> block = DriveBlock(CrLfLines(Export()), 2);
  const std::vector<std::string> mbr = Section(block, "MBR Table");
  ASSERT_EQ(mbr.size(), 33u);
  for (int r = 0; r < 32; ++r) EXPECT_EQ(mbr[static_cast<size_t>(r + 1)], Format("%02X0", r) + kZeroRowTail);
  EXPECT_NE(TraceLog().find("WriteSystemReport::ReadFile(\\\\.\\PhysicalDrive2) fail: 0x17"),
            std::string::npos);
}

TEST_F(SystemReportTest, NvmeDriveWithWideCounters) {
  const PhysicalDriveTable table = Discover();
  ASSERT_TRUE(WriteReport(Dir() + "/report.log", table));
  const std::vector<std::string> block = DriveBlock(CrLfLines(test::ReadFile(Dir() + "/report.log")), 3);

  // No maximum LBA or world wide name; the PCI Express link instead of SATA.
  EXPECT_EQ(Slice(block, 0, 8), (std::vector<std::string>{
                                    "Disk Channel: 3",
                                    "Model Name: QUARN NVMe KN900 1TB",
                                    "Disk Size: 1000 GB",
                                    "Serial Number: QKN90000000000004",
                                    "Firmware Revision: KN900E1",
                                    "Connection Speed: PCIe Gen3 x4",
                                    "Temperature: 37 degree C",
                                    kD83,
                                }));

  // The first 512 bytes of the Identify Controller page, as words.
  const std::vector<std::string> identify = Section(block, "Identify Table");
  ASSERT_EQ(identify.size(), 17u);
  std::string row0 = "00 ";
  for (int i = 0; i < 16; ++i) row0 += Format(" %04X", GetLE16(&table[3].NvmeIdentifyData[2 * i]));
  EXPECT_EQ(identify[1], row0);
  EXPECT_EQ(identify[1].substr(0, 13), "00  1E4B 1E4B");  // vendor and subsystem vendor

  // Counters of 2^32 and 2^64 in full.
  EXPECT_EQ(Section(block, "SMART Attributes"), (std::vector<std::string>{
                                                    "ID  RAW_value",
                                                    "01h 0x000000000000",
                                                    "02h 0x000000000136",
                                                    "03h 0x000000000064",
                                                    "04h 0x00000000000A",
                                                    "05h 0x000000000003",
                                                    "06h 0x000000001234",
                                                    "07h 0x000100000000",
                                                    "08h 0x10000000000000000",
                                                    "09h 0x00003ADE68B1",
                                                    "0Ah 0x000000000000",
                                                    "0Bh 0x0000000001A4",
                                                    "0Ch 0x0000000004D2",
                                                    "0Dh 0x00000000000C",
                                                    "0Eh 0x000000000000",
                                                    "0Fh 0x000000000000",
                                                }));

  // The health log in the SMART page's place.
  const std::vector<std::string> smart = Section(block, "SMART Read Data");
  ASSERT_EQ(smart.size(), 33u);
  EXPECT_EQ(smart[1].substr(0, 19), "000 00 36 01 64 0A ");
  for (int r = 0; r < 32; ++r) EXPECT_EQ(smart[static_cast<size_t>(r + 1)], ByteRow(table[3].SmartData.data(), r));
  EXPECT_EQ(Section(block, "MBR Table").size(), 33u);
}

TEST_F(SystemReportTest, DiskpartTextOfEachDrive) {
  const std::vector<std::string> lines = CrLfLines(Export());
  // Disk 1 answers with the machine file's canned text, after diskpart's
  // banner and its answer to "select disk 1".
  const std::vector<std::string> canned = Section(DriveBlock(lines, 1), "diskpart -- detail disk");
  EXPECT_EQ(canned, (std::vector<std::string>{
                        "",
                        "Microsoft DiskPart version 10.0.19041.3636",
                        "",
                        "Copyright (C) Microsoft Corporation.",
                        "On computer: REPORT-PC",
                        "",
                        "Disk 1 is now the selected disk.",
                        "",
                        "QUARN SSD KV455 4TB",
                        "Disk ID: 1A2B3C4D",
                        "Type   : SATA",
                        "Status : Online",
                        "",
                        "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info",
                        "  ----------  ---  -----------  -----  ----------  -------  ---------  --------",
                        "  Volume 1     D   Archive      NTFS   Partition   3725 GB  Healthy",
                        "",
                    }));
  // The others get a text made from their own disk: the GPT disk GUID.
  const std::vector<std::string> made = Section(DriveBlock(lines, 0), "diskpart -- detail disk");
  EXPECT_NE(FindLine(made, "Disk 0 is now the selected disk."), -1);
  EXPECT_NE(FindLine(made, "Disk ID: {12345678-9ABC-DEF0-0123-456789ABCDEF}"), -1);
  EXPECT_NE(FindLine(made, "  Volume 0     C   Windows      NTFS   Partition    475 GB  Healthy    Boot"), -1);
  // From the MBR, its disk signature; a disk without volumes says so.
  const std::vector<std::string> nvme = Section(DriveBlock(lines, 3), "diskpart -- detail disk");
  EXPECT_NE(FindLine(nvme, "Disk ID: 1A2B3C4D"), -1);
  EXPECT_NE(FindLine(nvme, "Type   : NVMe"), -1);
  EXPECT_NE(FindLine(Section(DriveBlock(lines, 2), "diskpart -- detail disk"), "There are no volumes."), -1);
  // The script is gone once diskpart has run.
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/tmpxxxquarn.bat"));
}

TEST_F(SystemReportTest, DiskpartThatCannotStartLeavesItsErrorLine) {
  UseMachine(R"({"drives": [{"index": 0}], "diskpart": {"fails": true, "error": 740}})");
  const std::vector<std::string> lines = CrLfLines(Export());
  int at = FindLine(lines, "diskpart -- detail disk");
  ASSERT_GE(at, 0);
  EXPECT_EQ(Slice(lines, at + 1, 2),
            (std::vector<std::string>{"GetDiskpartMsg::CreateProcess fail : 0x2E4", kS60}));
  EXPECT_NE(TraceLog().find(" GetDiskpartMsg::CreateProcess fail : 0x2E4\r\n"), std::string::npos);
}

TEST_F(SystemReportTest, PathIsUsedAsTypedAndAnotherExportReplacesTheFile) {
  const PhysicalDriveTable table = Discover();
  const std::string path = Dir() + "/support-report";
  ASSERT_TRUE(WriteReport(path, table));
  EXPECT_FALSE(std::filesystem::exists(path + ".log"));
  const std::string first = test::ReadFile(path);
  EXPECT_EQ(first.substr(0, 22), "QUARN Zelvane Version:");

  // A second, shorter report over the first: nothing of the first remains.
  ASSERT_TRUE(WriteReport(path, PhysicalDriveTable{}));
  const std::string second = test::ReadFile(path);
  EXPECT_LT(second.size(), first.size());
  EXPECT_NE(second.find("There are 0 disk drives attached.\r\n" + kS60 + "\r\n"), std::string::npos);
  EXPECT_EQ(second.find("Disk Channel"), std::string::npos);
  EXPECT_EQ(second.substr(second.size() - 62), kS60 + "\r\n");
}

TEST_F(SystemReportTest, UnwritablePathReportsFailure) {
  const std::string path = Dir() + "/no-such-folder/report.log";
  EXPECT_FALSE(WriteReport(path, PhysicalDriveTable{}));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_NE(TraceLog().find("WriteSystemReport::open " + path + " fail: 0x3"), std::string::npos);
}

TEST_F(SystemReportTest, OpenAndWriteFailuresOnAVolumeAreToldApartAndTheOldReportStays) {
  // The report is written to a new file beside the old one (its name ends
  // in ".tmp") and renamed over it only when complete.
  struct Case {
    const char* fault;
    const char* line;
  } const cases[] = {
      {R"({"call": "CreateFileW", "path": ".tmp", "error": 5})",
       "WriteSystemReport::open C:\\report.log fail: 0x5"},
      {R"({"call": "WriteFile", "error": 112})", "WriteSystemReport::write C:\\report.log fail: 0x70"},
      {R"({"call": "MoveFileExW", "error": 32})", "WriteSystemReport::write C:\\report.log fail: 0x20"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"volumes": [{"letter": "C", "size": 1073741824, "free": 536870912,
      "files": [{"path": "report.log", "content": "last week's report"}], "faults": [)") +
               c.fault + "]}]}");
    EXPECT_FALSE(WriteReport("C:\\report.log", PhysicalDriveTable{})) << c.fault;
    EXPECT_NE(TraceLog().find(c.line), std::string::npos) << c.fault;
    std::string bytes;
    uint32_t error = 0;
    platform::ReadWholeFile(Machine().Files(), "C:\\report.log", &bytes, &error);
    EXPECT_EQ(bytes, "last week's report") << c.fault;
    EXPECT_EQ(platform::ListMatching(Machine().Files(), "C:\\*", &error),
              std::vector<std::string>{"report.log"})
        << c.fault;
  }
}

TEST_F(SystemReportTest, EveryLineEndsInCrLf) {
  const std::string bytes = Export();
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') {
      ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare line feed at " << i;
    } else if (bytes[i] == '\r') {
      ASSERT_TRUE(i + 1 < bytes.size() && bytes[i + 1] == '\n') << "lone CR at " << i;
    }
  }
}

TEST_F(SystemReportTest, TextsAreWrittenInTheUsersCodePage) {
  const char* kMachine = R"({"system": {"board": {"manufacturer": "Carte M\u00e8re SA", "product": "Z\u00e9ro"}},
                             "drives": [{"index": 0}]})";
  struct Case {
    const char* locale;
    const char* vendor;
    const char* product;
  } cases[] = {
      {"C.UTF-8", "MotherBoard Vendor: Carte M\xC3\xA8re SA", "MotherBoard: Z\xC3\xA9ro"},
      // A character the code page lacks does not cut the report short.
      {"C", "MotherBoard Vendor: Carte M?re SA", "MotherBoard: Z?ro"},
  };
  for (const Case& c : cases) {
    UseMachine(kMachine);
    SystemInfo() = SystemInformation{};
    UserLocale(c.locale);
    const std::vector<std::string> lines = CrLfLines(Export());
    EXPECT_NE(FindLine(lines, c.vendor), -1) << c.locale;
    EXPECT_NE(FindLine(lines, c.product), -1) << c.locale;
    EXPECT_EQ(lines.back(), kS60) << c.locale;
  }
}

}  // namespace
}  // namespace zel
