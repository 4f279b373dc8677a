// The simulated SATA drive: the checks it makes on each request form, the
// faults a machine file injects, and the drive behaviours later operations
// rely on (pages, self-test on the virtual clock, security states and erase
// time, microcode collection, TRIM ranges).
#include "platform/sim/sata_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "platform/format.h"
#include "platform/platform.h"
#include "platform/wire/ata.h"
#include "support/ata_request_bytes.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;
using test::AtaRegisters;

constexpr const char* kDisk0 = "\\\\.\\PhysicalDrive0";

AtaRegisters Regs(uint8_t command, uint8_t features = 0, uint8_t count = 0, uint8_t lbaLow = 0,
                  uint8_t lbaMid = 0, uint8_t lbaHigh = 0, uint8_t device = 0) {
  return AtaRegisters{features, count, lbaLow, lbaMid, lbaHigh, device, command};
}

AtaRegisters SmartRegs(uint8_t feature, uint8_t lbaLow = 0, uint8_t count = 0) {
  return Regs(0xB0, feature, count, lbaLow, 0x4F, 0xC2);
}

// One command in the buffered form, sent straight to the device.
struct Reply {
  bool ok = false;
  uint32_t error = 0;
  uint32_t returned = 0;
  uint8_t status = 0, errorRegister = 0;
  std::vector<uint8_t> data;
  bool Aborted() const { return ok && (status & 1) && errorRegister == 0x04; }
  bool Done() const { return ok && status == 0x50; }
};

Reply Buffered(const AtaRegisters& regs, uint16_t flags = 0, std::vector<uint8_t> data = {},
               uint32_t inLength = 0) {
  uint32_t length = data.empty() ? inLength : static_cast<uint32_t>(data.size());
  std::vector<uint8_t> block = test::AtaBufferedBlock(regs, length ? flags : 0, length);
  std::copy(data.begin(), data.end(), block.begin() + 44);
  Reply r;
  HANDLE d = Devices().CreateFileW(kDisk0, GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  r.ok = Devices().DeviceIoControl(d, IOCTL_ATA_PASS_THROUGH, block.data(),
                                   static_cast<uint32_t>(block.size()), block.data(),
                                   static_cast<uint32_t>(block.size()), &r.returned);
  r.error = GetLastError();
  Devices().CloseHandle(d);
  r.status = test::ReplyStatus(block);
  r.errorRegister = test::ReplyError(block);
  r.data.assign(block.begin() + 44, block.end());
  return r;
}

Reply ReadIn(const AtaRegisters& regs, uint32_t length) { return Buffered(regs, 2, {}, length); }
Reply WriteOut(const AtaRegisters& regs, std::vector<uint8_t> data) {
  return Buffered(regs, 4, std::move(data));
}

// Sends raw request bytes with any control code.
struct Raw {
  bool ok;
  uint32_t error;
  uint32_t returned;
};
Raw Send(uint32_t code, std::vector<uint8_t>& in, uint32_t outSize, std::span<uint8_t> pointed = {},
         uint32_t access = GENERIC_READ | GENERIC_WRITE) {
  std::vector<uint8_t> out(outSize, 0);
  HANDLE d = Devices().CreateFileW(kDisk0, access, 3, OPEN_EXISTING, 0);
  uint32_t returned = 0;
  bool ok = Devices().DeviceIoControl(d, code, in.data(), static_cast<uint32_t>(in.size()),
                                      out.data(), outSize, &returned, pointed);
  uint32_t error = GetLastError();
  Devices().CloseHandle(d);
  in = out;
  return Raw{ok, error, returned};
}

class SataDriveTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "model": "QUARN SSD KD765KK 512GB", "serial": "QS0001",
                           "firmware": "SVMU01", "size": 512110190592,
                           "sectors": "EB 52 90 4E 54 46 53"}]})";
  }
  sim::SataDrive& Drive() { return *dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(0)); }
  uint16_t Word(int n) {
    auto page = Drive().IdentifyPage();
    return GetLE16(&page[2 * n]);
  }
  std::vector<uint8_t> ReadSectors(uint32_t size) {
    std::vector<uint8_t> buf(size, 0xEE);
    HANDLE d = Devices().CreateFileW(kDisk0, GENERIC_READ, 3, OPEN_EXISTING, 0);
    uint32_t got = 0;
    bool ok = Devices().ReadFile(d, buf.data(), size, &got);
    Devices().CloseHandle(d);
    if (!ok) return {};
    buf.resize(got);
    return buf;
  }
};

