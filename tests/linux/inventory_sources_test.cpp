// The machine's description: os-release, cpuinfo, meminfo, SMBIOS memory
// modules, the mount table and the drive letters, and where volumes lie.
#include "platform/linux/inventory_sources.h"

#include <gtest/gtest.h>

#include <vector>

#include "linux/tree.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;

TEST(LinuxInventory, OperatingSystemName) {
  struct Case {
    const char* text;
    const char* name;
  } const cases[] = {
      {"NAME=\"Debian GNU/Linux\"\nVERSION=\"12 (bookworm)\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"PRETTY_NAME='Fedora Linux 40'\n", "Fedora Linux 40"},
      {"PRETTY_NAME=\"Quoted \\\"name\\\"\"\n", "Quoted \"name\""},
      {"NAME=Alpine\nVERSION=3.19\n", "Alpine 3.19"},
      {"NAME=Arch\n", "Arch"},
      {"", "Linux"},
  };
  for (const Case& c : cases) EXPECT_EQ(OsNameFromOsRelease(c.text), c.name) << c.text;
}

TEST(LinuxInventory, ProcessorsFromCpuinfo) {
  CpuInfo x86 = ParseCpuInfo(
      "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
      "physical id\t: 0\ncpu MHz\t\t: 3192.003\n\n"
      "processor\t: 1\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
      "physical id\t: 0\n\n");
  EXPECT_EQ(x86.modelName, "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
  EXPECT_EQ(x86.vendor, "GenuineIntel");
  EXPECT_EQ(x86.logicalProcessors, 2u);
  EXPECT_EQ(x86.packages, 1u);
  EXPECT_EQ(x86.mhz, 3192u);
  CpuInfo arm = ParseCpuInfo("processor\t: 0\nBogoMIPS\t: 48.00\nCPU part\t: 0xd08\n\nHardware\t: BCM2835\n");
  EXPECT_EQ(arm.modelName, "BCM2835");
  EXPECT_EQ(arm.logicalProcessors, 1u);
  EXPECT_EQ(AddressWidthOfMachine("x86_64"), 64);
  EXPECT_EQ(AddressWidthOfMachine("aarch64"), 64);
  EXPECT_EQ(AddressWidthOfMachine("i686"), 32);
  EXPECT_EQ(AddressWidthOfMachine("armv7l"), 32);
}

TEST(LinuxInventory, TotalMemory) {
  EXPECT_EQ(TotalMemoryBytes("MemTotal:        8388608 kB\nMemFree: 1 kB\n"), 8589934592ull);
  EXPECT_EQ(TotalMemoryBytes("MemFree: 1 kB\n"), std::nullopt);
  EXPECT_EQ(TotalMemoryBytes("MemTotal: lots\n"), std::nullopt);
}

// One SMBIOS structure: type, formatted area (after the 4-byte header) and strings.
void Structure(std::vector<uint8_t>& t, uint8_t type, std::vector<uint8_t> formatted,
               std::vector<std::string> strings) {
  t.push_back(type);
  t.push_back(static_cast<uint8_t>(4 + formatted.size()));
  t.push_back(0x11);
  t.push_back(0x00);
  t.insert(t.end(), formatted.begin(), formatted.end());
  for (const std::string& s : strings) {
    t.insert(t.end(), s.begin(), s.end());
    t.push_back(0);
  }
  if (strings.empty()) t.push_back(0);
  t.push_back(0);
}

// A type-17 formatted area of SMBIOS 2.8 (0x24 bytes after the header).
std::vector<uint8_t> MemoryDevice(uint16_t size, uint8_t locator, uint8_t bank, uint16_t speed, uint8_t maker,
                                  uint32_t extendedMb = 0) {
  std::vector<uint8_t> f(0x28 - 4, 0);
  auto at = [&](size_t offset) -> uint8_t& { return f[offset - 4]; };
  at(0x0C) = static_cast<uint8_t>(size);
  at(0x0D) = static_cast<uint8_t>(size >> 8);
  at(0x10) = locator;
  at(0x11) = bank;
  at(0x12) = 0x1A;  // DDR4
  at(0x15) = static_cast<uint8_t>(speed);
  at(0x16) = static_cast<uint8_t>(speed >> 8);
  at(0x17) = maker;
  for (int i = 0; i < 4; ++i) at(0x1C + i) = static_cast<uint8_t>(extendedMb >> (8 * i));
  return f;
}

TEST(LinuxInventory, MemoryModulesFromSmbios) {
  std::vector<uint8_t> t;
  Structure(t, 0, std::vector<uint8_t>(0x14, 0), {"BIOS Vendor", "1.0"});
  Structure(t, 17, MemoryDevice(8192, 1, 2, 2666, 3), {"DIMM A1", "BANK 0", "Samsung"});
  Structure(t, 17, MemoryDevice(0, 1, 2, 0, 0), {"DIMM A2", "BANK 1"});           // empty slot
  Structure(t, 17, MemoryDevice(0x8000 | 512, 1, 2, 0, 2), {"DIMM B1", "BANK 2"});  // 512 KB, maker = bank
  Structure(t, 17, MemoryDevice(0x7FFF, 1, 0, 3200, 0, 65536), {"DIMM B2"});       // extended size
  Structure(t, 127, {}, {});
  Structure(t, 17, MemoryDevice(1024, 1, 0, 0, 0), {"AFTER END"});
  std::vector<MemoryModule> m = ParseSmbiosMemory(t);
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].deviceLocator, "DIMM A1");
  EXPECT_EQ(m[0].bankLabel, "BANK 0");
  EXPECT_EQ(m[0].manufacturer, "Samsung");
  EXPECT_EQ(m[0].capacityBytes, 8192ull << 20);
  EXPECT_EQ(m[0].speed, 2666u);
  EXPECT_EQ(m[0].memoryType, 0x1Au);
  EXPECT_EQ(m[1].capacityBytes, 512ull << 10);
  EXPECT_EQ(m[1].manufacturer, "BANK 2");
  EXPECT_EQ(m[2].capacityBytes, 65536ull << 20);
  EXPECT_EQ(m[2].bankLabel, "");

  // A structure whose length runs past the table ends the walk, no more.
  std::vector<uint8_t> broken = t;
  broken[1] = 0xFF;
  EXPECT_TRUE(ParseSmbiosMemory(broken).empty());
  EXPECT_TRUE(ParseSmbiosMemory({}).empty());
}

