#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "inventory_support.h"

namespace zel {
namespace {

using namespace zel::platform;

constexpr const char* kAhciId = "PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\3&11583659&0&B8";
constexpr const char* kAhciEscaped =
    "PCI\\\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\\\3&11583659&0&B8";

// An AHCI controller with two disks, a second IDE controller with none and
// no signed driver, and an NVMe controller (a SCSI controller, not listed).
constexpr const char* kMachine = R"({
  "controllers": [
    {"name": "Standard SATA AHCI Controller",
     "deviceId": "PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\3&11583659&0&B8",
     "hardwareIds": ["PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31", "PCI\\VEN_8086&DEV_A102&CC_010601",
                     "PCI\\VEN_8086&DEV_A102&CC_0106"],
     "driverProvider": "Microsoft", "driverVersion": "10.0.19041.3636"},
    {"name": "Standard Dual Channel PCI IDE Controller", "deviceId": "PCI\\VEN_8086&DEV_7010\\1",
     "hardwareIds": ["PCI\\VEN_8086&DEV_7010&CC_010180"], "driver": false},
    {"name": "NVMe", "deviceId": "PCI\\VEN_1E4B&DEV_1202\\1", "type": "scsi",
     "hardwareIds": ["PCI\\VEN_1E4B&DEV_1202&CC_010802"]}],
  "drives": [
    {"index": 0, "model": "QUARN SSD A", "controller": 0},
    {"index": 1, "model": "QUARN SSD B", "controller": 0},
    {"index": 2, "kind": "nvme", "controller": 2}]})";

class HbaInfoTest : public test::InventoryTest {
  std::string MachineJson() const override { return kMachine; }
};

TEST_F(HbaInfoTest, ControllersWithDriverClassCodeAndAttachedDrives) {
  HbaList().push_back(HbaEntry{});
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetPhysicalDriveSpace());
  ASSERT_TRUE(util.GetHbaInfo(HbaList()));
  const auto& list = HbaList();
  ASSERT_EQ(list.size(), 2u);

  const HbaEntry& ahci = list[0];
  EXPECT_EQ(ahci.Name, "Standard SATA AHCI Controller");
  EXPECT_EQ(ahci.DriverProvider, "Microsoft");
  EXPECT_EQ(ahci.DriverVersion, "10.0.19041.3636");
  EXPECT_EQ(ahci.ClassCode, "010601");
  EXPECT_EQ(ahci.AttachedDeviceCount, 2);
  EXPECT_EQ(ahci.AttachedDevices[0].PhysicalDriveIndex, 0);
  EXPECT_EQ(ahci.AttachedDevices[1].PhysicalDriveIndex, 1);
  for (size_t i = 2; i < 16; ++i) EXPECT_EQ(ahci.AttachedDevices[i].PhysicalDriveIndex, -1) << i;
  EXPECT_EQ(ahci.AttachedDevices[0].Name, std::string("QUARN SSD A") + kAhciEscaped);

  // No associations: no devices, no class code; no signed driver: "N/A",
  // not the driver of the controller before it.
  const HbaEntry& ide = list[1];
  EXPECT_EQ(ide.AttachedDeviceCount, 0);
  for (const AttachedDevice& d : ide.AttachedDevices) EXPECT_EQ(d.PhysicalDriveIndex, -1);
  EXPECT_EQ(ide.ClassCode, "");
  EXPECT_EQ(ide.DriverProvider, "N/A");
  EXPECT_EQ(ide.DriverVersion, "N/A");

  std::vector<std::string> s = Statements();
  EXPECT_NE(std::find(s.begin(), s.end(),
                      std::string("SELECT * FROM Win32_PnPSignedDriver WHERE DeviceId = \"") +
                          kAhciEscaped + "\""),
            s.end());
  EXPECT_TRUE(Logged(std::string("*.* Win32_IDEController-DeviceID:") + kAhciEscaped));
  EXPECT_TRUE(Logged("GetHbaInfo()::Win32_PnPEntity-HardwareID:PCI\\VEN_8086&DEV_A102&CC_0106"));
  EXPECT_TRUE(Logged("    HBA Name:Standard SATA AHCI Controller    Driver Provider:Microsoft    "
                     "Driver Version:10.0.19041.3636    Attached Device Number:2"));
  EXPECT_EQ(LinesWith("    Attached device name:").size(), 20u);  // slots 0 to 9, per controller
  EXPECT_TRUE(Logged("Total HBA number:2"));
  ExpectComBalanced();

  // The progress marks of one attached device, in order.
  std::vector<std::string> marks = LinesWith("DEBUG ");
  std::vector<std::string> firstDevice(marks.begin(), marks.begin() + 7);
  EXPECT_EQ(firstDevice, (std::vector<std::string>{
                             "DEBUG 3 ConnectWmiClass Win32_PnPEntity fail 1",
                             "DEBUG 3.1 ConnectWmiClass Win32_PnPEntity fail 1",
                             "DEBUG 4 ConnectWmiClass Win32_PnPEntity fail 2",
                             "DEBUG 4.1 ConnectWmiClass Win32_PnPEntity fail 3",
                             "DEBUG 4.2 ConnectWmiClass Win32_PnPEntity fail 1",
                             "DEBUG 4.3 ConnectWmiClass Win32_PnPEntity fail 1",
                             "DEBUG 4.4 ConnectWmiClass Win32_PnPEntity fail 1"}));
  EXPECT_EQ(LinesWith("DEBUG 5 ").size(), 2u);
}

