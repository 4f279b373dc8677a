// The security erase in the rig's guest: `zelvane erase 0` of the emulated
// SATA disk must refuse, first at the partition check while its FAT volume
// is mounted, then, unmounted, because the disk has no security feature
// set; and the drive must never see more than the reads of discovery.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "rig_sections.h"

using namespace rig;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

bool Has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(RigErase, RefusesAtThePartitionCheckWhileTheVolumeIsMounted) {
  ProgramRun run = Program("zelvane-erase-mounted");
  EXPECT_EQ(run.exit, 2) << run.stderrText;
  EXPECT_EQ(run.json.value("outcome", ""), "refused") << run.json.dump();
  EXPECT_EQ(run.json.value("check", 0), 7) << run.json.dump();
  EXPECT_EQ(run.json.value("message", ""),
            "This SSD has some partitions, please delete all partitions before do security erase.");
}

TEST(RigErase, UnmountedItStopsAtTheSecurityFeatureSet) {
  ProgramRun run = Program("zelvane-erase-unmounted");
  EXPECT_EQ(run.exit, 2) << run.stderrText;
  EXPECT_EQ(run.json.value("check", 0), 8) << run.json.dump();
  EXPECT_EQ(run.json.value("message", ""), "Not Support Security Command, Can't do security erase!");
}

TEST(RigErase, NothingButReadsReachedTheDrive) {
  for (const char* section : {"zelvane-erase-mounted-log", "zelvane-erase-unmounted-log"}) {
    // Each run's trace log: discovery reads the drives (IDENTIFY, SMART);
    // the checks begin with the erase-time line and must send nothing.
    int checks = 0;
    for (const std::string& line : Lines(SectionText(section))) {
      if (Has(line, "Time For Security Erase")) ++checks;
      const bool sends = Has(line, "SendAtaCommand") || Has(line, "DoIdentify") ||
                         Has(line, "DoFlushCacheExt");
      EXPECT_FALSE(checks > 0 && sends) << section << ": " << line;
      EXPECT_FALSE(Has(line, "SendAtaCommandWithStatus")) << section << ": " << line;
      // Discovery's commands are IDENTIFY or SMART reads only.
      for (const char* write : {", 0xF1, ", ", 0xF2, ", ", 0xF3, ", ", 0xF4, ", ", 0xF6, ", ", 0xEA, ", ", 0xE0, "})
        EXPECT_FALSE(Has(line, "SendAtaCommandPhysicalDrive(") && Has(line, write)) << section << ": " << line;
    }
    EXPECT_EQ(checks, 1) << section;
  }
  // The mounted run found the lettered volume on the disk.
  EXPECT_TRUE(Has(SectionText("zelvane-erase-mounted-log"),
                  "CUtilityPage::OnBnClickedButtonUtilityRun()-Mounted drive can't do security erase.:0x0"));
}

}  // namespace
