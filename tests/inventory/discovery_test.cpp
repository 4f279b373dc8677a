// Drive discovery on small simulated machines: which drives enter the table
// and with what, the health rules the records carry into, the NVMe fall-back
// orders, the enumeration limits, the matching of interfaces to disks, the
// management service failing, the PCI Express link, and the trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "health/smart_health.h"
#include "inventory/pcie_link.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/bytes.h"
#include "platform/device_io.h"
#include "platform/text.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

class DiscoveryTest : public test::SimTest {
 protected:
  PhysicalDriveTable Discover(int32_t* count = nullptr) {
    SetLogLevel(1);
    PhysicalDriveTable table;
    ATACommand ata;
    int32_t n = ata.UpdatePhysicalDrivesInfo(table);
    if (count) *count = n;
    EXPECT_EQ(n, static_cast<int32_t>(table.size()));
    return table;
  }

  std::string PathOf(int32_t disk) { return ToLowerAscii(Machine().DriveByIndex(disk)->InterfacePath()); }
  bool Untouched(int32_t disk) { return Machine().DriveByIndex(disk)->JournalCopy().empty(); }

  static std::vector<int32_t> Disks(const PhysicalDriveTable& table) {
    std::vector<int32_t> out;
    for (const PhysicalDriveRecord& r : table) out.push_back(r.PhysicalDriveIndex);
    return out;
  }
};

TEST_F(DiscoveryTest, RecordsOfAMixedMachineAndTheTraceLinesOfTheRun) {
  UseMachine(R"({"drives": [
      {"index": 0, "model": "QUARN SSD KD765KK 512GB", "serial": "QKK0001", "firmware": "SV1.0A",
       "size": 512110190592,
       "smart": {"attributes": [{"id": 5, "current": 100, "raw": 0, "threshold": 10},
                                {"id": 194, "current": 60, "raw": 41}]}},
      {"index": 1, "kind": "nvme", "model": "QUARN NVMe KN900 1TB", "serial": "QN0002",
       "firmware": "KN900E1", "size": 1000204886016, "health": {"temperature": 311}},
      {"index": 2, "bus": "usb", "model": "QUARN Portable SSD"},
      {"index": 3, "kind": "nvme", "health": {"temperature": 0}}]})");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(Disks(table), (std::vector<int32_t>{0, 1, 3}));

  struct Row {
    int32_t bus;
    uint64_t sizeGB;
    std::string model, serial, firmware;
    int32_t temperature;
  } rows[] = {
      {kBusAta, 512, "QUARN SSD KD765KK 512GB", "QKK0001", "SV1.0A", 41},
      {kBusNvme, 1000, "QUARN NVMe KN900 1TB", "QN0002", "KN900E1", 38},
      // A composite temperature of 0 K is "no temperature", not -273.
      {kBusNvme, 256, "QUARN NVMe SSD", "SIM3", "SIM1.0", 0xFFFF},
  };
  for (size_t i = 0; i < table.size(); ++i) {
    const PhysicalDriveRecord& r = table[i];
    SCOPED_TRACE(r.PhysicalDriveIndex);
    EXPECT_EQ(r.BusType, rows[i].bus);
    EXPECT_EQ(r.DiskSizeGB, rows[i].sizeGB);
    EXPECT_EQ(r.ModelName, rows[i].model);
    EXPECT_EQ(r.SerialNumber, rows[i].serial);
    EXPECT_EQ(r.FirmwareRevision, rows[i].firmware);
    EXPECT_EQ(r.Temperature, rows[i].temperature);
    EXPECT_EQ(r.DevicePath, PathOf(r.PhysicalDriveIndex));
  }
  // The USB disk gets no command at all.
  EXPECT_TRUE(Untouched(2));

  // Discovery's own lines, in order, among those of the operations it calls.
  std::vector<std::string> own;
  for (const std::string& line : TraceLines())
    if (StartsWith(line, "SetupDiGetInterfaceDeviceDetail") || StartsWith(line, "UpdatePhysicalDrivesInfo") ||
        StartsWith(line, "Disk ") || Contains(line, "ATACommand::UpdatePhysicalDrivesInfo") ||
        StartsWith(line, "ATACommand::GetPhysicalDriveIdentifySmart") ||
        StartsWith(line, "ATACommand::GetSmartAttributePd("))
      own.push_back(line);
  std::vector<std::string> expected = {"Enter ATACommand::UpdatePhysicalDrivesInfo()"};
  for (int d : {0, 1, 2, 3}) expected.push_back("SetupDiGetInterfaceDeviceDetail-DevicePath:" + PathOf(d));
  expected.insert(expected.end(), {
      "UpdatePhysicalDrivesInfo():DevicePath:" + PathOf(0),
      "Disk 0 is mounted on IDE/SATA interface.",
      "UpdatePhysicalDrivesInfo():DevicePath:" + PathOf(1),
      "Disk 1 is NVMe device.",
      "UpdatePhysicalDrivesInfo():DevicePath:" + PathOf(2),
      "UpdatePhysicalDrivesInfo():DevicePath:" + PathOf(3),
      "Disk 3 is NVMe device.",
      "UpdatePhysicalDrivesInfo::Physical Disk cnt: 3",
      "Exit ATACommand::UpdatePhysicalDrivesInfo()"});
  EXPECT_EQ(own, expected);
}

