// The alert thresholds in the product key, the threshold text, the service
// switch through the service manager (calls, log lines, messages) and the
// service-stop worker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "log/log.h"
#include "maintenance/alert_settings.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"
#include "worker_notifications.h"

namespace zel {
namespace {

using namespace zel::platform;

constexpr const char* kService = R"("services": {"list": [
    {"name": "QUARN Zelvane Service", "state": "running", "startType": "auto", "stopMs": 2000}]})";

// What `zelvane`'s messages stream received.
class CapturedStream {
 public:
  CapturedStream() : file_(std::tmpfile()) {}
  ~CapturedStream() { std::fclose(file_); }
  std::FILE* get() { return file_; }
  std::string Text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    return text;
  }

 private:
  std::FILE* file_;
};

class AlertSettings : public test::SimTest {
 protected:
  std::string MachineJson() const override { return std::string("{") + kService + "}"; }
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
  }
  // The stored bytes of a product-key value, or "none".
  std::string Stored(const char* name) {
    Registry& reg = Current().Reg();
    HKEY key = 0;
    if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarn\\SSDZelvane", 0, KEY_READ, &key))
      return "none";
    uint8_t data[16];
    uint32_t type = 0, size = sizeof data;
    LSTATUS s = reg.RegQueryValueExW(key, name, &type, data, &size);
    reg.RegCloseKey(key);
    if (s) return "none";
    std::string text = std::to_string(type) + ":";
    for (uint32_t i = 0; i < size; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", data[i]);
      text += hex;
    }
    return text;
  }
  sim::SimServices& Scm() { return Machine().ServiceManager(); }
};

TEST_F(AlertSettings, StoredValuesAreReadShownAndAnOutOfRangeLifeRewritten) {
  struct Case {
    const char* values;  // the product key's values in the machine file
    int32_t temperature, life;            // Get...
    int32_t shownTemperature, shownLife;  // as the page shows them
    const char* lifeAfter;                // stored life afterwards
  } cases[] = {
      {"", -1, -1, 70, 10, "none"},
      {R"("ZelvaneSvcTemperature": 65, "ZelvaneSvcRemainingLife": 5)", 65, 5, 65, 5, "4: 05 00 00 00"},
      {R"("ZelvaneSvcRemainingLife": 150)", -1, 100, 70, 100, "4: 64 00 00 00"},
      {R"("ZelvaneSvcRemainingLife": 100)", -1, 100, 70, 100, "4: 64 00 00 00"},
      {R"("ZelvaneSvcTemperature": 4294967291, "ZelvaneSvcRemainingLife": 4294967291)", -5, 100,
       -5, 100, "4: 64 00 00 00"},
      {R"("ZelvaneSvcTemperature": "80", "ZelvaneSvcRemainingLife": {"type": "REG_DWORD", "bytes": "05 00"})",
       -1, -1, 70, 10, "4: 05 00"},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"registry": {"keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {)") +
               c.values + "}}}}");
    EXPECT_EQ(GetAlertTemperature(), c.temperature) << c.values;
    EXPECT_EQ(GetAlertRemainingLife(), c.life) << c.values;
    EXPECT_EQ(ShownAlertTemperature(), c.shownTemperature) << c.values;
    EXPECT_EQ(ShownAlertRemainingLife(), c.shownLife) << c.values;
    EXPECT_EQ(Stored("ZelvaneSvcRemainingLife"), c.lifeAfter) << c.values;
  }
}

TEST_F(AlertSettings, SettingCreatesTheKeyAndStoresADwordAndAFailedWriteIsNoSuccess) {
  EXPECT_EQ(Stored("ZelvaneSvcTemperature"), "none");
  EXPECT_NE(SetAlertTemperature(-5), 0u);
  EXPECT_NE(SetAlertRemainingLife(20), 0u);
  EXPECT_EQ(Stored("ZelvaneSvcTemperature"), "4: FB FF FF FF");
  EXPECT_EQ(Stored("ZelvaneSvcRemainingLife"), "4: 14 00 00 00");

  UseMachine(R"({"registry": {"faults": [{"op": "set", "value": "ZelvaneSvcTemperature", "error": 5}]}})");
  EXPECT_EQ(SetAlertTemperature(60), 0u);
  EXPECT_NE(SetAlertRemainingLife(30), 0u);
  UseMachine(R"({"registry": {"admin": false}})");
  EXPECT_EQ(SetAlertTemperature(60), 0u);
  EXPECT_EQ(Stored("ZelvaneSvcTemperature"), "none");
}