TEST_F(SataDriveTest, RequestsAreCheckedAsADriverChecksThem) {
  // A buffered IDENTIFY: 40-byte header, data at 44, 512 bytes in.
  using Block = std::vector<uint8_t>;
  auto identify = [](auto mutate) {
    Block block = test::AtaBufferedBlock(Regs(0xEC), 2, 512, 2);
    uint32_t outSize = 556;
    mutate(block, outSize);
    return Send(IOCTL_ATA_PASS_THROUGH, block, outSize);
  };
  alignas(16) static uint8_t memory[1024];
  auto direct = [](uint32_t dataBuffer, std::span<uint8_t> pointed, uint32_t length) {
    Block block = test::AtaDirectBlock(Regs(0xEC), 0x13, length, dataBuffer);
    return Send(IOCTL_ATA_PASS_THROUGH_DIRECT, block, 40, pointed);
  };
  auto receive = [](uint8_t command, uint8_t feature, size_t inSize, uint32_t outSize) {
    Block block = test::SmartReceiveInput(Regs(command, feature, 1, 1, 0x4F, 0xC2));
    block.resize(inSize);
    return Send(SMART_RCV_DRIVE_DATA, block, outSize);
  };
  struct Case {
    const char* what;
    std::function<Raw()> send;
    bool ok;
    uint32_t error;
  } cases[] = {
      {"a good identify", [&] { return identify([](Block&, uint32_t&) {}); }, true, 0},
      {"header of the 64-bit size",
       [&] { return identify([](Block& b, uint32_t&) { PutLE16(&b[0], 48); }); }, false, 87},
      {"both directions",
       [&] { return identify([](Block& b, uint32_t&) { PutLE16(&b[2], 6); }); }, false, 87},
      {"data without a direction",
       [&] { return identify([](Block& b, uint32_t&) { PutLE16(&b[2], 0); }); }, false, 87},
      {"data inside the header",
       [&] { return identify([](Block& b, uint32_t&) { PutLE32(&b[20], 20); }); }, false, 87},
      {"data beyond the output",
       [&] { return identify([](Block&, uint32_t& out) { out = 300; }); }, false, 87},
      {"truncated header",
       [&] { return identify([](Block& b, uint32_t& out) { b.resize(30); out = 30; }); }, false,
       87},
      {"direct, aligned buffer",
       [&] { return direct(wire::Address32(memory), std::span<uint8_t>(memory, 512), 512); }, true,
       0},
      {"direct, buffer off the 16-byte boundary",
       [&] { return direct(wire::Address32(memory + 4), std::span<uint8_t>(memory + 4, 512), 512); },
       false, 87},
      {"direct, pointer names other memory",
       [&] { return direct(0x1000, std::span<uint8_t>(memory, 512), 512); }, false, 87},
      {"direct, buffer shorter than the transfer",
       [&] { return direct(wire::Address32(memory), std::span<uint8_t>(memory, 256), 512); },
       false, 87},
      {"legacy, length beyond the block",
       [&] {
         Block b = test::IdePassThroughBlock(Regs(0xEC), 1024, 527);
         return Send(IOCTL_IDE_PASS_THROUGH, b, 527);
       },
       false, 87},
      {"receive, identify", [&] { return receive(0xEC, 0, 33, 528); }, true, 0},
      {"receive, self-test start is not a receive", [&] { return receive(0xB0, 0xD4, 33, 528); },
       false, 87},
      {"receive, reply buffer too small", [&] { return receive(0xEC, 0, 33, 100); }, false, 122},
      {"receive, input too short", [&] { return receive(0xEC, 0, 20, 528); }, false, 87},
      {"opened for reading only",
       [&] {
         std::vector<uint8_t> b(556, 0);
         return Send(IOCTL_ATA_PASS_THROUGH, b, 556, {}, GENERIC_READ);
       },
       false, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Raw r = c.send();
    EXPECT_EQ(r.ok, c.ok);
    if (!c.ok) {
      EXPECT_EQ(r.error, c.error);
    }
  }
}

TEST_F(SataDriveTest, WhatEachFormReturns) {
  // Buffered: the header with the drive's registers, then the data.
  Reply r = ReadIn(Regs(0xEC), 512);
  EXPECT_TRUE(r.Done());
  EXPECT_EQ(r.returned, 556u);
  // Receive: the 16-byte header, then one sector.
  std::vector<uint8_t> in = test::SmartReceiveInput(SmartRegs(0xD0, 1, 1));
  Raw raw = Send(SMART_RCV_DRIVE_DATA, in, 528);
  EXPECT_TRUE(raw.ok);
  EXPECT_EQ(raw.returned, 528u);
  EXPECT_EQ(GetLE32(&in[0]), 512u);
  EXPECT_EQ(in[16 + 2], 1);  // the first attribute of the default page
  // An aborted receive request: only the header, with the drive's error.
  in = test::SmartReceiveInput(SmartRegs(0xD5, 0x33, 1));  // no such log
  raw = Send(SMART_RCV_DRIVE_DATA, in, 528);
  EXPECT_TRUE(raw.ok);
  EXPECT_EQ(raw.returned, 16u);
  EXPECT_EQ(in[4], 1);     // SMART_IDE_ERROR
  EXPECT_EQ(in[5], 0x04);  // aborted
  // A command the drive does not know: aborted, status 0x51, error 0x04.
  EXPECT_TRUE(Buffered(Regs(0x42)).Aborted());
  // So is a known command whose transfer does not match what it moves.
  EXPECT_TRUE(ReadIn(Regs(0xEC), 1024).Aborted());
  EXPECT_TRUE(WriteOut(Regs(0xEC), std::vector<uint8_t>(512)).Aborted());
  EXPECT_TRUE(Buffered(SmartRegs(0xD0)).Aborted());
  // And a SMART command without its signature.
  EXPECT_TRUE(ReadIn(Regs(0xB0, 0xD0), 512).Aborted());
}

TEST_F(SataDriveTest, FaultsFromTheMachineFile) {
  UseMachine(R"({"os": {"major": 6, "minor": 1}, "drives": [{"index": 0, "faults": [
      {"form": "ata_pass_through", "command": "0xEC", "error": 21, "times": 1},
      {"form": "ata_pass_through", "command": "0xB0", "feature": "0xD1", "effect": "abort"},
      {"form": "ata_pass_through", "command": "0xB0", "feature": "0xD0", "effect": "zeros"},
      {"form": "smart_rcv", "effect": "short", "bytes": 100},
      {"form": "ata_direct", "effect": "fail", "error": 1117}]}]})");
  Reply first = ReadIn(Regs(0xEC), 512);
  EXPECT_FALSE(first.ok);
  EXPECT_EQ(first.error, 21u);
  EXPECT_TRUE(ReadIn(Regs(0xEC), 512).Done());  // the fault hit once only
  EXPECT_TRUE(ReadIn(SmartRegs(0xD1), 512).Aborted());
  Reply zeros = ReadIn(SmartRegs(0xD0), 512);
  EXPECT_TRUE(zeros.Done());
  EXPECT_TRUE(AllZero(zeros.data.data(), 512));

  std::vector<uint8_t> in = test::SmartReceiveInput(Regs(0xEC, 0, 1, 1));
  Raw raw = Send(SMART_RCV_DRIVE_DATA, in, 528);
  EXPECT_TRUE(raw.ok);
  EXPECT_EQ(raw.returned, 100u);

  alignas(16) static uint8_t memory[512];
  std::vector<uint8_t> direct = test::AtaDirectBlock(Regs(0xEC), 0x13, 512, wire::Address32(memory));
  raw = Send(IOCTL_ATA_PASS_THROUGH_DIRECT, direct, 40, std::span<uint8_t>(memory, 512));
  EXPECT_FALSE(raw.ok);
  EXPECT_EQ(raw.error, 1117u);
}

