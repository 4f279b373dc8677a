// ATA PASS-THROUGH(16): the CDB of each protocol, the registers read back
// from both sense formats, and what a completion means to the platform.
#include "platform/linux/ata_passthrough.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Hex(const uint8_t* p, size_t n) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
  return s;
}

TEST(LinuxAtaPassThrough, CdbCarriesProtocolDirectionAndRegisters) {
  struct Case {
    const char* what;
    AtaRequest request;
    const char* cdb;
  };
  auto request = [](uint8_t cmd, uint8_t feat, uint8_t count, uint8_t low, uint8_t mid, uint8_t high, uint8_t dev,
                 AtaProtocol p, bool in, uint32_t len, bool ext = false) {
    AtaRequest s;
    s.registers = AtaTaskFile{feat, count, low, mid, high, dev, cmd};
    s.protocol = p;
    s.dataIn = in;
    s.dataLength = len;
    s.extend = ext;
    return s;
  };
  const Case cases[] = {
      // IDENTIFY DEVICE: PIO in, one block in the count, direction in, no CK_COND.
      {"identify", request(0xEC, 0, 0, 0, 0, 0, 0xA0, AtaProtocol::PioIn, true, 512),
       "85080e00000000000000000000a0ec00"},
      // SMART READ DATA with its signature.
      {"smart read", request(0xB0, 0xD0, 0, 0, 0x4F, 0xC2, 0, AtaProtocol::PioIn, true, 512),
       "85080e00d000000000004f00c200b000"},
      // SECURITY SET PASSWORD: PIO out, CK_COND.
      {"set password", request(0xF1, 0, 0, 0, 0, 0, 0, AtaProtocol::PioOut, false, 512),
       "850a260000000000000000000000f100"},
      // FLUSH CACHE EXT: non-data, CK_COND, no length.
      {"flush", request(0xEA, 0, 0, 0, 0, 0, 0, AtaProtocol::NonData, false, 0), "8506200000000000000000000000ea00"},
      // DATA SET MANAGEMENT TRIM: DMA out, 48-bit, zero high-order registers.
      {"trim", request(0x06, 0x01, 0x01, 0, 0, 0, 0, AtaProtocol::Dma, false, 512, true),
       "850d2600010001000000000000000600"},
      // A data protocol with no data goes out as non-data.
      {"empty read", request(0xEC, 0, 0, 0, 0, 0, 0, AtaProtocol::PioIn, true, 0), "8506200000000000000000000000ec00"},
  };
  for (const Case& c : cases) {
    uint8_t cdb[kAta16CdbSize];
    BuildAta16Cdb(c.request, cdb);
    EXPECT_EQ(Hex(cdb, sizeof cdb), c.cdb) << c.what;
  }
}

// Sense data as the kernel returned it on the rig (QEMU's AHCI, Linux 6.1).
constexpr const char* kDescriptorFlush = "7201001d0000000e090c000000000000000000000050";
constexpr const char* kDescriptorTrim = "7201001d0000000e090c010000000001000000000050";
constexpr const char* kFixedAbortedPioOut = "70000b000000000a04410000000000000000";
constexpr const char* kFixedAbortedReadLog = "70000b000000000a044100010000000000e0";

TEST(LinuxAtaPassThrough, RegistersFromBothSenseFormats) {
  struct Case {
    const char* what;
    std::string sense;
    bool have;
    uint8_t code, key, error, status, count, lbaLow;
    bool extend;
  } const cases[] = {
      {"descriptor, completed", kDescriptorFlush, true, 0x72, 0x01, 0x00, 0x50, 0x00, 0x00, false},
      {"descriptor, 48-bit", kDescriptorTrim, true, 0x72, 0x01, 0x00, 0x50, 0x00, 0x01, true},
      {"fixed as Linux 6.1 writes it, aborted", kFixedAbortedPioOut, true, 0x70, 0x0B, 0x04, 0x41, 0x00, 0x00, false},
      {"fixed as Linux 6.1 writes it, with LBA", kFixedAbortedReadLog, true, 0x70, 0x0B, 0x04, 0x41, 0x01, 0xE0, false},
      // The standard fixed layout: registers in INFORMATION, LBA in COMMAND-SPECIFIC.
      {"fixed, standard layout", "f0000b0451a0010a80e00000000000000000", true, 0x70, 0x0B, 0x04, 0x51, 0x01, 0xE0, true},
      // An error raised before the command reached a device: no registers.
      {"fixed, illegal request", "700005000000000a00000000240000000000", false, 0x70, 0x05, 0, 0, 0, 0, false},
      {"descriptor without ATA return", "720524000000000000", false, 0x72, 0x05, 0, 0, 0, 0, false},
      {"empty", "", false, 0x00, 0, 0, 0, 0, 0, false},
      {"truncated fixed", "70000b", false, 0x70, 0x0B, 0, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> s = Bytes(c.sense);
    AtaReturn r = DecodeAtaSense(s);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(r.haveRegisters, c.have);
    EXPECT_EQ(r.responseCode, c.code);
    EXPECT_EQ(r.senseKey, c.key);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.count, c.count);
    EXPECT_EQ(r.lbaLow, c.lbaLow);
    EXPECT_EQ(r.extend, c.extend);
  }
}

