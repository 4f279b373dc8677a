// The ATA request forms of ATACommand as they reach the simulated drive:
// the bytes of each request block, the form each platform version gets,
// the data-length limit, the drive's error bit, and the trace lines.
#include <gtest/gtest.h>

#include <cstring>

#include "device/ata_command.h"
#include "device/ata_test_support.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/sim/sata_drive.h"
#include "platform/wire/ata.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;
using test::Bytes;
using test::ReadSentBlock;

// The interface path the machine derives for the drive below.
constexpr const char* kPath =
    "\\\\?\\ide#diskquarn_ssd_f1#5&1715004&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string MachineWithOs(const std::string& os) {
  return Format(R"({"os": %s,
      "drives": [{"index": 0, "model": "QUARN SSD", "serial": "S123", "firmware": "F1"}]})",
                os.c_str());
}

class AtaTransport : public test::SimTest {
 protected:
  std::string MachineJson() const override { return MachineWithOs(R"({"major": 6, "minor": 1})"); }
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
  }
  sim::SataDrive& Drive() { return *dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(0)); }
};

TEST_F(AtaTransport, RequestBlocksAsTheyReachTheDrive) {
  struct Case {
    const char* what;
    bool byPath;
    uint8_t command, features, count, lbaLow, lbaMid, lbaHigh;
    uint32_t length, flags;
    // expected
    uint16_t ataFlags;
    uint32_t timeOut, inSize;
    std::vector<uint8_t> taskFile;
  } cases[] = {
      // SMART: LBA mid/high forced to the signature, LBA low takes the count.
      {"smart self-test", false, 0xB0, 0xD4, 0x01, 0x77, 0x66, 0x55, 0, 1, 0, 1000, 44,
       Bytes({0xD4, 0x01, 0x01, 0x4F, 0xC2, 0x00, 0xB0, 0x00})},
      // No data phase: the flags go out as 0 and the block is the bare header.
      {"non-data flush", false, 0xEA, 0, 0, 0, 0, 0, 0, 1, 0, 1000, 44,
       Bytes({0, 0, 0, 0, 0, 0x00, 0xEA, 0})},
      {"identify by path", true, 0xEC, 0, 0, 0, 0, 0, 512, 2, 2, 2, 556,
       Bytes({0, 0, 0, 0, 0, 0xA0, 0xEC, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Machine().ClearRequestLog();
    ATACommand ata;
    std::vector<uint8_t> buffer(512, 0);
    uint8_t* data = c.length ? buffer.data() : nullptr;
    uint32_t ok = c.byPath ? ata.SendAtaCommandPhysicalDrive(kPath, 0xA0, c.command, c.features,
                                                             c.count, c.lbaLow, c.lbaMid,
                                                             c.lbaHigh, data, c.length, c.flags)
                           : ata.SendAtaCommandPhysicalDrive(0, 0, c.command, c.features, c.count,
                                                             c.lbaLow, c.lbaMid, c.lbaHigh, data,
                                                             c.length, c.flags);
    EXPECT_EQ(ok, 1u);
    auto log = Machine().RequestLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, IOCTL_ATA_PASS_THROUGH);
    EXPECT_EQ(log[0].path, c.byPath ? kPath : "\\\\.\\PhysicalDrive0");
    auto b = ReadSentBlock(log[0]);
    EXPECT_EQ(b.length, 40);
    EXPECT_EQ(b.ataFlags, c.ataFlags);
    EXPECT_EQ(b.dataTransferLength, c.length);
    EXPECT_EQ(b.timeOut, c.timeOut);
    EXPECT_EQ(b.dataBufferOffset, 44u);
    EXPECT_EQ(b.previous, std::vector<uint8_t>(8, 0));
    EXPECT_EQ(b.current, c.taskFile);
    EXPECT_EQ(b.inSize, c.inSize);
    EXPECT_EQ(b.outSize, c.inSize);
  }
}

TEST_F(AtaTransport, DataLengthLimitIs32768Bytes) {
  ATACommand ata;
  std::vector<uint8_t> image(32769, 0x5A);
  // 64 blocks of microcode at offset 0: exactly the largest data area.
  EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(kPath, 0, 0x92, 3, 64, 0, 0, 0, image.data(), 32768,
                                            ATA_FLAGS_DATA_OUT),
            1u);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].in.size(), 32812u);
  EXPECT_EQ(log[0].in[44], 0x5A);
  EXPECT_EQ(Drive().MicrocodeImage().size(), 32768u);

  Machine().ClearRequestLog();
  ResetLogForNewRun();
  SetLogLevel(1);
  EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(kPath, 0, 0x92, 3, 64, 0, 0, 0, image.data(), 32769,
                                            ATA_FLAGS_DATA_OUT),
            0u);
  EXPECT_TRUE(Machine().RequestLog().empty());
  // Only the entry line: the refused request leaves without its exit lines.
  auto trace = TraceLines();
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_EQ(trace[0].rfind("Entering ATACommand::SendAtaCommandPhysicalDrive(", 0), 0u);
}