TEST_F(SataDriveTest, DriverWithoutSomeForms) {
  // A good IDENTIFY in each form; a form the driver lacks is an unknown
  // control code.
  alignas(16) static uint8_t memory[512];
  auto sendForm = [&](uint32_t code) {
    std::vector<uint8_t> b;
    uint32_t outSize = 0;
    std::span<uint8_t> pointed;
    switch (code) {
      case IOCTL_ATA_PASS_THROUGH:
        b = test::AtaBufferedBlock(Regs(0xEC), 2, 512);
        outSize = 556;
        break;
      case IOCTL_IDE_PASS_THROUGH:
        b = test::IdePassThroughBlock(Regs(0xEC), 512, 527);
        outSize = 527;
        break;
      case IOCTL_ATA_PASS_THROUGH_DIRECT:
        b = test::AtaDirectBlock(Regs(0xEC), 0x13, 512, wire::Address32(memory));
        outSize = 40;
        pointed = std::span<uint8_t>(memory, 512);
        break;
      default:
        b = test::SmartReceiveInput(Regs(0xEC, 0, 1, 1));
        outSize = 528;
        break;
    }
    return Send(code, b, outSize, pointed);
  };
  const uint32_t codes[] = {IOCTL_ATA_PASS_THROUGH, IOCTL_IDE_PASS_THROUGH,
                            IOCTL_ATA_PASS_THROUGH_DIRECT, SMART_RCV_DRIVE_DATA};
  struct Case {
    const char* forms;
    bool works[4];  // in the order of `codes`
  } cases[] = {
      {"{}", {true, true, true, true}},
      {R"({"ata_pass_through": false})", {false, true, true, true}},
      {R"({"ide_pass_through": false})", {true, false, true, true}},
      {R"({"ata_direct": false})", {true, true, false, true}},
      {R"({"ata_pass_through": false, "smart_rcv": false})", {false, true, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.forms);
    UseMachine(Format(R"({"drives": [{"index": 0, "forms": %s}]})", c.forms));
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(codes[i]);
      Raw r = sendForm(codes[i]);
      EXPECT_EQ(r.ok, c.works[i]);
      if (!c.works[i]) {
        EXPECT_EQ(r.error, ERROR_INVALID_FUNCTION);
      }
    }
  }
}

