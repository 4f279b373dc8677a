// zelvane decrypt-log: a scrambled log back to text, in the current folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

class DecryptLogCommandTest : public test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    UseFixture("report-mixed.json");
  }
};

TEST_F(DecryptLogCommandTest, WritesDecryptedLogInTheCurrentFolder) {
  std::filesystem::create_directory(Dir() + "/logs");
  test::WriteFile(Dir() + "/logs/in.log", std::string("\x4D\x00\x6E\x00\x0F\x00", 6));  // "Hi\n"
  test::CliResult r = Run({"decrypt-log", "logs/in.log"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote " + Dir() + "/Decrypted.log\n");
  EXPECT_EQ(test::ReadFile(Dir() + "/Decrypted.log"), "Hi\r\n");

  r = Run({"--json", "decrypt-log", "logs/in.log"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out)["written"], true);
}

TEST_F(DecryptLogCommandTest, UnreadableFileWritesNothing) {
  const test::CliResult r = Run({"decrypt-log", "missing.log"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.log cannot be read (error 2); nothing was written"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/Decrypted.log"));
  EXPECT_NE(test::ReadFile(Dir() + "/zelvane.log").find("Decrypted Log fail, can't read file: 0x2"),
            std::string::npos);
}

}  // namespace
}  // namespace zel