// One machine, one SATA drive per case: the record discovery builds (model
// text, SMART page with its vendor bytes, thresholds in their slots) gives
// the health values of the drive's model group.
TEST_F(DiscoveryTest, HealthRulesOfEachModelGroupReachTheRecords) {
  UseMachine(R"({"drives": [
    {"index": 0, "model": "QUARN SSD KD765 256GB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 90},
      {"id": 202, "current": 80}, {"id": 241, "raw": 3200}]}},
    {"index": 1, "model": "QUARN SSD KD765KK 512GB", "firmware": "SVMU01", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 171}, {"id": 202, "current": 95},
      {"id": 172}, {"id": 173}, {"id": 246, "raw": 2097152}]}},
    {"index": 2, "model": "QUARN SSD KD765KK 512GB", "firmware": "SVMU01", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 246, "raw": 2097152},
      {"id": 171}, {"id": 172}, {"id": 173}]}},
    {"index": 3, "model": "QUARN SSD KD765KK 512GB", "firmware": "SV1.0A", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 241, "raw": 999}, {"id": 233, "raw": 2048}]}},
    {"index": 4, "model": "QUARN SSD KD985 128GB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 99},
      {"id": 231, "current": 70}, {"id": 241, "raw": 2097152}]}},
    {"index": 5, "model": "QUARN SSD X100 128GB", "smart": {"bytes": [{"offset": 396, "text": "JMF608"}],
     "attributes": [{"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 99},
      {"id": 231, "current": 65}, {"id": 241, "raw": 4194304}]}},
    {"index": 6, "model": "QUARN SSD KD055 512GB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 77}, {"id": 241, "raw": 5000}]}},
    {"index": 7, "model": "QUARN SSD KW785 512GB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 60}, {"id": 241, "raw": 5000}]}},
    {"index": 8, "model": "OTHERCO SSD 1TB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 169, "current": 97}, {"id": 241, "raw": 3200},
      {"id": 194, "raw": 30}]}},
    {"index": 9, "model": "QUARN SSD KD785 1TB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 0},
      {"id": 9, "current": 40, "threshold": 50}]}},
    {"index": 10, "model": "QUARN SSD KD785 1TB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 10}, {"id": 9}, {"id": 9}]}},
    {"index": 11, "model": "QUARN SSD KD785 1TB", "smart": {"attributes": [
      {"id": 5, "current": 100, "threshold": 0}, {"id": 9, "current": 100, "threshold": 0}]}}]})");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(table.size(), 12u);
  struct Expect {
    const char* what;
    int status;
    int32_t life;
    int64_t writtenGB;
    uint16_t temperature;
  } expect[] = {
      {"KD765 family: life from 202, bytes written by the generic 241 rule", 1, 80, 100, 0xFFFF},
      {"KD765KK with MU firmware: 246 after 171, 172, 173", 1, 95, 1, 0xFFFF},
      {"KD765KK with MU firmware: 246 before the three counts nothing", 1, 100, -1, 0xFFFF},
      {"KD765KK without MU: 233 / 1024, 241 ignored", 1, 100, 2, 0xFFFF},
      {"group 1 by model: life from 231, 241 in sectors", 1, 70, 1, 0xFFFF},
      {"group 1 by the JMF608 tag in the SMART page", 1, 65, 2, 0xFFFF},
      {"group 2: 241 / 1000", 1, 77, 5, 0xFFFF},
      {"group 3: 241 unchanged", 1, 60, 5000, 0xFFFF},
      {"another maker: 241 in units of 32 MiB, life from 169", 1, 97, 100, 30},
      {"an empty slot moves attribute 9 off its threshold of 50 onto the empty one", 1, 100, -1,
       0xFFFF},
      {"a repeated identifier", 2, 100, -1, 0xFFFF},
      {"no thresholds at all", 2, 100, -1, 0xFFFF},
  };
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(expect[i].what);
    const PhysicalDriveRecord& r = table[i];
    EXPECT_EQ(r.PhysicalDriveIndex, static_cast<int32_t>(i));
    EXPECT_EQ(CheckDiskStatus(r), expect[i].status);
    EXPECT_EQ(GetRemainingLife(r), expect[i].life);
    EXPECT_EQ(GetTotalBytesWritten(r), expect[i].writtenGB);
    EXPECT_EQ(GetDriveTemperature(r), expect[i].temperature);
  }
  EXPECT_EQ(table[9].SmartAttributeCount, 2);
  EXPECT_TRUE(Logged("CheckDiskStatus::SMART attributes overlaped, 2 1"));
}

