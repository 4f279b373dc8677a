// The rig's TRIM checks on the host: what zelvane says of the guest's vfat
// volume, fstrim on the same mount, and the run state and schedule kept in
// the guest's SQLite store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(RigTrim, ThePlatformsTrimRequestMakesADeletedFilesSectorsReadAsZeros) {
  // Before: the MiB inside the file holds only 'Z' (5A).
  const std::string before = SectionText("trim-file-before");
  ASSERT_NE(before.find("mib="), std::string::npos) << before;
  std::vector<int> b = DumpBytes(before.substr(before.find('\n') + 1));
  ASSERT_FALSE(b.empty()) << before;
  for (int x : b) EXPECT_EQ(x, 0x5A) << before;
  Json trim = Json::parse(SectionText("volume-trim").substr(0, SectionText("volume-trim").find('\n')));
  EXPECT_EQ(trim["ok"], true) << trim.dump();
  EXPECT_EQ(trim["requested"], true) << trim.dump();
  EXPECT_GT(trim["bytesTrimmed"].get<uint64_t>(), 4u << 20) << trim.dump();
  // After: zeros only (QEMU's DATA SET MANAGEMENT zeroes trimmed sectors).
  std::vector<int> a = DumpBytes(SectionText("trim-file-after"));
  ASSERT_FALSE(a.empty());
  for (int x : a) EXPECT_EQ(x, 0) << SectionText("trim-file-after");
}

}  // namespace
}  // namespace rig
