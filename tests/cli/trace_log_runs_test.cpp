// zelvane's own trace log when several runs go on at once: every run appends
// to zelvane.log and none deletes another's lines.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

class TraceLogRunsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "zellog.XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    if (!std::getenv("ZEL_KEEP_TEST_DIRS")) fs::remove_all(dir_, ec);
  }
  // The demo machine with its program (and so the trace log) in `folder`.
  std::string MachineIn(const std::string& folder) {
    fs::create_directories(folder);
    std::ifstream in(test::FixturePath("demo.json"));
    nlohmann::json machine = nlohmann::json::parse(in);
    machine["program"] = {{"path", folder + "/zelvane"}};
    std::string path = folder + "/machine.json";
    test::WriteFile(path, machine.dump());
    return path;
  }
  // Runs `runs` zelvane list at once and waits for all of them.
  int RunAtOnce(const std::string& machine, int runs) {
    std::string command = "cd '" + dir_ + "' && for i in $(seq " + std::to_string(runs) + "); do '" ZEL_BIN_DIR
                          "/zelvane' --machine '" + machine + "' list >/dev/null 2>&1 & done; wait";
    int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string dir_;
};

// Counts the lines of a log, failing on any that is not a whole line.
int WholeLines(const std::string& log, const std::string& startLine, int* starts) {
  std::istringstream in(log);
  int lines = 0;
  *starts = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    // A text may hold a line end of its own, so not every line starts with
    // the time field; but every line ends, and none is cut into another.
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "torn line: " << line;
    EXPECT_EQ(line.find("0000 ", 9), std::string::npos) << "two lines in one: " << line;
    if (line.find(startLine) != std::string::npos) ++*starts;
  }
  EXPECT_TRUE(log.empty() || log.back() == '\n');
  return lines;
}

TEST_F(TraceLogRunsTest, ConcurrentRunsKeepEveryLine) {
  // One run alone gives the count of a run's lines.
  const std::string alone = dir_ + "/alone";
  ASSERT_EQ(RunAtOnce(MachineIn(alone), 1), 0);
  int starts = 0;
  const int perRun = WholeLines(test::ReadFile(alone + "/zelvane.log"), "Trace log: ", &starts);
  ASSERT_GT(perRun, 10);
  EXPECT_EQ(starts, 1);

  // Eight at once, on a log an earlier run left: all nine runs' lines stay.
  const std::string shared = dir_ + "/shared";
  const std::string machine = MachineIn(shared);
  ASSERT_EQ(RunAtOnce(machine, 1), 0);
  constexpr int kRuns = 8;
  ASSERT_EQ(RunAtOnce(machine, kRuns), 0);
  const int lines = WholeLines(test::ReadFile(shared + "/zelvane.log"), "Trace log: " + shared, &starts);
  EXPECT_EQ(starts, kRuns + 1);
  EXPECT_EQ(lines, (kRuns + 1) * perRun);
}

}  // namespace
}  // namespace zel
