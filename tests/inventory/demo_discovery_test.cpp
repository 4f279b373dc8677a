#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "health/smart_health.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class DemoMachineTest : public test::SimTest {
  std::string MachineJson() const override { return std::string(sim::DemoMachineJson()); }
};

TEST_F(DemoMachineTest, ListsEveryDriveButTheUsbDisk) {
  PhysicalDriveTable table;
  ATACommand ata;
  ASSERT_EQ(ata.UpdatePhysicalDrivesInfo(table), 8);
  struct Expect {
    int32_t index;
    int32_t bus;
    uint64_t gb;
    int status;
    int32_t life;
    int64_t written;
    uint16_t temperature;
  } expect[] = {
      {0, kBusAta, 512, 1, 97, 6144, 32},     {1, kBusAta, 256, 1, 88, 2048, 29},
      {2, kBusAta, 1024, 1, 76, 42000, 75},   {3, kBusAta, 480, 3, 31, 12500, 30},
      {4, kBusNvme, 1000, 1, 93, 10485, 38},  {5, kBusAta, 500, 1, 100, 286960514, 34},
      {7, kBusAta, 240, 3, 55, 5120, 0xFFFF}, {8, kBusAta, 128, 1, 42, 1024, 22},
  };
  for (size_t i = 0; i < table.size(); ++i) {
    const PhysicalDriveRecord& r = table[i];
    EXPECT_EQ(r.PhysicalDriveIndex, expect[i].index) << i;
    EXPECT_EQ(r.BusType, expect[i].bus) << i;
    EXPECT_EQ(r.DiskSizeGB, expect[i].gb) << i;
    EXPECT_EQ(CheckDiskStatus(r), expect[i].status) << i;
    EXPECT_EQ(GetRemainingLife(r), expect[i].life) << i;
    EXPECT_EQ(GetTotalBytesWritten(r), expect[i].written) << i;
    EXPECT_EQ(GetDriveTemperature(r), expect[i].temperature) << i;
  }
  for (const auto& req : Machine().RequestLog()) EXPECT_EQ(req.path.find("usbstor"), std::string::npos);
}

}  // namespace
}  // namespace zel