TEST_F(SataDriveTest, IdentifyPage) {
  auto page = Drive().IdentifyPage();
  // ATA strings: two characters per word, first in the high byte.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&page[54]), 6), "UQRA N");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&page[20]), 20), "SQ0010              ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&page[46]), 8), "VSUM10  ");
  uint64_t sectors = 512110190592ull / 512;
  EXPECT_EQ(GetLE32(&page[120]), 0x0FFFFFFFu);  // words 60-61 stop at 28 bits
  EXPECT_EQ(GetLE64(&page[200]), sectors);       // words 100-103
  EXPECT_EQ(Word(76) & 0x000E, 0x000E);           // 1.5, 3 and 6 Gb/s
  EXPECT_EQ((Word(77) >> 1) & 7, 3);              // running at 6 Gb/s
  EXPECT_EQ(Word(108) >> 12, 5);                  // NAA 5 world wide name
  EXPECT_EQ(Word(128), 0x0021);
  EXPECT_EQ(Word(169) & 1, 1);
  uint8_t sum = 0;
  for (uint8_t b : page) sum = static_cast<uint8_t>(sum + b);
  EXPECT_EQ(page[510], 0xA5);
  EXPECT_EQ(sum, 0);

  // Any word can be set; a captured page is taken verbatim.
  std::string captured(1024, '0');
  captured.replace(0, 4, "4000");    // word 0 = 0x0040
  captured.replace(46 * 2, 8, "3130312E");  // bytes 46-49: firmware "01.1" as stored
  UseMachine(Format(R"({"drives": [{"index": 0, "wwn": "0x500A1B2C3D4E5F60",
                         "identify": {"page": "%s", "words": {"76": "0x0006", "0x4D": 4}}}]})",
                    captured.c_str()));
  EXPECT_EQ(Word(0), 0x0040);
  EXPECT_EQ(Word(76), 0x0006);
  EXPECT_EQ(Word(77), 0x0004);
  EXPECT_EQ(Word(108), 0x500A);
  EXPECT_EQ(Word(111), 0x5F60);
  EXPECT_EQ(Drive().CurrentFirmware(), "01.1");
  EXPECT_EQ(Word(255), 0);  // no checksum signature on the captured page: left alone
}