TEST_F(AtaTransport, FormFollowsThePlatformVersion) {
  struct Case {
    const char* os;
    uint32_t code;  // 0: nothing is sent
    int32_t ataFlag, windows8;
  } cases[] = {
      {R"({"major": 4, "minor": 0})", 0, 0, 0},
      {R"({"major": 5, "minor": 0})", IOCTL_IDE_PASS_THROUGH, 0, 0},
      {R"({"major": 5, "minor": 1, "servicePack": ""})", IOCTL_IDE_PASS_THROUGH, 0, 0},
      {R"({"major": 5, "minor": 1, "servicePack": "Service Pack 1"})", IOCTL_IDE_PASS_THROUGH, 0, 0},
      {R"({"major": 5, "minor": 1, "servicePack": "Service Pack 2"})", IOCTL_ATA_PASS_THROUGH, 1, 0},
      {R"({"major": 5, "minor": 1, "servicePack": "Service Pack 3"})", IOCTL_ATA_PASS_THROUGH, 1, 0},
      {R"({"major": 5, "minor": 2})", IOCTL_ATA_PASS_THROUGH, 1, 0},
      {R"({"major": 6, "minor": 0})", IOCTL_ATA_PASS_THROUGH, 1, 0},
      {R"({"major": 6, "minor": 1})", IOCTL_ATA_PASS_THROUGH, 1, 0},
      {R"({"major": 6, "minor": 2})", IOCTL_ATA_PASS_THROUGH, 1, 1},
      {R"({"major": 10, "minor": 0})", IOCTL_ATA_PASS_THROUGH, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.os);
    UseMachine(MachineWithOs(c.os));
    ATACommand ata;
    EXPECT_EQ(ata.AtaPassThroughAvailable, c.ataFlag);
    EXPECT_EQ(ata.SmartPassThroughAvailable, c.ataFlag);
    EXPECT_EQ(ata.IsWindows8, c.windows8);
    uint8_t page[512] = {};
    uint32_t ok = ata.SendAtaCommandPhysicalDrive(0, 0xA0, 0xEC, 0, 0, 0, 0, 0, page, 512,
                                                  ATA_FLAGS_DATA_IN);
    auto log = Machine().RequestLog();
    if (c.code == 0) {
      EXPECT_EQ(ok, 0u);
      EXPECT_TRUE(log.empty());
      continue;
    }
    EXPECT_EQ(ok, 1u);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].code, c.code);
    // Either way the identify page came back, serial number byte-swapped.
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page + 20), 4), "1S32");
    if (c.code == IOCTL_IDE_PASS_THROUGH) {
      // Eight register bytes, the length, the data: 512 + 15 bytes.
      EXPECT_EQ(log[0].in.size(), 527u);
      EXPECT_EQ(log[0].outSize, 527u);
      EXPECT_EQ(std::vector<uint8_t>(log[0].in.begin(), log[0].in.begin() + 8),
                Bytes({0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
      EXPECT_EQ(GetLE32(&log[0].in[8]), 512u);
    }
  }
}

// The legacy block is input and output, so the data of a write must travel
// in it: a TRIM on an old platform reaches the drive with its ranges.
TEST_F(AtaTransport, LegacyFormCarriesTheDataOfAWrite) {
  UseMachine(MachineWithOs(R"({"major": 5, "minor": 1, "servicePack": "Service Pack 1"})"));
  ATACommand ata;
  uint8_t ranges[512] = {};
  PutLE32(ranges, 2048);       // LBA 2048
  PutLE16(ranges + 6, 100);    // 100 sectors
  EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(0, 0, 0x06, 1, 1, 0, 0, 0, ranges, 512, 0x1C), 1u);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, IOCTL_IDE_PASS_THROUGH);
  EXPECT_EQ(GetLE32(&log[0].in[12]), 2048u);
  EXPECT_EQ(Drive().TrimRanges(), (std::vector<sim::TrimRange>{{2048, 100}}));
}

// A command the drive does not know is aborted with the error bit. The
// buffered and legacy forms still report the request as carried; only the
// direct form takes the drive's verdict.
TEST_F(AtaTransport, ErrorBitCountsOnlyInTheDirectForm) {
  for (const char* os : {R"({"major": 6, "minor": 1})",
                         R"({"major": 5, "minor": 1, "servicePack": "Service Pack 1"})"}) {
    SCOPED_TRACE(os);
    UseMachine(MachineWithOs(os));
    ATACommand ata;
    uint8_t data[512];
    std::memset(data, 0xEE, sizeof data);
    EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(0, 0, 0x42, 0, 1, 0, 0, 0, data, 512,
                                              ATA_FLAGS_DATA_IN),
              1u);
    // The data area comes back as the drive left it: holding what the
    // caller put there.
    EXPECT_EQ(data[0], 0xEE);
    EXPECT_EQ(data[511], 0xEE);
  }
  ATACommand ata;
  uint8_t data[512];
  uint32_t length = sizeof data;
  EXPECT_EQ(ata.SendAtaCommandDirect(0, 0, nullptr, data, &length, wire::PackRegisterWord1(0, 1, 0, 0),
                                     wire::PackRegisterWord2(0, 0, 0x42)),
            0u);
  EXPECT_EQ(length, 512u);  // untouched on failure
}

