#include "inventory/underlying_util.h"
#include "inventory_support.h"

namespace zel {
namespace {

using namespace zel::platform;

class DiskTableTest : public test::InventoryTest {
  std::string MachineJson() const override {
    return R"({"drives": [
        {"index": 0, "model": "QUARN SSD A", "size": 256052966400},
        {"index": 1, "kind": "nvme", "size": 512110190592, "pnpDeviceId": "SCSI\\DISK&VEN_NVME\\5&1&0&1"},
        {"index": 2, "bus": "usb", "size": 999999999}]})";
  }
};

TEST_F(DiskTableTest, OneEntryPerDiskWithItsSizeInDecimalGigabytes) {
  WmiDiskTable().push_back(WmiDiskEntry{9, 9, "old", "old", "old"});
  UnderlyingUtil util;
  EXPECT_TRUE(util.GetPhysicalDriveSpace());
  const auto& t = WmiDiskTable();
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[0].Index, 0);
  EXPECT_EQ(t[0].SizeGB, 256u);
  EXPECT_EQ(t[0].Model, "QUARN SSD A");
  EXPECT_EQ(t[0].InterfaceType, "IDE");
  EXPECT_EQ(t[0].PnpDeviceId, Machine().Drives()[0]->PnpDeviceId());
  EXPECT_EQ(t[1].SizeGB, 512u);
  EXPECT_EQ(t[1].InterfaceType, "SCSI");
  EXPECT_EQ(t[1].PnpDeviceId, "SCSI\\DISK&VEN_NVME\\5&1&0&1");
  EXPECT_EQ(t[2].SizeGB, 0u);
  EXPECT_EQ(t[2].InterfaceType, "USB");
  EXPECT_TRUE(Logged("Enter GetPhysicalDriveSpace()"));
  EXPECT_TRUE(Logged("Win32_DiskDrive-Index:1"));
  EXPECT_TRUE(Logged("GetPhysicalDriveSpace()--physical size:256 GB "));
  EXPECT_TRUE(Logged("GetPhysicalDriveSpace::pEnumerator->Next() fail"));
  EXPECT_TRUE(Logged("Exit GetPhysicalDriveSpace()"));
  EXPECT_EQ(LinesWith("GetPhysicalDriveSpace:Test 1").size(), 4u);
  ExpectComBalanced();
}

TEST_F(DiskTableTest, PropertiesOfTheWrongTypeNeverBorrowAnotherDisksValues) {
  UseMachine(R"({"drives": [{"index": 0, "model": "FIRST"}, {"index": 1}, {"index": 2},
                            {"index": 3}, {"index": 4}],
    "wmi": {"override": [
      {"class": "Win32_DiskDrive", "where": {"Index": 1},
       "set": {"Model": {"type": "VT_I4", "value": 7}, "Size": null, "InterfaceType": null}},
      {"class": "Win32_DiskDrive", "where": {"Index": 2}, "set": {"PNPDeviceID": null}},
      {"class": "Win32_DiskDrive", "where": {"Index": 3}, "set": {"Size": "-256052966400"}},
      {"class": "Win32_DiskDrive", "where": {"Index": 4}, "set": {"Index": null, "Size": "12x"}}]}})");
  UnderlyingUtil util;
  EXPECT_TRUE(util.GetPhysicalDriveSpace());
  const auto& t = WmiDiskTable();
  // Disks 2 (no PnP identifier) and 4 (no index) could be matched to any
  // drive, so they are left out.
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].Index, 1);
  EXPECT_EQ(t[1].Model, "");
  EXPECT_EQ(t[1].InterfaceType, "");
  EXPECT_EQ(t[1].SizeGB, 0u);
  EXPECT_EQ(t[1].PnpDeviceId, Machine().Drives()[1]->PnpDeviceId());
  EXPECT_EQ(t[2].Index, 3);
  EXPECT_EQ(t[2].SizeGB, 0u);  // a sign is no digit
  EXPECT_TRUE(Logged("GetPhysicalDriveSpace()--get WMI model/ Variant type:3"));
  EXPECT_TRUE(Logged("GetPhysicalDriveSpace()--get WMI Size/ Variant type:1"));
  EXPECT_TRUE(Logged("GetPhysicalDriveSpace()--get WMI InterfaceType/ Variant type:1"));
  EXPECT_EQ(LinesWith("left out").size(), 2u);
}

TEST_F(DiskTableTest, FailuresEndWithTheirLineAndAnEmptyTable) {
  struct Case {
    const char* faults;
    const char* line;
  } cases[] = {
      {R"("connect": "0x80041003")", "ConnectWmiService fail 1"},
      {R"("queries": [{"class": "Win32_DiskDrive"}])", "ConnectWmiClass fail 1"},
      {R"("queries": [{"class": "Win32_DiskDrive", "effect": "noEnumerator"}])",
       "ConnectWmiClass fail 2"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0}], "wmi": {"faults": {)") + c.faults + "}}}");
    WmiDiskTable().push_back(WmiDiskEntry{});
    UnderlyingUtil util;
    EXPECT_FALSE(util.GetPhysicalDriveSpace()) << c.line;
    EXPECT_TRUE(WmiDiskTable().empty());
    EXPECT_TRUE(Logged(c.line)) << c.line;
    ExpectComBalanced();
  }
}

