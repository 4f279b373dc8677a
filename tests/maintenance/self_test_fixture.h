// The fixture of the self-test tests: a simulated machine with the trace log
// on, and the first drive as discovery records it, with the request log
// cleared so a test sees only what the self-test sent.
#pragma once

#include "device/ata_command.h"
#include "log/log.h"
#include "support/sim_fixture.h"

namespace zel::test {

class SelfTestFixture : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
  }
  PhysicalDriveRecord Drive() {
    ATACommand ata;
    PhysicalDriveTable table;
    EXPECT_EQ(ata.UpdatePhysicalDrivesInfo(table), 1);
    Machine().ClearRequestLog();
    return table.empty() ? PhysicalDriveRecord{} : table[0];
  }
};

}  // namespace zel::test
