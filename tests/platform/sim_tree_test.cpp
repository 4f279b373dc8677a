// The simulated device tree: disk interfaces, storage adapters and their
// link properties, library exports and the rescan.
#include "platform/sim/sim_tree.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/bytes.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

DeviceTree& Tree() { return Current().Tree(); }

// Every interface path of a fresh disk-interface set, read with a buffer
// large enough for any of them.
std::vector<std::string> ListInterfaces(uint32_t flags) {
  std::vector<std::string> out;
  HDEVINFO set = Tree().SetupDiGetClassDevsW(GUID_DEVINTERFACE_DISK, flags);
  for (uint32_t i = 0; Tree().SetupDiEnumDeviceInterfaces(set, GUID_DEVINTERFACE_DISK, i); ++i) {
    std::vector<uint8_t> detail(8192, 0);
    PutLE32(detail.data(), 6);
    EXPECT_TRUE(Tree().SetupDiGetDeviceInterfaceDetailW(set, i, detail.data(), 8192, nullptr));
    out.push_back(Utf16LeBytesToUtf8(detail.data() + 4, detail.size() - 4));
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  Tree().SetupDiDestroyDeviceInfoList(set);
  return out;
}

class SimTreeTest : public test::SimTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "interfacePath": "\\\\?\\ide#diskA#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"},
                          {"index": 1, "interfacePath": "\\\\?\\ide#diskB#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}", "present": false},
                          {"index": 2, "kind": "nvme", "interfacePath": "\\\\?\\scsi#diskC#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}"}],
               "deviceTree": {"interfaces": ["\\\\?\\last", {"path": "\\\\?\\first", "position": 0}]}})";
  }
};

