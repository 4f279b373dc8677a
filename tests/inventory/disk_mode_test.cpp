#include "inventory/underlying_util.h"
#include "inventory_support.h"

namespace zel {
namespace {

using namespace zel::platform;

class DiskModeTest : public test::InventoryTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0}, {"index": 1, "kind": "nvme"}, {"index": 2},
                          {"index": 3, "bus": "usb"}, {"index": 4, "inventory": false}]})";
  }
};

TEST_F(DiskModeTest, ClassCodeOfTheControllerBehindEachDisk) {
  UnderlyingUtil util;
  struct Case {
    int32_t disk;
    const char* code;
  } cases[] = {
      {0, "010601"},  // AHCI
      {1, "010802"},  // NVMe
      {2, "010601"},  // the same controller as disk 0
      {3, ""},        // USB: no controller association to follow
      {4, ""},        // not in the disk inventory
      {9, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(util.GetDiskMode(c.disk), c.code) << "disk " << c.disk;
  ExpectComBalanced();

  std::vector<std::string> s = Statements();
  ASSERT_GE(s.size(), 3u);
  EXPECT_EQ(s[0], "SELECT * FROM Win32_DiskDrive WHERE index=0");
  EXPECT_EQ(s[1], "SELECT * FROM Win32_IDEControllerDevice ");
  EXPECT_EQ(s[2],
            "SELECT * FROM Win32_PnPEntity Where DeviceID = "
            "\"PCI\\\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31\\\\3&11583659&0&B8\"");
  EXPECT_TRUE(Logged("GetDiskMode()::Win32_DiskDrive-InterfaceType:SCSI"));
  EXPECT_TRUE(Logged("GetDiskMode()::Win32_DiskDrive break"));
  // Hardware identifiers other than the one giving the class code are logged.
  EXPECT_TRUE(Logged("GetDiskMode()::Win32_PnPEntity-HardwareID:PCI\\VEN_8086&DEV_A102&CC_0106"));
  EXPECT_FALSE(Logged("GetDiskMode()::Win32_PnPEntity-HardwareID:PCI\\VEN_8086&DEV_A102&CC_010601"));
}

TEST_F(DiskModeTest, HardwareIdentifiersDecide) {
  UseMachine(R"({"controllers": [
      {"deviceId": "PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\3&11583659&0&B8",
       "hardwareIds": ["PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31", "PCI\\VEN_8086&DEV_A102&CC_010601",
                       "PCI\\VEN_8086&DEV_A102&CC_0106"]},
      {"deviceId": "PCI\\VEN_1000&DEV_0001\\1", "hardwareIds": ["PCI\\VEN_1000&DEV_0001"]},
      {"deviceId": "PCI\\VEN_1000&DEV_0002\\1", "type": "scsi", "hardwareIds": ["PCI\\X&CC_0104"]}],
    "drives": [{"index": 0, "controller": 0}, {"index": 1, "controller": 1},
               {"index": 2, "controller": 2}, {"index": 3}]})");
  UnderlyingUtil util;
  EXPECT_EQ(util.GetDiskMode(0), "010601");
  EXPECT_EQ(util.GetDiskMode(1), "");      // no "CC_" element
  EXPECT_EQ(util.GetDiskMode(2), "0104");  // a RAID controller behind a SCSI disk
  EXPECT_EQ(util.GetDiskMode(3), "");      // a disk on no controller

  // A PnP identifier that cannot be read is found in no association (an
  // empty text would be found in all of them).
  UseMachine(R"({"drives": [{"index": 0}],
                 "wmi": {"override": [{"class": "Win32_DiskDrive", "set": {"PNPDeviceID": null}}]}})");
  EXPECT_EQ(util.GetDiskMode(0), "");
  ExpectComBalanced();
}

TEST_F(DiskModeTest, FailuresGiveAnEmptyText) {
  struct Case {
    int32_t disk;
    const char* faults;
    const char* line;
  } cases[] = {
      {0, R"("connect": "0x80041003")", "GetDiskMode() Connect to WMI service fail 1"},
      {0, R"("queries": [{"class": "Win32_DiskDrive"}])", "GetDiskMode() ConnectWmiClass fail 1"},
      {0, R"("queries": [{"class": "Win32_DiskDrive", "effect": "noEnumerator"}])",
       "GetDiskMode() ConnectWmiClass fail 2"},
      {0, R"("queries": [{"class": "Win32_IDEControllerDevice"}])",
       "GetDiskMode() Win32_IDEControllerDevice ConnectWmiClass fail 1"},
      {1, R"("queries": [{"class": "Win32_SCSIControllerDevice", "effect": "noEnumerator"}])",
       "GetDiskMode() Win32_SCSIControllerDevice ConnectWmiClass fail 2"},
      {1, R"("queries": [{"class": "Win32_PnPEntity"}])",
       "GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 1"},
      {0, R"("queries": [{"class": "Win32_PnPEntity", "effect": "noEnumerator"}])",
       "GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 2"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0}, {"index": 1, "kind": "nvme"}],
                               "wmi": {"faults": {)") +
               c.faults + "}}}");
    UnderlyingUtil util;
    EXPECT_EQ(util.GetDiskMode(c.disk), "") << c.line;
    EXPECT_TRUE(Logged(c.line)) << c.line;
    ExpectComBalanced();
  }
}

}  // namespace
}  // namespace zel
