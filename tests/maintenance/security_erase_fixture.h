// The fixture of the security-erase tests: a simulated machine on version
// 6.1 with the trace log on, whose disk 0 is the maker's SATA drive that
// supports the security feature set, and the commands the drive received
// written as their ATA registers.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "platform/sim/sata_drive.h"
#include "support/sim_fixture.h"

namespace zel::test {

class SecurityEraseFixture : public SimTest {
 protected:
  // A machine on 6.1 with `drive` (the inside of disk 0's object) and more
  // top-level fields.
  static std::string EraseMachine(const std::string& drive, const std::string& more = "",
                                  const std::string& model = "QUARN SSD KD765KK 512GB") {
    return R"({"os": {"major": 6, "minor": 1, "build": 7601}, "drives": [{"index": 0, "model": ")" +
           model + R"(", "serial": "QKD0001", )" + drive + "}]" + (more.empty() ? "" : ", " + more) +
           "}";
  }
  std::string MachineJson() const override {
    return EraseMachine(R"("security": {"supported": true, "eraseTime": 1})");
  }
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
  }
  // Disk 0 as discovery records it; the request log starts empty after it.
  PhysicalDriveRecord Drive() {
    ATACommand ata;
    PhysicalDriveTable table;
    EXPECT_GE(ata.UpdatePhysicalDrivesInfo(table), 1);
    Machine().ClearRequestLog();
    return table.empty() ? PhysicalDriveRecord{} : table[0];
  }
  sim::SataDrive& Sata() { return *dynamic_cast<sim::SataDrive*>(Machine().DriveByIndex(0)); }
  // Each ATA pass-through request the drives received as "command/count/
  // device" in hexadecimal (registers at bytes 32-38 of its header); other
  // requests by their control code. The device-number queries (0x2D1080)
  // that look up which disk a volume lies on are left out: they ask the
  // platform, not the drive.
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    char text[32];
    for (const auto& r : Machine().RequestLog()) {
      if (r.code == 0x2D1080) continue;
      if (r.code == 0x4D02C && r.in.size() >= 40)
        std::snprintf(text, sizeof text, "%02X/%02X/%02X", r.in[38], r.in[33], r.in[37]);
      else
        std::snprintf(text, sizeof text, "code %X", r.code);
      out.push_back(text);
    }
    return out;
  }
  // The data bytes (from byte 44 of the header) of the requests with
  // command byte `command`.
  std::vector<std::vector<uint8_t>> DataOf(uint8_t command) {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& r : Machine().RequestLog())
      if (r.code == 0x4D02C && r.in.size() >= 44 && r.in[38] == command)
        out.emplace_back(r.in.begin() + 44, r.in.end());
    return out;
  }
};

}  // namespace zel::test
