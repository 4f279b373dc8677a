// zelvane selftest: the drive's self-test from the command line, its exit
// statuses, its output for people and scripts, and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

class SelftestCommandTest : public test::CliTest {
 protected:
  void Machine(const std::string& drives) {
    test::WriteFile(Dir() + "/machine.json",
                    "{\"program\": {\"path\": \"" + Dir() + "/zelvane\"}, \"drives\": " + drives + "}");
  }
};

TEST_F(SelftestCommandTest, ExitStatusAndLineFollowTheOutcome) {
  struct Case {
    const char* drives;
    std::vector<std::string> args;
    int status;
    const char* line;
  } cases[] = {
      {R"([{"index": 0, "selfTest": {"shortSeconds": 20}}])", {"selftest", "0"}, 0,
       "Disk 0 short self-test: passed (101), 0:00:20"},
      {R"([{"index": 0, "selfTest": {"extendedSeconds": 30}}])", {"selftest", "0", "--extended"}, 0,
       "Disk 0 extended self-test: passed (101), 0:00:30"},
      {R"([{"index": 0, "selfTest": {"shortSeconds": 20, "result": "0x73"}}])", {"selftest", "0"}, 1,
       "Disk 0 short self-test: failed (read element) (108), 0:00:20"},
      {R"([{"index": 0, "smart": {"bytes": [{"offset": 367, "hex": "0B"}]}}])", {"selftest", "0"}, 2,
       "Disk 0 short self-test: not started: This drive does not support a self-test; no test was run."},
      {R"([{"kind": "nvme", "index": 0, "scsiPort": 2, "selfTest": {"shortSeconds": 20, "result": 5}}])",
       {"selftest", "0"}, 1, "Disk 0 short self-test: fatal or unknown test error (104), 0:00:20"},
      {R"([{"kind": "nvme", "index": 0, "scsiPort": 2, "identify": {"bytes": [{"offset": 256, "data": "07 00"}]}}])",
       {"selftest", "0"}, 2,
       "Disk 0 short self-test: not supported: This drive does not support a self-test; no test was run."},
      {R"([{"index": 0}])", {"selftest", "3"}, 2, nullptr},
      {R"([{"index": 0}])", {"selftest", "0", "--long"}, 2, nullptr},
  };
  for (const Case& c : cases) {
    Machine(c.drives);
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.drives << "\n" << r.err;
    if (c.line) {
      EXPECT_EQ(r.out, std::string(c.line) + "\n") << c.drives;
    }
  }
}

TEST_F(SelftestCommandTest, ProgressLinesOnStandardErrorAndJsonOnStandardOutput) {
  Machine(R"([{"index": 0, "selfTest": {"shortSeconds": 20}}])");
  test::CliResult r = Run({"--json", "selftest", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "selftest: short self-test of disk 0 started\n"
            "selftest: 20% done, 0:00:05 elapsed\n"
            "selftest: 50% done, 0:00:10 elapsed\n"
            "selftest: 70% done, 0:00:15 elapsed\n");
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["disk"], 0);
  EXPECT_EQ(doc["test"], "short");
  EXPECT_EQ(doc["outcome"], "passed");
  EXPECT_EQ(doc["result"], 101);
  EXPECT_EQ(doc["elapsedSeconds"], 20);
  EXPECT_TRUE(doc["message"].is_null());
}

TEST_F(SelftestCommandTest, OnATerminalABarRedrawsInPlaceWithPercentAndElapsedTime) {
  if (std::system("command -v script > /dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
  Machine(R"([{"index": 0, "selfTest": {"shortSeconds": 10}}])");
  // script(1) gives the program a terminal; its standard output goes to a file.
  std::string command = "cd '" + Dir() + "' && script -qec \"'" + std::string(ZEL_BIN_DIR) +
                        "/zelvane' --machine machine.json selftest 0 > out.txt\" /dev/null > tty.txt";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string bar = "[" + std::string(15, '#') + std::string(15, '-') + "]  50%  0:00:05";
  EXPECT_EQ(test::ReadFile(Dir() + "/tty.txt"), "\r" + bar + "\r\n");
  EXPECT_EQ(test::ReadFile(Dir() + "/out.txt"), "Disk 0 short self-test: passed (101), 0:00:10\n");
}

TEST_F(SelftestCommandTest, CtrlCAbortsTheTestInTheDriveAndExits130) {
  // 200,000 readings: the test is still running when the interrupt comes.
  Machine(R"([{"index": 0, "selfTest": {"shortSeconds": 1000000}}])");
  std::string out = Dir() + "/out.txt", err = Dir() + "/err.txt";
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(Dir().c_str()) != 0) ::_exit(99);
    FILE* o = std::freopen(out.c_str(), "w", stdout);
    FILE* e = std::freopen(err.c_str(), "w", stderr);
    if (!o || !e) ::_exit(99);
    std::string bin = std::string(ZEL_BIN_DIR) + "/zelvane";
    ::execl(bin.c_str(), bin.c_str(), "--machine", "machine.json", "selftest", "0",
            static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // Wait for the first progress line, then interrupt.
  for (int i = 0; i < 500 && test::ReadFile(err).find("% done") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ::kill(pid, SIGINT);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 130);
  EXPECT_NE(test::ReadFile(err).find("zelvane: selftest: interrupted; the test was aborted in the drive"),
            std::string::npos);
  EXPECT_EQ(test::ReadFile(out), "");
}

}  // namespace
}  // namespace zel