TEST_F(SimTreeTest, DiskInterfacesInMachineFileOrder) {
  const std::string guid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  EXPECT_EQ(ListInterfaces(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
            (std::vector<std::string>{"\\\\?\\first", "\\\\?\\ide#diskA#1" + guid,
                                      "\\\\?\\scsi#diskC#1" + guid, "\\\\?\\last"}));
  // Without the present-only flag the absent disk is listed too.
  EXPECT_EQ(ListInterfaces(DIGCF_DEVICEINTERFACE).size(), 5u);
  // The adapter class holds no interfaces.
  HDEVINFO adapters = Tree().SetupDiGetClassDevsW(GUID_DEVCLASS_SCSIADAPTER, DIGCF_PRESENT);
  EXPECT_FALSE(Tree().SetupDiEnumDeviceInterfaces(adapters, GUID_DEVINTERFACE_DISK, 0));
  Tree().SetupDiDestroyDeviceInfoList(adapters);
  EXPECT_EQ(dynamic_cast<sim::SimDeviceTree&>(Tree()).OpenSets(), 0u);
}

TEST_F(SimTreeTest, InterfaceDetailFollowsThePlatformsBufferRules) {
  HDEVINFO set = Tree().SetupDiGetClassDevsW(GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  const uint32_t needed = 4 + 2 * (9 + 1);  // "\\?\first" and its NUL
  uint32_t required = 0;
  EXPECT_FALSE(Tree().SetupDiGetDeviceInterfaceDetailW(set, 0, nullptr, 0, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, needed);

  std::vector<uint8_t> detail(needed, 0);
  PutLE32(detail.data(), 6);
  EXPECT_FALSE(Tree().SetupDiGetDeviceInterfaceDetailW(set, 0, detail.data(), needed - 1, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(Tree().SetupDiGetDeviceInterfaceDetailW(set, 0, detail.data(), needed, &required));
  EXPECT_EQ(Utf16LeBytesToUtf8(detail.data() + 4, needed - 4), "\\\\?\\first");

  PutLE32(detail.data(), 8);  // the 64-bit size of the structure
  EXPECT_FALSE(Tree().SetupDiGetDeviceInterfaceDetailW(set, 0, detail.data(), needed, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  Tree().SetupDiDestroyDeviceInfoList(set);
}

TEST(SimTreeLoad, ReportsTheFieldThatIsWrong) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"deviceTree": {"interfaces": [{"path": "x", "position": 1}]}})", "deviceTree.interfaces[0].position: past the end"},
      {R"({"deviceTree": {"interfaces": [{"position": 0}]}})", "deviceTree.interfaces[0]: needs a path"},
      {R"({"deviceTree": {"rescan": {"locate": "x"}}})", "deviceTree.rescan.locate: expected a number"},
      {R"({"deviceTree": {"adapters": []}})", "deviceTree: unknown field \"adapters\""},
      {R"({"libraries": {"cfgmgr32.dll": "CM_Locate_DevNodeW"}})", "libraries.cfgmgr32.dll: expected a list"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "m.json");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

class SimTreeAdapters : public test::SimTest {
  std::string MachineJson() const override {
    return R"({"controllers": [
        {"deviceId": "PCI\\VEN_8086&DEV_A102\\3&1&0&B8", "type": "ide"},
        {"deviceId": "PCI\\VEN_1E4B&DEV_1202\\4&2&0&00E0", "type": "scsi",
         "pcie": {"maxWidth": 4, "maxSpeed": 3, "currentWidth": 2, "currentSpeed": "0x104"}},
        {"deviceId": "PCI\\VEN_1E4B&DEV_1202\\4&3&0&00E8", "type": "scsi",
         "pcie": {"maxWidth": 4}},
        {"deviceId": "SCSI\\RAID\\1", "type": "scsi"}]})";
  }
};

TEST_F(SimTreeAdapters, InstanceIdentifiersAndLinkProperties) {
  HDEVINFO set = Tree().SetupDiGetClassDevsW(GUID_DEVCLASS_SCSIADAPTER, DIGCF_PRESENT);
  std::vector<std::string> ids;
  uint32_t devInst = 0;
  for (uint32_t i = 0; Tree().SetupDiEnumDeviceInfo(set, i, &devInst); ++i) {
    char16_t buffer[260];
    ASSERT_EQ(Tree().CM_Get_Device_IDW(devInst, buffer, 260), CR_SUCCESS);
    ids.push_back(Utf16ToUtf8(buffer));
  }
  // Only the SCSI-class controllers are storage adapters.
  EXPECT_EQ(ids, (std::vector<std::string>{"PCI\\VEN_1E4B&DEV_1202\\4&2&0&00E0",
                                           "PCI\\VEN_1E4B&DEV_1202\\4&3&0&00E8", "SCSI\\RAID\\1"}));

  struct Case {
    uint32_t member;
    DEVPROPKEY key;
    bool found;
    uint32_t value;
  } cases[] = {
      {0, DEVPKEY_PciDevice_MaxLinkWidth, true, 4},
      {0, DEVPKEY_PciDevice_MaxLinkSpeed, true, 3},
      {0, DEVPKEY_PciDevice_CurrentLinkWidth, true, 2},
      {0, DEVPKEY_PciDevice_CurrentLinkSpeed, true, 0x104},  // callers use the low byte
      {1, DEVPKEY_PciDevice_MaxLinkWidth, true, 4},
      {1, DEVPKEY_PciDevice_CurrentLinkSpeed, false, 0},  // left out of the machine file
      {2, DEVPKEY_PciDevice_MaxLinkWidth, false, 0},      // no PCI Express link at all
      {0, DEVPROPKEY{DEVPKEY_PciDevice_Set, 13}, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t type = 0, required = 0;
    uint8_t value[4] = {};
    bool ok = Tree().SetupDiGetDevicePropertyW(set, c.member, c.key, &type, value, 4, &required);
    EXPECT_EQ(ok, c.found) << c.member << "/" << c.key.pid;
    if (ok) {
      EXPECT_EQ(type, DEVPROP_TYPE_UINT32);
      EXPECT_EQ(GetLE32(value), c.value) << c.member << "/" << c.key.pid;
    } else {
      EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    }
  }
  Tree().SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimTreeAdapters, DeviceIdentifierBufferRules) {
  HDEVINFO set = Tree().SetupDiGetClassDevsW(GUID_DEVCLASS_SCSIADAPTER, DIGCF_PRESENT);
  uint32_t devInst = 0;
  ASSERT_TRUE(Tree().SetupDiEnumDeviceInfo(set, 2, &devInst));  // "SCSI\RAID\1", 11 characters
  char16_t buffer[12];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(Tree().CM_Get_Device_IDW(devInst, buffer, 10), CR_BUFFER_SMALL);
  EXPECT_EQ(Tree().CM_Get_Device_IDW(devInst, buffer, 11), CR_SUCCESS);
  EXPECT_EQ(buffer[11], u'#');  // exactly filled: no room, no terminator
  EXPECT_EQ(Tree().CM_Get_Device_IDW(devInst, buffer, 12), CR_SUCCESS);
  EXPECT_EQ(buffer[11], u'\0');
  EXPECT_EQ(Tree().CM_Get_Device_IDW(0x7777, buffer, 12), CR_NO_SUCH_DEVNODE);
  Tree().SetupDiDestroyDeviceInfoList(set);
}

TEST(SimTreeLibraries, ExportsFollowTheMachineFile) {
  struct Case {
    const char* libraries;
    bool locate, reenumerate, property;
  } cases[] = {
      {"{}", true, true, true},
      {R"({"cfgmgr32.dll": null})", false, false, true},
      {R"({"CFGMGR32.DLL": ["CM_Locate_DevNodeW"]})", true, false, true},
      {R"({"Setupapi.dll": false})", true, true, false},
  };
  for (const Case& c : cases) {
    auto m = test::MustLoad(std::string(R"({"libraries": )") + c.libraries + "}");
    DeviceTree& t = m->Tree();
    EXPECT_EQ(t.HasLibraryFunction("cfgmgr32.dll", "CM_Locate_DevNodeW"), c.locate) << c.libraries;
    EXPECT_EQ(t.HasLibraryFunction("cfgmgr32.dll", "CM_Reenumerate_DevNode"), c.reenumerate)
        << c.libraries;
    EXPECT_EQ(t.HasLibraryFunction("Setupapi.dll", "SetupDiGetDevicePropertyW"), c.property)
        << c.libraries;
    EXPECT_FALSE(t.HasLibraryFunction("cfgmgr32.dll", "cm_locate_devnodew"));  // names are exact
  }
}

TEST(SimTreeRescan, ResultsComeFromTheMachineFile) {
  auto ok = test::MustLoad("{}");
  uint32_t root = 0;
  EXPECT_EQ(ok->Tree().CM_Locate_DevNodeW(&root, nullptr, 0), CR_SUCCESS);
  EXPECT_EQ(ok->Tree().CM_Reenumerate_DevNode(root, 0), CR_SUCCESS);
  EXPECT_EQ(ok->Tree().CM_Reenumerate_DevNode(root + 5, 0), CR_NO_SUCH_DEVNODE);

  auto failing = test::MustLoad(R"({"deviceTree": {"rescan": {"reenumerate": "0x13"}}})");
  EXPECT_EQ(failing->Tree().CM_Locate_DevNodeW(&root, nullptr, 0), CR_SUCCESS);
  EXPECT_EQ(failing->Tree().CM_Reenumerate_DevNode(root, 0), CR_FAILURE);
}

}  // namespace
}  // namespace zel
