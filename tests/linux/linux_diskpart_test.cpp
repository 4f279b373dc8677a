// diskpart's "detail disk" on the real machine, answered from a copied
// sysfs tree, its device nodes and mount table: the script the system
// report writes, read as diskpart reads it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "linux/tree.h"
#include "platform/linux/linux_platform.h"
#include "platform/text.h"
#include "report/system_report.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

const std::string kSda = "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0/block/sda";

class LinuxDiskpartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.CopyFixture("linux/mixed");
    tree_.File("/proc/self/mountinfo",
               "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
               "30 28 8:1 / /boot rw - vfat /dev/sda1 rw\n"
               "31 28 253:0 / /data rw - ext4 /dev/mapper/vg-data rw\n"
               "34 28 259:1 / /fast rw - ntfs3 /dev/nvme0n1p1 rw\n");
    tree_.File("/proc/sys/kernel/hostname", "rig");
    // A third partition of sda holds swap; the first has a label.
    tree_.File(kSda + "/sda3/dev", "8:3").File(kSda + "/sda3/partition", "3");
    tree_.File(kSda + "/sda3/start", "2095104").File(kSda + "/sda3/size", "2048");
    tree_.File("/proc/swaps",
               "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n/dev/sda3  partition\t1024\t0\t-2");
    tree_.Link("/dev/disk/by-label/EFI\\x20BOOT", "../../sda1");
    // sda: an MBR with disk signature 1A2B3C4D.
    std::string mbr(1024, '\0');
    mbr[440] = 0x4D, mbr[441] = 0x3C, mbr[442] = 0x2B, mbr[443] = 0x1A;
    mbr[510] = 0x55, mbr[511] = static_cast<char>(0xAA);
    Node("/dev/sda", mbr);
    // nvme0n1: a protective MBR and the GPT header with the disk GUID.
    std::string gpt(1024, '\0');
    gpt[450] = static_cast<char>(0xEE);
    gpt[510] = 0x55, gpt[511] = static_cast<char>(0xAA);
    gpt.replace(512, 8, "EFI PART");
    const unsigned char guid[16] = {0x78, 0x56, 0x34, 0x12, 0xBC, 0x9A, 0xF0, 0xDE,
                                    0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    for (int i = 0; i < 16; ++i) gpt[512 + 56 + i] = static_cast<char>(guid[i]);
    Node("/dev/nvme0n1", gpt);
    // sdb (the USB disk) is blank; nvme1n1 has no device node.
    Node("/dev/sdb", std::string(1024, '\0'));

    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    platform_ = MakeLinuxPlatform(o);
    // The script is written to and read from the current directory.
    work_ = tree_.Root() + "/work";
    std::filesystem::create_directories(work_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(work_);
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  void Node(const std::string& path, const std::string& bytes) {
    tree_.File(path, "");
    std::ofstream(tree_.Root() + path, std::ios::binary) << bytes;
  }

  // Runs the command line the system report runs, with `script` as the
  // script file's content; returns what "diskpart" wrote.
  std::string Diskpart(const std::string& script) {
    std::ofstream(work_ + "/tmpxxxquarn.bat", std::ios::binary) << script;
    std::string out;
    EXPECT_TRUE(platform_->Procs().RunAndCapture(
        "C:\\Windows\\System32\\diskpart.exe /s .//tmpxxxquarn.bat", &out));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    return out;
  }

  test::TempTree tree_;
  std::shared_ptr<Platform> platform_;
  std::string work_;
  std::filesystem::path previous_;
};

TEST_F(LinuxDiskpartTest, DetailOfAnMbrDiskNamesItsPartitionsLettersAndSwap) {
  EXPECT_EQ(Diskpart("select disk 0\r\ndetail disk\r\n"),
            "\r\n"
            "Disk details from sysfs (Linux has no diskpart)\r\n"
            "On computer: RIG\r\n"
            "\r\n"
            "Disk 0 is now the selected disk.\r\n"
            "\r\n"
            "QUARN SSD KD765\r\n"
            "Disk ID: 1A2B3C4D\r\n"
            "Partition style : MBR\r\n"
            "Type   : SATA\r\n"
            "Size   : 1024 MB\r\n"
            "Status : Online\r\n"
            "Path   : 0\r\n"
            "Target : 0\r\n"
            "LUN ID : 0\r\n"
            "Device : /dev/sda\r\n"
            "Read-only  : No\r\n"
            "Boot Disk  : No\r\n"
            "Pagefile Disk  : Yes\r\n"
            "\r\n"
            "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info\r\n"
            "  ----------  ---  -----------  -----  ----------  -------  ---------  --------\r\n"
            "  Volume 1     D   EFI BOOT     FAT32  Partition    500 MB  Healthy\r\n"
            "  Volume 2     E                ext4   Partition    522 MB  Healthy\r\n"
            "  Volume 3                      swap   Partition   1024 KB  Healthy    Pagefile\r\n"
            "\r\n");
}

TEST_F(LinuxDiskpartTest, DetailOfAGptNvmeDiskAndOfDisksThatShowNoTable) {
  std::string nvme = Diskpart("sel disk 2\r\ndet disk\r\n");
  for (const char* line : {"Disk ID: {12345678-9ABC-DEF0-0123-456789ABCDEF}\r\n", "Partition style : GPT\r\n",
                           "Type   : NVMe\r\n", "Size   : 2048 MB\r\n", "Device : /dev/nvme0n1\r\n",
                           "Pagefile Disk  : No\r\n",
                           "  Volume 1     F                NTFS   Partition   2046 MB  Healthy\r\n"})
    EXPECT_TRUE(Contains(nvme, line)) << line << "\n" << nvme;

  std::string blank = Diskpart("select disk 1\r\ndetail disk\r\n");
  EXPECT_TRUE(Contains(blank, "Disk ID: 00000000\r\nPartition style : none (no partition table)\r\nType   : USB\r\n"))
      << blank;
  EXPECT_TRUE(Contains(blank, "There are no volumes.\r\n")) << blank;

  std::string missing = Diskpart("select disk 3\r\ndetail disk\r\n");
  EXPECT_TRUE(Contains(missing, "Disk ID: unknown\r\nPartition style : unknown (/dev/nvme1n1 cannot be read: "))
      << missing;
}

TEST_F(LinuxDiskpartTest, ScriptsAreReadAsDiskpartReadsThem) {
  struct Case {
    const char* script;
    const char* answer;  // what follows the banner
  } const cases[] = {
      {"select disk 9\r\ndetail disk\r\n",
       "The disk you specified is not valid.\r\n\r\nThere is no disk selected.\r\n"
       "Please select a disk and try again.\r\n\r\n"},
      {"rem only a remark\r\n\r\nselect disk x\r\n", "The disk you specified is not valid.\r\n\r\n"},
      // The first line that is not answered ends the script.
      {"clean\r\nselect disk 0\r\n", "The command \"clean\" is not carried out on Linux.\r\n"},
  };
  for (const Case& c : cases) {
    std::string out = Diskpart(c.script);
    size_t after = out.find("On computer: RIG\r\n\r\n");
    ASSERT_NE(after, std::string::npos) << out;
    EXPECT_EQ(out.substr(after + 20), c.answer) << c.script;
  }
  std::filesystem::remove(work_ + "/tmpxxxquarn.bat");
  std::string out;
  ASSERT_TRUE(platform_->Procs().RunAndCapture("diskpart /s .//tmpxxxquarn.bat", &out));
  EXPECT_TRUE(Contains(out, "DiskPart could not open the script file \".//tmpxxxquarn.bat\".")) << out;
  // Other programs are still not there.
  EXPECT_FALSE(platform_->Procs().RunAndCapture("net stop wsearch", &out));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxDiskpartTest, TheSystemReportGetsTheDetailOfEachDisk) {
  ScopedPlatform installed(platform_);
  std::string text;
  GetDiskpartMsg(2, &text);
  EXPECT_TRUE(Contains(text, "Disk 2 is now the selected disk.\r\n\r\nQUARN NVMe SSD QN990 1TB\r\n")) << text;
  // The report's own script is gone again.
  EXPECT_FALSE(std::filesystem::exists(work_ + "/tmpxxxquarn.bat"));
}

}  // namespace
}  // namespace zel