// One rule for "no temperature" on NVMe drives, applied alike by discovery
// (the record's temperature) and by the health value shown: a composite
// temperature below 273 K, 0 included, is none.
TEST_F(DiscoveryTest, NvmeTemperatureBelowFreezingIsNone) {
  struct Case {
    uint16_t kelvin;
    int32_t recorded;   // the record's Temperature
    uint16_t shown;     // GetDriveTemperature
  } cases[] = {
      {0, 0xFFFF, 0xFFFF},
      {1, 0xFFFF, 0xFFFF},
      {272, 0xFFFF, 0xFFFF},
      {273, 0, 0},
      {274, 1, 1},
      {310, 37, 37},
  };
  std::string drives;
  for (size_t i = 0; i < std::size(cases); ++i)
    drives += (i ? ", " : "") + std::string(R"({"kind": "nvme", "index": )") + std::to_string(i) +
              R"(, "health": {"temperature": )" + std::to_string(cases[i].kelvin) + "}}";
  UseMachine(R"({"drives": [)" + drives + "]}");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(table.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].kelvin);
    // The log as read: the kelvin value at bytes 1-2, little-endian.
    EXPECT_EQ(table[i].SmartData[1], cases[i].kelvin & 0xFF);
    EXPECT_EQ(table[i].SmartData[2], cases[i].kelvin >> 8);
    EXPECT_EQ(table[i].Temperature, cases[i].recorded);
    EXPECT_EQ(GetDriveTemperature(table[i]), cases[i].shown);
  }
}

// Names the NVMe request forms of the request log in the order sent.
std::vector<std::string> NvmeForms(const std::vector<sim::RequestRecord>& log) {
  std::vector<std::string> out;
  for (const sim::RequestRecord& r : log) {
    if (r.code == IOCTL_STORAGE_QUERY_PROPERTY) {
      out.push_back(GetLE32(&r.in[12]) == 1 ? "query-identify" : "query-log");
    } else if (r.code == IOCTL_SCSI_MINIPORT) {
      bool identify = r.in[52] == 0x06;
      bool shortForm = GetLE32(&r.in[12]) == 40;
      out.push_back(std::string(shortForm ? "short" : "miniport") + (identify ? "-identify" : "-log"));
    } else if (r.code == IOCTL_SCSI_PASS_THROUGH) {
      out.push_back("tunnel");
    }
  }
  return out;
}

