// Storage controllers from sysfs: identifiers, drivers and PCI Express links.
#include "platform/linux/pci.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

using namespace zel::linuxbackend;

TEST(LinuxPci, LinkSpeedTextsBecomeGenerations) {
  struct Case {
    const char* text;
    uint32_t generation;
  } const cases[] = {
      {"2.5 GT/s PCIe", 1}, {"5.0 GT/s PCIe", 2}, {"8.0 GT/s PCIe", 3}, {"16.0 GT/s PCIe", 4},
      {"32.0 GT/s PCIe", 5}, {"64.0 GT/s PCIe", 6}, {"2.5 GT/s", 1},   {"5 GT/s", 2},
      {"8 GT/s", 3},         {"Unknown", 0},        {"Unknown speed", 0}, {"", 0},
      {"25 GT/s", 0},        {"2.5", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(PcieGenerationFromText(c.text), c.generation) << c.text;
}

TEST(LinuxPci, LinkWidthTexts) {
  struct Case {
    const char* text;
    uint32_t width;
  } const cases[] = {{"1", 1}, {"4", 4}, {"16", 16}, {"x8", 8}, {"0", 0}, {"255", 0}, {"", 0}, {"4x", 0}};
  for (const Case& c : cases) EXPECT_EQ(PcieWidthFromText(c.text), c.width) << c.text;
}

TEST(LinuxPci, AddressOfTheNearestPciFunction) {
  EXPECT_EQ(PciAddressOf("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0"), "0000:00:1f.2");
  EXPECT_EQ(PciAddressOf("/sys/devices/pci0000:00/0000:00:01.0/0000:01:00.0/nvme/nvme0"), "0000:01:00.0");
  EXPECT_EQ(PciAddressOf("/sys/devices/virtual/block/loop0"), "");
}

TEST(LinuxPci, ControllersOfTheMixedMachine) {
  std::vector<StorageController> list =
      ScanControllers(HostFiles(std::string(ZEL_FIXTURES_DIR) + "/linux/mixed"));
  // The USB host (class 0c) and the PCIe root ports (class 06) are no
  // storage controllers.
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].address, "0000:00:02.0");
  EXPECT_EQ(list[1].address, "0000:00:1f.2");
  EXPECT_EQ(list[2].address, "0000:01:00.0");
  EXPECT_EQ(list[3].address, "0000:02:00.0");

  const StorageController& ahci = list[1];
  EXPECT_EQ(ahci.name, "Standard SATA AHCI Controller");
  EXPECT_TRUE(ahci.IsIdeClass());
  EXPECT_EQ(ahci.ClassCodeText(), "010601");
  EXPECT_EQ(ahci.driver, "ahci");
  EXPECT_EQ(ahci.driverVersion, "3.0");
  EXPECT_EQ(ahci.instanceId, "PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02\\3&0000001F2&0");
  EXPECT_EQ(ahci.hardwareIds,
            (std::vector<std::string>{"PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4&REV_02",
                                      "PCI\\VEN_8086&DEV_2922&SUBSYS_11001AF4",
                                      "PCI\\VEN_8086&DEV_2922&CC_010601", "PCI\\VEN_8086&DEV_2922&CC_0106"}));
  EXPECT_FALSE(ahci.link.has_value());

  const StorageController& nvme = list[2];
  EXPECT_EQ(nvme.name, "Standard NVM Express Controller");
  EXPECT_FALSE(nvme.IsIdeClass());
  EXPECT_EQ(nvme.ClassCodeText(), "010802");
  ASSERT_TRUE(nvme.link.has_value());
  EXPECT_EQ(nvme.link->currentSpeed, 1u);
  EXPECT_EQ(nvme.link->currentWidth, 1u);
  EXPECT_EQ(nvme.link->maxSpeed, 4u);
  EXPECT_EQ(nvme.link->maxWidth, 4u);

  // A driver without a module version reports the kernel's release.
  EXPECT_EQ(list[0].driver, "virtio-pci");
  EXPECT_EQ(list[0].driverVersion, "6.1.0-57-amd64");
}

}  // namespace
}  // namespace zel