TEST_F(SataDriveTest, SmartPages) {
  UseMachine(R"({"drives": [{"index": 0, "smart": {
      "attributes": [{"id": 9, "flags": "0x0032", "current": 99, "worst": 98, "raw": 4660,
                      "threshold": 0},
                     {"id": 5, "flags": 51, "current": 90, "raw": [1, 2, 3, 4, 5, 6],
                      "threshold": 10}],
      "bytes": [{"offset": 396, "text": "JMF608"}, {"offset": 375, "hex": "4A4D363038"}]}}]})");
  auto data = Drive().SmartDataPage();
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 2, data.begin() + 14),
            (std::vector<uint8_t>{9, 0x32, 0, 99, 98, 0x34, 0x12, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(data.begin() + 14, data.begin() + 26),
            (std::vector<uint8_t>{5, 51, 0, 90, 90, 1, 2, 3, 4, 5, 6, 0}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&data[396]), 6), "JMF608");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&data[375]), 5), "JM608");
  EXPECT_EQ(data[363], 0);
  uint8_t sum = 0;
  for (uint8_t b : data) sum = static_cast<uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
  auto thresholds = Drive().SmartThresholdPage();
  EXPECT_EQ(thresholds[2 + 12], 5);
  EXPECT_EQ(thresholds[3 + 12], 10);

  // A drive with SMART switched off refuses the reads.
  UseMachine(R"({"drives": [{"index": 0, "smart": {"enabled": false}}]})");
  EXPECT_EQ(Word(85) & 1, 0);
  EXPECT_TRUE(ReadIn(SmartRegs(0xD0), 512).Aborted());
  EXPECT_TRUE(Buffered(SmartRegs(0xD8)).Done());  // until it is switched on
  EXPECT_TRUE(ReadIn(SmartRegs(0xD0), 512).Done());
}

TEST_F(SataDriveTest, SelfTestRunsOnTheVirtualClock) {
  UseMachine(R"({"os": {"major": 6, "minor": 1}, "drives": [{"index": 0,
      "selfTest": {"shortSeconds": 120, "extendedSeconds": 1200, "status": "0x00"}}]})");
  // SMART EXECUTE OFF-LINE IMMEDIATE with the subcommand in LBA low.
  auto selfTest = [](uint8_t sub) { return Buffered(SmartRegs(0xD4, sub, sub)).Done(); };
  auto status = [&] { return Drive().SmartDataPage()[363]; };
  EXPECT_EQ(Drive().SmartDataPage()[372], 2);   // polling minutes, short
  EXPECT_EQ(Drive().SmartDataPage()[373], 20);  // and extended
  ASSERT_TRUE(selfTest(1));
  EXPECT_EQ(status(), 0xF9);
  Machine().Clock().Advance(60000);
  EXPECT_EQ(status(), 0xF5);
  Machine().Clock().Advance(59999);
  EXPECT_EQ(status(), 0xF1);
  Machine().Clock().Advance(1);
  EXPECT_EQ(status(), 0x00);

  // Abort during an extended test: aborted by the host.
  EXPECT_TRUE(selfTest(2));
  Machine().Clock().Advance(600000);
  EXPECT_EQ(status(), 0xF5);
  EXPECT_TRUE(selfTest(0x7F));
  EXPECT_EQ(status(), 0x10);

  // A failing drive: the test ends early with the read element failed.
  UseMachine(R"({"drives": [{"index": 0,
      "selfTest": {"extendedSeconds": 1200, "result": "0x73", "endsAfterSeconds": 700}}]})");
  EXPECT_TRUE(selfTest(2));
  Machine().Clock().Advance(699000);
  EXPECT_EQ(status() >> 4, 0xF);
  Machine().Clock().Advance(1000);
  EXPECT_EQ(status(), 0x73);
}

