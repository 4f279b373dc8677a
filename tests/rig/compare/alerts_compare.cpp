// The alert thresholds and the monitor in the rig's guest: thresholds set
// with `zelvane alerts` go through the real settings store, read back the
// same, and one round of `zelvane monitor` uses them on both drives.
#include <gtest/gtest.h>

#include <string>

#include "rig_sections.h"

using namespace rig;

TEST(RigAlerts, ThresholdsGoThroughTheSettingsStore) {
  for (const char* name : {"zelvane-alerts-set", "zelvane-alerts-show"}) {
    ProgramRun run = Program(name);
    EXPECT_EQ(run.exit, 0) << name << ": " << run.stderrText;
    EXPECT_EQ(run.json.value("temperature", 0), 65) << name << ": " << run.json.dump();
    EXPECT_EQ(run.json.value("remainingLife", 0), 5) << name << ": " << run.json.dump();
    EXPECT_TRUE(run.json.value("temperatureStored", false)) << name;
    EXPECT_TRUE(run.json.value("remainingLifeStored", false)) << name;
  }
}

TEST(RigAlerts, OneMonitorRoundReadsTheStoredThresholdsAndFindsTheDrives) {
  // The monitor prints lines, not JSON: read its section as text.
  const std::string text = SectionText("zelvane-monitor-once");
  EXPECT_NE(text.find("exit=0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("stderr: Alert thresholds: temperature above 65 \xC2\xB0" "C, remaining life below 5%"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("No usable drive found"), std::string::npos) << text;
}
