// The ATA command set: what each operation sends, its fall-back to the
// SMART receive request, what lands in the drive record, and its trace.
#include <gtest/gtest.h>

#include <cstring>

#include "device/ata_command.h"
#include "device/ata_test_support.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/sim/sata_drive.h"
#include "platform/text.h"
#include "platform/wire/ata.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;
using test::Bytes;
using test::ReadSentBlock;

constexpr const char* kPath =
    "\\\\?\\ide#diskquarn_ssd_f1#5&1715004&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// A drive whose SMART page has an empty slot between two attributes, and a
// temperature in both 194 and 190 (190 comes later and decides).
constexpr const char* kDrive = R"("index": 0, "model": "QUARN SSD", "serial": "S123",
    "firmware": "F1",
    "smart": {"attributes": [
      {"id": 5, "current": 100, "raw": 0, "threshold": 10},
      {"id": 0},
      {"id": 194, "flags": 34, "current": 70, "raw": [30, 0, 20, 0, 45, 0]},
      {"id": 190, "flags": 34, "current": 55, "raw": 45, "threshold": 3}]})";

std::string WithDrive(const std::string& extra, const std::string& os = R"({"major": 6, "minor": 1})") {
  return Format(R"({"os": %s, "drives": [{%s%s}]})", os.c_str(), kDrive, extra.c_str());
}

// SENDCMDINPARAMS register bytes of a journalled SMART receive request.
std::vector<uint8_t> ReceiveRegisters(const sim::RequestRecord& r) {
  return std::vector<uint8_t>(r.in.begin() + 4, r.in.begin() + 12);
}

class AtaCommands : public test::SimTest {
 protected:
  std::string MachineJson() const override { return WithDrive(""); }
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
  }
  sim::SataDrive& Drive(int index = 0) {
    return *dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(index));
  }
  // Trace lines that come from the operations, not from the transport.
  std::vector<std::string> OperationTrace() {
    std::vector<std::string> out;
    for (auto& line : TraceLines())
      if (!StartsWith(line, "Entering ATACommand::") && !StartsWith(line, "Exit ATACommand::Send") &&
          !StartsWith(line, "0x"))
        out.push_back(line);
    return out;
  }
};

TEST_F(AtaCommands, IdentifyByPath) {
  ATACommand ata;
  uint8_t page[512];
  ASSERT_EQ(ata.DoIdentify(kPath, 0xA0, page), 1u);
  ATACommand::SwapWordBytes(page, sizeof page);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(page + 54), 9), "QUARN SSD");
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(ReadSentBlock(log[0]).current, Bytes({0, 0, 0, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(ReadSentBlock(log[0]).timeOut, 2u);
  EXPECT_EQ(OperationTrace(),
            (std::vector<std::string>{Format("ATACommand::DoIdentify(DevicePath%s)--entry", kPath),
                                      Format("ATACommand::DoIdentify(DevicePath%s)--SUCCESS", kPath)}));
}

TEST_F(AtaCommands, IdentifyFallsBackToTheSmartReceiveRequest) {
  UseMachine(WithDrive(R"(, "faults": [{"form": "ata_pass_through", "command": "0xEC"}])"));
  ATACommand ata;
  uint8_t page[512];
  std::memset(page, 0xEE, sizeof page);
  ASSERT_EQ(ata.DoIdentify(kPath, 0xA0, page), 1u);
  EXPECT_EQ(page[20], '1');  // serial "S123", byte-swapped
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].code, SMART_RCV_DRIVE_DATA);
  EXPECT_EQ(log[1].in.size(), 33u);
  EXPECT_EQ(log[1].outSize, 528u);
  EXPECT_EQ(GetLE32(&log[1].in[0]), 512u);
  EXPECT_EQ(ReceiveRegisters(log[1]), Bytes({0, 1, 1, 0, 0, 0xA0, 0xEC, 0}));
  EXPECT_EQ(OperationTrace(),
            (std::vector<std::string>{Format("ATACommand::DoIdentify(DevicePath%s)--entry", kPath),
                                      "SendAtaCommandPd - IDENTIFY_DEVICE",
                                      Format("ATACommand::DoIdentify(DevicePath%s)--SUCCESS", kPath)}));
}

