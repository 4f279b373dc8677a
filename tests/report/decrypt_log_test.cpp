#include "report/log_decrypt.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "log/log.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

std::string Units(std::initializer_list<uint16_t> units) {
  std::string bytes;
  for (uint16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

// Decryption switches the C runtime to the user's locale; the tests run it
// with a UTF-8 user locale and put the process's locale back afterwards.
class DecryptLogTest : public test::SimTest {
 protected:
  void SetUp() override {
    test::SimTest::SetUp();
    savedLocale_ = std::setlocale(LC_ALL, nullptr);
    lcAll_.emplace("LC_ALL", "C.UTF-8");
    SetLogLevel(1);
  }
  void TearDown() override {
    lcAll_.reset();
    std::setlocale(LC_ALL, savedLocale_.c_str());
    test::SimTest::TearDown();
  }
  std::string Output() const { return test::ReadFile(Dir() + "/Decrypted.log"); }

  std::string savedLocale_;
  std::optional<test::ScopedEnv> lcAll_;
};

TEST_F(DecryptLogTest, UnitsLoseTheirShift) {
  struct Case {
    const char* name;
    std::string file;
    std::string text;
  } cases[] = {
      {"two letters", Units({0x004D, 0x006E}), "Hi"},
      {"odd last byte left out", Units({0x004D, 0x006E}) + "\x41", "Hi"},
      {"wraps below zero", Units({0x0003}), "\xEF\xBF\xBE"},  // U+FFFE
      {"line feed becomes CR LF", Units({0x004D, 0x000F, 0x006E}), "H\r\ni"},
      {"zero unit ends the text", Units({0x004D, 0x0005, 0x006E}), "H"},
      // Byte values that a text-mode read would change (CR LF pairs, Ctrl-Z).
      {"exact units", std::string("\x0D\x0A\x1A\x00", 4), "\xE0\xA8\x88\x15"},
      {"empty file", "", ""},
  };
  for (const Case& c : cases) {
    test::WriteFile(Dir() + "/in.log", c.file);
    DecryptLogFile(Dir() + "/in.log");
    EXPECT_EQ(Output(), c.text) << c.name;
  }
}

TEST_F(DecryptLogTest, CharacterOutsideTheCodePageDoesNotCutTheTextOff) {
  ::setenv("LC_ALL", "C", 1);  // a user whose code page is plain ASCII
  test::WriteFile(Dir() + "/in.log", Units({0x004D, 0x00EE, 0x006E}));  // H, e acute, i
  EXPECT_EQ(DecryptLogFile(Dir() + "/in.log"), DecryptResult::Written);
  EXPECT_EQ(Output(), "H?i");
}

TEST_F(DecryptLogTest, TraceShowsScrambledAndPlainText) {
  test::WriteFile(Dir() + "/in.log", Units({0x004D, 0x006E}));
  DecryptLogFile(Dir() + "/in.log");
  EXPECT_EQ(TraceLog(), "00000000 read from log:4\r\nMn\r\n00000000 Decrypted Log:\r\nHi\r\n");
}

TEST_F(DecryptLogTest, EarlierOutputIsReplacedNotExtended) {
  test::WriteFile(Dir() + "/Decrypted.log", "an earlier, longer result\r\n");
  test::WriteFile(Dir() + "/in.log", Units({0x004D, 0x006E}));
  DecryptLogFile(Dir() + "/in.log");
  EXPECT_EQ(Output(), "Hi");
}

TEST_F(DecryptLogTest, UnreadableFileWritesNothing) {
  test::WriteFile(Dir() + "/Decrypted.log", "kept\r\n");
  std::filesystem::create_directory(Dir() + "/folder.log");
  EXPECT_EQ(DecryptLogFile(Dir() + "/missing.log"), DecryptResult::CannotRead);
  EXPECT_EQ(DecryptLogFile(Dir() + "/folder.log"), DecryptResult::CannotRead);
  EXPECT_EQ(Output(), "kept\r\n");
  EXPECT_EQ(TraceLog(),
            "00000000 Decrypted Log fail, can't read file: 0x2\r\n"
            "00000000 Decrypted Log fail, can't read file: 0xde\r\n");  // not a regular file
}

TEST_F(DecryptLogTest, OutputThatCannotBeCreatedIsLogged) {
  std::filesystem::create_directory(Dir() + "/Decrypted.log");
  std::filesystem::create_directory(Dir() + "/Decrypted.log/inside");  // a folder that cannot be removed
  test::WriteFile(Dir() + "/in.log", Units({0x004D, 0x006E}));
  EXPECT_EQ(DecryptLogFile(Dir() + "/in.log"), DecryptResult::CannotWrite);
  EXPECT_NE(TraceLog().find("00000000 Decrypted Log fail, can't open file\r\n"), std::string::npos);
}

TEST_F(DecryptLogTest, SampleLogDecryptsToItsText) {
  DecryptLogFile(test::FixturePath("dvt/scrambled-sample.log"));
  EXPECT_EQ(Output(),
            "00000000 Enter ATACommand::DoIdentify()\r\n"
            "00000016 Exit ATACommand::DoIdentify()\r\n");
}

}  // namespace
}  // namespace zel