TEST_F(DiscoveryTest, NvmeFormsAreTriedInOrderUntilOneAnswers) {
  struct Case {
    const char* what;
    const char* forms;
    const char* faults;
    bool listed;
    std::vector<std::string> sent;
  } cases[] = {
      {"the platform query answers both pages", "{}", "[]", true, {"query-identify", "query-log"}},
      {"the miniport after the platform query", R"({"storageQuery": "absent", "miniport": "answer"})", "[]",
       true, {"query-identify", "miniport-identify", "query-log", "miniport-log"}},
      {"the short miniport last for the identify page",
       R"({"storageQuery": "absent", "shortMiniport": "answer"})", "[]", true,
       {"query-identify", "miniport-identify", "short-identify", "query-log", "miniport-log", "short-log"}},
      {"only the log page falls back", R"({"miniport": "answer"})", R"([{"form": "storage_query", "opcode": 2}])",
       true, {"query-identify", "query-log", "miniport-log"}},
      {"a short miniport reply of zeros counts as failed; the tunnel answers",
       R"({"storageQuery": "absent", "shortMiniport": "zeros", "tunnel": "answer"})", "[]", true,
       {"query-identify", "miniport-identify", "short-identify", "query-log", "miniport-log", "short-log",
        "tunnel", "tunnel"}},
      {"a tunnel reply of zeros counts as failed", R"({"storageQuery": "absent", "tunnel": "zeros"})", "[]",
       false,
       {"query-identify", "miniport-identify", "short-identify", "query-log", "miniport-log", "short-log",
        "tunnel", "tunnel"}},
      {"no form answers", R"({"storageQuery": "absent"})", "[]", false,
       {"query-identify", "miniport-identify", "short-identify", "query-log", "miniport-log", "short-log",
        "tunnel", "tunnel"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(std::string(R"({"drives": [{"index": 0}, {"kind": "nvme", "index": 1,
        "model": "QUARN NVMe KN900", "health": {"temperature": 310}, "forms": )") +
               c.forms + R"(, "faults": )" + c.faults + "}]}");
    ResetLogForNewRun();
    Machine().ClearRequestLog();
    PhysicalDriveTable table = Discover();
    EXPECT_EQ(Disks(table), (c.listed ? std::vector<int32_t>{0, 1} : std::vector<int32_t>{0}));
    EXPECT_EQ(NvmeForms(Machine().RequestLog()), c.sent);
    if (c.listed) {
      EXPECT_EQ(table[1].Temperature, 37);
      EXPECT_EQ(GetLE16(&table[1].SmartData[1]), 310);
    }
  }
}

TEST_F(DiscoveryTest, IdentityOfAnNvmeDriveWithoutAnIdentifyPageIsEmpty) {
  UseMachine(R"({"drives": [{"kind": "nvme", "index": 0, "model": "QUARN NVMe KN900",
      "forms": {"storageQuery": "absent", "tunnel": "answer"}}]})");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].ModelName, "");
  EXPECT_EQ(table[0].SerialNumber, "");
  EXPECT_TRUE(std::all_of(table[0].NvmeIdentifyData.begin(), table[0].NvmeIdentifyData.end(),
                          [](uint8_t b) { return b == 0; }));
  // One failure line per identify form.
  EXPECT_TRUE(Logged("Windows10NVMeIdentify failed : ERROR_INVALID_FUNCTION"));
  EXPECT_TRUE(Logged("IdentifyCommand_Controller failed : ERROR_INVALID_FUNCTION"));
  EXPECT_TRUE(Logged("DoIdentifyDeviceNVMeIntel failed : ERROR_INVALID_FUNCTION"));
}

// A drive read again (as after a firmware update) gets its bus from the
// rules, not from its earlier record: on a path that names neither bus the
// ATA commands are tried, as for a fresh record.
TEST_F(DiscoveryTest, ARecordReadAgainDecidesItsBusAfresh) {
  UseMachine(R"({"drives": [{"index": 0, "pnpDeviceId": "RAID\\DISK&VEN_QUARN\\1&0",
      "interfacePath": "\\\\?\\raid#disk&ven_quarn#1&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"}]})");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].BusType, kBusScsi);
  PhysicalDriveRecord again = table[0];
  again.BusType = kBusNvme;
  ATACommand ata;
  EXPECT_EQ(ata.GetPhysicalDriveIdentifySmart(0, again.DevicePath, again), 1u);
  EXPECT_EQ(again.BusType, kBusScsi);
  EXPECT_EQ(again.ModelName, "QUARN SSD");
}