TEST_F(HbaInfoTest, WithoutTheDiskTableNoDriveNumbersMatch) {
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetHbaInfo(HbaList()));
  EXPECT_EQ(HbaList()[0].AttachedDeviceCount, 2);
  EXPECT_EQ(HbaList()[0].AttachedDevices[0].PhysicalDriveIndex, -1);
}

TEST_F(HbaInfoTest, SixteenSlotsAtMost) {
  std::string drives;
  for (int i = 0; i < 18; ++i)
    drives += (i ? "," : "") + std::string(R"({"index": )") + std::to_string(i) + "}";
  UseMachine(R"({"drives": [)" + drives + "]}");
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetPhysicalDriveSpace());
  ASSERT_TRUE(util.GetHbaInfo(HbaList()));
  ASSERT_EQ(HbaList().size(), 1u);
  const HbaEntry& e = HbaList()[0];
  EXPECT_EQ(e.AttachedDeviceCount, 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(e.AttachedDevices[static_cast<size_t>(i)].PhysicalDriveIndex, i);
  EXPECT_EQ(LinesWith("more than 16 attached devices").size(), 2u);
}

TEST_F(HbaInfoTest, DriverOfTheWrongType) {
  UseMachine(std::string(kMachine).insert(1, R"("wmi": {"override": [{"class": "Win32_PnPSignedDriver",
      "where": {"DeviceID": "PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\3&11583659&0&B8"},
      "set": {"DriverProviderName": null, "DriverVersion": 10}}]},)"));
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetHbaInfo(HbaList()));
  EXPECT_EQ(HbaList()[0].DriverProvider, "N/A");
  EXPECT_EQ(HbaList()[0].DriverVersion, "N/A");
  EXPECT_TRUE(Logged("Win32_PnPSignedDriver:DriverProviderName: N/A, type:1"));
  EXPECT_TRUE(Logged("Win32_PnPSignedDriver-DriverVersion:N/A"));
}

TEST_F(HbaInfoTest, UnreadableIdentifiersMatchNothing) {
  // A controller whose DeviceID cannot be read owns no association; an
  // association whose Dependent cannot be read counts without a device query.
  UseMachine(std::string(kMachine).insert(1, R"("wmi": {"override": [
      {"class": "Win32_IDEController", "where": {"Name": "Standard Dual Channel PCI IDE Controller"},
       "set": {"DeviceID": null}},
      {"class": "Win32_IDEControllerDevice", "set": {"Dependent": 5}}]},)"));
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetPhysicalDriveSpace());
  ASSERT_TRUE(util.GetHbaInfo(HbaList()));
  ASSERT_EQ(HbaList().size(), 2u);
  EXPECT_EQ(HbaList()[0].AttachedDeviceCount, 2);
  EXPECT_EQ(HbaList()[0].AttachedDevices[0].PhysicalDriveIndex, -1);
  EXPECT_EQ(HbaList()[1].AttachedDeviceCount, 0);
  EXPECT_TRUE(Logged("Get DeviceID: Variable Type not match: VT_BSTR-vtProp.vt"));
  for (const std::string& statement : Statements())
    EXPECT_EQ(statement.find("Win32_PnPEntity WHERE DeviceId"), std::string::npos) << statement;
}

TEST_F(HbaInfoTest, FailuresKeepTheControllersListedBefore) {
  struct Case {
    const char* faults;
    const char* line;
    size_t listed;
  } cases[] = {
      {R"("connect": "0x80041003")", "GetHbaInfo() Connect to WMI service fail 1", 0},
      {R"("queries": [{"class": "Win32_IDEController"}])",
       "GetHbaInfo() Connect to WMI Class Win32_IDEController fail 2", 0},
      {R"("queries": [{"class": "Win32_IDEController", "effect": "noEnumerator"}])",
       "GetHbaInfo() Connect to WMI Win32_IDEController fail 3", 0},
      // The second controller's driver query fails: the first stays listed.
      {R"("queries": [{"class": "Win32_PnPSignedDriver", "skip": 1}])",
       "Connect to WMI Class Win32_PnPSignedDriver fail", 1},
      {R"("queries": [{"class": "Win32_IDEControllerDevice"}])", "Win32_IDEControllerDevice fail 1", 0},
      {R"("queries": [{"class": "Win32_IDEControllerDevice", "effect": "noEnumerator", "skip": 1}])",
       "Win32_IDEControllerDevice fail 2", 1},
      {R"("queries": [{"class": "Win32_PnPEntity", "contains": "Where DeviceID"}])",
       "GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 1", 0},
      {R"("queries": [{"class": "Win32_PnPEntity", "contains": "Where DeviceID", "effect": "noEnumerator"}])",
       "GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 2", 0},
      {R"("queries": [{"class": "Win32_PnPEntity", "contains": "WHERE DeviceId"}])",
       "Connect to Wmi class: Win32_PnPEntity fail 1", 0},
      {R"("queries": [{"class": "Win32_PnPEntity", "contains": "WHERE DeviceId", "effect": "noEnumerator"}])",
       "Connect to Wmi class: Win32_PnPEntity fail 2", 0},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(kMachine).insert(1, std::string(R"("wmi": {"faults": {)") + c.faults + "}},"));
    UnderlyingUtil util;
    EXPECT_FALSE(util.GetHbaInfo(HbaList())) << c.line;
    EXPECT_TRUE(Logged(c.line)) << c.line;
    EXPECT_EQ(HbaList().size(), c.listed) << c.line;
    ExpectComBalanced();
  }
  EXPECT_TRUE(LinesWith("Total HBA number").empty());
}

}  // namespace
}  // namespace zel
