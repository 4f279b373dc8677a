#include "log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/errors.h"
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

TEST_F(LogTest, LongLinesAreCutAtTheFormatterLimitAndStillEnd) {
  SetLogLevel(1);
  LogTrace(std::string(2000, 'x'));
  LogTrace("next");
  // "\xE2\x82\xAC" is one UTF-16 unit, "\xF0\x9F\x98\x80" two: the cut counts
  // units and never splits a pair.
  LogTrace(std::string(1013, 'y') + "\xF0\x9F\x98\x80");
  LogDvtReport("S", std::string(1030, 'z'));
  // 1,024 characters with the line end: the time field, the blank, 1,014
  // characters of text, then CR LF; the next line starts on its own.
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"),
            "00000000 " + std::string(1014, 'x') + "\r\n00000000 next\r\n" + "00000000 " +
                std::string(1013, 'y') + "\r\n");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_DVT_fail_S.log"), std::string(1023, 'z') + "\r\n");
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

TEST_F(LogTest, WritingALineLeavesTheCallersLastErrorAsItWas) {
  // A trace line between a failing call and the reading of its error must
  // not change the error, whether the line is written, dropped or the first.
  SetLogLevel(1);
  for (int i = 0; i < 2; ++i) {
    platform::SetLastError(platform::ERROR_SHARING_VIOLATION);
    LogTrace("between the call and its error");
    EXPECT_EQ(platform::GetLastError(), platform::ERROR_SHARING_VIOLATION);
  }
  // The folder is missing and so is the log folder the trace log falls back to.
  test::ScopedEnv noLogFolder("ZELVANE_STATE_DIR", (Dir() + "/blocker/state").c_str());
  test::WriteFile(Dir() + "/blocker", "a file where the log folder's parent would be");
  Machine().SetProgramPath(Dir() + "/no-such-folder/SSDZelvane.exe");
  ResetLogForNewRun();
  SetLogLevel(1);
  platform::SetLastError(platform::ERROR_NOT_READY);
  LogTrace("dropped: the folder is not there");
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_NOT_READY);
}

}  // namespace
}  // namespace zel
