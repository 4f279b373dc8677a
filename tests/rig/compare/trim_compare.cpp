// The rig's TRIM checks on the host: what zelvane says of the guest's vfat
// volume, fstrim on the same mount, and the run state and schedule kept in
// the guest's SQLite store.
#include <gtest/gtest.h>

#include <string>

#include "rig_sections.h"

namespace rig {
namespace {

TEST(RigTrim, TheVfatVolumeIsTrimmedOnRequestAsFstrimDoes) {
  ProgramRun list = Program("zelvane-trim-list");
  ASSERT_EQ(list.exit, 0) << list.stderrText;
  ASSERT_EQ(list.json["volumes"].size(), 1u) << list.json.dump();
  const Json& v = list.json["volumes"][0];
  EXPECT_EQ(v["fileSystem"], "FAT32");
  EXPECT_EQ(v["trims"], true);
  // A 4000 MB disk: the 5 GiB reserve leaves nothing to fill.
  EXPECT_EQ(v["fillerFiles"], 0);
  // fstrim trims the same mount, all of its free space: the bytes zelvane
  // reads as free.
  const std::string fstrim = SectionText("fstrim-d");
  EXPECT_NE(fstrim.find("exit=0"), std::string::npos) << fstrim;
  size_t colon = fstrim.find(": ");
  ASSERT_NE(colon, std::string::npos) << fstrim;
  EXPECT_EQ(std::stoull(fstrim.substr(colon + 2)), v["freeBytes"].get<uint64_t>()) << fstrim;
}

TEST(RigTrim, ARunEndsItsRunStateInTheStoreSoTheNextOneIsNotRefused) {
  for (const char* name : {"zelvane-trim-0", "zelvane-trim-again"}) {
    ProgramRun run = Program(name);
    EXPECT_EQ(run.exit, 0) << name << ": " << run.stderrText;
    ASSERT_EQ(run.json["volumes"].size(), 1u) << name;
    EXPECT_EQ(run.json["volumes"][0]["trims"], true) << name;
    EXPECT_EQ(run.json["volumes"][0]["filled"], false) << name;
  }
  // The run state went through the store (the second run read it back as
  // ended, or it would have been refused with exit status 1).
  EXPECT_GE(std::stoi("0" + Trim(SectionText("trim-store"))), 1) << SectionText("trim-store");
}

TEST(RigTrim, TheScheduleIsStoredAndReadBack) {
  ProgramRun set = Program("zelvane-schedule-set");
  ASSERT_EQ(set.exit, 0) << set.stderrText;
  ProgramRun show = Program("zelvane-schedule-show");
  ASSERT_EQ(show.exit, 0) << show.stderrText;
  EXPECT_EQ(show.json["supported"], true);
  EXPECT_EQ(show.json["enabled"], true);
  EXPECT_EQ(show.json["days"], 14);
  EXPECT_EQ(show.json["intervalSeconds"], 1209600);
}

}  // namespace
}  // namespace rig
