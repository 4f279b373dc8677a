// The simulated NVMe drive: its pages as the machine file sets them, and its
// strictness about the requests of each form.
#include "platform/sim/nvme_drive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/bytes.h"
#include "platform/platform.h"
#include "support/nvme_request_bytes.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

const sim::NvmeDrive& Nvme(const sim::SimMachine& m, size_t i = 0) {
  return dynamic_cast<const sim::NvmeDrive&>(*m.Drives()[i]);
}

std::string Text(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }

TEST(NvmeDriveLoad, ReportsTheFieldThatIsWrong) {
  struct Case {
    const char* drive;
    const char* message;
  } cases[] = {
      {R"({"kind": "nvme", "identify": {"page": "00 01"}})", "drives[0].identify.page: expected 4096 bytes, found 2"},
      {R"({"kind": "nvme", "health": {"page": "00", "temperature": 300}})", "drives[0].health.temperature: give either"},
      {R"({"kind": "nvme", "model": "QUARN 0123456789012345678901234567890123456789"})", "drives[0].model: longer than 40"},
      {R"({"kind": "nvme", "serial": "123456789012345678901"})", "drives[0].serial: longer than 20"},
      {R"({"kind": "nvme", "health": {"temperature": 65536}})", "drives[0].health.temperature: larger than 65535"},
      {R"({"kind": "nvme", "health": {"dataUnitsWritten": -1}})", "dataUnitsWritten: a counter cannot be negative"},
      {R"({"kind": "nvme", "health": {"powerOnHours": "340282366920938463463374607431768211456"}})", "powerOnHours: does not fit in 128 bits"},
      {R"({"kind": "nvme", "health": {"powerCycles": "12a"}})", "powerCycles: expected a number"},
      {R"({"kind": "nvme", "health": {"bytes": [{"offset": 510, "data": "01 02 03"}]}})", "health.bytes[0]: runs past the end of the 512-byte page"},
      {R"({"kind": "nvme", "identify": {"bytes": [{"offset": 5}]}})", "identify.bytes[0]: needs \"offset\" and \"data\""},
      {R"({"kind": "nvme", "forms": {"miniport": "sometimes"}})", "drives[0].forms.miniport: expected \"answer\", \"absent\" or \"zeros\""},
      {R"({"kind": "nvme", "forms": {"tunel": "answer"}})", "drives[0].forms: unknown field \"tunel\""},
      {R"({"kind": "nvme", "smart": {}})", "drives[0]: unknown field \"smart\""},
  };
  for (const Case& c : cases) {
    std::string json = std::string(R"({"drives": [)") + c.drive + "]}";
    sim::LoadResult r = sim::LoadMachineText(json, "m.json");
    EXPECT_FALSE(r.machine) << c.drive;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

TEST(NvmeDriveLoad, IdentifyPageFromFieldsAndRanges) {
  auto m = test::MustLoad(R"({"drives": [{"kind": "nvme", "model": "QUARN NV900 1TB",
      "serial": "QN0001", "firmware": "NV1.2",
      "identify": {"vendorId": "0x1234", "bytes": [{"offset": 73, "data": "11 22 33 44"},
                                                   {"offset": 4094, "data": [170, 187]}]}}]})");
  const auto& page = Nvme(*m).IdentifyPage();
  EXPECT_EQ(GetLE16(&page[0]), 0x1234);
  EXPECT_EQ(GetLE16(&page[2]), 0x1234);  // subsystem vendor defaults to the vendor
  EXPECT_EQ(Text(&page[4], 20), "QN0001              ");
  EXPECT_EQ(Text(&page[24], 40), "QUARN NV900 1TB                         ");
  EXPECT_EQ(Text(&page[64], 8), "NV1.2   ");
  EXPECT_EQ(page[73], 0x11);
  EXPECT_EQ(page[76], 0x44);
  EXPECT_EQ(page[4094], 0xAA);
  EXPECT_EQ(page[4095], 0xBB);
}

TEST(NvmeDriveLoad, VerbatimPagesStandAsGiven) {
  std::string identify(4096 * 2, '0');
  std::string model = "CAPTURED MODEL";
  for (size_t i = 0; i < 40; ++i) {
    char c = i < model.size() ? model[i] : ' ';
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
    identify.replace((24 + i) * 2, 2, hex);
  }
  std::string health(512 * 2, '0');
  health.replace(0, 6, "05AB01");
  auto m = test::MustLoad(R"({"drives": [{"kind": "nvme", "identify": {"page": ")" + identify +
                          R"("}, "health": {"page": ")" + health + R"("}}]})");
  const sim::NvmeDrive& d = Nvme(*m);
  EXPECT_EQ(Text(&d.IdentifyPage()[24], 14), "CAPTURED MODEL");
  EXPECT_EQ(d.IdentifyPage()[0], 0);  // nothing of the defaults is written into it
  EXPECT_EQ(d.Model(), "CAPTURED MODEL");
  EXPECT_EQ(d.HealthLog()[0], 0x05);
  EXPECT_EQ(GetLE16(&d.HealthLog()[1]), 0x01AB);
  EXPECT_TRUE(AllZero(&d.HealthLog()[3], 509));
}

