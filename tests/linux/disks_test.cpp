// The disks of a machine from sysfs: which are numbered, in what order, how
// they are named, and why the others are left out.
#include "platform/linux/disks.h"

#include <gtest/gtest.h>

#include <string>

#include "linux/tree.h"
#include "platform/text.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;

std::string FixtureRoot(const std::string& name) { return std::string(ZEL_FIXTURES_DIR) + "/linux/" + name; }

TEST(LinuxDisks, MixedMachineNumbersOnlyDrivesTheCommandsCanReach) {
  DiskScan scan = ScanDisks(HostFiles(FixtureRoot("mixed")));
  ASSERT_EQ(scan.disks.size(), 4u);
  struct Expected {
    const char* name;
    DiskBus bus;
    const char* busName;
    const char* interfaceType;
    uint64_t size;
    int32_t port;
  } const expected[] = {
      {"sda", DiskBus::Ata, "ide", "IDE", 2097152ull * 512, 0},
      {"sdb", DiskBus::Usb, "usbstor", "USB", 60063744ull * 512, 6},
      {"nvme0n1", DiskBus::Nvme, "scsi", "SCSI", 4194304ull * 512, 7},
      {"nvme1n1", DiskBus::Nvme, "scsi", "SCSI", 976773168ull * 512, 8},
  };
  for (size_t i = 0; i < 4; ++i) {
    const LinuxDisk& d = scan.disks[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(d.number, static_cast<int32_t>(i));
    EXPECT_EQ(d.name, expected[i].name);
    EXPECT_EQ(d.bus, expected[i].bus);
    EXPECT_STREQ(d.BusName(), expected[i].busName);
    EXPECT_STREQ(d.InterfaceType(), expected[i].interfaceType);
    EXPECT_EQ(d.sizeBytes, expected[i].size);
    EXPECT_EQ(d.portNumber, expected[i].port);
    // The platform's rule: the interface path with "#" read as "\" holds
    // the PnP identifier, lower-cased.
    EXPECT_TRUE(Contains(ReplaceAll(d.interfacePath, "#", "\\"), ToLowerAscii(d.pnpDeviceId)))
        << d.interfacePath << " / " << d.pnpDeviceId;
    EXPECT_EQ(d.interfacePath, ToLowerAscii(d.interfacePath));
  }
  const LinuxDisk& sda = scan.disks[0];
  EXPECT_EQ(sda.pnpDeviceId, "IDE\\DISKQUARN_SSD_KD765_SVMU\\1&0000001F2&0&0.0.0");
  EXPECT_EQ(sda.interfacePath,
            "\\\\?\\ide#diskquarn_ssd_kd765_svmu#1&0000001f2&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  EXPECT_EQ(sda.pciAddress, "0000:00:1f.2");
  EXPECT_EQ(sda.ataPort, 0);
  EXPECT_EQ(scan.disks[1].pnpDeviceId,
            "USBSTOR\\DISK&VEN_SANDISK&PROD_ULTRA_FIT&REV_1.00\\4C530001231119115514&0");
  const LinuxDisk& nvme = scan.disks[2];
  EXPECT_EQ(nvme.pnpDeviceId, "SCSI\\DISK&VEN_NVME&PROD_QUARN_NVME_SSD_QN990_1TB\\5&000001000&0&000001");
  EXPECT_EQ(nvme.nvmeController, "nvme0");
  EXPECT_EQ(nvme.model, "QUARN NVMe SSD QN990 1TB");
  EXPECT_EQ(nvme.serial, "QN990SN0001");
  EXPECT_EQ(nvme.revision, "QN1.2");
  // A multipath namespace lives in its subsystem and is reached through its controller.
  EXPECT_EQ(scan.disks[3].nvmeController, "nvme1");
  EXPECT_EQ(scan.disks[3].pciAddress, "0000:02:00.0");
}

TEST(LinuxDisks, EverythingElseIsSeenAndLeftOutWithAReason) {
  DiskScan scan = ScanDisks(HostFiles(FixtureRoot("mixed")));
  struct Expected {
    const char* name;
    const char* kind;
  } const expected[] = {{"dm-0", "virtual"},   {"loop0", "virtual"}, {"nvme1c1n1", "hidden"},
                        {"sr0", "optical"},    {"vda", "virtio"},    {"zram0", "virtual"}};
  ASSERT_EQ(scan.leftOut.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(scan.leftOut[i].name, expected[i].name);
    EXPECT_EQ(scan.leftOut[i].kind, expected[i].kind) << expected[i].name;
    EXPECT_FALSE(scan.leftOut[i].reason.empty()) << expected[i].name;
  }
  EXPECT_TRUE(Contains(scan.leftOut[4].reason, "virtio")) << scan.leftOut[4].reason;
}

TEST(LinuxDisks, NumbersFollowKernelNamesNotFolderOrder) {
  test::TempTree t;
  t.AtaDisk("sdaa", 0, "D").AtaDisk("sdb", 1, "B").AtaDisk("sda", 2, "A").AtaDisk("sdz", 3, "C");
  t.NvmeNamespace(1, 1, "N11").NvmeNamespace(0, 2, "N02").NvmeNamespace(0, 1, "N01");
  DiskScan scan = ScanDisks(HostFiles(t.Root()));
  std::string order;
  for (const LinuxDisk& d : scan.disks) order += d.name + " ";
  EXPECT_EQ(order, "sda sdb sdz sdaa nvme0n1 nvme0n2 nvme1n1 ");
  // NVMe adapters take the ports after the highest SCSI host (3).
  EXPECT_EQ(scan.ByName("nvme0n2")->portNumber, 4);
  EXPECT_EQ(scan.ByName("nvme1n1")->portNumber, 5);
  EXPECT_EQ(scan.ByInterfacePath(ToUpperAscii(scan.disks[1].interfacePath))->name, "sdb");
  EXPECT_EQ(scan.ByNumber(6)->name, "nvme1n1");
  EXPECT_EQ(scan.ByNumber(7), nullptr);
}

TEST(LinuxDisks, IdenticalDisksNeverShareAnIdentifier) {
  // Two USB sticks of one kind without serial numbers on the same port path
  // would get the same identifier; the second one is told apart.
  test::TempTree t;
  for (const char* name : {"sdb", "sdc"}) {
    std::string n = name;
    std::string dev = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0-" + n;
    t.File(dev + "/type", "0").File(dev + "/vendor", "Generic").File(dev + "/model", "Flash Disk");
    t.File(dev + "/block/" + n + "/size", "8");
    t.Link(dev + "/block/" + n + "/device", "../../../6:0:0:0-" + n);
    t.Link("/sys/block/" + n, "../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0-" +
                                  n + "/block/" + n);
  }
  t.File("/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1/idVendor", "058f");
  DiskScan scan = ScanDisks(HostFiles(t.Root()));
  ASSERT_EQ(scan.disks.size(), 2u);
  EXPECT_NE(ToLowerAscii(scan.disks[0].pnpDeviceId), ToLowerAscii(scan.disks[1].pnpDeviceId));
  EXPECT_NE(scan.disks[0].interfacePath, scan.disks[1].interfacePath);
}

TEST(LinuxDisks, PnpTextKeepsOnlyCharactersThatAreSafeInPaths) {
  struct Case {
    const char* in;
    size_t max;
    const char* out;
  } const cases[] = {
      {"  QUARN SSD  ", 40, "QUARN_SSD"},
      {"a#b\\c/d", 40, "A_B_C_D"},
      {"v1.0-rc", 40, "V1.0-RC"},
      {"ABCDEFGHIJ", 4, "ABCD"},
      {"", 8, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(PnpText(c.in, c.max), c.out) << c.in;
}

TEST(LinuxDisks, AnEmptyOrMissingSysfsHasNoDisks) {
  test::TempTree t;
  EXPECT_TRUE(ScanDisks(HostFiles(t.Root())).disks.empty());
  EXPECT_TRUE(ScanDisks(HostFiles(t.Root() + "/nowhere")).disks.empty());
}

}  // namespace
}  // namespace zel