TEST_F(DiscoveryTest, AtaDrivesWhosePagesCannotBeReadAreLeftOut) {
  struct Case {
    const char* what;
    const char* drive;  // disk 0, interface 0
    bool listed;
    const char* line;
  } cases[] = {
      {"SMART switched off", R"("smart": {"enabled": false})", false, "ATACommand::GetSmartAttributePd(0) fail."},
      {"a SMART page without attributes", R"("smart": {"attributes": [{"id": 0}]})", false,
       "ATACommand::GetSmartAttributePd(0) fail."},
      {"IDENTIFY refused", R"("faults": [{"form": "any", "command": "0xEC", "effect": "fail"}])", false,
       "ATACommand::GetPhysicalDriveIdentifySmart(0) fail."},
      {"no threshold page does not matter",
       R"("faults": [{"form": "any", "command": "0xB0", "feature": "0xD1", "effect": "abort"}])", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(std::string(R"({"drives": [{"index": 0, )") + c.drive + R"(}, {"index": 1}]})");
    ResetLogForNewRun();
    PhysicalDriveTable table = Discover();
    EXPECT_EQ(Disks(table), (c.listed ? std::vector<int32_t>{0, 1} : std::vector<int32_t>{1}));
    if (*c.line) {
      EXPECT_TRUE(Logged(c.line));
    }
  }
}

TEST_F(DiscoveryTest, TheEightyFirstInterfaceIsNotExamined) {
  // A machine holds at most 80 drives; an interface of no disk placed first
  // makes the last drive's interface the 81st.
  std::string drives;
  for (int i = 0; i < 80; ++i) drives += (i ? ", " : "") + std::string("{\"index\": ") + std::to_string(i) + "}";
  UseMachine("{\"drives\": [" + drives + "], \"deviceTree\": {\"interfaces\": [" +
             R"({"path": "\\\\?\\scsi#disk&ven_none&prod_phantom#1&0&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", "position": 0}]}})");
  PhysicalDriveTable table = Discover();
  EXPECT_EQ(table.size(), 79u);
  EXPECT_EQ(table.back().PhysicalDriveIndex, 78);
  EXPECT_TRUE(Untouched(79));
  std::vector<std::string> lines = TraceLines();
  auto count = [&](const char* start) {
    return std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
      return StartsWith(l, start) && l.find("matches no disk") == std::string::npos;
    });
  };
  EXPECT_EQ(count("SetupDiGetInterfaceDeviceDetail-DevicePath:"), 80);
  EXPECT_EQ(count("UpdatePhysicalDrivesInfo():DevicePath:"), 80);
}