TEST_F(SataDriveTest, SecurityEraseOnTheVirtualClock) {
  std::vector<uint8_t> password(512, 0);
  std::memcpy(&password[2], "QWERT", 5);
  std::vector<uint8_t> wrong = password;
  wrong[2] = 'X';

  EXPECT_EQ(Word(128), 0x0021);  // supported, enhanced erase supported
  EXPECT_EQ(Word(89), 2);        // four minutes
  // ERASE UNIT must follow ERASE PREPARE at once.
  EXPECT_TRUE(WriteOut(Regs(0xF4), password).Aborted());
  EXPECT_TRUE(WriteOut(Regs(0xF1), password).Done());
  EXPECT_EQ(Word(128), 0x0023);
  EXPECT_EQ(Word(85) & 2, 2);
  EXPECT_TRUE(Buffered(Regs(0xF3)).Done());
  EXPECT_TRUE(WriteOut(Regs(0xF4), wrong).Aborted());
  EXPECT_TRUE(Buffered(Regs(0xF3)).Done());
  EXPECT_TRUE(ReadIn(Regs(0xEC), 512).Done());  // anything in between cancels the prepare
  EXPECT_TRUE(WriteOut(Regs(0xF4), password).Aborted());
  EXPECT_TRUE(Buffered(Regs(0xF3)).Done());
  EXPECT_TRUE(WriteOut(Regs(0xF4), password).Done());

  // The erase goes on for the announced time; meanwhile the password holds.
  EXPECT_EQ(ReadSectors(7)[0], 0xEB);
  Machine().Clock().Advance(4 * 60000 - 1);
  EXPECT_EQ(Word(128), 0x0023);
  Machine().Clock().Advance(1);
  EXPECT_EQ(Word(128), 0x0021);
  EXPECT_EQ(ReadSectors(7), std::vector<uint8_t>(7, 0));
}

TEST_F(SataDriveTest, SecurityStatesFromTheMachineFile) {
  struct Case {
    const char* security;
    uint16_t word128;
    uint16_t word89;
    bool setPasswordWorks, readable;
  } cases[] = {
      {R"({"frozen": true})", 0x0029, 2, false, true},
      {R"({"userPassword": "ABCDE", "locked": true, "eraseTime": 1})", 0x0027, 1, false, false},
      {R"({"supported": false})", 0x0000, 2, false, true},
      {R"({"enhancedErase": false, "eraseTime": 255})", 0x0001, 255, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.security);
    UseMachine(Format(R"({"drives": [{"index": 0, "sectors": "01 02", "security": %s}]})",
                      c.security));
    EXPECT_EQ(Word(128), c.word128);
    EXPECT_EQ(Word(89), c.word89);
    std::vector<uint8_t> block(512, 0);
    block[2] = 'Z';
    EXPECT_EQ(WriteOut(Regs(0xF1), block).Done(), c.setPasswordWorks);
    EXPECT_EQ(!ReadSectors(2).empty(), c.readable);
  }
  // The locked drive opens with its user password.
  std::vector<uint8_t> block(512, 0);
  std::memcpy(&block[2], "ABCDE", 5);
  UseMachine(R"({"drives": [{"index": 0, "security": {"userPassword": "ABCDE", "locked": true}}]})");
  EXPECT_TRUE(ReadIn(SmartRegs(0xD0), 512).Done());
  EXPECT_TRUE(WriteOut(Regs(0xF2), block).Done());
  EXPECT_EQ(Word(128), 0x0023);
  EXPECT_FALSE(ReadSectors(2).empty());
}

TEST_F(SataDriveTest, EraseTimeCanDifferFromTheAnnouncedOne) {
  UseMachine(R"({"drives": [{"index": 0,
      "security": {"userPassword": "ABCDE", "eraseTime": 1, "eraseSeconds": 600}}]})");
  std::vector<uint8_t> block(512, 0);
  std::memcpy(&block[2], "ABCDE", 5);
  ASSERT_TRUE(Buffered(Regs(0xF3)).Done());
  ASSERT_TRUE(WriteOut(Regs(0xF4), block).Done());
  Machine().Clock().Advance(120000);  // the announced two minutes
  EXPECT_EQ(Word(128) & 2, 2);
  Machine().Clock().Advance(480000);
  EXPECT_EQ(Word(128) & 2, 0);
}

