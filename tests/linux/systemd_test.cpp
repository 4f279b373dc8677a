// The service manager over systemd, against a scripted runner (never this
// machine's own units), the command runner itself, and the packaged unit
// file enabled and disabled with `systemctl --root` on a temporary folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <cerrno>
#include <map>
#include <string>
#include <vector>

#include "platform/linux/systemd.h"

namespace zel::linuxbackend {
namespace {

using namespace zel::platform;

// Answers systemctl as a unit in a given state would; records every argument
// vector it receives.
struct FakeSystemd {
  std::string activeState = "inactive";
  std::string unitFileState = "disabled";
  std::string loadState = "loaded";
  // Verbs that fail, with what systemctl would say.
  std::map<std::string, std::string> failing;
  std::vector<std::vector<std::string>> calls;

  CommandRunner Runner() {
    return [this](const std::vector<std::string>& argv) {
      calls.push_back(argv);
      CommandResult r;
      r.started = true;
      r.exitStatus = 0;
      const std::string& verb = argv.at(2);
      auto f = failing.find(verb);
      if (f != failing.end()) {
        r.exitStatus = 1;
        r.output = f->second;
        return r;
      }
      if (verb == "show") {
        r.output = "LoadState=" + loadState + "\nActiveState=" + activeState +
                   "\nUnitFileState=" + unitFileState + "\nExecStart=\nDescription=monitor\n";
      } else if (verb == "start") {
        activeState = "active";
      } else if (verb == "stop") {
        activeState = "inactive";
      } else if (verb == "enable") {
        unitFileState = "enabled";
      } else if (verb == "disable") {
        unitFileState = "disabled";
      } else if (verb == "unmask") {
        unitFileState = "disabled";
      }
      return r;
    };
  }
  // The verbs of the calls other than "show", each with its last argument.
  std::vector<std::string> Changes() const {
    std::vector<std::string> out;
    for (const auto& c : calls)
      if (c.at(2) != "show") out.push_back(c.at(2) + " " + c.back());
    return out;
  }
};

class SystemdServicesTest : public ::testing::Test {
 protected:
  std::unique_ptr<Services> Make() { return MakeSystemdServices(Systemctl(fake_.Runner())); }
  SC_HANDLE Open(Services& scm, uint32_t access = SERVICE_ALL_ACCESS) {
    SC_HANDLE manager = scm.OpenSCManagerW("", SC_MANAGER_CONNECT);
    EXPECT_NE(manager, 0u);
    return scm.OpenServiceW(manager, "QUARN Zelvane Service", access);
  }
  FakeSystemd fake_;
};

TEST_F(SystemdServicesTest, SwitchingOnEnablesAndStartsTheMonitorUnitAsAnArgumentVector) {
  auto scm = Make();
  SC_HANDLE s = Open(*scm);
  ASSERT_NE(s, 0u);
  ASSERT_TRUE(scm->ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE));
  ASSERT_TRUE(scm->StartServiceW(s));
  EXPECT_EQ(fake_.calls.front(),
            (std::vector<std::string>{"systemctl", "--no-ask-password", "show",
                                      "--property=LoadState", "--", "zelvane-monitor.service"}));
  EXPECT_EQ(fake_.Changes(), (std::vector<std::string>{"enable zelvane-monitor.service",
                                                       "start zelvane-monitor.service"}));
  SERVICE_STATUS status;
  ASSERT_TRUE(scm->QueryServiceStatus(s, &status));
  EXPECT_EQ(status.dwCurrentState, 4u);