TEST(NvmeDriveLoad, HealthLogFromFields) {
  auto m = test::MustLoad(R"({"drives": [{"kind": "nvme", "health": {
      "criticalWarning": 4, "temperature": 310, "availableSpare": 97,
      "availableSpareThreshold": 5, "percentageUsed": 12,
      "dataUnitsRead": 4660, "dataUnitsWritten": "18446744073709551617",
      "powerOnHours": "340282366920938463463374607431768211455",
      "errorLogEntries": "0x10"}}]})");
  const auto& log = Nvme(*m).HealthLog();
  EXPECT_EQ(log[0], 4);
  EXPECT_EQ(GetLE16(&log[1]), 310);
  EXPECT_EQ(log[3], 97);
  EXPECT_EQ(log[4], 5);
  EXPECT_EQ(log[5], 12);
  EXPECT_EQ(GetLE64(&log[32]), 4660u);
  EXPECT_EQ(GetLE64(&log[40]), 0u);
  EXPECT_EQ(GetLE64(&log[48]), 1u);  // 2^64 + 1: low half 1, high half 1
  EXPECT_EQ(GetLE64(&log[56]), 1u);
  for (int i = 128; i < 144; ++i) EXPECT_EQ(log[i], 0xFF) << i;
  EXPECT_EQ(log[176], 0x10);
  EXPECT_TRUE(AllZero(&log[192], 512 - 192));
}

// --- requests, sent raw ----------------------------------------------------

class NvmeDriveRequests : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"kind": "nvme", "index": 1, "scsiPort": 3,
               "identify": {"vendorId": "0x1234"}, "health": {"temperature": 310},
               "forms": {"storageQuery": "answer", "miniport": "answer",
                         "shortMiniport": "answer", "tunnel": "answer"}}]})";
  }
  const std::string& Path() { return Machine().Drives()[0]->InterfacePath(); }

  // Sends one request on a fresh handle; returns success and the error.
  bool Send(const std::string& path, uint32_t code, std::vector<uint8_t>& block, uint32_t* error,
            uint32_t outSize = 0) {
    HANDLE h = Devices().CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    uint32_t returned = 0;
    bool ok = Devices().DeviceIoControl(h, code, block.data(), static_cast<uint32_t>(block.size()),
                                        block.data(), outSize ? outSize : static_cast<uint32_t>(block.size()),
                                        &returned);
    *error = ok ? 0 : GetLastError();
    Devices().CloseHandle(h);
    return ok;
  }
};

// Well-formed requests, written at literal offsets.
constexpr auto Query = test::NvmeQuery;
using test::TunnelHalf;
// A miniport block with the time-out the system gives.
std::vector<uint8_t> Miniport(uint32_t size, uint8_t opcode, uint32_t nsid, uint32_t cdw10, uint32_t dataOut) {
  return test::NvmeMiniport(size, 1000, opcode, nsid, cdw10, dataOut);
}

TEST_F(NvmeDriveRequests, PlatformQueryAnswersWithDescriptorAndPage) {
  std::vector<uint8_t> b = Query(1, 1, 0);
  uint32_t error = 0;
  ASSERT_TRUE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, b, &error));
  EXPECT_EQ(GetLE32(&b[0]), 48u);  // descriptor version and size
  EXPECT_EQ(GetLE32(&b[4]), 48u);
  EXPECT_EQ(GetLE32(&b[28]), 4096u);
  EXPECT_EQ(0, std::memcmp(&b[48], Nvme(Machine()).IdentifyPage().data(), 4096));

  b = Query(2, 2, 0xFFFFFFFFu);
  ASSERT_TRUE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, b, &error));
  EXPECT_EQ(GetLE32(&b[28]), 512u);
  EXPECT_EQ(GetLE16(&b[48 + 1]), 310);
  EXPECT_TRUE(AllZero(&b[48 + 512], 4096 - 512));
}

