#include <filesystem>

#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "inventory_support.h"
#include "platform/format.h"
#include "platform/sim/sim_registry.h"

namespace zel {
namespace {

using namespace zel::platform;

const std::string kVersion = Format("%d.%d.%d", ZEL_VERSION_MAJOR, ZEL_VERSION_MINOR, ZEL_VERSION_PATCH);

class SystemInfoTest : public test::InventoryTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0}], "system": {
      "osName": "Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition4",
      "processor": "Intel(R) Core(TM) i5-9600K CPU @ 3.70GHz",
      "memory": 8589934592,
      "board": {"manufacturer": "Gigabyte Technology Co., Ltd.", "product": "Z390 UD"},
      "bios": {"version": "F10"},
      "modules": [
        {"deviceLocator": "DIMM1", "bankLabel": "BANK 0", "manufacturer": "Samsung",
         "capacity": 4294967296, "speed": 2400, "memoryType": 26},
        {"deviceLocator": "DIMM1", "bankLabel": "BANK 9", "manufacturer": "Other"},
        {"deviceLocator": "DIMM2", "bankLabel": "BANK 1", "manufacturer": "BANK 1",
         "capacity": "4294967296", "speed": 2133}]}})";
  }
};

TEST_F(SystemInfoTest, OnePassFillsTheSystemInformation) {
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  const SystemInformation& s = SystemInfo();
  EXPECT_EQ(s.OsName, "Microsoft Windows 10 Pro\n x64");
  EXPECT_EQ(s.AddressWidth, 64);
  EXPECT_EQ(s.CpuName, "Intel(R) Core(TM) i5-9600K CPU @ 3.70GHz");
  EXPECT_EQ(s.TotalMemoryMB, "8192");
  EXPECT_EQ(s.BoardVendor, "Gigabyte Technology Co., Ltd.");
  EXPECT_EQ(s.BoardModel, "Z390 UD");
  EXPECT_EQ(s.BiosVersion, "F10");
  // Two objects with the same device locator give one entry; a manufacturer
  // equal to the bank label is no manufacturer.
  ASSERT_EQ(s.MemoryModules.size(), 2u);
  EXPECT_EQ(s.MemoryModules[0].DeviceLocator, "DIMM1");
  EXPECT_EQ(s.MemoryModules[0].BankLabel, "BANK 0");
  EXPECT_EQ(s.MemoryModules[0].Manufacturer, "Samsung");
  EXPECT_EQ(s.MemoryModules[0].Capacity, "4294967296");
  EXPECT_EQ(s.MemoryModules[0].Speed, 2400);
  EXPECT_EQ(s.MemoryModules[1].Manufacturer, "N/A");
  EXPECT_EQ(s.MemoryModules[1].Speed, 2133);
  // The version is the running program's, wherever it was started from.
  EXPECT_FALSE(std::filesystem::exists("SSDZelvane.exe"));
  EXPECT_EQ(s.ToolVersion, kVersion);
  EXPECT_EQ(HbaList().size(), 1u);

  EXPECT_TRUE(Logged("OS Name before: Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition4"));
  EXPECT_TRUE(Logged("Processor AddressWidth : 64"));
  EXPECT_TRUE(Logged("MemoryType: 26"));
  EXPECT_TRUE(Logged("Exit UnderlyingUtil::GetSystemInfo()"));
  ExpectComBalanced();
  EXPECT_EQ(sim::RegistryOf(Machine()).OpenHandles(), 0u);

  // A second pass rewrites the texts and keeps the module list.
  SystemInfo().BiosVersion = "stale";
  ASSERT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_EQ(SystemInfo().BiosVersion, "F10");
  EXPECT_EQ(SystemInfo().OsName, "Microsoft Windows 10 Pro\n x64");
  EXPECT_EQ(SystemInfo().MemoryModules.size(), 2u);
}

TEST_F(SystemInfoTest, OperatingSystemNameAndMemoryRules) {
  struct Case {
    const char* system;
    const char* osName;
    const char* memoryMB;
  } cases[] = {
      {R"("osName": "Microsoft Windows 7 Professional |C:\\Windows|\\Device\\Harddisk0\\Partition1",
          "addressWidth": 32, "memory": 4294500000)",
       "Microsoft Windows 7 Professional \n x86", "4095"},
      // Without "|" the name stays as it is.
      {R"("osName": "Microsoft Windows 10 Home", "memory": "8589934592")",
       "Microsoft Windows 10 Home x64", "8192"},
      // A width that is neither 32 nor 64 adds nothing.
      {R"("osName": "A|B", "addressWidth": 16, "memory": "not a number")", "A\n", "0"},
      // Two processor sockets: one suffix.
      {R"("osName": "Microsoft Windows Server 2019 Standard|C:\\Windows", "processors": 2)",
       "Microsoft Windows Server 2019 Standard\n x64", "16384"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"system": {)") + c.system + "}}");
    SystemInfo() = SystemInformation{};
    UnderlyingUtil util;
    EXPECT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList())) << c.system;
    EXPECT_EQ(SystemInfo().OsName, c.osName);
    EXPECT_EQ(SystemInfo().TotalMemoryMB, c.memoryMB);
  }
}

