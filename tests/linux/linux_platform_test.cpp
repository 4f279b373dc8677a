// The Linux platform over a copied sysfs/procfs tree: version, device tree,
// device handles, volumes, and what a user is told about the disks.
#include "platform/linux/linux_platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "device/disk_interfaces.h"
#include "linux/tree.h"
#include "platform/bytes.h"
#include "platform/linux/linux_machine.h"
#include "platform/linux/linux_wmi.h"
#include "platform/text.h"
#include "platform/wire/storage.h"
#include "platform/wql/statement.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LinuxPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.CopyFixture("linux/mixed");
    tree_.File("/proc/self/mountinfo",
               "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
               "30 28 8:1 / /boot rw - vfat /dev/sda1 rw\n"
               "31 28 253:0 / /data rw - ext4 /dev/mapper/vg-data rw\n"
               "32 28 7:0 / /snap/core rw - squashfs /dev/loop0 ro\n"
               "33 28 11:0 / /media/cdrom ro - iso9660 /dev/sr0 ro\n"
               "34 28 259:1 / /fast rw - ntfs3 /dev/nvme0n1p1 rw\n");
    tree_.File("/proc/self/status", "Name:\ttest\nCapEff:\t000001ffffffffff\n");
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    options_ = o;
    platform_ = MakeLinuxPlatform(o);
  }

  uint32_t DeviceNumberOf(const std::string& path, wire::StorageDeviceNumber* out) {
    DeviceIo& io = platform_->Devices();
    HANDLE h = io.CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    uint8_t buf[wire::StorageDeviceNumber::kSize] = {};
    uint32_t got = 0;
    bool ok = io.DeviceIoControl(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, buf, sizeof buf, &got);
    uint32_t error = ok ? ERROR_SUCCESS : GetLastError();
    io.CloseHandle(h);
    if (ok) {
      EXPECT_EQ(got, wire::StorageDeviceNumber::kSize);
      *out = wire::StorageDeviceNumber::Decode(buf);
    }
    return error;
  }

  test::TempTree tree_;
  LinuxPlatformOptions options_;
  std::shared_ptr<Platform> platform_;
};

TEST_F(LinuxPlatformTest, ReportsTheVersionWhoseRulesFitTheBackend) {
  OSVERSIONINFOEXW v;
  v.dwOSVersionInfoSize = kOsVersionInfoExSize;
  ASSERT_TRUE(platform_->Sys().GetVersionExW(&v));
  EXPECT_EQ(v.dwMajorVersion, 6u);
  EXPECT_EQ(v.dwMinorVersion, 1u);
  EXPECT_EQ(v.dwPlatformId, 2u);
  EXPECT_EQ(v.szCSDVersion, "Service Pack 1");
  OSVERSIONINFOEXW basic;
  basic.dwOSVersionInfoSize = kOsVersionInfoSize;
  ASSERT_TRUE(platform_->Sys().GetVersionExW(&basic));
  EXPECT_EQ(basic.wServicePackMajor, 0);
  OSVERSIONINFOEXW odd;
  odd.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(platform_->Sys().GetVersionExW(&odd));
}

