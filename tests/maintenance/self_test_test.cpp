// Self-test diagnostics as an operation on the simulated machine: the status
// byte's decoding and log lines, the SATA test from start to result, the
// failures that must never read as a pass, and the NVMe Device Self-test.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "maintenance/self_test.h"
#include "platform/bytes.h"
#include "self_test_fixture.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {


class SelfTestRun : public test::SelfTestFixture {
 protected:
  // The SMART subcommands (features register) the drive received, in order:
  // 0xD0 READ DATA, 0xD4 EXECUTE OFF-LINE IMMEDIATE with its LBA low.
  std::vector<std::string> SmartRequests() {
    std::vector<std::string> out;
    for (const auto& r : Machine().RequestLog()) {
      if (r.code != 0x4D02C || r.in.size() < 39 || r.in[38] != 0xB0) continue;
      char text[16];
      std::snprintf(text, sizeof text, "%02X/%02X", r.in[32], r.in[34]);
      out.push_back(text);
    }
    return out;
  }
  SelfTestOutcome Run(int32_t kind, std::vector<int32_t>* progress = nullptr) {
    std::atomic<bool> cancel{false};
    return RunSelfTest(Drive(), kind, [&](int32_t p) { if (progress) progress->push_back(p); },
                       cancel);
  }
};

TEST_F(SelfTestRun, StatusBytesDecodeIntoTheirLineAndValue) {
  struct Case {
    uint8_t status;
    int32_t value;
    const char* line;
  } cases[] = {
      {0x00, 101, "(   0)\tThe previous self-test routine completed without error or no self-test has ever been run."},
      {0x10, 102, "(  16)\tThe self-test routine was aborted by the host.(0000000000001000)"},
      {0x21, 103, "(  33)\tThe self-test routine was interrupted by the host with a hard or soft reset."},
      {0x3F, 104, "(  63)\tA fatal error or unknown test error occurred while the device was executing its self-test routine and the device was unable to complete the self-test routine."},
      {0x40, 105, "(  64)\tThe previous self-test completed having a test element that failed and the test element that failed is not known."},
      {0x55, 106, "(  85)\tThe previous self-test completed having the electrical element of the test failed."},
      {0x60, 107, "(  96)\tThe previous self-test completed having the servo (and/or seek) element of the test failed."},
      {0x73, 108, "( 115)\tThe previous self-test completed having the read element of the test failed."},
      {0x80, 109, "( 128)\tThe previous self-test completed having a test element that failed and the device is suspected of having handling damage."},
      {0x95, 7, "( 149)\tReserved."},
      {0xE0, 7, "( 224)\tReserved."},
      {0xF3, 70, "( 243)\tSelf-test routine in progress...30% of test remaining."},
      {0xF0, 100, "( 240)\tSelf-test routine in progress...00% of test remaining."},
      // Outside the standard: a negative value, above 100 when taken unsigned.
      {0xFB, -10, "( 251)\tSelf-test routine in progress...110% of test remaining."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DecodeSelfTestStatus(c.status, reinterpret_cast<const void*>(0x1000)), c.value)
        << int(c.status);
    EXPECT_TRUE(Logged(c.line)) << c.line;
  }
}

class SataSelfTest : public SelfTestRun {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "selfTest": {"shortSeconds": 20, "extendedSeconds": 40}}]})";
  }
};

TEST_F(SataSelfTest, QuickTestStartsReadsEveryFiveSecondsAndPasses) {
  std::vector<int32_t> progress;
  uint64_t start = Machine().Clock().NowMs();
  SelfTestOutcome o = Run(kSelfTestQuick, &progress);
  EXPECT_EQ(o.End, SelfTestEnd::Final);
  EXPECT_EQ(o.Result, 101);
  EXPECT_EQ(progress, (std::vector<int32_t>{20, 50, 70}));
  EXPECT_EQ(Machine().Clock().NowMs() - start, 20000u);
  // Capability read, the start with subcommand 1, then one read per cycle.
  EXPECT_EQ(SmartRequests(), (std::vector<std::string>{"D0/00", "D4/01", "D0/00", "D0/00",
                                                       "D0/00", "D0/00"}));
  EXPECT_TRUE(Logged("SSDZELVMSG_WPARAM_PROGRESSEND, 0000000000000000"));
}

TEST_F(SataSelfTest, FullTestSendsSubcommandTwo) {
  EXPECT_EQ(Run(kSelfTestFull).Result, 101);
  EXPECT_EQ(SmartRequests()[1], "D4/02");
}

TEST_F(SataSelfTest, EndingsOfTheDriveGiveTheirResult) {
  struct Case {
    const char* selfTest;
    int32_t result;
  } cases[] = {
      {R"({"shortSeconds": 20, "result": "0x73", "endsAfterSeconds": 8})", 108},
      {R"({"shortSeconds": 20, "result": "0x48"})", 105},
      {R"({"shortSeconds": 20, "result": "0x2F"})", 103},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0, "selfTest": )") + c.selfTest + "}]}");
    SelfTestOutcome o = Run(kSelfTestQuick);
    EXPECT_EQ(o.End, SelfTestEnd::Final) << c.selfTest;
    EXPECT_EQ(o.Result, c.result) << c.selfTest;
  }
}

