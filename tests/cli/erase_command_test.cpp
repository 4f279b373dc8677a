// zelvane erase: the refusals with their messages, the serial-number
// confirmation, the outcome as text and JSON, and the exit statuses.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

class EraseCommandTest : public test::CliTest {
 protected:
  void Machine(const std::string& drive, const std::string& more = "") {
    test::WriteFile(Dir() + "/machine.json",
                    "{\"program\": {\"path\": \"" + Dir() +
                        "/zelvane\"}, \"os\": {\"major\": 6, \"minor\": 1, \"build\": 7601}, "
                        "\"drives\": [{\"index\": 0, \"model\": \"QUARN SSD KD765KK 512GB\", "
                        "\"serial\": \"QKD0001\", " +
                        drive + "}]" + more + "}");
    // zelvane.log collects the lines of every run: each machine starts a
    // fresh one, so the commands counted are those of the runs on it.
    std::remove((Dir() + "/zelvane.log").c_str());
  }
  // The security commands (0xF1-0xF6) the trace log shows were sent.
  std::vector<std::string> SecurityCommandsSent() {
    std::vector<std::string> out;
    for (const std::string& line : test::TraceLogLines(test::ReadFile(Dir() + "/zelvane.log")))
      for (const char* c : {"0xF1,", "0xF3,", "0xF4,", "0xF6,"})
        if (line.find("SendAtaCommand") != std::string::npos && line.find(c) != std::string::npos)
          out.push_back(line);
    return out;
  }
};

TEST_F(EraseCommandTest, RefusalsPrintTheirMessageAndExit2WithoutSendingAnything) {
  const std::string ok = R"("security": {"supported": true, "eraseTime": 1})";
  struct Case {
    std::string drive, more;
    std::string message;
  } cases[] = {
      {ok, R"(, "volumes": [{"letter": "D", "disk": 0}])",
       "This SSD has some partitions, please delete all partitions before do security erase."},
      {ok + R"(, "inUse": {"mounts": ["/srv/data"]})", "",
       "This SSD has some partitions, please delete all partitions before do security erase."},
      {R"("security": {"supported": false})", "",
       "Not Support Security Command, Can't do security erase!"},
      {R"("security": {"supported": true, "frozen": true})", "",
       "Target drive is frozen. Can't do security erase. Please try to hot plug the drive."},
  };
  for (const Case& c : cases) {
    Machine(c.drive, c.more);
    test::CliResult r = Run({"erase", "0", "--confirm-serial", "QKD0001"});
    EXPECT_EQ(r.status, 2) << c.drive;
    EXPECT_EQ(r.err, "zelvane: erase: " + c.message + "\n") << c.drive;
    EXPECT_TRUE(SecurityCommandsSent().empty()) << c.drive;
  }

  Machine(R"("security": {"supported": false})");
  test::CliResult r = Run({"erase", "0", "--json"});
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["outcome"], "refused");
  EXPECT_EQ(doc["check"], 8);
  EXPECT_EQ(doc["message"], "Not Support Security Command, Can't do security erase!");
}

TEST_F(EraseCommandTest, WithoutTheRightSerialNothingIsErased) {
  Machine(R"("security": {"supported": true, "eraseTime": 1})");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      // Standard input is not a terminal here: only the option confirms.
      {{"erase", "0"},
       "zelvane: erase: standard input is not a terminal: give the drive's serial number with "
       "--confirm-serial to erase disk 0\n"},
      {{"erase", "0", "--confirm-serial", "QKD0002"},
       "zelvane: erase: the serial number does not match disk 0's; nothing was sent to the drive\n"},
      {{"erase", "0", "--confirm-serial"}, nullptr},
  };
  for (const Case& c : cases) {
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.args.size();
    if (c.message) {
      EXPECT_EQ(r.err, c.message);
    }
    EXPECT_TRUE(SecurityCommandsSent().empty());
  }
}