TEST(ThresholdText, ParsesAsTheEditBoxIsRead) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"65", true, 65},         {"  +65", true, 65},   {"-5", true, -5},
      {"", true, 0},            {"007", true, 7},      {"99999999999", true, 2147483647},
      {"-99999999999", true, -2147483647 - 1},
      {"65C", false, 0},        {"65 ", false, 0},     {"   ", false, 0},
      {"-", false, 0},          {"0x10", false, 0},    {"6.5", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 12345;
    EXPECT_EQ(ParseThresholdText(c.text, &value), c.ok) << '"' << c.text << '"';
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  int32_t value = 0;
  EXPECT_FALSE(ParseThresholdText(std::string("6\0" "5", 3), &value));
}

TEST_F(AlertSettings, SwitchingOffSetsDemandStartThenStopsAndClosesEverything) {
  CapturedStream messages;
  EXPECT_EQ(SetServiceRunning(kZelvaneServiceName, 0, messages.get()), 1u);
  EXPECT_EQ(Scm().CallLog(),
            (std::vector<std::string>{"OpenSCManager 0x1", "OpenService QUARN Zelvane Service 0xF01FF",
                                      "ChangeServiceConfig 3", "ControlService 1",
                                      "CloseServiceHandle", "CloseServiceHandle"}));
  EXPECT_EQ(Scm().OpenHandles(), 0u);
  EXPECT_TRUE(Logged("ChangeServiceConfig to demand start successfully"));
  sim::SimServices::View view;
  ASSERT_TRUE(Scm().Look(kZelvaneServiceName, &view));
  EXPECT_EQ(view.state, SERVICE_STOP_PENDING);
  EXPECT_EQ(view.startType, SERVICE_DEMAND_START);
  EXPECT_EQ(messages.Text(), "");

  // Once stopped, switching on makes it automatic and starts it.
  Machine().Clock().Advance(2000);
  EXPECT_EQ(SetServiceRunning(kZelvaneServiceName, 1, messages.get()), 1u);
  EXPECT_TRUE(Logged("ChangeServiceConfig to auto start successfully"));
  ASSERT_TRUE(Scm().Look(kZelvaneServiceName, &view));
  EXPECT_EQ(view.state, SERVICE_RUNNING);
  EXPECT_EQ(view.startType, SERVICE_AUTO_START);
}

TEST_F(AlertSettings, AFailedConfigurationChangeIsLoggedAndTheStopStillSent) {
  UseMachine(std::string(R"({"services": {"list": [{"name": "QUARN Zelvane Service", "state": "running"}],
      "faults": [{"op": "changeConfig", "error": 5}]}})"));
  EXPECT_EQ(SetServiceRunning(kZelvaneServiceName, 0, nullptr), 1u);
  EXPECT_TRUE(Logged("ChangeServiceConfig failed (5)"));
  sim::SimServices::View view;
  ASSERT_TRUE(Scm().Look(kZelvaneServiceName, &view));
  EXPECT_EQ(view.state, SERVICE_STOPPED);
  // A stop of a stopped service is the result: 0.
  EXPECT_EQ(SetServiceRunning(kZelvaneServiceName, 0, nullptr), 0u);
}

TEST_F(AlertSettings, AMissingServiceOrManagerIsPrintedAndFails) {
  struct Case {
    const char* machine;
    const char* printed;
  } cases[] = {
      {"{}", "OpenService failed w/err 0x00000424\n"},
      {R"({"services": {"faults": [{"op": "openManager", "error": 5}]}})",
       "OpenSCManager failed w/err 0x00000005\n"},
  };
  for (const Case& c : cases) {
    UseMachine(c.machine);
    for (uint32_t on : {0u, 1u}) {
      CapturedStream messages;
      EXPECT_EQ(SetServiceRunning(kZelvaneServiceName, on, messages.get()), 0u);
      EXPECT_EQ(messages.Text(), c.printed);
    }
    CapturedStream messages;
    SERVICE_STATUS status;
    EXPECT_EQ(QueryServiceStatusByName(kZelvaneServiceName, &status, messages.get()), 0u);
    EXPECT_EQ(messages.Text(), c.printed);
    EXPECT_EQ(Scm().OpenHandles(), 0u);
  }
}

TEST_F(AlertSettings, TheStopWorkerPostsStartAndEndAroundTheStop) {
  HWND window = Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
  ServiceStopRequest& request = ProgramRequestBlock<ServiceStopRequest>();
  request.Kind = 3;
  request.WindowTitle = "QUARN SSD Zelvane";
  static std::atomic<int32_t> code{0};
  code = 0;
  ASSERT_TRUE(StartServiceStopWorker(request, code));
  const std::vector<WPARAM> got = test::NotificationsUntilEnd(window, &request);
  EXPECT_EQ(got, (std::vector<WPARAM>{0x01, 0x03}));
  EXPECT_EQ(code, 3);  // the page resets it
  sim::SimServices::View view;
  ASSERT_TRUE(Scm().Look(kZelvaneServiceName, &view));
  EXPECT_EQ(view.startType, SERVICE_DEMAND_START);
  EXPECT_NE(view.state, SERVICE_RUNNING);
}

}  // namespace
}  // namespace zel