TEST_F(SataSelfTest, ADriveWithoutSelfTestEndsAtOnceWithoutPollingAnOldStatus) {
  // Capability byte 367 without bit 4; the status byte left says "passed".
  UseMachine(R"({"drives": [{"index": 0, "selfTest": {"status": "0x00"},
      "smart": {"bytes": [{"offset": 367, "hex": "0B"}]}}]})");
  uint64_t start = Machine().Clock().NowMs();
  SelfTestOutcome o = Run(kSelfTestQuick);
  EXPECT_EQ(o.End, SelfTestEnd::NotStarted);
  EXPECT_EQ(o.Result, 104);
  EXPECT_FALSE(o.Message.empty());
  EXPECT_EQ(SmartRequests(), (std::vector<std::string>{"D0/00"}));
  EXPECT_EQ(Machine().Clock().NowMs(), start);
}

TEST_F(SataSelfTest, ARefusedStartEndsAtOnceWithoutPolling) {
  UseMachine(R"({"drives": [{"index": 0, "faults": [
      {"form": "ata_pass_through", "command": "0xB0", "feature": "0xD4", "effect": "fail"},
      {"form": "smart_rcv", "command": "0xB0", "feature": "0xD4", "effect": "fail"}]}]})");
  uint64_t start = Machine().Clock().NowMs();
  SelfTestOutcome o = Run(kSelfTestQuick);
  EXPECT_EQ(o.End, SelfTestEnd::NotStarted);
  EXPECT_EQ(o.Result, 104);
  EXPECT_TRUE(Logged("SelfTestThreadProc--DoSmartSelfTest(0, 1) fail"));
  EXPECT_EQ(SmartRequests(), (std::vector<std::string>{"D0/00", "D4/01"}));
  EXPECT_EQ(Machine().Clock().NowMs(), start);
}

TEST_F(SataSelfTest, ADriveThatAbortsTheStartHasNotStartedATest) {
  UseMachine(R"({"drives": [{"index": 0, "selfTest": {"status": "0x00"}, "faults": [
      {"form": "ata_pass_through", "command": "0xB0", "feature": "0xD4", "effect": "abort"}]}]})");
  uint64_t start = Machine().Clock().NowMs();
  SelfTestOutcome o = Run(kSelfTestQuick);
  EXPECT_EQ(o.End, SelfTestEnd::NotStarted);
  EXPECT_EQ(o.Result, 104);
  EXPECT_TRUE(Logged("ATACommand::DoSmartSelfTest--the drive aborted subcommand 0x1 (status 0x51)"));
  EXPECT_EQ(SmartRequests(), (std::vector<std::string>{"D0/00", "D4/01"}));
  EXPECT_EQ(Machine().Clock().NowMs(), start);
}

TEST_F(SataSelfTest, FailedStatusReadsArePolledAgainAndThreeInARowEndWith104) {
  struct Case {
    const char* times;  // hits of each fault: the capability read takes one
    SelfTestEnd end;
    int32_t result;
  } cases[] = {
      {R"("times": 3,)", SelfTestEnd::Final, 101},  // two polls fail, then it reads again
      {"", SelfTestEnd::Final, 104},               // every read fails
  };
  const PhysicalDriveRecord record = Drive();
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"index": 0, "selfTest": {"shortSeconds": 20}, "faults": [
        {"form": "ata_pass_through", "command": "0xB0", "feature": "0xD0", )") + c.times +
               R"( "effect": "fail"},
        {"form": "smart_rcv", "command": "0xB0", "feature": "0xD0", )" + c.times +
               R"( "effect": "fail"}]}]})");
    std::atomic<bool> cancel{false};
    // The record comes from discovery on a sound drive: a drive whose SMART
    // reads fail is not discovered at all.
    SelfTestOutcome o = RunSelfTest(record, kSelfTestQuick, nullptr, cancel);
    EXPECT_EQ(o.End, c.end) << c.times;
    EXPECT_EQ(o.Result, c.result) << c.times;
    EXPECT_TRUE(Logged("SelfTestThreadProc--GetSelfTestStatus(0) fail (2 in a row)")) << c.times;
  }
  EXPECT_TRUE(Logged("SelfTestThreadProc--GetSelfTestStatus(0) fail (3 in a row)"));
}

TEST_F(SataSelfTest, AbortInTheDriveEndsWith102AndACancelFlagStopsPolling) {
  PhysicalDriveRecord drive = Drive();
  std::atomic<bool> cancel{false};
  // The drive is told to abort after the first reading; the next reading shows it.
  SelfTestOutcome aborted = RunSelfTest(
      drive, kSelfTestQuick, [&](int32_t) { EXPECT_EQ(AbortSelfTest(drive), 1u); }, cancel);
  EXPECT_EQ(aborted.End, SelfTestEnd::Final);
  EXPECT_EQ(aborted.Result, 102);
  std::vector<std::string> requests = SmartRequests();
  ASSERT_GE(requests.size(), 4u);
  EXPECT_EQ(requests[3], "D4/7F");

  // The flag set before the drive shows the abort: no result.
  SelfTestOutcome cancelled =
      RunSelfTest(drive, kSelfTestQuick, [&](int32_t) { cancel = true; }, cancel);
  EXPECT_EQ(cancelled.End, SelfTestEnd::Cancelled);
  EXPECT_EQ(cancelled.Result, 0);
}

}  // namespace
}  // namespace zel