  ASSERT_TRUE(scm->ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_DEMAND_START, SERVICE_NO_CHANGE));
  ASSERT_TRUE(scm->ControlService(s, SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(status.dwCurrentState, 1u);
  EXPECT_EQ(fake_.Changes().back(), "stop zelvane-monitor.service");
  QUERY_SERVICE_CONFIGW config;
  ASSERT_TRUE(scm->QueryServiceConfigW(s, &config));
  EXPECT_EQ(config.dwStartType, 3u);
}

TEST_F(SystemdServicesTest, UnitStatesMapOntoTheManagersStatesAndStartTypes) {
  struct Case {
    const char* active;
    const char* file;
    uint32_t state, startType;
  } cases[] = {
      {"active", "enabled", 4, 2},       {"reloading", "static", 4, 2},
      {"activating", "enabled-runtime", 2, 2}, {"deactivating", "disabled", 3, 3},
      {"inactive", "disabled", 1, 3},    {"failed", "masked", 1, 4},
      {"inactive", "", 1, 3},
  };
  for (const Case& c : cases) {
    fake_.activeState = c.active;
    fake_.unitFileState = c.file;
    auto scm = Make();
    SC_HANDLE s = Open(*scm);
    SERVICE_STATUS status;
    QUERY_SERVICE_CONFIGW config;
    ASSERT_TRUE(scm->QueryServiceStatus(s, &status)) << c.active;
    ASSERT_TRUE(scm->QueryServiceConfigW(s, &config)) << c.file;
    EXPECT_EQ(status.dwCurrentState, c.state) << c.active;
    EXPECT_EQ(config.dwStartType, c.startType) << c.file;
  }
}

TEST_F(SystemdServicesTest, FailuresCarryTheManagersErrorNumbers) {
  {
    fake_.loadState = "not-found";
    auto scm = Make();
    EXPECT_EQ(Open(*scm), 0u);
    EXPECT_EQ(GetLastError(), 1060u);
    fake_.loadState = "loaded";
  }
  auto scm = Make();
  SC_HANDLE s = Open(*scm);
  ASSERT_NE(s, 0u);
  SERVICE_STATUS status;
  EXPECT_FALSE(scm->ControlService(s, SERVICE_CONTROL_STOP, &status));  // not running
  EXPECT_EQ(GetLastError(), 1062u);
  fake_.failing["enable"] = "Failed to enable unit: Access denied\n";
  EXPECT_FALSE(scm->ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE));
  EXPECT_EQ(GetLastError(), 5u);
  fake_.failing["start"] = "Job for zelvane-monitor.service failed.\n";
  EXPECT_FALSE(scm->StartServiceW(s));
  EXPECT_EQ(GetLastError(), 31u);
  fake_.unitFileState = "masked";
  EXPECT_FALSE(scm->StartServiceW(s));
  EXPECT_EQ(GetLastError(), 1058u);
  // A query-only handle cannot start anything.
  SC_HANDLE q = Open(*scm, SERVICE_QUERY_STATUS);
  EXPECT_FALSE(scm->StartServiceW(q));
  EXPECT_EQ(GetLastError(), 5u);
  // Without systemctl there is no manager to ask.
  auto missing = MakeSystemdServices(Systemctl([](const std::vector<std::string>&) {
    return CommandResult{false, ENOENT, -1, ""};
  }));
  EXPECT_EQ(Open(*missing), 0u);
  EXPECT_EQ(GetLastError(), 1065u);
}

TEST_F(SystemdServicesTest, AMaskedUnitIsUnmaskedBeforeItsStartTypeChanges) {
  fake_.unitFileState = "masked";
  auto scm = Make();
  SC_HANDLE s = Open(*scm);
  ASSERT_TRUE(scm->ChangeServiceConfigW(s, SERVICE_NO_CHANGE, SERVICE_AUTO_START, SERVICE_NO_CHANGE));
  EXPECT_EQ(fake_.Changes(), (std::vector<std::string>{"unmask zelvane-monitor.service",
                                                       "enable zelvane-monitor.service"}));
}

TEST(SystemdUnitNames, OnlyTheMonitorAndPlainUnitNamesReachSystemctl) {
  struct Case {
    const char* name;
    const char* unit;
  } cases[] = {
      {"QUARN Zelvane Service", "zelvane-monitor.service"},
      {"fstrim.timer", "fstrim.timer"},
      {"getty@tty1.service", "getty@tty1.service"},
      {"quarn zelvane service", ""},
      {"--now.service", ""},
      {"a b.service", ""},
      {"x.service;reboot", ""},
      {"sshd", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(UnitForServiceName(c.name), c.unit) << c.name;
}

TEST(CommandRunner, CapturesOutputAndExitStatusAndReportsAMissingProgram) {
  CommandResult ok = RunCommand({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_TRUE(ok.started);
  EXPECT_EQ(ok.exitStatus, 3);
  EXPECT_EQ(ok.output, "out\nerr\n");
  // Arguments are not read by a shell.
  CommandResult literal = RunCommand({"echo", "$(id)", "a;b"});
  EXPECT_EQ(literal.output, "$(id) a;b\n");
  CommandResult missing = RunCommand({"zelvane-no-such-program"});
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, ENOENT);
}

// The packaged unit file, installed into a temporary root and enabled and
// disabled there by the real systemctl: it parses, and enabling wires it into
// the boot target. Nothing of this machine's systemd is touched.
TEST(MonitorUnitFile, EnablesAndDisablesInATemporaryRoot) {
  if (RunCommand({"systemctl", "--version"}).exitStatus != 0) GTEST_SKIP() << "no systemctl";
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("zelvane-unit-" + std::to_string(::getpid()));
  fs::create_directories(root / "etc/systemd/system");
  fs::copy_file(fs::path(ZEL_SOURCE_DIR) / "packaging/systemd/zelvane-monitor.service",
                root / "etc/systemd/system/zelvane-monitor.service");
  Systemctl systemctl(RunCommand, {"--root=" + root.string()});
  CommandResult enabled = systemctl.Run("enable", "zelvane-monitor.service");
  EXPECT_EQ(enabled.exitStatus, 0) << enabled.output;
  const fs::path wants = root / "etc/systemd/system/multi-user.target.wants/zelvane-monitor.service";
  EXPECT_TRUE(fs::is_symlink(wants));
  CommandResult state = systemctl.Run("is-enabled", "zelvane-monitor.service");
  EXPECT_EQ(state.output, "enabled\n");
  EXPECT_EQ(systemctl.Run("disable", "zelvane-monitor.service").exitStatus, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(wants)));
  fs::remove_all(root);
}

}  // namespace
}  // namespace zel::linuxbackend
