#include <map>

#include "inventory/underlying_util.h"
#include "inventory_support.h"

namespace zel {
namespace {

using namespace zel::platform;

class WmiQueryTest : public test::InventoryTest {};

TEST_F(WmiQueryTest, ConnectionFailuresReleaseWhatTheyOpened) {
  struct Case {
    const char* fault;
    std::vector<std::string> lines;
  } cases[] = {
      {R"("coInitialize": "0x80010106")",
       {"Fail to CoInitializeEx(0, COINIT_MULTITHREADED).. Error code = 0x80010106"}},
      {R"("locator": "0x80040154")",
       {"Fail to obtain the initial locator to Windows Management",
        " on a particular host computer.. Error code = 0x80040154"}},
      {R"("connect": "0x80070005")",
       {"Fail to connect root\\cimv2 namespace with the current user",
        " and obtain pointer pSvc to make IWbemServices calls.. Error code = 0x80070005"}},
      {R"("proxyBlanket": "0x80004005")", {"Fail to set proxy blanket. Error code = 0x80004005"}},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"wmi": {"faults": {)") + c.fault + "}}}");
    UnderlyingUtil util;
    UnderlyingUtil::LocatorPtr locator;
    UnderlyingUtil::ServicesPtr service;
    EXPECT_EQ(util.ConnectWmiService(&locator, &service), 0) << c.fault;
    EXPECT_FALSE(locator);
    EXPECT_FALSE(service);
    for (const std::string& line : c.lines) EXPECT_TRUE(Logged(line)) << line;
    ExpectComBalanced();
  }
  EXPECT_TRUE(LinesWith("Exit UnderlyingUtil::ConnectWmiService").empty());
}

TEST_F(WmiQueryTest, ClassQueryStatementAndItsFailure) {
  UseMachine(R"({"wmi": {"faults": {"queries": [{"class": "Win32_Processor", "error": "0x80041003"},
                                                {"class": "Win32_BaseBoard", "effect": "noEnumerator"}]}}})");
  UnderlyingUtil util;
  UnderlyingUtil::LocatorPtr locator;
  UnderlyingUtil::ServicesPtr service;
  ASSERT_EQ(util.ConnectWmiService(&locator, &service), 1);
  UnderlyingUtil::EnumeratorPtr e;
  EXPECT_EQ(util.ConnectWmiClass("Win32_BIOS", "", locator, service, &e), 1);
  EXPECT_TRUE(e);
  EXPECT_EQ(util.ConnectWmiClass("Win32_DiskDrive", "WHERE index=3", locator, service, &e), 1);
  // A query that hands back no enumerator is no failure of the helper.
  EXPECT_EQ(util.ConnectWmiClass("Win32_BaseBoard", "", locator, service, &e), 1);
  EXPECT_FALSE(e);
  // An empty condition leaves one trailing blank.
  EXPECT_EQ(Statements(), (std::vector<std::string>{"SELECT * FROM Win32_BIOS ",
                                                    "SELECT * FROM Win32_DiskDrive WHERE index=3",
                                                    "SELECT * FROM Win32_BaseBoard "}));
  EXPECT_TRUE(Logged("WMI Class: Win32_DiskDrive, Condition: WHERE index=3"));

  // A failed query ends the connection: released and uninitialised.
  EXPECT_EQ(util.ConnectWmiClass("Win32_Processor", "", locator, service, &e), 0);
  EXPECT_FALSE(locator);
  EXPECT_FALSE(service);
  EXPECT_TRUE(Logged("Fail to ExecQuery(Win32_Processor) . Error code = 0x80041003"));
  ExpectComBalanced();
}

TEST_F(WmiQueryTest, StatementLongerThanItsBufferIsRefused) {
  UnderlyingUtil util;
  UnderlyingUtil::LocatorPtr locator;
  UnderlyingUtil::ServicesPtr service;
  ASSERT_EQ(util.ConnectWmiService(&locator, &service), 1);
  UnderlyingUtil::EnumeratorPtr e;
  std::string condition = "WHERE DeviceId = \"" + std::string(1010, 'A') + "\"";
  EXPECT_EQ(util.ConnectWmiClass("Win32_PnPEntity", condition, locator, service, &e), 0);
  EXPECT_TRUE(Statements().empty());
  // (The condition line before it is longer than a log line and loses its end.)
  EXPECT_FALSE(LinesWith("Fail to ExecQuery(Win32_PnPEntity) . Error code = 0x80041017").empty());
  ExpectComBalanced();
}

