#include <gtest/gtest.h>

#include "platform/sim/machine.h"
#include "platform/sim/sim_wmi.h"
#include "platform/wql/model_com.h"
#include "platform/wql/statement.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

const wql::ObjectModel& ModelOf(sim::SimMachine& m) {
  return dynamic_cast<wql::ModelCom&>(m.Wmi()).Model();
}

std::vector<const wql::Object*> Query(sim::SimMachine& m, const std::string& statement) {
  wql::QueryResult r = wql::Execute(ModelOf(m), statement);
  EXPECT_EQ(r.status, S_OK) << statement;
  return r.objects;
}

Variant Prop(const wql::Object* o, const char* name) {
  const Variant* v = o->Find(name);
  return v ? *v : Variant{};
}

TEST(SimWmi, MachineWithOnlyDrivesHasASensibleInventory) {
  auto m = test::MustLoad(R"({"drives": [
      {"index": 0, "model": "QUARN SSD A", "size": 256052966400},
      {"index": 1, "kind": "nvme"},
      {"index": 2, "bus": "usb"},
      {"index": 3, "interfaceType": "1394"}]})");
  auto disks = Query(*m, "SELECT * FROM Win32_DiskDrive ");
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(Prop(disks[0], "DeviceID"), Variant::Bstr("\\\\.\\PHYSICALDRIVE0"));
  EXPECT_EQ(Prop(disks[0], "Index"), Variant::I4(0));
  EXPECT_EQ(Prop(disks[0], "Model"), Variant::Bstr("QUARN SSD A"));
  EXPECT_EQ(Prop(disks[0], "Size"), Variant::Bstr("256052966400"));
  EXPECT_EQ(Prop(disks[0], "PNPDeviceID").text, m->Drives()[0]->PnpDeviceId());
  const char* types[] = {"IDE", "SCSI", "USB", "1394"};
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(Prop(disks[i], "InterfaceType").text, types[i]);

  // Every class the inventory reads exists, with defaults.
  for (const char* cls : {"Win32_OperatingSystem", "Win32_ComputerSystem", "Win32_BaseBoard",
                          "Win32_BIOS", "Win32_Processor"})
    EXPECT_EQ(Query(*m, std::string("SELECT * FROM ") + cls).size(), 1u) << cls;
  EXPECT_EQ(Query(*m, "SELECT * FROM Win32_PhysicalMemory").size(), 2u);
  EXPECT_TRUE(Query(*m, "SELECT * FROM Win32_LogicalDisk").empty());

  // The default AHCI controller, its hardware identifiers as a string array,
  // and its association to the SATA disk written as an escaped object path.
  auto ide = Query(*m, "SELECT * FROM Win32_IDEController");
  ASSERT_EQ(ide.size(), 1u);
  std::string ahci = Prop(ide[0], "DeviceID").text;
  auto entity = Query(*m, "SELECT * FROM Win32_PnPEntity WHERE DeviceId = \"" +
                            wql::EscapeWql(ahci) + "\"");
  ASSERT_EQ(entity.size(), 1u);
  Variant hw = Prop(entity[0], "HardwareID");
  EXPECT_EQ(hw.vt, VT_ARRAY | VT_BSTR);
  EXPECT_EQ(hw.texts[2], "PCI\\VEN_8086&DEV_A102&CC_010601");
  auto links = Query(*m, "SELECT * FROM Win32_IDEControllerDevice");
  ASSERT_EQ(links.size(), 2u);  // disks 0 and 3
  EXPECT_EQ(Prop(links[0], "Antecedent").text,
            "\\\\ZELVANE-SIM\\root\\cimv2:Win32_IDEController.DeviceID=\"PCI\\\\VEN_8086&DEV_A102&"
            "SUBSYS_86941043&REV_31\\\\3&11583659&0&B8\"");
  EXPECT_EQ(Prop(links[0], "Dependent").text,
            "\\\\ZELVANE-SIM\\root\\cimv2:Win32_PnPEntity.DeviceID=\"" +
                wql::EscapeWql(m->Drives()[0]->PnpDeviceId()) + "\"");

  // The NVMe disk reaches its controller through the two associator statements.
  auto nvmeEntity = Query(*m, "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive1'} "
                            "WHERE ResultClass=Win32_PnPEntity");
  ASSERT_EQ(nvmeEntity.size(), 1u);
  auto nvmeController =
      Query(*m, "ASSOCIATORS OF {Win32_PnPEntity.DeviceID='" + Prop(nvmeEntity[0], "DeviceID").text +
                  "'} WHERE AssocClass=Win32_SCSIControllerDevice");
  ASSERT_EQ(nvmeController.size(), 1u);
  EXPECT_EQ(Prop(nvmeController[0], "DeviceID").text, m->Controllers()[1].deviceId);
  EXPECT_EQ(nvmeController[0]->ClassName(), "Win32_SCSIController");
}

