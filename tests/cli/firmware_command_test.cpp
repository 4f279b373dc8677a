// zelvane firmware and check-update on the demo machine against our update
// server program, started on a free loopback port as the documentation
// shows: the online path end to end, the confirmation, the manual path, the
// version check and the usage errors.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli_runner.h"

namespace zel {
namespace {

// The update server program on a free port for the life of the object.
class ServerProgram {
 public:
  explicit ServerProgram(const std::string& dir) : log_(dir + "/server.txt") {
    pid_ = ::fork();
    if (pid_ == 0) {
      FILE* out = std::freopen(log_.c_str(), "w", stdout);
      (void)out;
      std::string program = std::string(ZEL_BIN_DIR) + "/zelvane-update-server";
      std::string manifest = test::FixturePath("update-server/manifest.json");
      ::execl(program.c_str(), program.c_str(), "--manifest", manifest.c_str(), "--port", "0",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500 && host_.empty(); ++i) {
      std::string text = test::ReadFile(log_);
      size_t at = text.find("listening on ");
      size_t end = text.find('\n', at);
      if (at != std::string::npos && end != std::string::npos)
        host_ = text.substr(at + 13, end - at - 13);
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~ServerProgram() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  const std::string& Host() const { return host_; }
  std::string Output() const { return test::ReadFile(log_); }

 private:
  std::string log_;
  pid_t pid_ = -1;
  std::string host_;
};

class FirmwareCommand : public test::CliTest {
 protected:
  void SetUp() override {
    test::CliTest::SetUp();
    UseFixture("demo.json");
  }
};

TEST_F(FirmwareCommand, OnlineUpdateOfTheDemoDriveAgainstOurServer) {
  ServerProgram server(Dir());
  ASSERT_FALSE(server.Host().empty());
  test::ScopedEnv env("ZELVANE_UPDATE_SERVER", server.Host().c_str());
  ASSERT_EQ(::mkdir((Dir() + "/dl").c_str(), 0755), 0);
  test::CliResult r = Run({"firmware", "0", "--yes", "--download-dir", "dl", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["outcome"], "updated");
  EXPECT_EQ(doc["fromRevision"], "SV1.0A");
  EXPECT_EQ(doc["toRevision"], "SV1.0B");
  EXPECT_EQ(doc["eventId"], 2);
  EXPECT_EQ(doc["image"], "dl/SV10B.vic");
  EXPECT_NE(r.err.find("firmware: Firmware upgrade is not supported on IDE and RAID mode.\n"), std::string::npos);
  EXPECT_NE(r.err.find("firmware: piece 1 accepted, 32768 of 70000 bytes\n"), std::string::npos);
  EXPECT_NE(r.err.find("firmware: piece 3 accepted, 70000 of 70000 bytes\n"), std::string::npos);
  EXPECT_NE(r.err.find("Firmware upgrade is complete. Please reboot the system to activate the new firmware."),
            std::string::npos);
  EXPECT_EQ(test::ReadFile(Dir() + "/dl/SV10B.vic"), test::ReadFile(test::FixturePath("update-server/SV10B.vic")));
  EXPECT_NE(server.Output().find("report: Record_ID=77 Download_Result=1\n"), std::string::npos);
}

TEST_F(FirmwareCommand, WithoutYesOffATerminalTheAnswerIsNo) {
  ServerProgram server(Dir());
  test::ScopedEnv env("ZELVANE_UPDATE_SERVER", server.Host().c_str());
  test::CliResult r = Run({"firmware", "0"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Disk 0 firmware: declined\n");
  EXPECT_NE(r.err.find("Are you sure to upgrade firmware from SV1.0A to SV1.0B? no"), std::string::npos);
  EXPECT_EQ(::access((Dir() + "/SV10B.vic").c_str(), F_OK), -1);
  EXPECT_EQ(server.Output().find("report:"), std::string::npos);
}

TEST_F(FirmwareCommand, UnreachableServer) {
  test::ScopedEnv env("ZELVANE_UPDATE_SERVER", "127.0.0.1:1");
  test::CliResult r = Run({"firmware", "0", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Disk 0 firmware: server-failed, event ID 100\n");
  EXPECT_NE(r.err.find("Event ID: 100\nQuery Supported Models List Error"), std::string::npos);
  r = Run({"check-update"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out.find("Connection to server failed."), std::string::npos);
}

TEST_F(FirmwareCommand, ManualPathWithAFile) {
  test::CliResult r = Run({"firmware", "0", "--file", test::FixturePath("update-server/SV10B.vic"), "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Disk 0 firmware: updated (SV1.0A -> SV1.0B)\n");
  EXPECT_NE(r.err.find("firmware: Updagrade firmware is done."), std::string::npos);

  // The drive takes a short image but keeps its revision: not an update.
  test::WriteFile(Dir() + "/short.vic", std::string(40000, 'x'));
  r = Run({"firmware", "0", "--file", "short.vic"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Disk 0 firmware: revision-unchanged\n");
  EXPECT_NE(r.err.find("firmware: Updagrade firmware fail!"), std::string::npos);

  // A whole image without the drive's tag is refused by the drive.
  test::WriteFile(Dir() + "/other.vic", std::string(98304, 'x'));
  r = Run({"firmware", "0", "--file", "other.vic"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Disk 0 firmware: drive-refused\n");
  EXPECT_NE(r.err.find("firmware: Download firmware fail!"), std::string::npos);

  r = Run({"firmware", "0", "--file", "missing.vic"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Disk 0 firmware: drive-refused\n");
}

TEST_F(FirmwareCommand, CheckUpdateAgainstOurServer) {
  ServerProgram server(Dir());
  test::ScopedEnv env("ZELVANE_UPDATE_SERVER", server.Host().c_str());
  test::CliResult r = Run({"check-update", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["state"], "latest");
  EXPECT_EQ(doc["message"], "You already have the latest version of Zelvane.");
}

TEST_F(FirmwareCommand, UsageErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"firmware"}, "firmware: expected one disk number"},
      {{"firmware", "0", "--file"}, "firmware: --file needs a value"},
      {{"firmware", "0", "--force"}, "firmware: unknown option \"--force\""},
      {{"firmware", "x"}, ""},
      {{"check-update", "now"}, "check-update: unexpected argument \"now\""},
  };
  for (const Case& c : cases) {
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.args.back();
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
}  // namespace zel
