#include "log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class LogTest : public test::SimTest {};

TEST_F(LogTest, FirstCallDeletesOldFileEvenWhenOff) {
  std::string path = Dir() + "/SSDZelvane.log";
  test::WriteFile(path, "old run\r\n");
  LogTrace("ignored");  // level 0: the old file goes, nothing is written
  EXPECT_FALSE(std::filesystem::exists(path));
  SetLogLevel(1);
  LogTrace("first");
  EXPECT_EQ(test::ReadFile(path), "00000000 first\r\n");
}

TEST_F(LogTest, LevelsAboveTwoSwitchOff) {
  SetLogLevel(3);
  EXPECT_EQ(GetLogLevel(), 0u);
  SetLogLevel(2);
  EXPECT_EQ(GetLogLevel(), 2u);
  LogTrace("on");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"), "00000000 on\r\n");
}

TEST_F(LogTest, TimeFieldCountsFromFirstCallAndGrowsPastEightDigits) {
  SetLogLevel(1);
  LogTrace("a");
  Machine().Clock().Advance(1234);
  LogTrace("b");
  Machine().Clock().Advance(100000000);
  LogTrace("");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"),
            "00000000 a\r\n00001234 b\r\n100001234 \r\n");
}

TEST_F(LogTest, ResultWritersNameTheirFiles) {
  SetLogLevel(1);
  LogDvtReport("SER123", "report line");
  LogDvtReport("OTHER", "second");
  LogDvtReport("OTHER", "");
  LogDvtFail("failed");
  LogDvtPass("");
  LogDvtSummary("summary");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_DVT_fail_SER123.log"),
            "report line\r\nsecond\r\n\r\n");
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/SSDZelvane_DVT_fail_OTHER.log"));
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_fail.log"), "00000000 failed\r\n");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_pass.log"), "00000000 \r\n");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_dvt.log"), "00000000 summary\r\n");
}

TEST_F(LogTest, ExtensionIsCutInTheFileNameOnly) {
  struct Case {
    const char* program;
    const char* log;
  } cases[] = {
      {"/SSDZelvane.exe", "/SSDZelvane.log"},
      {"/zelvane", "/zelvane.log"},
      {"/my.folder/zelvane", "/my.folder/zelvane.log"},
  };
  for (const Case& c : cases) {
    ResetLogForNewRun();
    std::filesystem::create_directories(Dir() + "/my.folder");
    Machine().SetProgramPath(Dir() + c.program);
    SetLogLevel(1);
    LogTrace("x");
    EXPECT_EQ(LogFilePath(LogWriter::Trace), Dir() + c.log) << c.program;
    EXPECT_TRUE(std::filesystem::exists(Dir() + c.log)) << c.program;
  }
}

TEST_F(LogTest, LongLinesAreCutAtTheFormatterLimit) {
  SetLogLevel(1);
  LogTrace(std::string(2000, 'x'));
  LogTrace("next");
  std::string text = test::ReadFile(Dir() + "/SSDZelvane.log");
  // 1,024 characters: the time field, the blank and 1,015 characters of
  // text; the line end is lost and the next line continues on the same line.
  EXPECT_EQ(text, "00000000 " + std::string(1015, 'x') + "00000000 next\r\n");
}

TEST_F(LogTest, EnterAndExitLines) {
  SetLogLevel(1);
  LogEnter("ATACommand::UpdatePhysicalDrivesInfo");
  LogExit("ATACommand::UpdatePhysicalDrivesInfo");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"),
            "00000000 Enter ATACommand::UpdatePhysicalDrivesInfo()\r\n"
            "00000000 Exit ATACommand::UpdatePhysicalDrivesInfo()\r\n");
}

TEST_F(LogTest, ConcurrentWritersNeverDropALine) {
  SetLogLevel(1);
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) LogTrace("thread " + std::to_string(t));
    });
  for (auto& th : threads) th.join();
  std::istringstream in(test::ReadFile(Dir() + "/SSDZelvane.log"));
  int lines = 0;
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.back(), '\r');
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

TEST_F(LogTest, UnconvertibleCharacterEndsTheLine) {
  // The C locale represents only ASCII: the line stops at the first other
  // character, and the file stays usable.
  SetLogLevel(1);
  LogTrace("abc\xC3\xA9" "def");
  LogTrace("after");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"), "00000000 abc00000000 after\r\n");
}

}  // namespace
}  // namespace zel