TEST_F(DiscoveryTest, EachInterfaceGetsTheDiskWhoseWholeIdentifierItHolds) {
  const std::string phantom = "\\\\?\\scsi#disk&ven_none&prod_phantom#1&0&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  const std::string phantomJson = R"(\\\\?\\scsi#disk&ven_none&prod_phantom#1&0&0&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
  struct Case {
    const char* what;
    std::string drives;
    std::string extra;
    std::vector<int32_t> disks;  // in enumeration order
    std::vector<uint64_t> sizes;
    std::vector<int32_t> untouched;
  } cases[] = {
      {"an interface of no disk is skipped",
       R"({"index": 0, "size": 100000000000})", R"(, "deviceTree": {"interfaces": [")" + phantomJson + "\"]}",
       {0}, {100}, {}},
      {"a drive missing from the inventory is skipped", R"({"index": 0, "inventory": false}, {"index": 1})", "",
       {1}, {256}, {0}},
      // Drive 7's identifier begins with drive 3's, and drive 3 comes later
      // in the disk table: each still gets its own number and size.
      {"one identifier begins another",
       R"({"index": 7, "size": 700000000000, "pnpDeviceId": "IDE\\DISKQUARN_SSD\\5&1&0&10"},
          {"index": 3, "size": 300000000000, "pnpDeviceId": "IDE\\DISKQUARN_SSD\\5&1&0&1"})",
       "", {7, 3}, {700, 300}, {}},
      {"the shorter identifier alone does not claim the longer one's interface",
       R"({"index": 7, "inventory": false, "pnpDeviceId": "IDE\\DISKQUARN_SSD\\5&1&0&10"},
          {"index": 3, "size": 300000000000, "pnpDeviceId": "IDE\\DISKQUARN_SSD\\5&1&0&1"})",
       "", {3}, {300}, {7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine("{\"drives\": [" + c.drives + "]" + c.extra + "}");
    ResetLogForNewRun();
    Machine().ClearRequestLog();
    PhysicalDriveTable table = Discover();
    EXPECT_EQ(Disks(table), c.disks);
    std::vector<uint64_t> sizes;
    for (const PhysicalDriveRecord& r : table) sizes.push_back(r.DiskSizeGB);
    EXPECT_EQ(sizes, c.sizes);
    for (int32_t d : c.untouched) {
      EXPECT_TRUE(Untouched(d)) << d;
      EXPECT_TRUE(Logged("UpdatePhysicalDrivesInfo():DevicePath:" + PathOf(d) +
                         " matches no disk of the inventory, skipped"));
    }
  }
  // The phantom interface of the first case got no request either.
  UseMachine(R"({"drives": [{"index": 0}], "deviceTree": {"interfaces": [")" + phantomJson + "\"]}}");
  Discover();
  EXPECT_TRUE(Logged("UpdatePhysicalDrivesInfo():DevicePath:" + phantom + " matches no disk of the inventory, skipped"));
  for (const sim::RequestRecord& r : Machine().RequestLog()) EXPECT_NE(ToLowerAscii(r.path), ToLowerAscii(phantom));
}

TEST_F(DiscoveryTest, LogicalDrivesFollowTheDiskNumberNotTheTablePosition) {
  UseMachine(R"({"drives": [{"index": 2}, {"index": 1, "bus": "usb"}, {"index": 0}],
      "volumes": [{"letter": "C", "disk": 2, "size": 107374182400, "free": 53687091200},
                  {"letter": "D", "disk": 0}, {"letter": "E", "disk": 0},
                  {"letter": "F", "disk": 1}, {"letter": "G", "deviceType": "cdrom"}]})");
  PhysicalDriveTable table = Discover();
  ASSERT_EQ(Disks(table), (std::vector<int32_t>{2, 0}));
  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> drives;
  ASSERT_EQ(util.GetLogicalDriveInfo(table[0].PhysicalDriveIndex, drives), 1);
  EXPECT_EQ(drives[0].DriveName, "C:");
  EXPECT_EQ(drives[0].SizeMB, 102400u);
  EXPECT_EQ(drives[0].FreeSpaceMB, 51200u);
  ASSERT_EQ(util.GetLogicalDriveInfo(table[1].PhysicalDriveIndex, drives), 2);
  EXPECT_EQ(drives[0].DriveName, "D:");
  EXPECT_EQ(drives[1].DriveName, "E:");
}