TEST_F(LinuxPlatformTest, DiskInterfacesEnumerateInDiskNumberOrder) {
  DeviceTree& t = platform_->Tree();
  HDEVINFO set = t.SetupDiGetClassDevsW(GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_DEVINFO);
  std::vector<std::string> paths;
  for (uint32_t i = 0; t.SetupDiEnumDeviceInterfaces(set, GUID_DEVINTERFACE_DISK, i); ++i) {
    uint8_t detail[1024] = {};
    PutLE32(detail, 6);
    uint32_t required = 0;
    ASSERT_TRUE(t.SetupDiGetDeviceInterfaceDetailW(set, i, detail, sizeof detail, &required));
    paths.push_back(Utf16LeBytesToUtf8(detail + 4, required - 6));
  }
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
  ASSERT_EQ(paths.size(), 4u);
  EXPECT_TRUE(StartsWith(paths[0], "\\\\?\\ide#disk")) << paths[0];
  EXPECT_TRUE(StartsWith(paths[1], "\\\\?\\usbstor#disk")) << paths[1];
  EXPECT_TRUE(StartsWith(paths[2], "\\\\?\\scsi#disk&ven_nvme")) << paths[2];

  // The detail block's size field must be 6; a small block tells the size it needs.
  uint8_t detail[16] = {};
  uint32_t required = 0;
  PutLE32(detail, 6);
  EXPECT_FALSE(t.SetupDiGetDeviceInterfaceDetailW(set, 0, detail, sizeof detail, &required));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, 4 + 2 * (paths[0].size() + 1));
  uint8_t wrong[1024] = {};
  PutLE32(wrong, 8);
  EXPECT_FALSE(t.SetupDiGetDeviceInterfaceDetailW(set, 0, wrong, sizeof wrong, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(t.SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(t.SetupDiDestroyDeviceInfoList(set));
}

TEST_F(LinuxPlatformTest, StorageAdaptersCarryInstanceIdsAndPcieLinks) {
  DeviceTree& t = platform_->Tree();
  HDEVINFO set = t.SetupDiGetClassDevsW(GUID_DEVCLASS_SCSIADAPTER, DIGCF_PRESENT);
  std::vector<std::string> ids;
  uint32_t inst = 0;
  for (uint32_t i = 0; t.SetupDiEnumDeviceInfo(set, i, &inst); ++i) {
    char16_t buf[260];
    ASSERT_EQ(t.CM_Get_Device_IDW(inst, buf, 260), CR_SUCCESS);
    ids.push_back(Utf16ToUtf8(buf));
    char16_t tiny[4];
    EXPECT_EQ(t.CM_Get_Device_IDW(inst, tiny, 4), CR_BUFFER_SMALL);
  }
  ASSERT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids[2], "PCI\\VEN_1B36&DEV_0010&SUBSYS_11001AF4&REV_02\\3&000001000&0");
  struct Case {
    DEVPROPKEY key;
    uint32_t value;
  } const cases[] = {{DEVPKEY_PciDevice_MaxLinkSpeed, 4},
                     {DEVPKEY_PciDevice_MaxLinkWidth, 4},
                     {DEVPKEY_PciDevice_CurrentLinkSpeed, 1},
                     {DEVPKEY_PciDevice_CurrentLinkWidth, 1}};
  for (const Case& c : cases) {
    uint8_t buf[4] = {};
    uint32_t type = 0, required = 0;
    ASSERT_TRUE(t.SetupDiGetDevicePropertyW(set, 2, c.key, &type, buf, sizeof buf, &required));
    EXPECT_EQ(type, DEVPROP_TYPE_UINT32);
    EXPECT_EQ(GetLE32(buf), c.value);
  }
  // The AHCI function is no PCI Express device: no link properties.
  uint8_t buf[4];
  uint32_t type = 0, required = 0;
  EXPECT_FALSE(t.SetupDiGetDevicePropertyW(set, 1, DEVPKEY_PciDevice_MaxLinkSpeed, &type, buf, 4, &required));
  EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
  t.SetupDiDestroyDeviceInfoList(set);
  EXPECT_TRUE(t.HasLibraryFunction("cfgmgr32.dll", "CM_Reenumerate_DevNode"));
  EXPECT_TRUE(t.HasLibraryFunction("Setupapi.dll", "SetupDiGetDevicePropertyW"));
  EXPECT_FALSE(t.HasLibraryFunction("kernel32.dll", "CreateFileW"));
}

TEST_F(LinuxPlatformTest, RescanAsksEveryScsiHostAndNvmeController) {
  DeviceTree& t = platform_->Tree();
  uint32_t root = 0;
  ASSERT_EQ(t.CM_Locate_DevNodeW(&root, nullptr, 0), CR_SUCCESS);
  EXPECT_EQ(t.CM_Reenumerate_DevNode(root, 0), CR_SUCCESS);
  for (const char* host : {"host0", "host1", "host6"})
    EXPECT_EQ(ReadAll(tree_.Root() + "/sys/class/scsi_host/" + host + "/scan"), "- - -") << host;
  EXPECT_EQ(ReadAll(tree_.Root() + "/sys/class/nvme/nvme0/rescan_controller"), "1");
  // A host that refuses the rescan makes it fail.
  ::unlink((tree_.Root() + "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/scsi_host/host0/scan").c_str());
  EXPECT_EQ(t.CM_Reenumerate_DevNode(root, 0), CR_FAILURE);
}

TEST_F(LinuxPlatformTest, DrivesOpenByNumberAndInterfacePath) {
  wire::StorageDeviceNumber n;
  ASSERT_EQ(DeviceNumberOf("\\\\.\\PhysicalDrive2", &n), ERROR_SUCCESS);
  EXPECT_EQ(n.DeviceType, FILE_DEVICE_DISK);
  EXPECT_EQ(n.DeviceNumber, 2u);
  EXPECT_EQ(n.PartitionNumber, 0u);
  DiskSurveyEntry first = SurveyDisks(options_)[0];
  std::string path = ToUpperAscii("\\\\?\\ide#diskquarn_ssd_kd765_svmu#1&0000001f2&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
  ASSERT_EQ(DeviceNumberOf(path, &n), ERROR_SUCCESS);
  EXPECT_EQ(n.DeviceNumber, 0u);
  EXPECT_EQ(DeviceNumberOf("\\\\.\\PhysicalDrive9", &n), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeviceNumberOf("\\\\?\\ide#nothing", &n), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeviceNumberOf("C:\\some\\file", &n), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(platform_->Devices().CreateFileW("\\\\.\\PhysicalDrive0", 0, 3, /*CREATE_ALWAYS*/ 2, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(LinuxPlatformTest, VolumesGetLettersAndLieOnTheirDisks) {
  struct Case {
    const char* path;
    uint32_t error, type, number, partition;
  } const cases[] = {
      {"\\\\.\\C:", ERROR_INVALID_FUNCTION, 0, 0, 0},  // "/" on the virtio disk, which has no number
      {"\\\\.\\D:", ERROR_SUCCESS, FILE_DEVICE_DISK, 0, 1},   // /boot on sda1
      {"\\\\.\\e:", ERROR_SUCCESS, FILE_DEVICE_DISK, 0, 2},   // /data: device mapper over sda2
      {"\\\\.\\F:", ERROR_SUCCESS, FILE_DEVICE_DISK, 2, 1},   // /fast on nvme0n1p1
      {"\\\\.\\G:", ERROR_SUCCESS, FILE_DEVICE_CD_ROM, 0, 0}, // /media/cdrom
      {"\\\\.\\H:", ERROR_FILE_NOT_FOUND, 0, 0, 0},           // the loop device got no letter
  };
  for (const Case& c : cases) {
    wire::StorageDeviceNumber n;
    EXPECT_EQ(DeviceNumberOf(c.path, &n), c.error) << c.path;
    if (c.error != ERROR_SUCCESS) continue;
    EXPECT_EQ(n.DeviceType, c.type) << c.path;
    if (c.type == FILE_DEVICE_DISK) {
      EXPECT_EQ(n.DeviceNumber, c.number) << c.path;
      EXPECT_EQ(n.PartitionNumber, c.partition) << c.path;
    }
  }
}

TEST_F(LinuxPlatformTest, SharingRulesHoldBetweenHandles) {
  DeviceIo& io = platform_->Devices();
  tree_.File("/dev/nvme0", "");
  HANDLE a = io.CreateFileW("\\\\.\\SCSI7:", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  ASSERT_NE(a, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(io.CreateFileW("\\\\.\\SCSI7:", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  EXPECT_TRUE(io.CloseHandle(a));
  EXPECT_FALSE(io.CloseHandle(a));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // No adapter on port 5.
  EXPECT_EQ(io.CreateFileW("\\\\.\\SCSI5:", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxPlatformTest, RawReadsComeFromTheDeviceNode) {
  std::string sectors(1024, '\0');
  sectors[510] = 0x55;
  sectors[511] = static_cast<char>(0xAA);
  sectors[512] = 'E';
  tree_.File("/dev/sda", "");
  {
    std::ofstream(tree_.Root() + "/dev/sda", std::ios::binary) << sectors;
  }
  DeviceIo& io = platform_->Devices();
  HANDLE h = io.CreateFileW("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  uint8_t buf[512];
  uint32_t got = 0;
  ASSERT_TRUE(io.ReadFile(h, buf, 512, &got));
  EXPECT_EQ(got, 512u);
  EXPECT_EQ(buf[510], 0x55);
  EXPECT_EQ(buf[511], 0xAA);
  ASSERT_TRUE(io.ReadFile(h, buf, 512, &got));
  EXPECT_EQ(buf[0], 'E');
  ASSERT_TRUE(io.ReadFile(h, buf, 512, &got));
  EXPECT_EQ(got, 0u);  // the end of the device
  io.CloseHandle(h);
  // A query-only handle has no data to read.
  HANDLE q = io.CreateFileW("\\\\.\\PhysicalDrive0", 0, 3, OPEN_EXISTING, 0);
  EXPECT_FALSE(io.ReadFile(q, buf, 512, &got));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  io.CloseHandle(q);
}

TEST_F(LinuxPlatformTest, APermissionFailureIsAccessDeniedNeverSuccess) {
  std::string node = tree_.Root() + "/dev/sda";
  tree_.File("/dev/sda", "x");
  ::chmod(node.c_str(), 0600);
  ::chmod(tree_.Root().c_str(), 0755);  // the tree itself stays readable to everyone
  auto attempt = [&]() {
    std::shared_ptr<Platform> p = MakeLinuxPlatform(options_);
    HANDLE h = p->Devices().CreateFileW("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
    return h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED;
  };
  if (::geteuid() == 0) {
    // As a user who is not root: the open is refused, and said to be.
    EXPECT_EXIT(
        {
          if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(3);
          std::_Exit(attempt() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
  } else {
    ::chmod(node.c_str(), 0);
    EXPECT_TRUE(attempt());
  }
}

TEST_F(LinuxPlatformTest, SurveySaysWhyEachDiskIsOrIsNotUsable) {
  tree_.File("/dev/sda", "").File("/dev/nvme0n1", "");
  tree_.File("/proc/self/status", "Name:\ttest\nCapEff:\t0000000000000000\n");
  std::vector<DiskSurveyEntry> s = SurveyDisks(options_);
  ASSERT_EQ(s.size(), 10u);
  EXPECT_EQ(s[0].name, "sda");
  EXPECT_FALSE(s[0].usable);
  EXPECT_TRUE(Contains(s[0].reason, "CAP_SYS_RAWIO")) << s[0].reason;
  EXPECT_TRUE(Contains(s[1].reason, "USB")) << s[1].reason;
  EXPECT_EQ(s[2].bus, "nvme");
  EXPECT_TRUE(Contains(s[2].reason, "CAP_SYS_ADMIN")) << s[2].reason;
  EXPECT_TRUE(Contains(s[3].reason, "does not exist")) << s[3].reason;
  for (size_t i = 4; i < s.size(); ++i) {
    EXPECT_EQ(s[i].number, -1) << s[i].name;
    EXPECT_FALSE(s[i].reason.empty()) << s[i].name;
  }
  std::vector<std::string> report = SurveyReport(s);
  ASSERT_EQ(report.size(), 7u);
  EXPECT_TRUE(StartsWith(report[0], "/dev/sda (disk 0): this process lacks CAP_SYS_RAWIO")) << report[0];
  EXPECT_TRUE(StartsWith(report[4], "/dev/sr0: it is an optical drive")) << report[4];
  EXPECT_TRUE(StartsWith(report[5], "/dev/vda: it is a virtio disk")) << report[5];
  EXPECT_EQ(report[6], "4 virtual block devices (dm-0, loop0, nvme1c1n1, zram0): not drives");

  tree_.File("/proc/self/status", "Name:\ttest\nCapEff:\t000001ffffffffff\n");
  s = SurveyDisks(options_);
  EXPECT_TRUE(s[0].usable) << s[0].reason;
  EXPECT_TRUE(s[2].usable) << s[2].reason;
  // A disk that could be reached but gave no drive is named too, and a
  // machine without block devices says so.
  report = SurveyReport(s);
  EXPECT_TRUE(StartsWith(report[0], "/dev/sda (disk 0): it can be sent commands, but did not answer"))
      << report[0];
  EXPECT_EQ(SurveyReport({}), std::vector<std::string>{"/sys/block shows no block devices at all"});
}

// Each management class is read from the machine when a query first asks
// for it, not when the connection is made: what the files hold by then is
// what the query sees. So a query of the disks never reads the SMBIOS table.
TEST_F(LinuxPlatformTest, EachClassIsReadWhenAQueryFirstAsksForIt) {
  auto machine = std::make_shared<LinuxMachine>(options_);
  std::shared_ptr<wql::ObjectModel> model = BuildLinuxObjectModel(machine);
  EXPECT_EQ(wql::Execute(*model, "SELECT * FROM Win32_DiskDrive").objects.size(), machine->Disks().disks.size());

  tree_.File("/etc/os-release", "PRETTY_NAME=\"Written Later 1.0\"");
  // One memory device (type 17, SMBIOS 2.8 length 0x28) of 8192 MB in "DIMM A1",
  // then the end-of-table structure.
  std::vector<uint8_t> smbios(0x28, 0);
  smbios[0] = 17;
  smbios[1] = 0x28;
  smbios[0x0C] = 0x00;
  smbios[0x0D] = 0x20;  // 8192 MB
  smbios[0x10] = 1;     // device locator: string 1
  for (char c : std::string("DIMM A1")) smbios.push_back(static_cast<uint8_t>(c));
  for (uint8_t b : {0, 0, 127, 4, 0, 0, 0, 0}) smbios.push_back(b);
  tree_.File("/sys/firmware/dmi/tables/placeholder", "");
  {
    std::ofstream out(tree_.Root() + "/sys/firmware/dmi/tables/DMI", std::ios::binary);
    out.write(reinterpret_cast<const char*>(smbios.data()), static_cast<std::streamsize>(smbios.size()));
  }

  wql::QueryResult os = wql::Execute(*model, "SELECT * FROM Win32_OperatingSystem");
  ASSERT_EQ(os.objects.size(), 1u);
  EXPECT_EQ(os.objects[0]->Find("Caption")->text, "Written Later 1.0");
  wql::QueryResult memory = wql::Execute(*model, "SELECT * FROM Win32_PhysicalMemory");
  ASSERT_EQ(memory.objects.size(), 1u);
  EXPECT_EQ(memory.objects[0]->Find("DeviceLocator")->text, "DIMM A1");
  EXPECT_EQ(memory.objects[0]->Find("Capacity")->text, std::to_string(8192ull << 20));
}

// The disk list is kept between the many asks of one command, but a disk
// that comes or goes is seen at once, and after the rescan every value is
// read afresh.
TEST_F(LinuxPlatformTest, AKeptDiskListFollowsDisksAndTheRescan) {
  auto machine = std::make_shared<LinuxMachine>(options_);
  ASSERT_EQ(machine->Disks().disks.size(), 4u);
  tree_.AtaDisk("sdc", 9, "QUARN ADDED");
  DiskScan added = machine->Disks();
  ASSERT_EQ(added.disks.size(), 5u);
  EXPECT_TRUE(added.ByName("sdc"));
  std::filesystem::remove(tree_.Root() + "/sys/block/sdc");
  EXPECT_FALSE(machine->Disks().ByName("sdc"));

  const uint64_t before = machine->Disks().ByName("sda")->sizeBytes;
  tree_.File("/sys/block/sda/size", std::to_string(before / 512 + 8));
  uint32_t root = 0;
  std::unique_ptr<DeviceTree> tree = MakeLinuxTree(machine);
  ASSERT_EQ(tree->CM_Locate_DevNodeW(&root, nullptr, 0), CR_SUCCESS);
  tree->CM_Reenumerate_DevNode(root, 0);
  EXPECT_EQ(machine->Disks().ByName("sda")->sizeBytes, before + 8 * 512);
}

TEST(LinuxPlatformMany, EveryDiskIsAnInterfaceAndDiscoveryTakesTheFirst80) {
  test::TempTree t;
  auto name = [](int i) {
    std::string n = "sd";
    if (i >= 26) n += static_cast<char>('a' + i / 26 - 1);
    return n + static_cast<char>('a' + i % 26);
  };
  for (int i = 0; i < 81; ++i) t.AtaDisk(name(i), i, "DISK " + std::to_string(i));
  LinuxPlatformOptions o;
  o.root = t.Root();
  o.registryPath = t.Root() + "/registry.sqlite3";
  ScopedPlatform installed(MakeLinuxPlatform(o));
  DeviceTree& tree = Current().Tree();
  HDEVINFO set = tree.SetupDiGetClassDevsW(GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  uint32_t count = 0;
  while (tree.SetupDiEnumDeviceInterfaces(set, GUID_DEVINTERFACE_DISK, count)) ++count;
  tree.SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(count, 81u);
  std::vector<std::string> paths;
  EXPECT_EQ(EnumerateDiskInterfaces(paths), 80);
  EXPECT_TRUE(Contains(paths.back(), "disk_79")) << paths.back();
}

}  // namespace
}  // namespace zel
