// The NVMe self-test on the simulated controller: Device Self-test and the
// Device Self-test log through the storage protocol command, stated byte by
// byte, and a controller without the command that gets nothing and no pass.
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

class NvmeSelfTest : public test::SelfTestFixture {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"kind": "nvme", "index": 0, "scsiPort": 2,
               "selfTest": {"shortSeconds": 20, "extendedSeconds": 60}}]})";
  }
  // The storage protocol commands received: opcode and CDW10.
  std::vector<std::pair<uint8_t, uint32_t>> Commands() {
    std::vector<std::pair<uint8_t, uint32_t>> out;
    for (const auto& r : Machine().RequestLog())
      if (r.code == 0x2DD3C0) out.push_back({r.in[80], GetLE32(&r.in[120])});
    return out;
  }
};

TEST_F(NvmeSelfTest, TheRequestBlockCarriesOneAdminCommand) {
  std::atomic<bool> cancel{false};
  RunSelfTest(Drive(), kSelfTestQuick, nullptr, cancel);
  auto log = Machine().RequestLog();
  ASSERT_FALSE(log.empty());
  const auto& start = log[0];
  ASSERT_EQ(start.code, 0x2DD3C0u);
  ASSERT_EQ(start.in.size(), 208u);
  const uint8_t header[] = {
      0x01, 0, 0, 0,  84, 0, 0, 0,   3, 0, 0, 0,   0, 0, 0, 0x80,  // version, length, NVMe, adapter request
      0, 0, 0, 0,     0, 0, 0, 0,    64, 0, 0, 0,  64, 0, 0, 0,    // status, error, command length, error info length
      0, 0, 0, 0,     0, 0, 0, 0,    30, 0, 0, 0,  144, 0, 0, 0,   // no data either way, 30 s, error info at 144
      0, 0, 0, 0,     0, 0, 0, 0,    1, 0, 0, 0};                  // no data offsets, admin command
  for (size_t i = 0; i < sizeof header; ++i) EXPECT_EQ(start.in[i], header[i]) << i;
  EXPECT_EQ(start.in[80], 0x14);                 // Device Self-test
  EXPECT_EQ(GetLE32(&start.in[84]), 0xFFFFFFFFu);  // every namespace
  EXPECT_EQ(GetLE32(&start.in[120]), 1u);        // short

  const auto& read = log[1];
  ASSERT_EQ(read.code, 0x2DD3C0u);
  ASSERT_EQ(read.in.size(), 208u + 564u);
  EXPECT_EQ(GetLE32(&read.in[36]), 564u);  // data from the device
  EXPECT_EQ(GetLE32(&read.in[52]), 208u);  // at 208
  EXPECT_EQ(read.in[80], 0x02);            // Get Log Page
  EXPECT_EQ(GetLE32(&read.in[120]), 0x008C0006u);  // log 6, 141 dwords
}

TEST_F(NvmeSelfTest, TestsRunOnTheControllerAndEndWithTheNewestEntry) {
  struct Case {
    const char* selfTest;
    int32_t kind;
    int32_t result;
    std::vector<int32_t> progress;
    uint32_t code;
  } cases[] = {
      {R"({"shortSeconds": 20})", kSelfTestQuick, 101, {25, 50, 75}, 1},
      {R"({"extendedSeconds": 20})", kSelfTestFull, 101, {25, 50, 75}, 2},
      {R"({"shortSeconds": 20, "result": 7, "endsAfterSeconds": 12})", kSelfTestQuick, 105, {25, 50}, 1},
      {R"({"shortSeconds": 20, "result": 5})", kSelfTestQuick, 104, {25, 50, 75}, 1},
      {R"({"shortSeconds": 20, "result": 2})", kSelfTestQuick, 103, {25, 50, 75}, 1},
  };
  for (const Case& c : cases) {
    UseMachine(std::string(R"({"drives": [{"kind": "nvme", "index": 0, "scsiPort": 2, "selfTest": )") +
               c.selfTest + "}]}");
    std::vector<int32_t> progress;
    std::atomic<bool> cancel{false};
    SelfTestOutcome o =
        RunSelfTest(Drive(), c.kind, [&](int32_t p) { progress.push_back(p); }, cancel);
    EXPECT_EQ(o.End, SelfTestEnd::Final) << c.selfTest;
    EXPECT_EQ(o.Result, c.result) << c.selfTest;
    EXPECT_EQ(progress, c.progress) << c.selfTest;
    auto commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0], std::make_pair(uint8_t{0x14}, c.code)) << c.selfTest;
  }
}

TEST_F(NvmeSelfTest, AnAbortSentToTheControllerEndsWith102) {
  PhysicalDriveRecord drive = Drive();
  std::atomic<bool> cancel{false};
  SelfTestOutcome o = RunSelfTest(
      drive, kSelfTestQuick, [&](int32_t) { EXPECT_EQ(AbortSelfTest(drive), 1u); }, cancel);
  EXPECT_EQ(o.Result, 102);
  auto commands = Commands();
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(commands[2], std::make_pair(uint8_t{0x14}, 0xFu));
}

TEST_F(NvmeSelfTest, AControllerWithoutDeviceSelfTestGetsNothingAndNoPass) {
  // OACS 0x0007: security, format and firmware, no self-test.
  UseMachine(R"({"drives": [{"kind": "nvme", "index": 0, "scsiPort": 2,
                 "identify": {"bytes": [{"offset": 256, "data": "07 00"}]}}]})");
  PhysicalDriveRecord drive = Drive();
  uint64_t start = Machine().Clock().NowMs();
  std::atomic<bool> cancel{false};
  SelfTestOutcome o = RunSelfTest(drive, kSelfTestQuick, nullptr, cancel);
  EXPECT_EQ(o.End, SelfTestEnd::NotSupported);
  EXPECT_EQ(o.Result, 0);
  EXPECT_EQ(o.Message, "This drive does not support a self-test; no test was run.");
  EXPECT_TRUE(Machine().RequestLog().empty());
  EXPECT_EQ(Machine().Clock().NowMs(), start);
  EXPECT_EQ(AbortSelfTest(drive), 0u);
  EXPECT_TRUE(Machine().RequestLog().empty());
}

TEST_F(NvmeSelfTest, ThreeFailedLogReadsEndWith104) {
  PhysicalDriveRecord drive = Drive();
  UseMachine(R"({"drives": [{"kind": "nvme", "index": 0, "scsiPort": 2, "faults": [
                 {"form": "protocol_command", "opcode": 2, "error": 31}]}]})");
  std::atomic<bool> cancel{false};
  SelfTestOutcome o = RunSelfTest(drive, kSelfTestQuick, nullptr, cancel);
  EXPECT_EQ(o.End, SelfTestEnd::Final);
  EXPECT_EQ(o.Result, 104);
}

}  // namespace
}  // namespace zel
