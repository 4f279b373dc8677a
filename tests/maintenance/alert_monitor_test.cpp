// The monitoring service's rounds on the simulated machine: a drive that
// heats up and cools down on the virtual clock, a worn NVMe drive, the
// thresholds re-read at every round, and nothing written to the registry.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "maintenance/alert_monitor.h"
#include "maintenance/alert_settings.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using platform::Current;

class AlertMonitorTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [
      {"index": 0, "model": "QUARN SSD A", "serial": "S-A",
       "temperatureSteps": [{"at": 0, "celsius": 40}, {"at": 1000, "celsius": 80},
                            {"at": 2000, "celsius": 60}]},
      {"index": 1, "kind": "nvme", "model": "QUARN NVMe B", "serial": "S-B",
       "health": {"temperature": 318, "percentageUsed": 95}}]})";
  }
  static std::vector<std::string> Texts(const std::vector<MonitorLine>& lines) {
    std::vector<std::string> t;
    for (const MonitorLine& l : lines) t.push_back("<" + std::to_string(l.priority) + ">" + l.text);
    return t;
  }
};

TEST_F(AlertMonitorTest, WarnsOnceWhenADriveHeatsUpAndOnceWhenItCoolsDown) {
  MonitorOptions options;
  options.intervalSeconds = 600;
  options.priorityPrefix = true;
  std::atomic<bool> stop{false};
  std::vector<std::string> lines;
  std::vector<uint32_t> at;  // virtual seconds since start of each line
  const uint32_t start = Current().Sys().GetTickCount();
  RunMonitor(options, stop, [&](const std::string& line) {
    lines.push_back(line);
    at.push_back((Current().Sys().GetTickCount() - start) / 1000);
    if (line.find("back at or below") != std::string::npos) stop = true;
  });
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "<6>Alert thresholds: temperature above 70 \xC2\xB0" "C, remaining life below 10%",
                       "<4>Disk 1 (QUARN NVMe B, serial S-B): estimated remaining life 5% is below "
                       "the alert threshold of 10%",
                       "<4>Disk 0 (QUARN SSD A, serial S-A): temperature 80 \xC2\xB0" "C is above the "
                       "alert threshold of 70 \xC2\xB0" "C",
                       "<5>Disk 0 (QUARN SSD A, serial S-A): temperature 60 \xC2\xB0" "C is back at "
                       "or below the alert threshold of 70 \xC2\xB0" "C"}));
  // Rounds every 600 s: the step at 1000 s is seen at 1200 s, the one at 2000 s at 2400 s.
  EXPECT_EQ(at, (std::vector<uint32_t>{0, 0, 1200, 2400}));
}

TEST_F(AlertMonitorTest, ReReadsTheThresholdsEveryRoundWithoutWritingThem) {
  AlertMonitor monitor;
  monitor.Round();
  EXPECT_TRUE(Texts(monitor.Round()).empty());  // nothing new

  ASSERT_NE(SetAlertTemperature(30), 0u);
  ASSERT_NE(SetAlertRemainingLife(5), 0u);
  EXPECT_EQ(Texts(monitor.Round()),
            (std::vector<std::string>{
                "<6>Alert thresholds: temperature above 30 \xC2\xB0" "C, remaining life below 5%",
                "<4>Disk 0 (QUARN SSD A, serial S-A): temperature 40 \xC2\xB0" "C is above the alert "
                "threshold of 30 \xC2\xB0" "C",
                "<4>Disk 1 (QUARN NVMe B, serial S-B): temperature 45 \xC2\xB0" "C is above the alert "
                "threshold of 30 \xC2\xB0" "C",
                "<5>Disk 1 (QUARN NVMe B, serial S-B): estimated remaining life 5% is back at or above "
                "the alert threshold of 5%"}));

  // A stored remaining life above 100 is read as 100 but left as it is.
  ASSERT_NE(SetAlertRemainingLife(150), 0u);
  EXPECT_EQ(ReadAlertThresholds().remainingLife, 100);
  EXPECT_EQ(Texts(monitor.Round()).size(), 2u);  // the thresholds and the worn NVMe drive
  uint8_t data[4] = {};
  uint32_t type = 0, size = sizeof data;
  platform::HKEY key = 0;
  ASSERT_EQ(Current().Reg().RegOpenKeyExW(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarn\\SSDZelvane",
                                          0, platform::KEY_READ, &key),
            0);
  ASSERT_EQ(Current().Reg().RegQueryValueExW(key, "ZelvaneSvcRemainingLife", &type, data, &size), 0);
  Current().Reg().RegCloseKey(key);
  EXPECT_EQ(data[0], 150);
}

TEST_F(AlertMonitorTest, OnceRunsASingleRoundAndNoDriveIsSaidOnce) {
  UseMachine("{}");
  MonitorOptions options;
  options.once = true;
  std::atomic<bool> stop{false};
  std::vector<std::string> lines;
  RunMonitor(options, stop, [&](const std::string& line) { lines.push_back(line); });
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "No usable drive found");
  AlertMonitor monitor;
  EXPECT_EQ(monitor.Round().size(), 2u);
  EXPECT_TRUE(monitor.Round().empty());
}

TEST(TemperatureSteps, MistakesInTheMachineFileAreNamed) {
  for (const char* json :
       {R"({"drives": [{"temperatureSteps": [{"at": 10, "celsius": 50}, {"at": 5, "celsius": 60}]}]})",
        R"({"drives": [{"temperatureSteps": [{"at": 10}]}]})",
        R"({"drives": [{"temperatureSteps": [{"at": 10, "celsius": 150}]}]})",
        R"({"drives": [{"temperatureSteps": {"at": 10}}]})"}) {
    sim::LoadResult r = sim::LoadMachineText(json, "test");
    EXPECT_FALSE(r.machine) << json;
    EXPECT_NE(r.error.find("drives[0].temperatureSteps"), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