TEST(LinuxAtaPassThrough, WhatACompletionMeansToThePlatform) {
  struct Case {
    const char* what;
    SgCompletion completion;
    std::string sense;
    bool carried;
    uint32_t error;
    uint8_t status;
  };
  auto done = [](int err, uint8_t scsi, uint16_t host, uint16_t driver) {
    SgCompletion c;
    c.ioctlErrno = err;
    c.scsiStatus = scsi;
    c.hostStatus = host;
    c.driverStatus = driver;
    return c;
  };
  const Case cases[] = {
      // The drive aborted the command: carried, its verdict in the registers.
      {"aborted", done(0, 2, 0, 8), kFixedAbortedPioOut, true, 0, 0x41},
      {"completed with registers", done(0, 2, 0, 8), kDescriptorFlush, true, 0, 0x50},
      {"completed without registers", done(0, 0, 0, 0), "", true, 0, 0x50},
      {"recovered, no registers", done(0, 2, 0, 8), "720100000000000000", true, 0, 0x50},
      // The request itself did not get through.
      {"not root", done(EPERM, 0, 0, 0), "", false, ERROR_ACCESS_DENIED, 0},
      {"no access", done(EACCES, 0, 0, 0), "", false, ERROR_ACCESS_DENIED, 0},
      {"not a SCSI device", done(ENOTTY, 0, 0, 0), "", false, ERROR_INVALID_FUNCTION, 0},
      {"time-out", done(0, 0, 3, 0), "", false, ERROR_SEM_TIMEOUT, 0},
      {"gone", done(0, 0, 1, 0), "", false, ERROR_DEVICE_NOT_CONNECTED, 0},
      {"driver time-out", done(0, 0, 0, 6), "", false, ERROR_SEM_TIMEOUT, 0},
      {"pass-through not supported", done(0, 2, 0, 8), "700005000000000a00000000200000000000", false,
       ERROR_INVALID_FUNCTION, 0},
      {"not ready", done(0, 2, 0, 8), "700002000000000a00000000040000000000", false, ERROR_NOT_READY, 0},
      {"busy", done(0, 8, 0, 0), "", false, ERROR_BUSY, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> s = Bytes(c.sense);
    AtaOutcome o = JudgeAtaCompletion(c.completion, s);
    SCOPED_TRACE(c.what);
    EXPECT_EQ(o.carried, c.carried);
    EXPECT_EQ(o.error, c.error);
    if (c.carried) {
      EXPECT_EQ(o.registers.status, c.status);
    }
  }
}

TEST(LinuxAtaPassThrough, ANonScsiDescriptorIsRefusedNotCarried) {
  // A regular file answers SG_IO with ENOTTY: the request fails cleanly.
  FILE* f = std::tmpfile();
  ASSERT_TRUE(f);
  AtaRequest request;
  request.registers.command = 0xEC;
  request.protocol = AtaProtocol::PioIn;
  request.dataIn = true;
  request.dataLength = 512;
  std::vector<uint8_t> data(512, 0xAA);
  uint32_t moved = 99;
  AtaOutcome o = SendAtaCommand(fileno(f), request, data.data(), 2000, &moved);
  std::fclose(f);
  EXPECT_FALSE(o.carried);
  EXPECT_EQ(o.error, ERROR_INVALID_FUNCTION);
  EXPECT_EQ(moved, 0u);
}

}  // namespace
}  // namespace zel
