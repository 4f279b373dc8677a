// The simulated SATA drive's vendor commands, stated as literal request
// bytes: the statistics read (enable code, request, reply) and the
// identifier area (access code, read). Every byte the drive checks is
// changed once, and the drive must refuse the step that carries it and
// everything that depends on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/platform.h"
#include "platform/sim/sata_drive.h"
#include "support/ata_request_bytes.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;
using test::AtaRegisters;

enum Dir : uint16_t { None = 0, In = 2, Out = 4 };

// One command in the buffered form: its registers, direction and data.
struct Step {
  AtaRegisters regs;
  Dir dir = None;
  std::vector<uint8_t> data;  // sent (Out) or the length to receive (In)
};

struct Outcome {
  bool done = false;
  std::vector<uint8_t> data;
};

Outcome Send(const Step& s) {
  uint32_t length = static_cast<uint32_t>(s.data.size());
  std::vector<uint8_t> block = test::AtaBufferedBlock(s.regs, s.dir, length);
  if (s.dir == Out) std::copy(s.data.begin(), s.data.end(), block.begin() + 44);
  HANDLE d = Devices().CreateFileW("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, 3,
                                   OPEN_EXISTING, 0);
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(d, IOCTL_ATA_PASS_THROUGH, block.data(),
                                      static_cast<uint32_t>(block.size()), block.data(),
                                      static_cast<uint32_t>(block.size()), &returned);
  Devices().CloseHandle(d);
  Outcome o;
  o.done = ok && test::ReplyStatus(block) == 0x50;
  if (o.done && s.dir == In) o.data.assign(block.begin() + 44, block.begin() + 44 + length);
  return o;
}

// The statistics read as the maker's controllers take it.
std::vector<Step> StatisticsRead() {
  std::vector<uint8_t> request(512, 0);
  const uint8_t head[8] = {0xFF, 0xE5, 0x9E, 0x00, 0x00, 0x02, 0x2C, 0x00};
  std::copy(std::begin(head), std::end(head), request.begin());
  return {
      {{0x5A, 0xC3, 0x00, 0x00, 0x00, 0xE0, 0xEF}, Out, std::vector<uint8_t>(512, 0)},
      {{0x00, 0x01, 0xFF, 0x34, 0x12, 0xE0, 0x88}, Out, request},
      {{0x00, 0x10, 0x9E, 0x34, 0x12, 0xE0, 0x86}, In, std::vector<uint8_t>(8192, 0)},
  };
}

// The identifier area: the five-byte access code, then the read.
std::vector<Step> IdentifierRead() {
  return {
      {{0x7E, 0x51, 0xA9, 0x3C, 0xD2, 0xA0, 0xFA}, None, {}},
      {{0x26, 0x10, 0x00, 0x00, 0x00, 0xA0, 0xFA}, In, std::vector<uint8_t>(512, 0)},
  };
}

class SataVendorTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "model": "QUARN SSD",
        "vendor": {"words32": {"0": 7, "8188": "0xA1B2C3D4"}, "uid": "DE AD BE EF"}}]})";
  }
  sim::SataDrive& Drive() { return *dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(0)); }

  // Runs the steps in order; the index of the first refused step (or the
  // count when all were carried out) and the last step's data.
  std::pair<size_t, std::vector<uint8_t>> RunAll(const std::vector<Step>& steps) {
    std::vector<uint8_t> last;
    size_t firstRefused = steps.size();
    for (size_t i = 0; i < steps.size(); ++i) {
      Outcome o = Send(steps[i]);
      if (!o.done && firstRefused == steps.size()) firstRefused = i;
      last = o.data;
    }
    return {firstRefused, last};
  }
};

