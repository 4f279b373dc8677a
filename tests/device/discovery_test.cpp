#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "device/pcie_link.h"
#include "report/log.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class DiscoveryTest : public test::SimTest {};

TEST_F(DiscoveryTest, MixedMachine) {
  UseMachine(R"({"drives": [
      {"index": 0, "model": "QUARN SSD KD765KK 512GB", "size": 512110190592,
       "smart": {"attributes": [{"id": 9, "current": 100, "worst": 100, "raw": 1234, "threshold": 0}]}},
      {"index": 1, "kind": "nvme", "model": "QUARN NVMe", "scsiPort": 5},
      {"index": 2, "bus": "usb"}]})");
  SetLogLevel(1);
  PhysicalDriveTable table;
  ATACommand ata;
  int n = ata.UpdatePhysicalDrivesInfo(table);
  ASSERT_EQ(n, 2);
  EXPECT_EQ(table[0].ModelName, "QUARN SSD KD765KK 512GB");
  EXPECT_EQ(table[0].DiskSizeGB, 512u);
  EXPECT_EQ(table[0].BusType, kBusAta);
  EXPECT_EQ(table[1].BusType, kBusNvme);
  EXPECT_EQ(table[1].ModelName, "QUARN NVMe");
  PcieLinkInfo link = GetPcieLinkInfo(1);
  EXPECT_EQ(link.CurrentLinkSpeed, 3u);
  EXPECT_EQ(link.CurrentLinkWidth, 4u);
}

}  // namespace
}  // namespace zel