TEST(SimWmi, DrivesOutOfTheInventoryAndVolumes) {
  auto m = test::MustLoad(R"({"drives": [{"index": 0}, {"index": 1, "inventory": false},
                                          {"index": 2, "present": false}],
      "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": 53687091200},
                  {"letter": "E", "deviceType": "cdrom"}]})");
  auto disks = Query(*m, "SELECT * FROM Win32_DiskDrive");
  ASSERT_EQ(disks.size(), 1u);
  // The disk left out of the disk table is still a device on its controller.
  EXPECT_EQ(Query(*m, "SELECT * FROM Win32_PnPEntity WHERE DeviceID = '" +
                        wql::EscapeWql(m->Drives()[1]->PnpDeviceId()) + "'")
                .size(),
            1u);
  EXPECT_EQ(Query(*m, "SELECT * FROM Win32_IDEControllerDevice").size(), 2u);

  auto volumes = Query(*m, "SELECT * FROM Win32_LogicalDisk");
  ASSERT_EQ(volumes.size(), 2u);
  EXPECT_EQ(Prop(volumes[0], "DeviceID").text, "C:");
  EXPECT_EQ(Prop(volumes[0], "Size"), Variant::Bstr("107374182400"));
  EXPECT_EQ(Prop(volumes[0], "FreeSpace"), Variant::Bstr("53687091200"));
  EXPECT_EQ(Prop(volumes[0], "DriveType"), Variant::I4(3));
  // A CD-ROM drive without a disc has no size.
  EXPECT_EQ(Prop(volumes[1], "Size").vt, VT_NULL);
  EXPECT_EQ(Prop(volumes[1], "DriveType"), Variant::I4(5));
}

TEST(SimWmi, SystemSection) {
  auto m = test::MustLoad(R"({"system": {
      "computerName": "BENCH", "osName": "Microsoft Windows 7 Ultimate", "addressWidth": 32,
      "processor": "AMD Ryzen 5", "processors": 2, "memory": "4294500000",
      "board": {"manufacturer": "Board Co", "product": "B1"}, "bios": {"version": "F20"},
      "modules": [{"deviceLocator": "DIMM0", "bankLabel": null, "capacity": 4294967296, "speed": 1600}]}})");
  auto os = Query(*m, "SELECT * FROM Win32_OperatingSystem");
  EXPECT_EQ(Prop(os[0], "Name").text, "Microsoft Windows 7 Ultimate");
  auto cpus = Query(*m, "SELECT * FROM Win32_Processor");
  ASSERT_EQ(cpus.size(), 2u);
  EXPECT_EQ(Prop(cpus[1], "AddressWidth"), Variant::I4(32));
  EXPECT_EQ(Prop(Query(*m, "SELECT * FROM Win32_ComputerSystem")[0], "TotalPhysicalMemory"),
            Variant::Bstr("4294500000"));
  EXPECT_EQ(Prop(Query(*m, "SELECT * FROM Win32_BaseBoard")[0], "Product").text, "B1");
  EXPECT_EQ(Prop(Query(*m, "SELECT * FROM Win32_BIOS")[0], "SMBIOSBIOSVersion").text, "F20");
  auto modules = Query(*m, "SELECT * FROM Win32_PhysicalMemory");
  ASSERT_EQ(modules.size(), 1u);
  EXPECT_EQ(Prop(modules[0], "BankLabel").vt, VT_NULL);
  EXPECT_EQ(Prop(modules[0], "Capacity"), Variant::Bstr("4294967296"));
  EXPECT_EQ(Prop(modules[0], "Speed"), Variant::I4(1600));
  // Paths name the machine.
  EXPECT_EQ(ModelOf(*m).PathOf("Win32_PnPEntity", "X"), "\\\\BENCH\\root\\cimv2:Win32_PnPEntity.DeviceID=\"X\"");
}