TEST_F(SataVendorTest, StatisticsReadChecksEveryByteOfThePair) {
  struct Case {
    const char* what;
    size_t step;    // which step is changed
    size_t offset;  // register (0-6) or, from 100 on, data byte offset - 100
    uint8_t value;
    size_t refused;  // the first step the drive refuses (3: none)
  } cases[] = {
      {"as sent by the system", 0, 0, 0x5A, 3},
      {"enable: another features byte", 0, 0, 0x5B, 0},
      {"enable: another count", 0, 1, 0xC2, 0},
      {"request: another LBA low", 1, 2, 0xFE, 1},
      {"request: another LBA mid", 1, 3, 0x35, 1},
      {"request: another LBA high", 1, 4, 0x13, 1},
      {"request: another tag byte", 1, 100 + 1, 0xE6, 1},
      {"request: another tag end", 1, 100 + 3, 0x01, 1},
      {"request: another area address", 1, 100 + 6, 0x2D, 1},
      {"reply: another LBA low", 2, 2, 0x9F, 2},
      {"reply: another LBA mid", 2, 3, 0x33, 2},
      {"reply: another LBA high", 2, 4, 0x11, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(MachineJson());
    std::vector<Step> steps = StatisticsRead();
    if (c.offset >= 100)
      steps[c.step].data[c.offset - 100] = c.value;
    else
      steps[c.step].regs[c.offset] = c.value;
    auto [refused, data] = RunAll(steps);
    EXPECT_EQ(refused, c.refused);
    if (c.refused == 3) {
      ASSERT_EQ(data.size(), 8192u);
      EXPECT_EQ(GetLE32(&data[0]), 7u);
      EXPECT_EQ(GetLE32(&data[8188]), 0xA1B2C3D4u);
      EXPECT_EQ(Drive().VendorReplies(), 1u);
    } else {
      EXPECT_EQ(Drive().VendorReplies(), 0u);
    }
  }
}

TEST_F(SataVendorTest, TheReplyNeedsItsRequestFirst) {
  std::vector<Step> steps = StatisticsRead();
  EXPECT_TRUE(Send(steps[0]).done);
  EXPECT_FALSE(Send(steps[2]).done);  // no request armed the reply
  EXPECT_TRUE(Send(steps[1]).done);
  EXPECT_TRUE(Send(steps[2]).done);
  EXPECT_FALSE(Send(steps[2]).done);  // one reply per request
  EXPECT_EQ(Drive().VendorReplies(), 1u);
}

TEST_F(SataVendorTest, IdentifierAreaOpensOnlyWithItsCode) {
  struct Case {
    const char* what;
    size_t reg;
    uint8_t value;
    size_t refused;  // 2: none
  } cases[] = {
      {"as sent by the system", 0, 0x7E, 2},
      {"another features byte", 0, 0x7F, 0},
      {"another count", 1, 0x50, 0},
      {"another LBA low", 2, 0xA8, 0},
      {"another LBA mid", 3, 0x3D, 0},
      {"another LBA high", 4, 0xD3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(MachineJson());
    std::vector<Step> steps = IdentifierRead();
    steps[0].regs[c.reg] = c.value;
    auto [refused, data] = RunAll(steps);
    EXPECT_EQ(refused, c.refused);
    if (c.refused == 2) {
      ASSERT_EQ(data.size(), 512u);
      EXPECT_EQ(GetBE32(&data[0]), 0xDEADBEEFu);
    }
  }
  // The read before the area is open is refused.
  UseMachine(MachineJson());
  EXPECT_FALSE(Send(IdentifierRead()[1]).done);
}

TEST_F(SataVendorTest, DriveOfAnotherControllerRefusesThemAll) {
  UseMachine(R"({"drives": [{"index": 0, "model": "OTHER SSD"}]})");
  EXPECT_EQ(RunAll(StatisticsRead()).first, 0u);
  EXPECT_EQ(RunAll(IdentifierRead()).first, 0u);
  // Ordinary SET FEATURES subcommands still work (enable write cache).
  EXPECT_TRUE(Send({{0x02, 0x00, 0x00, 0x00, 0x00, 0xE0, 0xEF}, None, {}}).done);
}

}  // namespace
}  // namespace zel