TEST_F(AtaCommands, IdentifyRefusals) {
  ATACommand ata;
  EXPECT_EQ(ata.DoIdentify(kPath, 0xA0, nullptr), 0u);
  uint8_t page[512];
  EXPECT_EQ(ata.DoIdentify("\\\\?\\usbstor#disk&ven_x#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                           0xA0, page),
            0u);
  EXPECT_TRUE(Machine().RequestLog().empty());
  auto trace = TraceLines();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[1], Format("ATACommand::DoIdentify(DevicePath%s)--fail, no buffer", kPath));
  EXPECT_EQ(trace[2], "");  // the text's own line end adds an empty line
}

TEST_F(AtaCommands, SmartReadFillsTheRecord) {
  ATACommand ata;
  PhysicalDriveRecord r;
  r.ModelName = "QUARN SSD";
  ASSERT_EQ(ata.GetSmartAttributePd(kPath, 0, r), 1u);
  ASSERT_EQ(ata.GetSmartThresholdsPd(kPath, 0, r), 1u);
  // The empty slot is skipped: 194 moves up to slot 1, 190 to slot 2.
  EXPECT_EQ(r.SmartAttributeCount, 3);
  EXPECT_EQ(r.SmartAttributes[0].Id(), 5);
  EXPECT_EQ(r.SmartAttributes[1].Id(), 194);
  EXPECT_EQ(r.SmartAttributes[1].Raw48(), 0x2D0014001Eull);
  EXPECT_EQ(r.SmartAttributes[2].Id(), 190);
  EXPECT_EQ(r.Temperature, 45);
  // Thresholds keep their page slots, so they pair with the attributes by
  // position only.
  EXPECT_EQ(r.SmartThresholds[0].Threshold(), 10);
  EXPECT_EQ(r.SmartThresholds[1].Id(), 0);
  EXPECT_EQ(r.SmartThresholds[3].Threshold(), 3);

  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(ReadSentBlock(log[0]).current, Bytes({0xD0, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(ReadSentBlock(log[1]).current, Bytes({0xD1, 0, 0, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(OperationTrace(),
            (std::vector<std::string>{
                Format("Enter GetSmartAttributePd(%s, 0x0)", kPath),
                "GetSmartAttributePd-type1 - SMART_READ_DATA (ATA_PASS_THROUGH)",
                "ATACommand::GetSmartAttributePd--Success",
                "SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS (ATA_PASS_THROUGH)"}));
}

TEST_F(AtaCommands, SmartReadFallback) {
  struct Case {
    const char* what;
    std::string faults;
    uint32_t result;
    size_t requests;
    std::vector<std::string> lines;  // after the entry and type1 lines
    int32_t count = 3;               // attributes found on success
  } cases[] = {
      {"main form fails, receive request answers",
       R"([{"form": "ata_pass_through", "command": "0xB0"}])", 1, 2,
       {"GetSmartAttributePd-type2 - SMART_READ_DATA", "ATACommand::GetSmartAttributePd--Success"}},
      {"main form fails, receive request short",
       R"([{"form": "ata_pass_through", "command": "0xB0"},
           {"form": "smart_rcv", "effect": "short", "bytes": 100}])",
       0, 2,
       {"GetSmartAttributePd-type2 - SMART_READ_DATA",
        "ATACommand::GetSmartAttributePd--DeviceIoControl fail"}},
      {"main form fails, drive aborts the receive request",
       R"([{"form": "ata_pass_through", "command": "0xB0"},
           {"form": "smart_rcv", "effect": "abort"}])",
       0, 2,
       {"GetSmartAttributePd-type2 - SMART_READ_DATA",
        "ATACommand::GetSmartAttributePd--DeviceIoControl fail"}},
      // The request succeeds but the page has no attribute: still a failure.
      {"page of zeros", R"([{"form": "ata_pass_through", "command": "0xB0", "effect": "zeros"}])",
       0, 1, {"ATACommand::GetSmartAttributePd--Success"}},
      // The buffered form does not look at the drive's verdict: an aborted
      // read passes as carried, with nothing in the page.
      {"drive aborts the main form",
       R"([{"form": "ata_pass_through", "command": "0xB0", "effect": "abort"}])", 0, 1,
       {"ATACommand::GetSmartAttributePd--Success"}},
      // Nor at the size of the reply: a short one is no failure either, and
      // the page holds what came (header, padding and six data bytes).
      {"main form short",
       R"([{"form": "ata_pass_through", "command": "0xB0", "effect": "short", "bytes": 50}])", 1,
       1, {"ATACommand::GetSmartAttributePd--Success"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseMachine(WithDrive(", \"faults\": " + c.faults));
    ResetLogForNewRun();
    SetLogLevel(1);
    ATACommand ata;
    PhysicalDriveRecord r;
    r.SmartData.fill(0x77);
    r.SmartAttributeCount = 9;
    EXPECT_EQ(ata.GetSmartAttributePd(kPath, 0, r), c.result);
    if (c.result == 0) {
      EXPECT_TRUE(AllZero(r.SmartData.data(), 512));
      EXPECT_EQ(r.SmartAttributeCount, 0);
      EXPECT_EQ(r.SmartAttributes[0].Id(), 0);
    } else {
      EXPECT_EQ(r.SmartAttributeCount, c.count);
      if (c.count == 1) {
        EXPECT_TRUE(AllZero(r.SmartData.data() + 6, 506));  // beyond the reply
      }
    }
    auto log = Machine().RequestLog();
    ASSERT_EQ(log.size(), c.requests);
    if (c.requests == 2) {
      EXPECT_EQ(log[1].code, SMART_RCV_DRIVE_DATA);
      EXPECT_EQ(ReceiveRegisters(log[1]), Bytes({0xD0, 1, 1, 0x4F, 0xC2, 0, 0xB0, 0}));
    }
    std::vector<std::string> expected = {Format("Enter GetSmartAttributePd(%s, 0x0)", kPath),
                                         "GetSmartAttributePd-type1 - SMART_READ_DATA (ATA_PASS_THROUGH)"};
    expected.insert(expected.end(), c.lines.begin(), c.lines.end());
    EXPECT_EQ(OperationTrace(), expected);
  }
}

TEST_F(AtaCommands, WithoutPassThroughOnlyTheReceiveRequestIsSent) {
  UseMachine(WithDrive("", R"({"major": 5, "minor": 1, "servicePack": "Service Pack 1"})"));
  ATACommand ata;
  PhysicalDriveRecord r;
  r.PhysicalDriveIndex = 0;
  ASSERT_EQ(ata.GetSmartAttributePd(0u, 0, r), 1u);
  ASSERT_EQ(ata.GetSmartThresholdsPd(kPath, 0, r), 1u);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].code, SMART_RCV_DRIVE_DATA);
  EXPECT_EQ(log[0].path, "\\\\.\\PhysicalDrive0");
  EXPECT_EQ(ReceiveRegisters(log[1]), Bytes({0xD1, 1, 1, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(OperationTrace(), (std::vector<std::string>{
                                  "Enter GetSmartAttributePd(0x0, 0x0)",
                                  "GetSmartAttributePd-type2 - SMART_READ_DATA",
                                  "ATACommand::GetSmartAttributePd--Success",
                                  "SendAtaCommandPhysicalDrive - SMART_READ_THRESHOLDS"}));
}

// The index form reads the drive the caller names, also for a record of the
// caller's own whose index was never set.
TEST_F(AtaCommands, SmartReadByIndexAddressesTheNamedDrive) {
  UseMachine(R"({"drives": [{"index": 0, "smart": {"attributes": [{"id": 9}]}},
                            {"index": 3, "smart": {"attributes": [{"id": 5}]}}]})");
  ATACommand ata;
  PhysicalDriveRecord r;
  ASSERT_EQ(ata.GetSmartAttributePd(3u, 0, r), 1u);
  EXPECT_EQ(r.SmartAttributes[0].Id(), 5);
  EXPECT_EQ(Machine().RequestLog()[0].path, "\\\\.\\PhysicalDrive3");
}

TEST_F(AtaCommands, SelfTestStartInBothForms) {
  UseMachine(WithDrive(R"(, "faults": [{"form": "ata_pass_through", "times": 1}])"));
  ATACommand ata;
  // The main form fails once; the fall-back goes out as the receive request,
  // which the platform does not carry for EXECUTE OFF-LINE IMMEDIATE.
  EXPECT_EQ(ata.DoSmartSelfTest(0, 2), 0u);
  EXPECT_EQ(ata.DoSmartSelfTest(0, 2), 1u);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(ReadSentBlock(log[0]).current, Bytes({0xD4, 2, 2, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(ReadSentBlock(log[0]).timeOut, 1000u);
  EXPECT_EQ(log[1].code, SMART_RCV_DRIVE_DATA);
  EXPECT_EQ(ReceiveRegisters(log[1]), Bytes({0xD4, 1, 2, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(log[2].code, IOCTL_ATA_PASS_THROUGH);
  EXPECT_EQ(Drive().SmartDataPage()[363], 0xF9);  // the extended test runs
  EXPECT_EQ(OperationTrace(), (std::vector<std::string>{
                                  "SendAtaCommandPhysicalDrive - EXECUTE_OFFLINE_DIAGS",
                                  "SendAtaCommandPhysicalDrive Fail- EXECUTE_OFFLINE_DIAGS"}));
}

TEST_F(AtaCommands, NonDataCommands) {
  ATACommand ata;
  EXPECT_EQ(ata.DoFlushCacheExt(0, 0), 1u);
  EXPECT_EQ(ata.DoSecurityErasePrepare(0, 0), 1u);
  EXPECT_EQ(ata.DoStandbyImmediate(0, 0), 1u);
  EXPECT_TRUE(Drive().InStandby());
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 3u);
  uint8_t commands[] = {0xEA, 0xF3, 0xE0};
  for (size_t i = 0; i < 3; ++i) {
    auto b = ReadSentBlock(log[i]);
    EXPECT_EQ(b.current, Bytes({0, 0, 0, 0, 0, 0, commands[i], 0}));
    EXPECT_EQ(b.ataFlags, 0);
    EXPECT_EQ(b.inSize, 44u);
    EXPECT_EQ(b.timeOut, 1000u);
  }
  // "Done" is written whatever the result; its own line end adds a line.
  auto trace = TraceLines();
  EXPECT_EQ(trace[2], "ATACommand::DoFlushCacheExt--Done");
  EXPECT_EQ(trace[3], "");
}

TEST_F(AtaCommands, ConfigIdThroughTheSctLogPair) {
  UseMachine(WithDrive(R"(, "sct": {"configId": "CFG-0042", "busyReads": 2})"));
  ATACommand ata;
  uint8_t block[512] = {};
  block[1] = 0xC0;  // action code 0xC000
  ASSERT_EQ(ata.SmartWriteLogPd(kPath, 0, 1, 0xE0, block), 1u);
  int reads = 0;
  uint8_t status[512];
  do {
    ASSERT_EQ(ata.SmartReadLogPd(kPath, 0, 1, 0xE0, status), 1u);
    ++reads;
  } while (status[10] != 0 && reads < 10);
  EXPECT_EQ(reads, 3);  // two busy readings, then ready
  uint8_t data[512];
  ASSERT_EQ(ata.SmartReadLogPd(kPath, 0, 1, 0xE1, data), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 16), 8), "CFG-0042");

  auto log = Machine().RequestLog();
  auto write = ReadSentBlock(log[0]);
  EXPECT_EQ(write.current, Bytes({0xD6, 1, 0xE0, 0x4F, 0xC2, 0, 0xB0, 0}));
  EXPECT_EQ(write.ataFlags, ATA_FLAGS_DATA_OUT);
  EXPECT_EQ(write.timeOut, 2u);
  EXPECT_EQ(log[0].in[44 + 1], 0xC0);
  // The log reads address the drive with device register 0x40.
  EXPECT_EQ(ReadSentBlock(log.back()).current, Bytes({0xD5, 1, 0xE1, 0x4F, 0xC2, 0x40, 0xB0, 0}));
  auto trace = OperationTrace();
  EXPECT_EQ(trace[0], "SmartWriteLogPd-type1 - SMART_WRITE_LOG (ATA_PASS_THROUGH)");
  EXPECT_EQ(trace[1], "ATACommand::SmartWriteLogPd--Success");
  EXPECT_EQ(trace[2], Format("Enter SmartReadLogPd(%s, 0x0)", kPath));
  EXPECT_EQ(trace[3], "SmartReadLogPd-type1 - SMART_READ_LOG (ATA_PASS_THROUGH)");
  EXPECT_EQ(trace[4], "ATACommand::SmartReadLogPd--Success");
}

TEST_F(AtaCommands, LogCommandsWithoutPassThrough) {
  UseMachine(WithDrive(R"(, "sct": {"configId": "CFG"}, "logs": {"0x06": "01 02"})",
                       R"({"major": 5, "minor": 1})"));
  ATACommand ata;
  uint8_t block[512] = {};
  block[1] = 0xC0;
  // The receive request cannot carry the block to the drive: no success
  // without a write.
  EXPECT_EQ(ata.SmartWriteLogPd(kPath, 0, 1, 0xE0, block), 0u);
  EXPECT_TRUE(Machine().RequestLog().empty());
  uint8_t log6[512];
  ASSERT_EQ(ata.SmartReadLogPd(kPath, 0, 1, 0x06, log6), 1u);
  EXPECT_EQ(log6[1], 0x02);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(ReceiveRegisters(log[0]), Bytes({0xD5, 1, 0x06, 0x4F, 0xC2, 0, 0xB0, 0}));
  // More than one sector does not fit the receive request: refused.
  uint8_t two[1024];
  EXPECT_EQ(ata.SmartReadLogPd(kPath, 0, 2, 0x06, two), 0u);
  EXPECT_EQ(Machine().RequestLog().size(), 1u);
  auto trace = OperationTrace();
  EXPECT_EQ(trace.back(), "ATACommand::SmartReadLogPd--DeviceIoControl fail");
}

// IDENTIFY falls back to the SMART receive request when the driver lacks
// the buffered pass-through, and fails only when it has neither.
TEST_F(AtaCommands, IdentifyOnADriverWithoutSomeForms) {
  struct Case {
    const char* forms;
    uint32_t identify;  // DoIdentify's result
    uint32_t lastCode;
  } cases[] = {
      {R"({"ata_pass_through": false})", 1, SMART_RCV_DRIVE_DATA},
      {R"({"ata_pass_through": false, "smart_rcv": false})", 0, SMART_RCV_DRIVE_DATA},
      {R"({"smart_rcv": false})", 1, IOCTL_ATA_PASS_THROUGH},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.forms);
    UseMachine(Format(R"({"drives": [{"index": 0, "forms": %s}]})", c.forms));
    ATACommand ata;
    uint8_t page[512];
    EXPECT_EQ(ata.DoIdentify(Machine().DriveByIndex(0)->InterfacePath(), 0xA0, page), c.identify);
    auto log = Machine().RequestLog();
    EXPECT_EQ(log.back().code, c.lastCode);
    if (!log[0].succeeded) {
      EXPECT_EQ(log[0].error, ERROR_INVALID_FUNCTION);
    }
  }
}

class AtaVendorCommands : public AtaCommands {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [
      {"index": 0, "vendor": {"words32": {"0": 7, "32": 300, "28": 100}, "uid": "DE AD BE EF"}},
      {"index": 1, "vendor": {}},
      {"index": 2}]})";
  }
};

TEST_F(AtaVendorCommands, StatisticsReadSendsThePair) {
  ATACommand ata;
  std::vector<uint8_t> buffer(8192, 0xEE);
  EXPECT_EQ(ata.ReadVendorData(0, 16, buffer.data()), 7u);  // first word of the log
  EXPECT_EQ(GetLE32(&buffer[32]), 300u);
  EXPECT_EQ(GetLE32(&buffer[28]), 100u);

  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 3u);
  for (const auto& r : log) EXPECT_EQ(r.code, IOCTL_ATA_PASS_THROUGH_DIRECT);
  auto taskFile = [](const sim::RequestRecord& r) {
    return std::vector<uint8_t>(r.in.begin() + 32, r.in.end());
  };
  EXPECT_EQ(taskFile(log[0]),
            Bytes({0x5A, 0xC3, 0, 0, 0, 0xE0, 0xEF, 0}));
  EXPECT_EQ(log[0].pointedIn, std::vector<uint8_t>(512, 0));
  EXPECT_EQ(taskFile(log[1]), Bytes({0, 1, 0xFF, 0x34, 0x12, 0xE0, 0x88, 0}));
  EXPECT_EQ(std::vector<uint8_t>(log[1].pointedIn.begin(), log[1].pointedIn.begin() + 9),
            Bytes({0xFF, 0xE5, 0x9E, 0x00, 0x00, 0x02, 0x2C, 0x00, 0x00}));
  EXPECT_EQ(taskFile(log[2]), Bytes({0, 16, 0x9E, 0x34, 0x12, 0xE0, 0x86, 0}));
  EXPECT_EQ(GetLE32(&log[2].in[8]), 8192u);
  EXPECT_EQ(GetLE16(&log[2].in[2]), 0x13);

  // An odd drive index selects device 1.
  Machine().ClearRequestLog();
  ata.ReadVendorData(1, 16, buffer.data());
  EXPECT_EQ(Machine().RequestLog()[0].in[32 + 5], 0xF0);
}

TEST_F(AtaVendorCommands, StatisticsReadOnADriveWithoutThem) {
  ATACommand ata;
  std::vector<uint8_t> buffer(8192, 0xEE);
  // Every step is aborted; the zeroed work buffer is still copied whole.
  EXPECT_EQ(ata.ReadVendorData(2, 16, buffer.data()), 0u);
  EXPECT_TRUE(AllZero(buffer.data(), buffer.size()));
  EXPECT_EQ(Machine().RequestLog().size(), 3u);

  // More than the 64 KiB work buffer holds, or nothing at all: refused
  // before anything is sent.
  Machine().ClearRequestLog();
  std::vector<uint8_t> big(129 * 512, 0xEE);
  EXPECT_EQ(ata.ReadVendorData(0, 129, big.data()), 0u);
  EXPECT_EQ(ata.ReadVendorData(0, 0, big.data()), 0u);
  EXPECT_EQ(big[0], 0xEE);
  EXPECT_TRUE(Machine().RequestLog().empty());
}

TEST_F(AtaVendorCommands, IdentifierAccessAndRead) {
  ATACommand ata;
  uint8_t uid[512] = {};
  EXPECT_EQ(ata.ReadVendorUid(0, uid), 0u);  // not opened yet: the drive aborts
  EXPECT_EQ(ata.SendVendorUidAccess(0), 1u);
  ASSERT_EQ(ata.ReadVendorUid(0, uid), 1u);
  EXPECT_EQ(GetBE32(uid), 0xDEADBEEFu);
  auto log = Machine().RequestLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].code, IOCTL_ATA_PASS_THROUGH);
  EXPECT_EQ(ReadSentBlock(log[1]).current,
            Bytes({0x7E, 0x51, 0xA9, 0x3C, 0xD2, 0xA0, 0xFA, 0}));
  EXPECT_EQ(std::vector<uint8_t>(log[2].in.begin() + 32, log[2].in.end()),
            Bytes({0x26, 0x10, 0, 0, 0, 0xA0, 0xFA, 0}));
}

}  // namespace
}  // namespace zel
