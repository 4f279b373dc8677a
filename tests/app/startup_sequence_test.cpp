// The start-up sequence every program runs: inventory, discovery, controller
// list, into an application state of the test's own.
#include "app/startup_sequence.h"

#include <gtest/gtest.h>

#include <string>

#include "log/log.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

constexpr char kTwoDrives[] = R"({
  "drives": [
    {"index": 0, "model": "QUARN SSD KD765KK 512GB", "serial": "QA0"},
    {"index": 2, "model": "QUARN SSD K986 256GB", "serial": "QA2"}
  ]
})";
// The processor name is one character too long for the inventory's buffer:
// the inventory fails after the operating system, the discovery still works.
const std::string kInventoryFails = std::string(kTwoDrives).insert(
    1, R"("system": {"processor": ")" + std::string(130, 'P') + R"("},)");

class StartupSequenceTest : public test::SimTest {
 protected:
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
  }
};

TEST_F(StartupSequenceTest, OutcomeAndStateForEachMachine) {
  struct Case {
    const char* name;
    std::string machine;
    bool stopWhenInventoryFails;
    StartupOutcome outcome;
    int32_t drives;
    int32_t loaded;
    bool discovered;  // the discovery's trace lines were written
  } cases[] = {
      {"two drives", kTwoDrives, true, StartupOutcome::Ready, 2, 1, true},
      {"inventory fails, desktop", kInventoryFails, true, StartupOutcome::InventoryFailed, 0, 0,
       false},
      {"inventory fails, zelvane", kInventoryFails, false, StartupOutcome::Ready, 2, 1, true},
      {"no drive", "{}", true, StartupOutcome::NoUsableDrive, 0, 0, true},
      {"only a USB drive", R"({"drives": [{"index": 0, "bus": "usb"}]})", false,
       StartupOutcome::NoUsableDrive, 0, 0, true},
  };
  for (const Case& c : cases) {
    UseMachine(c.machine);
    ResetLogForNewRun();
    SetLogLevel(1);
    AppState state;
    StartupSteps steps;
    steps.stopWhenInventoryFails = c.stopWhenInventoryFails;
    EXPECT_EQ(RunStartupSequence(state, steps), c.outcome) << c.name;
    EXPECT_EQ(state.PhysicalDriveCount, c.drives) << c.name;
    EXPECT_EQ(static_cast<int32_t>(state.PhysicalDriveTable.size()), c.drives) << c.name;
    EXPECT_EQ(state.DrivesLoaded, c.loaded) << c.name;
    EXPECT_EQ(TraceLog().find("Enter ATACommand::UpdatePhysicalDrivesInfo()") != std::string::npos,
              c.discovered)
        << c.name;
    EXPECT_NE(TraceLog().find("Enter UnderlyingUtil::GetSystemInfo()"), std::string::npos)
        << c.name;
  }
}

TEST_F(StartupSequenceTest, ControllerListIsMadeAgainWithTheDiskNumbersOfTheDiscovery) {
  UseMachine(kTwoDrives);
  AppState state;
  ASSERT_EQ(RunStartupSequence(state, StartupSteps{}), StartupOutcome::Ready);
  ASSERT_EQ(state.HbaList.size(), 1u);
  ASSERT_EQ(state.HbaList[0].AttachedDeviceCount, 2);
  EXPECT_EQ(state.HbaList[0].AttachedDevices[0].PhysicalDriveIndex, 0);
  EXPECT_EQ(state.HbaList[0].AttachedDevices[1].PhysicalDriveIndex, 2);
  EXPECT_EQ(state.PhysicalDriveTable[1].PhysicalDriveIndex, 2);
  EXPECT_FALSE(state.SystemInfo.ToolVersion.empty());
}

TEST_F(StartupSequenceTest, TheCallersDiscoveryStepDecidesAndLoadedDrivesAreKept) {
  UseMachine(kTwoDrives);
  AppState state;
  int calls = 0;
  StartupSteps steps;
  steps.discover = [&calls](AppState& s) {
    ++calls;
    return DiscoverDrives(s) > 1;  // a caller that wants at least two drives
  };
  EXPECT_EQ(RunStartupSequence(state, steps), StartupOutcome::Ready);
  EXPECT_EQ(calls, 1);

  // A second run on the same state keeps the drives and does not discover.
  Machine().ClearRequestLog();
  EXPECT_EQ(RunStartupSequence(state, steps), StartupOutcome::Ready);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(state.PhysicalDriveCount, 2);
  EXPECT_TRUE(Machine().RequestLog().empty());

  AppState refused;
  steps.discover = [](AppState& s) { return DiscoverDrives(s) > 2; };
  EXPECT_EQ(RunStartupSequence(refused, steps), StartupOutcome::NoUsableDrive);
  EXPECT_EQ(refused.DrivesLoaded, 0);
}

}  // namespace
}  // namespace zel
