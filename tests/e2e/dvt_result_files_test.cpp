// The verification mode of both programs when its files misbehave: a result
// file that cannot be written makes the run end with 2 and say so, only
// written files are listed, and only a regular file is taken as criteria.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e/program_runner.h"
#include "support/sim_fixture.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

constexpr char kReport0[] = "SSDZelvane_DVT_fail_QKK7650000000001.log";

class DvtResultFilesTest : public ProgramTest {};

TEST_F(DvtResultFilesTest, AResultFileThatCannotBeWrittenEndsTheRunWith2) {
  struct Case {
    const char* fault;  // a fault of the real folders' file calls
    const char* file;   // the result file it spoils
  } const cases[] = {
      // The program's folder refuses the summary (as a folder without write
      // permission does), or the disk is full when the report is written.
      {R"({"call": "CreateFileW", "path": "SSDZelvane_dvt.log", "error": 5})", "SSDZelvane_dvt.log"},
      {R"({"call": "WriteFile", "path": "SSDZelvane_pass.log", "error": 112})", "SSDZelvane_pass.log"},
      {R"({"call": "WriteFile", "path": "QKK7650000000001.log", "error": 112, "times": 1})", kReport0},
  };
  for (const Case& c : cases) {
    fs::remove_all(Dir());
    fs::create_directories(Dir());
    CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtPass.txt");
    const std::string machine =
        WriteMachine("machine.json", nlohmann::json::parse(std::string(R"({"files": {"faults": [)") +
                                                           c.fault + "]}}"));
    const std::string message =
        "the result file " + Path(c.file) + " could not be written completely\n";

    ProgramRun run = Desktop({"--machine", machine, "-dvt", "0"});
    EXPECT_EQ(run.status, 2) << c.fault;
    EXPECT_EQ(run.err, "SSDZelvane: " + message) << c.fault;

    run = Cli({"--machine", machine, "dvt", "0"});
    EXPECT_EQ(run.status, 2) << c.fault;
    EXPECT_EQ(run.err, "zelvane: dvt: " + message) << c.fault;
    EXPECT_EQ(run.out, "") << c.fault;

    run = Cli({"--machine", machine, "--json", "dvt", "0"});
    EXPECT_EQ(run.status, 2) << c.fault;
    nlohmann::json doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["result"], "could not run") << c.fault;
    EXPECT_EQ(doc["reason"], message.substr(0, message.size() - 1)) << c.fault;
    // Only files that were written whole are listed, and they are there.
    for (const auto& [name, path] : doc["files"].items()) {
      EXPECT_NE(path, Path(c.file)) << name;
      EXPECT_TRUE(fs::exists(path.get<std::string>())) << name;
    }
    EXPECT_TRUE(doc["files"].contains("report") != (c.file == std::string(kReport0))) << c.fault;
  }
}

TEST_F(DvtResultFilesTest, OnlyARegularFileIsTakenAsCriteria) {
  const std::string machine = WriteMachine();
  // A folder that sorts first is passed over for the real file.
  fs::create_directories(Path("ZelvaneDvtA.txt"));
  CopyFixture("dvt/ZelvaneDvtPass.txt", "ZelvaneDvtB.txt");
  ProgramRun run = Desktop({"--machine", machine, "-dvt", "0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(Read("SSDZelvane.log").find("Zelvane DVT criteria file :ZelvaneDvtB.txt"), std::string::npos);
  run = Cli({"--machine", machine, "--json", "dvt", "0"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out)["criteria"], "ZelvaneDvtB.txt");

  // Named criteria that are not a regular file are told for what they are;
  // a FIFO is never opened (it would block, or read as an empty file that
  // passes).
  ASSERT_EQ(::mkfifo(Path("fifo.txt").c_str(), 0600), 0);
  fs::remove(Path("SSDZelvane_pass.log"));
  struct Case {
    const char* criteria;
    std::string err;
  } const cases[] = {
      {"fifo.txt", "zelvane: dvt: the criteria file fifo.txt is a device, FIFO or socket, not a regular file\n"},
      {"ZelvaneDvtA.txt", "zelvane: dvt: the criteria file ZelvaneDvtA.txt is a folder, not a regular file\n"},
      {"missing.txt", "zelvane: dvt: the criteria file missing.txt cannot be opened (error 2)\n"},
  };
  for (const Case& c : cases) {
    run = Cli({"--machine", machine, "dvt", "0", "--criteria", c.criteria});
    EXPECT_EQ(run.status, 2) << c.criteria;
    EXPECT_EQ(run.err, c.err);
    EXPECT_FALSE(Exists("SSDZelvane_pass.log")) << c.criteria;
  }
}

}  // namespace
}  // namespace zel::e2e
