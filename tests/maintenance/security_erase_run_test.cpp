// The security erase on the simulated drive: the commands and their bytes,
// the wait on the virtual clock, the failures (with the password removed
// again), an erase the drive does not confirm, and the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "maintenance/security_erase.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "security_erase_fixture.h"
#include "worker_notifications.h"

namespace zel {
namespace {

class SecurityEraseRun : public test::SecurityEraseFixture {
 protected:
  SecurityEraseOutcome Erase(std::vector<uint32_t>* waited = nullptr) {
    PhysicalDriveRecord d = Drive();
    SecurityEraseTarget target{d.PhysicalDriveIndex, d.IdentifyWord(89), d.DevicePath};
    return RunSecurityErase(target, [&](uint32_t ms, uint32_t announced) {
      EXPECT_EQ(announced, d.IdentifyWord(89) * 120000u);
      if (waited) waited->push_back(ms);
    });
  }
  int Count(const std::string& command) {
    int n = 0;
    for (const std::string& c : Commands()) n += c == command;
    return n;
  }
};

TEST_F(SecurityEraseRun, ErasesWithTheBlockWaitsFlushesAndStandsBy) {
  UseMachine(EraseMachine(R"("security": {"supported": true, "eraseTime": 1, "eraseSeconds": 12})"));
  std::vector<uint32_t> waited;
  SecurityEraseOutcome o = Erase(&waited);
  EXPECT_EQ(o.End, SecurityEraseEnd::Done);
  EXPECT_EQ(o.Messages, (std::vector<SecurityEraseMessage>{{317, 318, ""}}));
  // SET PASSWORD and ERASE UNIT carry one 512-byte block (count 1), PREPARE
  // none; IDENTIFY at 0, 5 and 10 s sees the enabled bit, at 15 s not.
  EXPECT_EQ(Commands(), (std::vector<std::string>{"F1/01/A0", "F3/00/A0", "F4/01/A0", "EC/00/A0",
                                                  "EC/00/A0", "EC/00/A0", "EC/00/A0", "EA/00/A0",
                                                  "E0/00/A0"}));
  EXPECT_EQ(waited, (std::vector<uint32_t>{5000, 10000, 15000}));
  std::vector<uint8_t> block(512, 0);
  block[2] = 'Q', block[3] = 'Z', block[4] = 'E', block[5] = 'R', block[6] = 'A';
  EXPECT_EQ(DataOf(0xF1), (std::vector<std::vector<uint8_t>>{block}));
  EXPECT_EQ(DataOf(0xF4), (std::vector<std::vector<uint8_t>>{block}));
  EXPECT_EQ(Sata().SecurityWord() & 0x0002, 0);
  EXPECT_TRUE(Sata().InStandby());
}

TEST_F(SecurityEraseRun, WaitsAtMostTheAnnouncedTimeThenAsLongAgain) {
  struct Case {
    const char* security;
    SecurityEraseEnd end;
    int identifies;
    bool flushed;
  } cases[] = {
      // Done within the two announced minutes: at most 24 readings.
      {R"({"supported": true, "eraseTime": 1, "eraseSeconds": 115})", SecurityEraseEnd::Done, 24, true},
      // Longer than announced: the wait goes on.
      {R"({"supported": true, "eraseTime": 1, "eraseSeconds": 180})", SecurityEraseEnd::Done, 37, true},
      // Still enabled after twice the time: 48 readings and one at the end.
      {R"({"supported": true, "eraseTime": 1, "eraseSeconds": 3600})", SecurityEraseEnd::NotConfirmed,
       49, false},
      // No time announced: asked once.
      {R"({"supported": true, "eraseTime": 0})", SecurityEraseEnd::Done, 1, true},
      {R"({"supported": true, "eraseTime": 0, "eraseSeconds": 10})", SecurityEraseEnd::NotConfirmed,
       1, false},
  };
  for (const Case& c : cases) {
    UseMachine(EraseMachine(std::string(R"("security": )") + c.security));
    SecurityEraseOutcome o = Erase();
    EXPECT_EQ(o.End, c.end) << c.security;
    EXPECT_EQ(Count("EC/00/A0"), c.identifies) << c.security;
    EXPECT_EQ(Count("EA/00/A0"), c.flushed ? 1 : 0) << c.security;
    EXPECT_EQ(Count("E0/00/A0"), c.flushed ? 1 : 0) << c.security;
    if (c.end == SecurityEraseEnd::NotConfirmed) {
      EXPECT_EQ(o.Messages, (std::vector<SecurityEraseMessage>{
                                {0, 302, "Security Erase was not confirmed: the drive still reports "
                                         "security enabled after twice the time it announced. Do "
                                         "not use the drive's contents before checking it."}}))
          << c.security;
    }
  }
}

TEST_F(SecurityEraseRun, FailedStepsEndWithTheirMessageAndRemoveThePasswordAgain) {
  const std::string removed =
      "The temporary security password was removed again; the drive will not be locked at its "
      "next power-up.";
  const std::string kept =
      "The temporary security password could not be removed; the drive may be locked at its next "
      "power-up.";
  struct Case {
    const char* faults;
    SecurityEraseEnd end;
    std::vector<std::string> commands;
    std::vector<SecurityEraseMessage> messages;
    bool enabledAfter;
  } cases[] = {
      {R"([{"form": "any", "command": "0xF1"}])", SecurityEraseEnd::SetPasswordFailed,
       {"F1/01/A0"}, {{301, 302, ""}}, false},
      {R"([{"form": "any", "command": "0xF3"}])", SecurityEraseEnd::PrepareFailed,
       {"F1/01/A0", "F3/00/A0", "F6/01/A0"}, {{303, 302, ""}, {0, 302, removed}}, false},
      {R"([{"form": "any", "command": "0xF4", "effect": "abort"}])", SecurityEraseEnd::EraseUnitFailed,
       {"F1/01/A0", "F3/00/A0", "F4/01/A0", "F6/01/A0"}, {{304, 302, ""}, {0, 302, removed}}, false},
      {R"([{"form": "any", "command": "0xF4"}, {"form": "any", "command": "0xF6"}])",
       SecurityEraseEnd::EraseUnitFailed, {"F1/01/A0", "F3/00/A0", "F4/01/A0", "F6/01/A0"},
       {{304, 302, ""}, {0, 302, kept}}, true},
      {R"([{"form": "any", "command": "0xEA"}])", SecurityEraseEnd::FlushFailed,
       {"F1/01/A0", "F3/00/A0", "F4/01/A0", "EC/00/A0", "EA/00/A0"}, {{305, 302, ""}}, false},
  };
  for (const Case& c : cases) {
    UseMachine(EraseMachine(std::string(R"("security": {"supported": true, "eraseTime": 1,
        "eraseSeconds": 0}, "faults": )") + c.faults));
    SecurityEraseOutcome o = Erase();
    EXPECT_EQ(o.End, c.end) << c.faults;
    EXPECT_EQ(Commands(), c.commands) << c.faults;
    EXPECT_EQ(o.Messages, c.messages) << c.faults;
    EXPECT_EQ((Sata().SecurityWord() & 0x0002) != 0, c.enabledAfter) << c.faults;
    // The block that removes the password is the one that set it.
    if (c.end == SecurityEraseEnd::PrepareFailed || c.end == SecurityEraseEnd::EraseUnitFailed) {
      EXPECT_EQ(DataOf(0xF6), DataOf(0xF1)) << c.faults;
    }
  }
}

TEST_F(SecurityEraseRun, WorkerPostsStartAndEndWithTheOutcomeInTheBlock) {
  PhysicalDriveRecord d = Drive();
  platform::HWND window = platform::Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
  SecurityEraseRequest& request = platform::ProgramRequestBlock<SecurityEraseRequest>();
  request.DriveNumber = d.PhysicalDriveIndex;
  request.EraseTime = d.IdentifyWord(89);
  request.WindowTitle = "QUARN SSD Zelvane";
  request.DevicePath = d.DevicePath;
  request.Messages.clear();
  static std::atomic<int32_t> code{0};
  ASSERT_TRUE(StartSecurityEraseWorker(request, code));
  const std::vector<platform::WPARAM> got = test::NotificationsUntilEnd(window, &request);
  EXPECT_EQ(got, (std::vector<platform::WPARAM>{0x01, 0x03}));
  EXPECT_EQ(request.End, SecurityEraseEnd::Done);
  EXPECT_EQ(request.Messages, (std::vector<SecurityEraseMessage>{{317, 318, ""}}));
  EXPECT_EQ(code, 4);
}

TEST_F(SecurityEraseRun, WorkerWithoutTheMainWindowResetsTheCodeAndSendsNothing) {
  PhysicalDriveRecord d = Drive();
  SecurityEraseRequest& request = platform::ProgramRequestBlock<SecurityEraseRequest>();
  request.DriveNumber = d.PhysicalDriveIndex;
  request.WindowTitle = "QUARN SSD Zelvane";
  request.DevicePath = d.DevicePath;
  static std::atomic<int32_t> code{4};
  code = 4;
  ASSERT_TRUE(StartSecurityEraseWorker(request, code));
  for (int i = 0; i < 5000 && code != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(code, 0);
  EXPECT_TRUE(Commands().empty());
}

}  // namespace
}  // namespace zel