class FakeObject final : public WbemClassObject {
 public:
  std::map<std::string, Variant> properties;
  HRESULT Get(const std::string& name, Variant* value) const override {
    auto it = properties.find(name);
    if (it == properties.end()) {
      *value = Variant{};
      return WBEM_E_NOT_FOUND;
    }
    *value = it->second;
    return S_OK;
  }
};

TEST_F(WmiQueryTest, PropertyTypeMatching) {
  FakeObject o;
  o.properties["HardwareID"] = Variant::BstrArray({"PCI\\VEN_8086&CC_010601"});
  o.properties["Manufacturer"] = Variant::Null();
  o.properties["Speed"] = Variant::I4(2666);
  o.properties["Codes"] = Variant{static_cast<uint16_t>(VT_ARRAY | VT_I4), 0, {}, {"1"}};
  struct Case {
    const char* name;
    uint16_t expected;
    int result;
    const char* mismatchLine;
  } cases[] = {
      {"HardwareID", VT_ARRAY, 1, nullptr},  // 0x2008 matches "any array"
      {"Codes", VT_ARRAY, 1, nullptr},
      {"HardwareID", VT_ARRAY | VT_BSTR, 1, nullptr},
      {"Codes", VT_ARRAY | VT_BSTR, 0, "Variable Type not Match: (input)0x2008-0x2003(real)"},
      {"Manufacturer", VT_BSTR, 0, "Variable Type not Match: (input)0x8-0x1(real)"},
      {"Speed", VT_I4, 1, nullptr},
      {"Speed", VT_BSTR, 0, "Variable Type not Match: (input)0x8-0x3(real)"},
      {"Absent", VT_BSTR, 0, "Variable Type not Match: (input)0x8-0x0(real)"},
  };
  UnderlyingUtil util;
  for (const Case& c : cases) {
    Variant v = Variant::Bstr("stale");
    EXPECT_EQ(util.GetVariable(c.name, c.expected, o, &v), c.result) << c.name;
    // The variant is filled either way.
    auto it = o.properties.find(c.name);
    EXPECT_EQ(v, it == o.properties.end() ? Variant{} : it->second) << c.name;
    if (c.mismatchLine) {
      EXPECT_TRUE(Logged(c.mismatchLine)) << c.mismatchLine;
    }
  }
  EXPECT_EQ(LinesWith("Variable Type not Match").size(), 4u);
  EXPECT_TRUE(Logged("Get Variable: HardwareID"));
}

TEST_F(WmiQueryTest, DeviceIdFromAssociators) {
  UseMachine(R"({"drives": [{"index": 0, "pnpDeviceId": "IDE\\DISKQUARN\\5&1&0&0.0.0"}],
                 "wmi": {"faults": {"queries": [{"contains": "PHYSICALDRIVE0", "effect": "timeout"}]}}})");
  UnderlyingUtil util;
  UnderlyingUtil::LocatorPtr locator;
  UnderlyingUtil::ServicesPtr service;
  ASSERT_EQ(util.ConnectWmiService(&locator, &service), 1);
  struct Case {
    std::string statement;
    std::string deviceId;
  } cases[] = {
      // The entity has two associated objects, its controller and its disk: the last one counts.
      {"ASSOCIATORS OF {Win32_PnPEntity.DeviceID='IDE\\DISKQUARN\\5&1&0&0.0.0'}",
       "\\\\.\\PHYSICALDRIVE0"},
      {"ASSOCIATORS OF {Win32_PnPEntity.DeviceID='IDE\\DISKQUARN\\5&1&0&0.0.0'} WHERE "
       "AssocClass=Win32_SCSIControllerDevice",
       ""},
      {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive7'} WHERE "
       "ResultClass=Win32_PnPEntity",
       ""},
      {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive0'} WHERE "
       "ResultClass=Win32_PnPEntity",
       "IDE\\DISKQUARN\\5&1&0&0.0.0"},
      // The same statement, when the bounded wait for the object expires.
      {"ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PHYSICALDRIVE0'} WHERE "
       "ResultClass=Win32_PnPEntity",
       ""},
      {"NOT A QUERY", ""},
  };
  for (const Case& c : cases) {
    std::string id;
    EXPECT_EQ(util.GetDeviceIDFromAssociators(*service, c.statement, "DeviceID", &id), 1);
    EXPECT_EQ(id, c.deviceId) << c.statement;
  }
  service.reset();
  locator.reset();
  Machine().Wmi().CoUninitialize();
  ExpectComBalanced();
}

}  // namespace
}  // namespace zel