class LogicalDriveTest : public test::InventoryTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0}, {"index": 1}, {"index": 2}],
      "volumes": [
        {"letter": "C", "disk": 0, "size": 107374182400, "free": 53687091200},
        {"letter": "F", "deviceType": "cdrom"},
        {"letter": "D", "disk": 1, "fileSystem": "NTFS", "size": 1048576000, "free": 1048575},
        {"letter": "E", "disk": 1, "fileSystem": "FAT32", "size": 2097152, "free": 0}]})";
  }
};

TEST_F(LogicalDriveTest, VolumesOfOneDriveInInventoryOrder) {
  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> drives{LogicalDriveEntry{"Z:", "X", 1, 1}};
  struct Case {
    int32_t disk;
    std::vector<std::string> names;
  } cases[] = {{1, {"D:", "E:"}}, {0, {"C:"}}, {2, {}}, {-1, {}}, {7, {}}};
  for (const Case& c : cases) {
    EXPECT_EQ(util.GetLogicalDriveInfo(c.disk, drives), static_cast<int>(c.names.size()));
    std::vector<std::string> names;
    for (const auto& d : drives) names.push_back(d.DriveName);
    EXPECT_EQ(names, c.names) << "disk " << c.disk;
  }
  util.GetLogicalDriveInfo(0, drives);
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].SizeMB, 102400u);
  EXPECT_EQ(drives[0].FreeSpaceMB, 51200u);
  EXPECT_EQ(drives[0].FileSystem, "NTFS");
  util.GetLogicalDriveInfo(1, drives);
  EXPECT_EQ(drives[0].FreeSpaceMB, 0u);  // 1,048,575 bytes: rounded down
  EXPECT_EQ(drives[1].FileSystem, "FAT32");
  EXPECT_EQ(drives[1].SizeMB, 2u);
  EXPECT_TRUE(Logged("Win32_LogicalDisk Get FreeSpace Done"));
  EXPECT_TRUE(Logged("Exit UnderlyingUtil::GetLogicalDriveInfo()"));
  ExpectComBalanced();
}

TEST_F(LogicalDriveTest, Failures) {
  struct Case {
    const char* faults;
    const char* line;
  } cases[] = {
      {R"("coInitialize": "0x80010106")", "Win32_LogicalDisk fail 1"},
      {R"("queries": [{"class": "Win32_LogicalDisk"}])", "Win32_LogicalDisk fail 1"},
      {R"("queries": [{"class": "Win32_LogicalDisk", "effect": "noEnumerator"}])",
       "Win32_LogicalDisk fail 2"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0}], "volumes": [{"letter": "C", "disk": 0}],
                               "wmi": {"faults": {)") +
               c.faults + "}}}");
    UnderlyingUtil util;
    std::vector<LogicalDriveEntry> drives(2);
    EXPECT_EQ(util.GetLogicalDriveInfo(0, drives), 0) << c.faults;
    EXPECT_TRUE(drives.empty());
    EXPECT_TRUE(Logged(c.line)) << c.line;
    ExpectComBalanced();
  }
}

class ControllerOfDiskTest : public test::InventoryTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0}, {"index": 1, "kind": "nvme"}]})";
  }
};

TEST_F(ControllerOfDiskTest, NvmeDiskGivesItsScsiController) {
  UnderlyingUtil util;
  std::string id = "unchanged";
  EXPECT_EQ(util.GetDeviceIDFromPhysicalDrive(1, &id), 1);
  EXPECT_EQ(id, Machine().Controllers()[1].deviceId);
  EXPECT_EQ(Statements()[0],
            "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive1'} WHERE "
            "ResultClass=Win32_PnPEntity");
  EXPECT_EQ(Statements()[1], "ASSOCIATORS OF {Win32_PnPEntity.DeviceID='" +
                                 Machine().Drives()[1]->PnpDeviceId() +
                                 "'} WHERE AssocClass=Win32_SCSIControllerDevice");
  EXPECT_TRUE(Logged("Exit UnderlyingUtil::GetDeviceIDFromPhysicalDrive()"));

  // Nothing found is a failure, not an empty identifier reported as success.
  struct Case {
    int32_t disk;
    const char* line;
  } cases[] = {{0, "GetDeviceIDFromPhysicalDrive GetControllerID fail"},
               {5, "GetDeviceIDFromPhysicalDrive GetDeviceID fail"}};
  for (const Case& c : cases) {
    id = "unchanged";
    EXPECT_EQ(util.GetDeviceIDFromPhysicalDrive(c.disk, &id), 0);
    EXPECT_EQ(id, "unchanged");
    EXPECT_TRUE(Logged(c.line)) << c.line;
  }
  ExpectComBalanced();

  UseMachine(R"({"drives": [{"index": 0, "kind": "nvme"}], "wmi": {"faults": {"locator": "0x80040154"}}})");
  EXPECT_EQ(util.GetDeviceIDFromPhysicalDrive(0, &id), 0);
  EXPECT_TRUE(Logged("GetDeviceIDFromPhysicalDrive ConnectWmiService fail"));
}

}  // namespace
}  // namespace zel