TEST_F(SataDriveTest, MicrocodeIsCollectedAndInstalls) {
  UseMachine(R"({"drives": [{"index": 0, "firmware": "SVMU01",
      "microcode": {"firmware": "SVMU02", "size": 98304, "contains": "QUARNFW"}}]})");
  auto piece = [](uint8_t fill) {
    std::vector<uint8_t> p(32768, fill);
    return p;
  };
  auto segment = [&](uint16_t offset, std::vector<uint8_t> data) {
    return WriteOut(Regs(0x92, 3, 64, 0, static_cast<uint8_t>(offset), offset >> 8), data);
  };
  std::vector<uint8_t> last = piece(0);
  std::memcpy(last.data(), "QUARNFW", 7);
  EXPECT_TRUE(segment(0, piece(1)).Done());
  EXPECT_TRUE(segment(128, piece(2)).Aborted());  // segments come in order
  EXPECT_TRUE(segment(64, piece(2)).Done());
  EXPECT_EQ(Drive().CurrentFirmware(), "SVMU01");
  EXPECT_TRUE(segment(128, last).Done());
  EXPECT_EQ(Drive().MicrocodeSegments(), 3u);
  auto image = Drive().MicrocodeImage();
  ASSERT_EQ(image.size(), 98304u);
  EXPECT_EQ(image[0], 1);
  EXPECT_EQ(image[32768], 2);
  EXPECT_EQ(image[65536], 'Q');
  EXPECT_EQ(Drive().CurrentFirmware(), "SVMU02");
  auto page = Drive().IdentifyPage();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&page[46]), 6), "VSUM20");

  // An image without the drive's mark is refused at its end.
  UseMachine(R"({"drives": [{"index": 0, "firmware": "SVMU01",
      "microcode": {"firmware": "SVMU02", "size": 32768, "contains": "QUARNFW"}}]})");
  EXPECT_TRUE(segment(0, piece(1)).Aborted());
  EXPECT_EQ(Drive().CurrentFirmware(), "SVMU01");
  // The transfer must match the block count; other modes are refused.
  EXPECT_TRUE(WriteOut(Regs(0x92, 3, 1, 0, 0, 0), piece(1)).Aborted());
  EXPECT_TRUE(WriteOut(Regs(0x92, 0x0E, 64, 0, 0, 0), piece(1)).Aborted());
}

TEST_F(SataDriveTest, TrimRangesAreRecordedAndReadAsZeros) {
  UseMachine(R"({"drives": [{"index": 0, "size": 1048576, "sectors": "11 22 33"}]})");
  std::vector<uint8_t> block(512, 0);
  auto entry = [&](int i, uint64_t lba, uint16_t length) {
    PutLE64(&block[8 * i], lba);
    PutLE16(&block[8 * i + 6], length);
  };
  entry(0, 0, 1);
  entry(2, 100, 900);  // an empty entry between is skipped
  EXPECT_TRUE(WriteOut(Regs(0x06, 1, 1), block).Done());
  EXPECT_EQ(Drive().TrimRanges(), (std::vector<sim::TrimRange>{{0, 1}, {100, 900}}));
  EXPECT_EQ(ReadSectors(3), std::vector<uint8_t>(3, 0));

  // A range past the end of the disk: refused, nothing trimmed.
  block.assign(512, 0);
  entry(0, 10, 5);
  entry(1, 2040, 9);
  EXPECT_TRUE(WriteOut(Regs(0x06, 1, 1), block).Aborted());
  EXPECT_EQ(Drive().TrimRanges().size(), 2u);
  // A drive without TRIM refuses it.
  UseMachine(R"({"drives": [{"index": 0, "identify": {"words": {"169": 0}}}]})");
  EXPECT_TRUE(WriteOut(Regs(0x06, 1, 1), block).Aborted());
}

TEST(SataDriveLoad, MistakesNameTheirField) {
  struct Case {
    const char* drive;
    const char* message;
  } cases[] = {
      {R"({"identity": {}})", "drives[0]: unknown field \"identity\""},
      {R"({"identify": {"page": "00 01"}})", "drives[0].identify.page: expected 512 bytes"},
      {R"({"identify": {"words": {"256": 1}}})", "drives[0].identify.words.256"},
      {R"({"security": {"locked": true}})", "drives[0].security.locked"},
      {R"({"smart": {"attributes": [{"id": 300}]}})", "drives[0].smart.attributes[0].id"},
      {R"({"smart": {"bytes": [{"offset": 510, "text": "AB"}]}})", "drives[0].smart.bytes[0]"},
      {R"({"forms": {"smart_send": false}})", "drives[0].forms: unknown field \"smart_send\""},
      {R"({"microcode": {}})", "drives[0].microcode.firmware: required"},
      {R"({"sct": {"configId": "123456789"}})", "drives[0].sct.configId"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(
        std::string(R"({"drives": [)") + c.drive + "]}", "m.json");
    EXPECT_FALSE(r.machine) << c.drive;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