TEST_F(AtaTransport, DirectRequestNamesAnAlignedBuffer) {
  ATACommand ata;
  uint8_t page[512] = {};
  uint32_t length = sizeof page;
  ASSERT_EQ(ata.SendAtaCommandDirect(0, 0, nullptr, page, &length,
                                     wire::PackRegisterWord1(0, 0, 0, 0),
                                     wire::PackRegisterWord2(0, 0xA0, 0xEC)),
            1u);
  EXPECT_EQ(length, 512u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page + 20), 4), "1S32");

  uint8_t block[512] = {};
  block[0] = 0x11;
  length = sizeof block;
  ata.SendAtaCommandDirect(0, 1, block, nullptr, &length, wire::PackRegisterWord1(0, 1, 0, 0),
                           wire::PackRegisterWord2(0, 0, 0x42));

  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 2u);
  for (const auto& r : log) {
    EXPECT_EQ(r.code, IOCTL_ATA_PASS_THROUGH_DIRECT);
    EXPECT_EQ(r.path, "\\\\.\\PhysicalDrive0");
    ASSERT_EQ(r.in.size(), 40u);
    EXPECT_EQ(r.outSize, 40u);
    EXPECT_EQ(GetLE16(&r.in[0]), 40);
    EXPECT_EQ(GetLE32(&r.in[8]), 512u);
    EXPECT_EQ(GetLE32(&r.in[12]), 100u);
    EXPECT_EQ(GetLE32(&r.in[20]) % 16, 0u);
    EXPECT_EQ(r.pointedSize, 512u);
  }
  EXPECT_EQ(GetLE16(&log[0].in[2]), 0x13);
  EXPECT_EQ(std::vector<uint8_t>(log[0].in.begin() + 32, log[0].in.end()),
            Bytes({0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(GetLE16(&log[1].in[2]), 0x15);
  EXPECT_EQ(log[1].pointedIn[0], 0x11);  // the data to write is in the named buffer
}

TEST_F(AtaTransport, FailuresLeaveTheCallersBufferAlone) {
  UseMachine(R"({"drives": [{"index": 0,
      "faults": [{"form": "ata_pass_through", "error": 1117}]}]})");
  ATACommand ata;
  uint8_t data[512];
  std::memset(data, 0xEE, sizeof data);
  EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(0, 0, 0xEC, 0, 0, 0, 0, 0, data, 512, 2), 0u);
  EXPECT_EQ(data[0], 0xEE);
  // An absent drive: nothing is sent, the exit lines say bRet 0.
  EXPECT_EQ(ata.SendAtaCommandPhysicalDrive(7, 0, 0xEC, 0, 0, 0, 0, 0, data, 512, 2), 0u);
  EXPECT_EQ(data[0], 0xEE);
  EXPECT_EQ(Machine().RequestLog().size(), 1u);
  auto trace = TraceLines();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[2], "Exit ATACommand::SendAtaCommandPhysicalDrive(0x7, 0x0, 0xEC, 0x0, 0x0,");
}

TEST_F(AtaTransport, TraceLinesAsWritten) {
  ATACommand ata;
  uint8_t page[512];
  uint32_t address = wire::Address32(page);
  ata.SendAtaCommandPhysicalDrive(0, 0, 0xB0, 0xD4, 0x02, 0, 0, 0, nullptr, 0, 1);
  ata.SendAtaCommandPhysicalDrive(kPath, 0xA0, 0xEC, 0, 0, 0, 0, 0, page, 512, 2);
  ata.SendAtaCommandPD(kPath, wire::PackRegisterWord1(0xD5, 1, 0x06, 0x4F),
                       wire::PackRegisterWord2(0xC2, 0x40, 0xB0), page, 512, 2);
  std::vector<std::string> expected = {
      "Exit ATACommand::SendAtaCommandPhysicalDrive(0x0, 0x0, 0xB0, 0xD4, 0x2,",
      "0x4F, 0xC2, 0x0, 0x0, 0x1)::bRet:0x1",
      Format("Entering ATACommand::SendAtaCommandPhysicalDrive(%s, 0xA0, 0xEC, 0x0, 0x0, 0x0, "
             "0x0, 0x0, 0x%X, 0x200, 0x2)",
             kPath, address),
      Format("Exit ATACommand::SendAtaCommandPhysicalDrive(%s, 0xA0, 0xEC, 0x0, 0x0,", kPath),
      Format("0x0, 0x0, 0x%X, 0x200, 0x2)::bRet:0x1", address),
      Format("Entering ATACommand::ATACommand::SendAtaCommandPD(%s", kPath),
      Format("Exit ATACommand::SendAtaCommandPD(%s", kPath),
  };
  EXPECT_EQ(TraceLines(), expected);
  // Each line in the file: eight digits of time, a blank, the text, CR LF.
  std::string log = TraceLog();
  EXPECT_EQ(log.substr(0, 9), "00000000 ");
  EXPECT_EQ(log.substr(9, expected[0].size() + 2), expected[0] + "\r\n");
}

}  // namespace
}  // namespace zel
