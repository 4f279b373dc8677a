// The trace log's file: one handle per run, the fallback to the log folder
// when the program's folder cannot be written, the first line that says where
// the log is, and the file that runs share (appended, capped, rotated).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>

#include "log/log.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

class LogFileTest : public test::SimTest {};

TEST_F(LogFileTest, ARunWritesThroughOneHandleUntilItsFilesAreClosed) {
  SetLogLevel(1);
  LogTrace("one");
  // The handle follows the file it opened: a file moved away mid-run still
  // gets the run's lines, and no second file is opened at the old name.
  fs::rename(Dir() + "/SSDZelvane.log", Dir() + "/moved.log");
  LogTrace("two");
  EXPECT_EQ(test::ReadFile(Dir() + "/moved.log"), "00000000 one\r\n00000000 two\r\n");
  EXPECT_FALSE(fs::exists(Dir() + "/SSDZelvane.log"));

  // Closed at the end of the run; a later line opens the file again and
  // appends: the previous run's file is deleted only at a run's first call.
  CloseLogFiles();
  LogTrace("three");
  UseMachine("{}");  // another machine: its own handle, the same run
  LogTrace("four");
  EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"), "00000000 three\r\n00000000 four\r\n");
}

TEST_F(LogFileTest, FirstLineSaysWhereTheLogIs) {
  using Announce = TraceLogOptions::Announce;
  const std::string said = "00000000 Trace log: " + Dir() + "/SSDZelvane.log\r\n";
  const std::string lines = "00000000 first\r\n00000000 second\r\n";
  for (Announce announce : {Announce::Always, Announce::WhenElsewhere, Announce::Never}) {
    ResetLogForNewRun();
    TraceLogOptions options;
    options.announcePath = announce;
    SetTraceLogOptions(options);
    SetLogLevel(1);
    LogTrace("first");
    LogTrace("second");
    LogDvtFail("a result file has no such line");
    EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane.log"), (announce == Announce::Always ? said : "") + lines);
    EXPECT_EQ(test::ReadFile(Dir() + "/SSDZelvane_fail.log"), "00000000 a result file has no such line\r\n");
  }
}

TEST_F(LogFileTest, UnwritableProgramFolderFallsBackToTheLogFolder) {
  // The program's folder does not exist (as root, permissions would not
  // stop a write); the log folder does not exist yet either.
  const std::string state = Dir() + "/state/ssdzelvane";
  test::ScopedEnv logFolder("ZELVANE_STATE_DIR", state.c_str());
  Machine().SetProgramPath(Dir() + "/readonly/SSDZelvane.exe");

  struct Case {
    bool shared;
    const char* before;  // the file in the log folder before the run
    const char* kept;    // what of it the run keeps
  } cases[] = {
      {false, nullptr, ""},
      {false, "the previous run\r\n", ""},
      {true, "another run\r\n", "another run\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shared ? "shared" : "own run");
    ResetLogForNewRun();
    fs::remove_all(Dir() + "/state");
    if (c.before) {
      fs::create_directories(state);
      test::WriteFile(state + "/SSDZelvane.log", c.before);
    }
    TraceLogOptions options;
    options.announcePath = TraceLogOptions::Announce::WhenElsewhere;
    options.sharedByRuns = c.shared;
    SetTraceLogOptions(options);
    SetLogLevel(1);
    LogTrace("line");
    EXPECT_EQ(LogFilePath(LogWriter::Trace), state + "/SSDZelvane.log");
    EXPECT_EQ(test::ReadFile(state + "/SSDZelvane.log"),
              std::string(c.kept) + "00000000 Trace log: " + state + "/SSDZelvane.log (" + Dir() +
                  "/readonly cannot be written)\r\n00000000 line\r\n");
    EXPECT_FALSE(fs::exists(Dir() + "/readonly"));
  }
}

class SharedLogTest : public test::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Machine().SetProgramPath(Dir() + "/zelvane");
  }
  void StartRun(uint64_t cap) {
    ResetLogForNewRun();
    TraceLogOptions options;
    options.sharedByRuns = true;
    options.capBytes = cap;
    SetTraceLogOptions(options);
    SetLogLevel(1);
  }
  std::string Log() const { return Dir() + "/zelvane.log"; }
};

TEST_F(SharedLogTest, RunsAppendAndAFullFileIsRotatedOnce) {
  StartRun(30);
  LogTrace("run 1");
  StartRun(30);
  LogTrace("run 2");
  EXPECT_EQ(test::ReadFile(Log()), "00000000 run 1\r\n00000000 run 2\r\n");
  EXPECT_FALSE(fs::exists(Log() + ".1"));

  // 16 bytes were below the cap: kept. The next run finds 32 and moves them
  // to zelvane.log.1; a later run replaces that generation.
  StartRun(30);
  LogTrace("run 3 has more");
  EXPECT_EQ(test::ReadFile(Log()), "00000000 run 3 has more\r\n");
  EXPECT_EQ(test::ReadFile(Log() + ".1"), "00000000 run 1\r\n00000000 run 2\r\n");
  StartRun(20);
  LogTrace("run 4");
  EXPECT_EQ(test::ReadFile(Log()), "00000000 run 4\r\n");
  EXPECT_EQ(test::ReadFile(Log() + ".1"), "00000000 run 3 has more\r\n");
}

TEST_F(SharedLogTest, AFullFileAnotherRunHoldsIsNotRotated) {
  test::WriteFile(Log(), std::string(100, 'x') + "\r\n");
  // Another run (here: this test) has the file open with its shared lock.
  int other = ::open(Log().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_SH), 0);
  StartRun(50);
  LogTrace("mine");
  ASSERT_EQ(::write(other, "theirs\r\n", 8), 8);
  LogTrace("mine again");
  EXPECT_EQ(test::ReadFile(Log()), std::string(100, 'x') +
                                       "\r\n00000000 mine\r\ntheirs\r\n00000000 mine again\r\n");
  EXPECT_FALSE(fs::exists(Log() + ".1"));
  // While this run holds the file, another cannot take it whole.
  EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
  ::close(other);
  CloseLogFiles();
  // The next run alone rotates it.
  StartRun(50);
  LogTrace("next");
  EXPECT_EQ(test::ReadFile(Log()), "00000000 next\r\n");
}

TEST_F(SharedLogTest, ALockHeldForeverDoesNotStopARun) {
  test::WriteFile(Log(), "old\r\n");
  int other = ::open(Log().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  StartRun(1);
  LogTrace("appended after waiting");
  EXPECT_EQ(test::ReadFile(Log()), "old\r\n00000000 appended after waiting\r\n");
  ::close(other);
}

}  // namespace
}  // namespace zel