TEST_F(EraseCommandTest, ConfirmedEraseReportsItsOutcomeAndExitStatus) {
  struct Case {
    std::string drive;
    int status;
    std::vector<std::string> out;
  } cases[] = {
      {R"("security": {"supported": true, "eraseTime": 2, "eraseSeconds": 200})", 0,
       {"Disk 0 security erase: erased, 0:03:20 waited (0:04:00 announced)",
        "Security Erase done. Please reboot system."}},
      {R"("security": {"supported": true, "eraseTime": 1, "eraseSeconds": 900})", 1,
       {"Disk 0 security erase: not confirmed, 0:04:00 waited (0:02:00 announced)",
        "Security Erase was not confirmed: the drive still reports security enabled after twice "
        "the time it announced. Do not use the drive's contents before checking it."}},
      {R"("security": {"supported": true, "eraseTime": 1},
          "faults": [{"form": "any", "command": "0xF3"}])", 1,
       {"Disk 0 security erase: erase prepare failed, 0:00:00 waited (0:02:00 announced)",
        "Security Erase Prepare command fail.",
        "The temporary security password was removed again; the drive will not be locked at its "
        "next power-up."}},
  };
  for (const Case& c : cases) {
    Machine(c.drive);
    test::CliResult r = Run({"erase", "0", "--confirm-serial", "QKD0001"});
    EXPECT_EQ(r.status, c.status) << c.drive << "\n" << r.err;
    std::vector<std::string> lines = test::OutputLines(r.out);
    EXPECT_EQ(lines, c.out) << c.drive;
  }
  // The last run: SET PASSWORD, PREPARE (refused), DISABLE PASSWORD.
  EXPECT_EQ(SecurityCommandsSent().size(), 3u);

  Machine(R"("security": {"supported": true, "eraseTime": 1, "eraseSeconds": 60})");
  test::CliResult r = Run({"erase", "0", "--confirm-serial", "QKD0001", "--json"});
  EXPECT_EQ(r.status, 0);
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["outcome"], "erased");
  EXPECT_EQ(doc["messages"], nlohmann::json::array({"Security Erase done. Please reboot system."}));
  EXPECT_EQ(doc["announcedMinutes"], 2);
  EXPECT_EQ(doc["waitedSeconds"], 60);
  // Progress on standard error: a line a minute when it is not a terminal.
  EXPECT_NE(r.err.find("erase: 0:01:00 elapsed, 0:02:00 announced\n"), std::string::npos) << r.err;
}

TEST_F(EraseCommandTest, OnATerminalTheTypedSerialNumberConfirms) {
  // script(1) gives the program a terminal; the answer is typed into it.
  if (::access("/usr/bin/script", X_OK) != 0) GTEST_SKIP() << "script(1) is not installed";
  Machine(R"("security": {"supported": true, "eraseTime": 1, "eraseSeconds": 10})");
  struct Case {
    const char* typed;
    int status;
    const char* part;
  } cases[] = {
      {"QKD0001", 0, "Disk 0 security erase: erased, 0:00:10 waited (0:02:00 announced)"},
      {"QKD0002", 2, "zelvane: erase: the serial number does not match disk 0's; nothing was sent"},
  };
  for (const Case& c : cases) {
    const std::string command = "cd '" + Dir() + "' && (sleep 1; echo " + c.typed +
                                ") | script -qec \"LC_ALL=C.UTF-8 '" + ZEL_BIN_DIR +
                                "/zelvane' --machine machine.json erase 0\" /dev/null > tty.txt";
    int raw = std::system(command.c_str());
    const std::string shown = test::ReadFile(Dir() + "/tty.txt");
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << shown;
    EXPECT_NE(shown.find("Disk 0: QUARN SSD KD765KK 512GB, serial number QKD0001."), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Type the drive's serial number to erase it (anything else cancels): "),
              std::string::npos);
    EXPECT_NE(shown.find(c.part), std::string::npos) << shown;
  }
}

}  // namespace
}  // namespace zel