TEST_F(NvmeDriveRequests, MalformedPlatformQueriesFail) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    uint32_t error;
  } cases[] = {
      {"device property", [](auto& b) { PutLE32(&b[0], 0); }, ERROR_INVALID_FUNCTION},
      {"exists query", [](auto& b) { PutLE32(&b[4], 1); }, ERROR_INVALID_PARAMETER},
      {"ATA protocol", [](auto& b) { PutLE32(&b[8], 2); }, ERROR_NOT_SUPPORTED},
      {"namespace identify", [](auto& b) { PutLE32(&b[16], 0); }, ERROR_INVALID_PARAMETER},
      {"identify sub-value", [](auto& b) { PutLE32(&b[20], 1); }, ERROR_INVALID_PARAMETER},
      {"offset inside the header", [](auto& b) { PutLE32(&b[24], 36); }, ERROR_INVALID_PARAMETER},
      {"length short of a page", [](auto& b) { PutLE32(&b[28], 512); }, ERROR_INVALID_PARAMETER},
      {"block short of the data", [](auto& b) { b.resize(4000); }, ERROR_INSUFFICIENT_BUFFER},
      {"header only", [](auto& b) { b.resize(40); }, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = Query(1, 1, 0);
    c.spoil(b);
    uint32_t error = 0;
    EXPECT_FALSE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, b, &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  std::vector<uint8_t> log = Query(2, 2, 0);  // the health log is asked for every namespace
  uint32_t error = 0;
  EXPECT_FALSE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, log, &error));
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
}

TEST_F(NvmeDriveRequests, MiniportAnswersOnTheAdapterOnly) {
  std::vector<uint8_t> b = Miniport(4248, 0x06, 0, 1, 0);
  uint32_t error = 0;
  ASSERT_TRUE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, b, &error));
  EXPECT_EQ(0, std::memcmp(&b[152], Nvme(Machine()).IdentifyPage().data(), 4096));
  EXPECT_EQ(GetLE32(&b[20]), 0u);  // return code

  std::vector<uint8_t> shortBlock = Miniport(664, 0x06, 0, 1, 1);
  ASSERT_TRUE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, shortBlock, &error));
  EXPECT_EQ(0, std::memcmp(&shortBlock[152], Nvme(Machine()).IdentifyPage().data(), 512));

  b = Miniport(4248, 0x06, 0, 1, 0);
  EXPECT_FALSE(Send(Path(), IOCTL_SCSI_MINIPORT, b, &error));  // the disk is not the adapter
  EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(NvmeDriveRequests, MalformedMiniportBlocksFail) {
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> spoil;
    uint32_t error;
  } cases[] = {
      {"header length", [](auto& b) { PutLE32(&b[0], 24); }, ERROR_INVALID_PARAMETER},
      {"signature", [](auto& b) { std::memcpy(&b[4], "NvmeMinI", 8); }, ERROR_INVALID_FUNCTION},
      {"control code", [](auto& b) { PutLE32(&b[16], 0xE0002004u); }, ERROR_INVALID_FUNCTION},
      {"length past the block", [](auto& b) { PutLE32(&b[24], 4248); }, ERROR_INVALID_PARAMETER},
      {"length short of the block", [](auto& b) { PutLE32(&b[24], 4000); }, ERROR_INVALID_PARAMETER},
      {"fused bits", [](auto& b) { b[53] = 0x01; }, ERROR_INVALID_PARAMETER},
      {"command identifier", [](auto& b) { b[54] = 0x01; }, ERROR_INVALID_PARAMETER},
      {"opcode", [](auto& b) { b[52] = 0x07; }, ERROR_INVALID_PARAMETER},
      {"namespace", [](auto& b) { PutLE32(&b[56], 1); }, ERROR_INVALID_PARAMETER},
      {"CDW10 namespace identify", [](auto& b) { PutLE32(&b[92], 0); }, ERROR_INVALID_PARAMETER},
      {"CDW11", [](auto& b) { PutLE32(&b[96], 1); }, ERROR_INVALID_PARAMETER},
      {"direction", [](auto& b) { PutLE32(&b[132], 1); }, ERROR_INVALID_PARAMETER},
      {"I/O queue", [](auto& b) { PutLE32(&b[136], 1); }, ERROR_INVALID_PARAMETER},
      {"data-out length", [](auto& b) { PutLE32(&b[140], 512); }, ERROR_INVALID_PARAMETER},
      {"meta data", [](auto& b) { PutLE32(&b[144], 8); }, ERROR_INVALID_PARAMETER},
      {"return length", [](auto& b) { PutLE32(&b[148], 664); }, ERROR_INVALID_PARAMETER},
      {"vendor bytes", [](auto& b) { b[30] = 1; }, ERROR_INVALID_PARAMETER},
      {"block too small for the page",
       [](auto& b) {
         b.resize(664);
         PutLE32(&b[24], 664 - 28);
         PutLE32(&b[148], 664);
       },
       ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = Miniport(4248, 0x06, 0, 1, 0);
    c.spoil(b);
    uint32_t error = 0;
    EXPECT_FALSE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, b, &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
  }
  // The short variant moves one 512-byte block, never a whole Identify page.
  std::vector<uint8_t> b = Miniport(4248, 0x06, 0, 1, 1);
  uint32_t error = 0;
  EXPECT_FALSE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, b, &error));
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
}

