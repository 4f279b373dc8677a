// The simulated service manager: states that move on the virtual clock,
// start types, the manager's error numbers, rights, injected faults and the
// machine file's checks.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

class SimServicesTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"services": {"list": [
      {"name": "QUARN Zelvane Service", "state": "stopped", "startType": "demand",
       "startMs": 3000, "stopMs": 1000},
      {"name": "Stubborn", "state": "running", "startType": "auto", "acceptsStop": false},
      {"name": "Off", "startType": "disabled"}]}})";
  }
  Services& Scm() { return Current().Services(); }
  SC_HANDLE Open(const std::string& name, uint32_t access = SERVICE_ALL_ACCESS) {
    manager_ = Scm().OpenSCManagerW("", SC_MANAGER_CONNECT);
    EXPECT_NE(manager_, 0u);
    return Scm().OpenServiceW(manager_, name, access);
  }
  uint32_t State(SC_HANDLE service) {
    SERVICE_STATUS status;
    EXPECT_TRUE(Scm().QueryServiceStatus(service, &status));
    return status.dwCurrentState;
  }
  SC_HANDLE manager_ = 0;
};

TEST_F(SimServicesTest, StartAndStopPassThroughThePendingStatesOnTheVirtualClock) {
  SC_HANDLE s = Open("quarn zelvane service");  // names compare without case
  ASSERT_NE(s, 0u);
  EXPECT_EQ(State(s), SERVICE_STOPPED);
  ASSERT_TRUE(Scm().StartServiceW(s));
  EXPECT_EQ(State(s), SERVICE_START_PENDING);
  Machine().Clock().Advance(2999);
  EXPECT_EQ(State(s), SERVICE_START_PENDING);
  Machine().Clock().Advance(1);
  EXPECT_EQ(State(s), SERVICE_RUNNING);

  SERVICE_STATUS status;
  ASSERT_TRUE(Scm().ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, SERVICE_STOP_PENDING);
  EXPECT_EQ(status.dwWaitHint, 1000u);
  Machine().Clock().Advance(1000);
  EXPECT_EQ(State(s), SERVICE_STOPPED);

  ASSERT_TRUE(Scm().ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE));
  QUERY_SERVICE_CONFIGW config;
  ASSERT_TRUE(Scm().QueryServiceConfigW(s, &config));
  EXPECT_EQ(config.dwStartType, 2u);
  EXPECT_TRUE(Scm().CloseServiceHandle(s));
  EXPECT_TRUE(Scm().CloseServiceHandle(manager_));
  EXPECT_EQ(Machine().ServiceManager().OpenHandles(), 0u);
}

TEST_F(SimServicesTest, RefusalsCarryTheManagersErrorNumbers) {
  struct Case {
    const char* what;
    std::string service;
    uint32_t access;
    std::function<bool(Services&, SC_HANDLE)> call;
    uint32_t error;
  } cases[] = {
      {"stop a stopped service", "QUARN Zelvane Service", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.ControlService(h, 1, nullptr); }, 1062},
      {"start a running service", "Stubborn", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.StartServiceW(h); }, 1056},
      {"stop a service that takes no stop", "Stubborn", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.ControlService(h, 1, nullptr); }, 1061},
      {"start a disabled service", "Off", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.StartServiceW(h); }, 1058},
      {"start with the query right only", "Off", SERVICE_QUERY_STATUS,
       [](Services& m, SC_HANDLE h) { return m.StartServiceW(h); }, 5},
      {"an unknown control", "Stubborn", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.ControlService(h, 0x80, nullptr); }, 1052},
      {"a start type out of range", "Off", SERVICE_ALL_ACCESS,
       [](Services& m, SC_HANDLE h) { return m.ChangeServiceConfigW(h, SERVICE_NO_CHANGE, 7, SERVICE_NO_CHANGE); },
       87},
      {"a manager handle used as a service", "Off", SERVICE_ALL_ACCESS,
       [this](Services& m, SC_HANDLE) { return m.StartServiceW(manager_); }, 6},
  };
  for (const Case& c : cases) {
    SC_HANDLE h = Open(c.service, c.access);
    ASSERT_NE(h, 0u) << c.what;
    SetLastError(0);
    EXPECT_FALSE(c.call(Scm(), h)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
  SC_HANDLE manager = Scm().OpenSCManagerW("", SC_MANAGER_CONNECT);
  EXPECT_EQ(Scm().OpenServiceW(manager, "Nobody", SERVICE_QUERY_STATUS), 0u);
  EXPECT_EQ(GetLastError(), 1060u);
}

TEST_F(SimServicesTest, FaultsAndANonAdministratorAreRefused) {
  UseMachine(R"({"services": {"admin": false,
      "list": [{"name": "S", "state": "running"}],
      "faults": [{"op": "query", "service": "S", "error": 1053, "skip": 1, "times": 1}]}})");
  SC_HANDLE manager = Scm().OpenSCManagerW("", SC_MANAGER_CONNECT);
  ASSERT_NE(manager, 0u);
  EXPECT_EQ(Scm().OpenServiceW(manager, "S", SERVICE_ALL_ACCESS), 0u);
  EXPECT_EQ(GetLastError(), 5u);
  SC_HANDLE s = Scm().OpenServiceW(manager, "S", SERVICE_QUERY_STATUS);
  ASSERT_NE(s, 0u);
  SERVICE_STATUS status;
  EXPECT_TRUE(Scm().QueryServiceStatus(s, &status));   // skipped
  EXPECT_FALSE(Scm().QueryServiceStatus(s, &status));  // the one failure
  EXPECT_EQ(GetLastError(), 1053u);
  EXPECT_TRUE(Scm().QueryServiceStatus(s, &status));  // used up
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
}

TEST(SimServicesFile, MistakesAreNamed) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"services": {"list": [{"name": "A", "state": "paused"}]}})", "services.list[0].state"},
      {R"({"services": {"list": [{"name": "A", "startType": "boot"}]}})", "services.list[0].startType"},
      {R"({"services": {"list": [{"name": "A"}, {"name": "a"}]}})", "listed twice"},
      {R"({"services": {"list": [{"state": "running"}]}})", "services.list[0].name"},
      {R"({"services": {"list": [{"name": "A", "startMs": -1}]}})", "services.list[0]"},
      {R"({"services": {"faults": [{"op": "pause"}]}})", "services.faults[0].op"},
      {R"({"services": {"lst": []}})", "lst"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "test");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
