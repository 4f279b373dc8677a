// What keeps a real disk in use without a drive letter (swap, a mount
// without a letter, holders), and the system drive, answered from a copied
// sysfs tree, its swap list and mount table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "linux/tree.h"
#include "platform/linux/linux_platform.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using platform::DiskUse;
using platform::DiskUseKind;

const std::string kSda = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";

class LinuxDiskUses : public ::testing::Test {
 protected:
  void SetUp() override { tree_.CopyFixture("linux/mixed"); }
  std::shared_ptr<platform::Platform> Platform() {
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    return MakeLinuxPlatform(o);
  }
  test::TempTree tree_;
};

TEST_F(LinuxDiskUses, FindsSwapMountsWithoutALetterAndHolders) {
  // sda1 is mounted twice: /boot takes the letter, /srv/again has none. A
  // third partition holds swap; sda2 holds the device-mapper volume dm-0.
  tree_.File("/proc/self/mountinfo",
             "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
             "30 28 8:1 / /boot rw - vfat /dev/sda1 rw\n"
             "32 28 8:1 / /srv/again rw - vfat /dev/sda1 rw\n"
             "33 28 0:40 / /run rw - tmpfs tmpfs rw\n");
  tree_.File(kSda + "/sda3/dev", "8:3").File(kSda + "/sda3/partition", "3");
  tree_.File(kSda + "/sda3/start", "2095104").File(kSda + "/sda3/size", "2048");
  tree_.File("/proc/swaps",
             "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n/dev/sda3  partition\t1024\t0\t-2");
  tree_.Link(kSda + "/sda2/holders/dm-0", "../../../../../../../../../virtual/block/dm-0");
  auto machine = Platform();
  EXPECT_EQ(machine->Uses().UnletteredUses(0),
            (std::vector<DiskUse>{{DiskUseKind::Swap, "/dev/sda3"},
                                  {DiskUseKind::Mount, "/srv/again"},
                                  {DiskUseKind::Holder, "dm-0"}}));
  // The USB disk is in no use; an unknown disk has none.
  EXPECT_TRUE(machine->Uses().UnletteredUses(1).empty());
  EXPECT_TRUE(machine->Uses().UnletteredUses(42).empty());
}

TEST_F(LinuxDiskUses, TheSystemDriveIsTheLetterOfRootWhenRootIsOnABlockDevice) {
  tree_.File("/proc/self/mountinfo",
             "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
             "30 28 8:1 / /boot rw - vfat /dev/sda1 rw\n");
  EXPECT_EQ(Platform()->Sys().GetEnvironmentVariable("SystemDrive"), "C:");

  // An initramfs root: no system drive, though sda1 is lettered C:.
  tree_.File("/proc/self/mountinfo",
             "1 1 0:2 / / rw - rootfs rootfs rw\n"
             "30 1 8:1 / /mnt/d rw - vfat /dev/sda1 rw\n");
  EXPECT_EQ(Platform()->Sys().GetEnvironmentVariable("SystemDrive"), std::nullopt);
}

}  // namespace
}  // namespace zel