// Without the management service the class code of a controller is unknown:
// an NVMe drive is then taken by its path ("scsi"), fails the ATA IDENTIFY
// and is left out. Without it from the start there is no disk table, and no
// interface has a disk number.
TEST_F(DiscoveryTest, ManagementServiceUnavailable) {
  struct Case {
    const char* what;
    const char* extra;
    std::vector<int32_t> disks;
    std::vector<std::string> lines;
  } cases[] = {
      {"fails after the disk table is built",
       R"(, "wmi": {"faults": {"connect": {"error": "0x80070005", "skip": 1, "times": -1}}})", {0},
       {"GetDiskMode() Connect to WMI service fail 1", "Disk 0 is mounted on IDE/SATA interface.",
        "Disk 1 is mounted on SCSI interface.", "ATACommand::GetPhysicalDriveIdentifySmart(1) fail."}},
      {"the class-code query refused",
       R"(, "wmi": {"faults": {"queries": [{"class": "Win32_DiskDrive", "contains": "WHERE index"}]}})", {0},
       {"GetDiskMode() ConnectWmiClass fail 1", "Disk 1 is mounted on SCSI interface."}},
      {"an NVMe controller whose identifiers hold no class code",
       R"(, "controllers": [
           {"deviceId": "PCI\\VEN_8086&DEV_A102\\3&1&0&B8", "hardwareIds": ["PCI\\VEN_8086&DEV_A102&CC_010601"]},
           {"deviceId": "PCI\\VEN_1E4B&DEV_1202\\4&1&0&E8", "type": "scsi", "hardwareIds": ["PCI\\VEN_1E4B&DEV_1202"]}])",
       {0}, {"Disk 1 is mounted on SCSI interface."}},
      {"unavailable from the start", R"(, "wmi": {"faults": {"connect": {"error": "0x80070005"}}})", {},
       {"ConnectWmiService fail 1", "UpdatePhysicalDrivesInfo::Physical Disk cnt: 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string drives = R"({"index": 0, "controller": 0}, {"index": 1, "kind": "nvme", "controller": 1})";
    if (!Contains(c.extra, "controllers")) drives = R"({"index": 0}, {"index": 1, "kind": "nvme"})";
    UseMachine("{\"drives\": [" + drives + "]" + c.extra + "}");
    ResetLogForNewRun();
    PhysicalDriveTable table = Discover();
    EXPECT_EQ(Disks(table), c.disks);
    for (const std::string& line : c.lines) EXPECT_TRUE(Logged(line)) << line;
  }
  // With no disk table no drive was sent anything.
  EXPECT_TRUE(Untouched(0));
  EXPECT_TRUE(Untouched(1));
}

TEST_F(DiscoveryTest, PcieLinkOfTheControllerBehindADisk) {
  const std::string sata = R"({"deviceId": "PCI\\VEN_8086&DEV_A102\\3&1&0&B8", "hardwareIds": ["PCI\\VEN_8086&DEV_A102&CC_010601"]})";
  auto nvme = [](const std::string& pcie) {
    return R"({"deviceId": "PCI\\VEN_1E4B&DEV_1202\\4&1&0&E8", "type": "scsi",
               "hardwareIds": ["PCI\\VEN_1E4B&DEV_1202&CC_010802"])" + pcie + "}";
  };
  struct Case {
    const char* what;
    std::string controllers;
    std::string extra;
    int32_t disk;
    PcieLinkInfo link;
  } cases[] = {
      {"maximum and current link, the low byte of each",
       nvme(R"(, "pcie": {"maxWidth": "0x104", "maxSpeed": 4, "currentWidth": 2, "currentSpeed": 3})"), "", 1,
       {4, 4, 2, 3}},
      {"a property that does not exist reads 0", nvme(R"(, "pcie": {"maxWidth": 4, "maxSpeed": 3})"), "", 1,
       {4, 3, 0, 0}},
      {"a controller without link properties", nvme(""), "", 1, {0, 0, 0, 0}},
      {"no property call in Setupapi.dll", nvme(R"(, "pcie": {"maxWidth": 4, "maxSpeed": 3, "currentWidth": 4, "currentSpeed": 3})"),
       R"(, "libraries": {"Setupapi.dll": ["SetupDiGetClassDevsW"]})", 1, {0, 0, 0, 0}},
      {"a disk on no SCSI controller", nvme(""), "", 0, {0, 0, 0, 0}},
      {"a disk that does not exist", nvme(""), "", 9, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(R"({"drives": [{"index": 0, "controller": 0}, {"index": 1, "kind": "nvme", "controller": 1}],
                   "controllers": [)" + sata + ", " + c.controllers + "]" + c.extra + "}");
    PcieLinkInfo link = GetPcieLinkInfo(c.disk);
    EXPECT_EQ(link.MaxLinkWidth, c.link.MaxLinkWidth);
    EXPECT_EQ(link.MaxLinkSpeed, c.link.MaxLinkSpeed);
    EXPECT_EQ(link.CurrentLinkWidth, c.link.CurrentLinkWidth);
    EXPECT_EQ(link.CurrentLinkSpeed, c.link.CurrentLinkSpeed);
  }
}

}  // namespace
}  // namespace zel