TEST_F(SystemInfoTest, ProcessorNameFromTheRegistry) {
  std::string name129(129, 'P');
  std::string name130(130, 'P');
  UseMachine(R"({"system": {"processor": ")" + name129 + R"("}})");
  UnderlyingUtil util;
  EXPECT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_EQ(SystemInfo().CpuName, name129);

  // One character more does not fit the 260-byte buffer: the pass ends there.
  UseMachine(R"({"system": {"processor": ")" + name130 + R"("}})");
  SystemInfo() = SystemInformation{};
  EXPECT_FALSE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_TRUE(Logged("GetSystemInfo::RegQueryValueEx(ProcessorNameString) fail: 0xEA"));
  EXPECT_EQ(SystemInfo().CpuName, "");
  EXPECT_NE(SystemInfo().OsName, "");
  EXPECT_EQ(SystemInfo().AddressWidth, 0);
  EXPECT_EQ(SystemInfo().ToolVersion, "");
  EXPECT_EQ(sim::RegistryOf(Machine()).OpenHandles(), 0u);
  ExpectComBalanced();

  // A value stored without its terminating NUL is read as far as it goes;
  // a value that is no text leaves the name alone.
  UseMachine(R"({"registry": {"keys": {"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0": {
                  "ProcessorNameString": {"type": "REG_SZ", "bytes": "43 00 50 00 55 00"}}}}})");
  EXPECT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_EQ(SystemInfo().CpuName, "CPU");
  UseMachine(R"({"registry": {"keys": {"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0": {
                  "ProcessorNameString": 7}}}})");
  EXPECT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_EQ(SystemInfo().CpuName, "CPU");
}

TEST_F(SystemInfoTest, EachFailingStepEndsThePassWithItsMessage) {
  struct Case {
    const char* machine;
    const char* line;
  } cases[] = {
      {R"("wmi": {"faults": {"connect": "0x80041003"}})", "ConnectWmiService fail 1"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_OperatingSystem"}]}})",
       "ConnectWmiClass fail 1"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_OperatingSystem", "effect": "noEnumerator"}]}})",
       "ConnectWmiClass fail 2"},
      {R"("system": {"processors": 0})",
       "GetSystemInfo::RegOpenKeyEx(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) fail: 0x2"},
      {R"("registry": {"faults": [{"op": "close", "key": "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "error": 6}]})",
       "GetSystemInfo::RegCloseKey(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) fail: 0x6"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_Processor", "effect": "noEnumerator"}]}})",
       "ConnectWmiClass fail 2"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_ComputerSystem"}]}})",
       "ConnectWmiClass(Win32_ComputerSystem) fail 1"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_ComputerSystem", "effect": "noEnumerator"}]}})",
       "ConnectWmiClass(Win32_ComputerSystem) fail 2"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_BaseBoard"}]}})",
       "ConnectWmiClass(Win32_BaseBoard) fail 1"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_BIOS", "effect": "noEnumerator"}]}})",
       "ConnectWmiClass(Win32_BIOS) fail 2"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_PhysicalMemory"}]}})",
       "ConnectWmiClass(Win32_PhysicalMemory) fail 1"},
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_PhysicalMemory", "effect": "noEnumerator"}]}})",
       "ConnectWmiClass(Win32_PhysicalMemory) fail 2"},
      // The controller inventory is a step of the pass too.
      {R"("wmi": {"faults": {"queries": [{"class": "Win32_IDEController"}]}})",
       "GetHbaInfo() Connect to WMI Class Win32_IDEController fail 2"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string("{") + c.machine + "}");
    SystemInfo() = SystemInformation{};
    UnderlyingUtil util;
    EXPECT_FALSE(util.GetSystemInfo(SystemInfo(), HbaList())) << c.line;
    EXPECT_TRUE(Logged(c.line)) << c.line;
    EXPECT_EQ(SystemInfo().ToolVersion, "") << c.line;
    ExpectComBalanced();
  }
  EXPECT_TRUE(LinesWith("Exit UnderlyingUtil::GetSystemInfo").empty());
}

TEST_F(SystemInfoTest, PropertiesOfTheWrongTypeAreSkipped) {
  UseMachine(R"({"wmi": {"override": [
      {"class": "Win32_BaseBoard", "set": {"Manufacturer": null}},
      {"class": "Win32_PhysicalMemory", "where": {"DeviceLocator": "ChannelA-DIMM0"},
       "set": {"Speed": "fast", "BankLabel": 3}},
      {"class": "Win32_PhysicalMemory", "where": {"DeviceLocator": "ChannelB-DIMM0"},
       "set": {"DeviceLocator": null}}]}})");
  SystemInfo().BoardVendor = "kept";
  UnderlyingUtil util;
  EXPECT_TRUE(util.GetSystemInfo(SystemInfo(), HbaList()));
  EXPECT_EQ(SystemInfo().BoardVendor, "kept");
  EXPECT_EQ(SystemInfo().BoardModel, "PRIME Z370-A");
  // A module without a readable device locator is not listed.
  ASSERT_EQ(SystemInfo().MemoryModules.size(), 1u);
  EXPECT_EQ(SystemInfo().MemoryModules[0].Speed, 0);
  EXPECT_EQ(SystemInfo().MemoryModules[0].BankLabel, "");
  EXPECT_EQ(SystemInfo().MemoryModules[0].Manufacturer, "Kingston");
}

TEST(ToolVersion, ComesFromTheProgramItself) {
  UnderlyingUtil util;
  std::string out = "old";
  util.GetToolVersion(out);
  EXPECT_EQ(out, kVersion);
  int major = -1, minor = -1, build = -1;
  EXPECT_EQ(std::sscanf(out.c_str(), "%d.%d.%d", &major, &minor, &build), 3);
}

}  // namespace
}  // namespace zel