TEST_F(NvmeDriveRequests, ScsiAddressGivesThePort) {
  std::vector<uint8_t> b(8, 0xEE);
  uint32_t error = 0;
  ASSERT_TRUE(Send(Path(), IOCTL_SCSI_GET_ADDRESS, b, &error));
  EXPECT_EQ(GetLE32(&b[0]), 8u);
  EXPECT_EQ(b[4], 3);
  EXPECT_EQ(b[5], 0);
  EXPECT_EQ(b[6], 0);
  EXPECT_EQ(b[7], 0);
  std::vector<uint8_t> tooSmall(4, 0);
  EXPECT_FALSE(Send(Path(), IOCTL_SCSI_GET_ADDRESS, tooSmall, &error));
  EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(NvmeDriveRequests, TunnelPairReturnsTheLogAndRefusesOthersWithSense) {
  uint32_t error = 0;
  // A receive without a send first is out of sequence.
  std::vector<uint8_t> b = TunnelHalf(true);
  ASSERT_TRUE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(b[2], 0x02);        // CHECK CONDITION
  EXPECT_EQ(b[44 + 2], 0x05);   // ILLEGAL REQUEST
  EXPECT_EQ(b[44 + 12], 0x2C);  // command sequence error
  EXPECT_EQ(GetLE32(&b[12]), 0u);

  b = TunnelHalf(false);
  ASSERT_TRUE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(b[2], 0x00);
  b = TunnelHalf(true);
  ASSERT_TRUE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(b[2], 0x00);
  EXPECT_EQ(GetLE32(&b[12]), 512u);
  EXPECT_EQ(0, std::memcmp(&b[68], Nvme(Machine()).HealthLog().data(), 512));

  // A send that names another log is refused by the disk, not by the request.
  b = TunnelHalf(false);
  b[68] = 1;
  ASSERT_TRUE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(b[2], 0x02);
  EXPECT_EQ(b[44 + 12], 0x26);

  b = TunnelHalf(false);
  PutLE16(&b[0], 48);  // a header of another size
  EXPECT_FALSE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
  b = TunnelHalf(false);
  PutLE32(&b[20], 100);  // data past the end of the block
  EXPECT_FALSE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error));
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);

  // An output too small for the structure is refused before any reply is
  // written, even when the request moves no data and no sense.
  b = TunnelHalf(false);
  PutLE32(&b[12], 0);  // no data
  b[7] = 0;            // no sense
  const std::vector<uint8_t> sent = b;
  EXPECT_FALSE(Send(Path(), IOCTL_SCSI_PASS_THROUGH, b, &error, 8));
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(b, sent);
}

TEST_F(NvmeDriveRequests, FaultsHitTheirFormAndOpcode) {
  UseMachine(R"({"drives": [{"kind": "nvme", "index": 1, "scsiPort": 3,
      "forms": {"miniport": "answer"},
      "faults": [{"form": "storage_query", "opcode": 2, "error": 1117},
                 {"form": "miniport", "effect": "short", "bytes": 16, "times": 1}]}]})");
  uint32_t error = 0;
  std::vector<uint8_t> identify = Query(1, 1, 0);
  EXPECT_TRUE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, identify, &error));
  std::vector<uint8_t> log = Query(2, 2, 0xFFFFFFFFu);
  EXPECT_FALSE(Send(Path(), IOCTL_STORAGE_QUERY_PROPERTY, log, &error));
  EXPECT_EQ(error, 1117u);

  std::vector<uint8_t> b = Miniport(4248, 0x06, 0, 1, 0);
  ASSERT_TRUE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, b, &error));
  EXPECT_EQ(0, std::memcmp(&b[152], Nvme(Machine()).IdentifyPage().data(), 16));
  EXPECT_TRUE(AllZero(&b[152 + 16], 4096 - 16));
  b = Miniport(4248, 0x06, 0, 1, 0);  // the fault was for one request only
  ASSERT_TRUE(Send("\\\\.\\SCSI3:", IOCTL_SCSI_MINIPORT, b, &error));
  EXPECT_EQ(0, std::memcmp(&b[152], Nvme(Machine()).IdentifyPage().data(), 4096));
}

}  // namespace
}  // namespace zel
