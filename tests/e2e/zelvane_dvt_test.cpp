// zelvane dvt: the verification mode from the command tool.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/program_runner.h"
#include "support/sim_fixture.h"

namespace zel::e2e {
namespace {

class ZelvaneDvtTest : public ProgramTest {
 protected:
  void SetUp() override {
    ProgramTest::SetUp();
    machine_ = WriteMachine();
  }
  std::string machine_;
};

TEST_F(ZelvaneDvtTest, PrintsTheSummaryOfANamedCriteriaFile) {
  CopyFixture("dvt/ZelvaneDvtPass.txt", "kd765kk-criteria.txt");
  ProgramRun run = Cli({"--machine", machine_, "dvt", "0", "--criteria", Path("kd765kk-criteria.txt")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("Disk 0 against " + Path("kd765kk-criteria.txt") + ": passed\n", 0), 0u) << run.out;
  EXPECT_NE(run.out.find("SMART lines:    7 read, 7 checked without error\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("IDENTIFY lines: 9 read, 9 checked without error\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(Path("SSDZelvane_pass.log")), std::string::npos) << run.out;
  EXPECT_TRUE(Exists("SSDZelvane_pass.log"));
}

TEST_F(ZelvaneDvtTest, JsonGivesTheCountsAndTheResult) {
  CopyFixture("dvt/ZelvaneDvtFailures.txt", "ZelvaneDvtFailures.txt");
  ProgramRun run = Cli({"--machine", machine_, "--json", "dvt", "0"});
  EXPECT_EQ(run.status, 1);
  nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["result"], "failed");
  EXPECT_EQ(doc["status"], 1);
  EXPECT_EQ(doc["disk"], 0);
  EXPECT_EQ(doc["criteria"], "ZelvaneDvtFailures.txt");
  EXPECT_EQ(doc["smart"], nlohmann::json({{"read", 17}, {"passed", 0}}));
  EXPECT_EQ(doc["identify"], nlohmann::json({{"read", 12}, {"passed", 0}}));
  EXPECT_EQ(doc["files"]["failures"], Path("SSDZelvane_fail.log"));
  EXPECT_FALSE(doc["files"].contains("pass"));
}

TEST_F(ZelvaneDvtTest, JsonOfANameThatIsNotUtf8HasReplacementCharacters) {
  // A criteria file whose name holds the Latin-1 byte E9: the result files
  // are written and the document is printed, the byte as U+FFFD.
  CopyFixture("dvt/ZelvaneDvtPass.txt", "crit\xE9.txt");
  ProgramRun run = Cli({"--machine", machine_, "--json", "dvt", "0", "--criteria", "crit\xE9.txt"});
  EXPECT_EQ(run.status, 0) << run.err;
  nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["criteria"], "crit\xEF\xBF\xBD.txt");
  EXPECT_EQ(doc["result"], "passed");
}

TEST_F(ZelvaneDvtTest, RunsThatCannotTakePlaceSayWhy) {
  // No criteria file: the JSON document stays the only thing on standard output.
  ProgramRun run = Cli({"--machine", machine_, "--json", "dvt", "0"});
  EXPECT_EQ(run.status, 2);
  nlohmann::json doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["result"], "could not run");
  EXPECT_NE(doc["reason"].get<std::string>().find("no criteria file"), std::string::npos);

  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
  struct Case {
    std::vector<std::string> args;
    const char* err;
  } cases[] = {
      {{"dvt", "9"}, "zelvane: dvt: disk 9 is not among the usable drives\n"},
      {{"dvt", "6"}, "zelvane: dvt: disk 6 is not among the usable drives\n"},  // the USB disk
      {{"dvt", "0", "--criteria", "missing.txt"}, "zelvane: dvt: the criteria file missing.txt cannot be opened (error 2)\n"},
      {{"dvt"}, "zelvane: dvt: which disk? (usage: dvt N [--criteria FILE])\n"},
      {{"dvt", "0x"}, "zelvane: \"0x\" is not a disk number (a decimal number such as 0 or 1 is)\n"},
      {{"dvt", "0", "--criteria"}, "zelvane: --criteria needs a criteria file\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), {"--machine", machine_});
    run = Cli(args);
    EXPECT_EQ(run.status, 2) << c.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "") << c.err;
  }
}

}  // namespace
}  // namespace zel::e2e
