// The start-up's clean-up of a left-over TRIM: a run that still counts as
// running keeps its flag and folders; a stale one is ended and its folders
// of every drive removed.
#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "app/startup_trim_state.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/sim/sim_registry.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

constexpr long long kNow = 1796990400;  // 2026-12-11T12:00:00Z

class StartupTrimState : public test::SimTest {
 protected:
  void UseTrimMachine(const std::string& productValues) {
    UseMachine(R"({"clock": {"time": "2026-12-11T12:00:00Z"},
                   "program": {"path": ")" + Dir() + R"(/SSDZelvane.exe"},
                   "drives": [{"index": 0, "model": "QUARN KD785KK 512GB"},
                              {"index": 2, "model": "QUARN KD785KK 256GB"}],
                   "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": 8589934592,
                                "files": [{"path": "tmpxxxquarn\\xxxtmpxxxquarnxxxwtf0.tmp", "size": 4096}]},
                               {"letter": "D", "disk": 2, "size": 107374182400, "free": 8589934592,
                                "files": [{"path": "tmpxxxquarn", "folder": true}]}],
                   "registry": {"keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {)" +
               productValues + "}}}}");
  }
  bool FolderExists(const std::string& folder) {
    return platform::Current().Files().GetFileAttributesW(folder) != platform::INVALID_FILE_ATTRIBUTES;
  }
  std::vector<uint8_t> InProgress() {
    auto v = sim::RegistryOf(Machine()).Find("SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane", "TrimInProgress");
    return v ? v->data : std::vector<uint8_t>{};
  }
};

TEST_F(StartupTrimState, ARunningTrimIsLeftAloneAndAStaleOneCleanedUp) {
  struct Case {
    const char* what;
    std::string values;
    bool running;
  } cases[] = {
      {"started 30 minutes ago", Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})", kNow - 1800), true},
      {"starts in an hour", Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})", kNow + 3600), true},
      {"started 2 hours ago", Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})", kNow - 7200), false},
      {"no run state", "", false},
  };
  for (const Case& c : cases) {
    UseTrimMachine(c.values);
    SetLogLevel(1);
    // The desktop program's normal start runs the check before the window.
    AppState state;
    ConsoleStartupHost host;
    CQuarn_SSDZelvDlg dialog(state, host);
    ASSERT_TRUE(dialog.InitBeforeWindow({Dir() + "/SSDZelvane.exe"})) << c.what;
    EXPECT_EQ(FolderExists("C:\\tmpxxxquarn"), c.running) << c.what;
    EXPECT_EQ(FolderExists("D:\\tmpxxxquarn"), c.running) << c.what;
    const std::vector<uint8_t> expected = c.running ? std::vector<uint8_t>{1, 0, 0, 0}
                                                    : std::vector<uint8_t>{0, 0, 0, 0};
    EXPECT_EQ(InProgress(), expected) << c.what;
    EXPECT_EQ(CleanUpLeftoverTrimState(state), c.running) << c.what;
  }
}

}  // namespace
}  // namespace zel