TEST(SimWmi, WmiSectionAddsAndOverridesObjects) {
  auto m = test::MustLoad(R"({"drives": [{"index": 0}, {"index": 1}],
    "wmi": {
      "objects": [
        {"class": "Win32_IDEController", "properties": {"DeviceID": "PCI\\X\\1", "Name": "Extra"}},
        {"class": "Win32_IDEControllerDevice", "properties": {
           "Antecedent": {"reference": "Win32_IDEController", "key": "PCI\\X\\1"},
           "Dependent": {"reference": "Win32_PnPEntity", "key": "NOWHERE"}}}],
      "override": [
        {"class": "Win32_DiskDrive", "where": {"Index": 1},
         "set": {"Size": null, "Model": {"type": "VT_I4", "value": 3},
                 "Tags": {"type": "0x2003", "value": [1, 2]}},
         "unset": ["PNPDeviceID"]},
        {"class": "Win32_PhysicalMemory", "where": {"DeviceLocator": "channelb-dimm0"}, "delete": true}]}})");
  auto disks = Query(*m, "SELECT * FROM Win32_DiskDrive");
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(Prop(disks[0], "Size").vt, VT_BSTR);
  EXPECT_EQ(Prop(disks[1], "Size").vt, VT_NULL);
  EXPECT_EQ(Prop(disks[1], "Model"), Variant::I4(3));
  EXPECT_EQ(Prop(disks[1], "Tags").vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(disks[1]->Find("PNPDeviceID"), nullptr);
  EXPECT_EQ(Query(*m, "SELECT * FROM Win32_PhysicalMemory").size(), 1u);
  auto ide = Query(*m, "SELECT * FROM Win32_IDEController");
  ASSERT_EQ(ide.size(), 2u);
  auto links = Query(*m, "SELECT * FROM Win32_IDEControllerDevice");
  ASSERT_EQ(links.size(), 3u);
  EXPECT_EQ(Prop(links[2], "Antecedent").text,
            "\\\\ZELVANE-SIM\\root\\cimv2:Win32_IDEController.DeviceID=\"PCI\\\\X\\\\1\"");
}

TEST(SimWmi, FaultsOfTheWmiSectionReachTheComLayer) {
  auto m = test::MustLoad(R"({"wmi": {"faults": {
      "coInitialize": {"error": "0x80010106", "skip": 1, "times": 1},
      "queries": [{"class": "Win32_BIOS", "error": "0x80041003"},
                  {"class": "Win32_BaseBoard", "effect": "noEnumerator"}]}}})");
  Com& com = m->Wmi();
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  std::shared_ptr<WbemLocator> locator;
  std::shared_ptr<WbemServices> services;
  ASSERT_EQ(com.CreateWbemLocator(&locator), S_OK);
  ASSERT_EQ(locator->ConnectServer("ROOT\\CIMV2", &services), S_OK);
  std::shared_ptr<EnumWbemClassObject> e;
  EXPECT_EQ(services->ExecQuery("WQL", "SELECT * FROM Win32_BIOS ", 0x30, &e),
            static_cast<HRESULT>(0x80041003u));
  EXPECT_EQ(services->ExecQuery("WQL", "SELECT * FROM Win32_BaseBoard ", 0x30, &e), S_OK);
  EXPECT_FALSE(e);
  com.CoUninitialize();
}

TEST(SimWmi, MistakesInTheSectionsNameTheirField) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"wmi": {"object": []}})", "unknown field \"object\""},
      {R"({"wmi": {"objects": [{"properties": {}}]}})", "wmi.objects[0].class: required"},
      {R"({"wmi": {"objects": [{"class": "X", "properties": {"P": 5000000000}}]}})",
       "wmi.objects[0].properties.P: does not fit VT_I4"},
      {R"({"wmi": {"objects": [{"class": "X", "properties": {"P": {"type": "VT_WHAT"}}}]}})",
       "wmi.objects[0].properties.P.type"},
      {R"({"wmi": {"override": [{"class": "X", "set": []}]}})", "wmi.override[0].set"},
      {R"({"wmi": {"faults": {"connect": "0x1"}}})", "wmi.faults.connect: expected a failing HRESULT"},
      {R"({"wmi": {"faults": {"queries": [{"effect": "slow"}]}}})", "wmi.faults.queries[0].effect"},
      {R"({"system": {"modules": [{"size": 1}]}})", "system.modules[0]: unknown field \"size\""},
      {R"({"system": {"processors": 100}})", "system.processors"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "m.json");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