TEST(LinuxInventory, MountInfoLines) {
  std::vector<MountEntry> m = ParseMountInfo(
      "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
      "36 28 8:1 / /mnt/my\\040disk rw,relatime shared:1 master:2 - vfat /dev/sda1 rw\n"
      "22 28 0:21 / /proc rw - proc proc rw\n"
      "garbage\n");
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0].mountPoint, "/");
  EXPECT_EQ(m[0].major, 254u);
  EXPECT_EQ(m[0].fsType, "ext4");
  EXPECT_EQ(m[0].source, "/dev/vda");
  EXPECT_EQ(m[1].mountPoint, "/mnt/my disk");
  EXPECT_EQ(m[1].fsType, "vfat");
  EXPECT_EQ(m[1].minor, 1u);
  EXPECT_EQ(m[2].major, 0u);
}

MountEntry Mount(uint32_t major, uint32_t minor, const char* point, const char* fs = "ext4") {
  MountEntry m;
  m.major = major;
  m.minor = minor;
  m.mountPoint = point;
  m.fsType = fs;
  return m;
}

TEST(LinuxInventory, DriveLettersAreStableAndDocumented) {
  test::TempTree t;
  t.CopyFixture("linux/mixed");
  HostFiles files(t.Root());
  std::vector<MountEntry> mounts = {
      Mount(8, 2, "/srv/b"), Mount(0, 30, "/run", "tmpfs"), Mount(8, 1, "/boot/efi", "vfat"),
      Mount(254, 0, "/"),    Mount(7, 0, "/snap/core"),     Mount(8, 2, "/srv/a-bind"),
      Mount(259, 1, "/data", "ntfs3"),
  };
  std::vector<LetteredVolume> v = AssignDriveLetters(mounts, IsVolumeDevice, files);
  std::string letters;
  for (const LetteredVolume& l : v) letters += std::string(1, l.letter) + "=" + l.mount.mountPoint + ":" + l.fileSystemName + " ";
  // "/" first; then by mount point; a device mounted twice keeps its first
  // mount point in that order; loop devices and memory file systems get none.
  EXPECT_EQ(letters, "C=/:ext4 D=/boot/efi:FAT32 E=/data:NTFS F=/srv/a-bind:ext4 ");

  std::vector<MountEntry> many;
  for (uint32_t i = 0; i < 30; ++i) many.push_back(Mount(8, i, ("/m/" + std::string(1, char('a' + i % 26)) + std::to_string(i)).c_str()));
  std::vector<LetteredVolume> lots = AssignDriveLetters(many, nullptr, files);
  ASSERT_EQ(lots.size(), 24u);  // C: to Z:
  EXPECT_EQ(lots.back().letter, 'Z');
}

TEST(LinuxInventory, WhereABlockDeviceLies) {
  HostFiles files(std::string(ZEL_FIXTURES_DIR) + "/linux/mixed");
  std::optional<VolumePlacement> p = PlaceBlockDevice(files, 8, 1);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->diskName, "sda");
  EXPECT_EQ(p->partition, 1u);
  EXPECT_EQ(p->startBytes, 2048ull * 512);
  EXPECT_EQ(p->lengthBytes, 1024000ull * 512);
  EXPECT_TRUE(p->extentKnown);

  p = PlaceBlockDevice(files, 254, 0);  // a whole disk
  ASSERT_TRUE(p);
  EXPECT_EQ(p->diskName, "vda");
  EXPECT_EQ(p->partition, 0u);
  EXPECT_EQ(p->startBytes, 0u);

  p = PlaceBlockDevice(files, 253, 0);  // device mapper over sda2
  ASSERT_TRUE(p);
  EXPECT_EQ(p->diskName, "sda");
  EXPECT_EQ(p->partition, 2u);
  EXPECT_FALSE(p->extentKnown);

  EXPECT_FALSE(PlaceBlockDevice(files, 9, 9));
}

}  // namespace
}  // namespace zel
