// The request forms over the Linux platform with a replaying transport: the
// system's own ATA, NVMe and inventory operations run unchanged, and the test
// sees the exact command each form became and gives the drive's answer.
#include <gtest/gtest.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

#include "device/ata_command.h"
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "linux/tree.h"
#include "platform/bytes.h"
#include "platform/linux/host_files.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_transport.h"
#include "platform/text.h"
#include "platform/wire/ata.h"
#include "platform/wire/nvme.h"
#include "support/ata_request_bytes.h"
#include "support/nvme_request_bytes.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

constexpr const char* kSdaPath =
    "\\\\?\\ide#diskquarn_ssd_kd765_svmu#1&0000001f2&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

std::string NodeOf(int fd) {
  char buf[4096];
  ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
  return n > 0 ? BaseName(std::string(buf, static_cast<size_t>(n))) : std::string();
}

void PutAtaString(uint8_t* page, int word, int words, const std::string& text) {
  std::string padded = text;
  padded.resize(static_cast<size_t>(words) * 2, ' ');
  for (int i = 0; i < words; ++i) {
    page[2 * (word + i)] = static_cast<uint8_t>(padded[2 * i + 1]);
    page[2 * (word + i) + 1] = static_cast<uint8_t>(padded[2 * i]);
  }
}

// The drives behind the replaying transport, and what reached them.
struct Drives {
  std::mutex mutex;
  std::vector<std::pair<std::string, AtaRequest>> ata;  // node, command
  std::vector<uint32_t> ataTimeouts;
  std::vector<std::pair<std::string, NvmeAdminCommand>> nvme;
  std::vector<std::vector<uint8_t>> scsiCdbs;
  bool abortSecurity = true;
  bool abortSmartRead = false;
  uint16_t nvmeStatus = 0;

  AtaOutcome Ata(int fd, const AtaRequest& s, uint8_t* data, uint32_t timeoutMs, uint32_t* moved) {
    std::lock_guard<std::mutex> lock(mutex);
    ata.emplace_back(NodeOf(fd), s);
    ataTimeouts.push_back(timeoutMs);
    AtaOutcome o;
    o.carried = true;
    o.registers.haveRegisters = true;
    o.registers.status = 0x50;
    *moved = s.dataLength;
    const AtaTaskFile& r = s.registers;
    if (r.command == 0xEC) {
      std::memset(data, 0, 512);
      PutAtaString(data, 10, 10, "QKD765SN0001");
      PutAtaString(data, 23, 4, "SVMU01");
      PutAtaString(data, 27, 20, "QUARN SSD KD765 256GB");
    } else if (r.command == 0xB0 && r.features == 0xD0 && abortSmartRead) {
      o.registers.status = 0x51;
      o.registers.error = 0x04;
      *moved = 0;
    } else if (r.command == 0xB0 && r.features == 0xD0) {
      std::memset(data, 0, 512);
      uint8_t* e = data + 2;
      e[0] = 190, e[3] = 69, e[4] = 60, e[5] = 31;  // temperature 31
      e += 12;
      e[0] = 9, e[3] = 100, e[4] = 100, e[5] = 0x10, e[6] = 0x27;
    } else if (r.command == 0xB0 && r.features == 0xD1) {
      std::memset(data, 0, 512);
      data[2] = 190, data[3] = 0;
      data[14] = 9, data[15] = 0;
    } else if ((r.command >= 0xF1 && r.command <= 0xF6) && abortSecurity) {
      o.registers.status = 0x51;
      o.registers.error = 0x04;
      *moved = 0;
    }
    return o;
  }

  NvmeAdminResult Nvme(int fd, const NvmeAdminCommand& c, uint8_t* data, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex);
    nvme.emplace_back(NodeOf(fd), c);
    NvmeAdminResult r;
    if (nvmeStatus) {
      r.status = nvmeStatus;
      r.error = ErrorFromNvmeStatus(nvmeStatus);
      return r;
    }
    // A command without data (a self-test start) comes with no buffer.
    if (length != 0) std::memset(data, 0, length);
    if (c.opcode == kNvmeIdentify) {
      PutLE16(data, 0x1E4B);
      std::memcpy(data + 4, "QN990SN0001         ", 20);
      std::memcpy(data + 24, "QUARN NVMe SSD QN990 1TB                ", 40);
      std::memcpy(data + 64, "QN1.2   ", 8);
    } else if (c.opcode == kNvmeGetLogPage && (c.cdw10 & 0xFF) == 0x06) {
      data[4] = 0x10;  // newest self-test: short, completed without error
    } else if (c.opcode == kNvmeGetLogPage) {
      PutLE16(data + 1, 310);  // kelvin
      data[5] = 3;             // percentage used
    }
    r.ok = true;
    return r;
  }
};

class LinuxRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.CopyFixture("linux/mixed");
    tree_.File("/dev/sda", "").File("/dev/sdb", "").File("/dev/nvme0n1", "").File("/dev/nvme0", "");
    tree_.File("/proc/self/mountinfo",
               "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
               "30 28 8:1 / /data rw - ext4 /dev/sda1 rw\n"
               "31 28 253:0 / /lvm rw - ext4 /dev/mapper/vg-lv rw\n"
               "32 28 259:1 / /pool rw - btrfs /dev/nvme0n1p1 rw\n");
    tree_.File("/proc/cpuinfo", "processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD Ryzen 7 5800X\n");
    tree_.File("/proc/meminfo", "MemTotal:       16777216 kB\n");
    tree_.File("/etc/os-release", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    tree_.File("/sys/class/dmi/id/board_vendor", "QUARN Boards").File("/sys/class/dmi/id/board_name", "Z1");
    tree_.File("/sys/class/dmi/id/bios_version", "1.16.2");
    auto t = std::make_shared<LinuxTransports>();
    t->ata = [this](int fd, const AtaRequest& s, uint8_t* d, uint32_t ms, uint32_t* m) {
      return drives_.Ata(fd, s, d, ms, m);
    };
    t->nvme = [this](int fd, const NvmeAdminCommand& c, uint8_t* d, uint32_t n) { return drives_.Nvme(fd, c, d, n); };
    t->scsi = [this](int, std::span<const uint8_t> cdb, int, uint8_t* data, uint32_t length, uint32_t,
                     std::span<uint8_t>, uint32_t* senseLength) {
      std::lock_guard<std::mutex> lock(drives_.mutex);
      drives_.scsiCdbs.emplace_back(cdb.begin(), cdb.end());
      if (data && length) std::memset(data, 0x5A, length);
      *senseLength = 0;
      return SgCompletion{};
    };
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    o.transports = t;
    platform_ = std::make_unique<ScopedPlatform>(MakeLinuxPlatform(o));
  }

  test::TempTree tree_;
  Drives drives_;
  std::unique_ptr<ScopedPlatform> platform_;
};

TEST_F(LinuxRequests, IdentifyAndSmartReadsBecomePioInCommandsWithTheirTimeouts) {
  ATACommand cmd;
  EXPECT_EQ(cmd.AtaPassThroughAvailable, 1);
  EXPECT_EQ(cmd.IsWindows8, 0);
  uint8_t id[512] = {};
  ASSERT_EQ(cmd.DoIdentify(kSdaPath, 0xA0, id), 1u);
  PhysicalDriveRecord record{};
  ASSERT_NE(cmd.GetSmartAttributePd(kSdaPath, 0, record), 0u);
  cmd.GetSmartThresholdsPd(kSdaPath, 0, record);
  EXPECT_EQ(record.SmartAttributeCount, 2);
  EXPECT_EQ(record.Temperature, 31);
  ASSERT_EQ(drives_.ata.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(drives_.ata[i].first, "sda");
    EXPECT_EQ(drives_.ata[i].second.protocol, AtaProtocol::PioIn);
    EXPECT_TRUE(drives_.ata[i].second.dataIn);
    EXPECT_EQ(drives_.ata[i].second.dataLength, 512u);
    EXPECT_EQ(drives_.ataTimeouts[i], 2000u);  // addressed by path: 2 s
  }
  EXPECT_EQ(drives_.ata[0].second.registers.command, 0xEC);
  EXPECT_EQ(drives_.ata[0].second.registers.device, 0xA0);
  EXPECT_EQ(drives_.ata[1].second.registers.features, 0xD0);
  EXPECT_EQ(drives_.ata[1].second.registers.lbaMid, 0x4F);
  EXPECT_EQ(drives_.ata[1].second.registers.lbaHigh, 0xC2);
  EXPECT_EQ(id[2 * 27 + 1], 'Q');
}

TEST_F(LinuxRequests, BufferedFormSucceedsWhatTheDriveSaidDirectFormFailsOnItsErrorBit) {
  ATACommand cmd;
  uint8_t password[512] = {};
  // SECURITY SET PASSWORD by index: 1000 s, PIO out; the drive aborts it.
  EXPECT_NE(cmd.SendAtaCommandPhysicalDrive(0u, 0, 0xF1, 0, 0, 0, 0, 0, password, 512, 4), 0u);
  ASSERT_EQ(drives_.ata.size(), 1u);
  EXPECT_EQ(drives_.ata[0].second.protocol, AtaProtocol::PioOut);
  EXPECT_FALSE(drives_.ata[0].second.dataIn);
  EXPECT_EQ(drives_.ataTimeouts[0], 1000000u);
  // The same refusal through the direct form is a failure.
  uint32_t length = 512;
  EXPECT_EQ(cmd.SendAtaCommandDirect(0, 1, password, nullptr, &length, wire::PackRegisterWord1(0, 0, 0, 0),
                                     wire::PackRegisterWord2(0, 0xA0, 0xF1)),
            0u);
  ASSERT_EQ(drives_.ata.size(), 2u);
  EXPECT_EQ(drives_.ata[1].second.protocol, AtaProtocol::Dma);  // the direct form's flags ask for DMA
  EXPECT_EQ(drives_.ataTimeouts[1], 100000u);
  drives_.abortSecurity = false;
  EXPECT_EQ(cmd.SendAtaCommandDirect(0, 1, password, nullptr, &length, wire::PackRegisterWord1(0, 0, 0, 0),
                                     wire::PackRegisterWord2(0, 0xA0, 0xF1)),
            1u);
  EXPECT_EQ(length, 512u);
}

TEST_F(LinuxRequests, NonDataAndDataSetManagementGetTheirProtocols) {
  ATACommand cmd;
  cmd.DoFlushCacheExt(0, 0);
  uint8_t ranges[512] = {};
  PutLE64(ranges, 100 | (uint64_t{8} << 48));
  cmd.SendAtaCommandPhysicalDrive(0u, 0, 0x06, 1, 1, 0, 0, 0, ranges, 512, 0x1C);
  ASSERT_EQ(drives_.ata.size(), 2u);
  EXPECT_EQ(drives_.ata[0].second.protocol, AtaProtocol::NonData);
  EXPECT_EQ(drives_.ata[0].second.registers.command, 0xEA);
  const AtaRequest& dsm = drives_.ata[1].second;
  EXPECT_EQ(dsm.protocol, AtaProtocol::Dma);
  EXPECT_TRUE(dsm.extend);
  EXPECT_FALSE(dsm.dataIn);
  EXPECT_EQ(dsm.registers.features, 1);
  EXPECT_EQ(dsm.registers.count, 1);
  EXPECT_EQ(dsm.registers.countExt, 0);
}

TEST_F(LinuxRequests, SmartReceiveCarriesReadsOnlyAndARefusedReadReturnsNoData) {
  DeviceIo& io = Devices();
  HANDLE h = io.CreateFileW("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  auto receive = [&](const test::AtaRegisters& regs, uint8_t* out, uint32_t outSize, uint32_t* got) {
    std::vector<uint8_t> in = test::SmartReceiveInput(regs);
    return io.DeviceIoControl(h, SMART_RCV_DRIVE_DATA, in.data(), static_cast<uint32_t>(in.size()), out,
                              outSize, got);
  };
  uint8_t out[528] = {};
  uint32_t got = 0;
  ASSERT_TRUE(receive({0, 0, 0, 0, 0, 0, 0xEC}, out, sizeof out, &got));
  EXPECT_EQ(got, 528u);
  EXPECT_EQ(out[16 + 2 * 27 + 1], 'Q');
  // SMART READ DATA that the drive refuses: the header with its error, no data.
  drives_.abortSmartRead = true;
  ASSERT_TRUE(receive({0xD0, 0, 0, 0x4F, 0xC2, 0, 0xB0}, out, sizeof out, &got));
  EXPECT_EQ(got, 16u);
  EXPECT_EQ(out[4], 1);     // SMART_IDE_ERROR
  EXPECT_EQ(out[5], 0x04);  // aborted
  // A command the receive request does not carry.
  EXPECT_FALSE(receive({0xD4, 0, 0, 0x4F, 0xC2, 0, 0xB0}, out, sizeof out, &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  // NVMe namespaces take no ATA commands at all.
  HANDLE n = io.CreateFileW("\\\\.\\PhysicalDrive2", GENERIC_READ | GENERIC_WRITE, 3, OPEN_EXISTING, 0);
  std::vector<uint8_t> identify = test::SmartReceiveInput({0, 0, 0, 0x4F, 0xC2, 0, 0xEC});
  EXPECT_FALSE(io.DeviceIoControl(n, SMART_RCV_DRIVE_DATA, identify.data(),
                                  static_cast<uint32_t>(identify.size()), out, sizeof out, &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  io.CloseHandle(n);
  io.CloseHandle(h);
}

TEST_F(LinuxRequests, NvmeFormsBecomeAdminCommandsOnTheController) {
  const std::string path = "\\\\?\\scsi#disk&ven_nvme&prod_quarn_nvme_ssd_qn990_1tb#5&000001000&0&000001#"
                           "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  ATACommand cmd;
  std::vector<uint8_t> page(4096, 0);
  ASSERT_EQ(cmd.Windows10NVMeIdentify(2, path, page.data()), 1u);
  EXPECT_EQ(std::string(page.begin() + 24, page.begin() + 48), "QUARN NVMe SSD QN990 1TB");
  std::vector<uint8_t> log(512, 0);
  ASSERT_EQ(cmd.Windows10NVMeSMART(2, path, log.data()), 1u);
  EXPECT_EQ(GetLE16(log.data() + 1), 310);
  // The miniport forms go to the adapter, which is the controller.
  std::fill(log.begin(), log.end(), 0);
  ASSERT_NE(cmd.GetLogPageCommand_SMART_Health(path, log.data()), 0u);
  EXPECT_EQ(log[5], 3);
  std::fill(page.begin(), page.end(), 0);
  ASSERT_NE(cmd.DoIdentifyDeviceNVMeIntel(path, page.data()), 0u);
  ASSERT_EQ(drives_.nvme.size(), 4u);
  struct Expected {
    const char* node;
    uint8_t opcode;
    uint32_t nsid, cdw10;
  } const expected[] = {{"nvme0n1", 0x06, 0, 1},
                        {"nvme0n1", 0x02, 0xFFFFFFFF, 0x007F0002},
                        {"nvme0", 0x02, 0xFFFFFFFF, 0x007F0002},
                        {"nvme0", 0x06, 0, 1}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(drives_.nvme[i].first, expected[i].node) << i;
    EXPECT_EQ(drives_.nvme[i].second.opcode, expected[i].opcode) << i;
    EXPECT_EQ(drives_.nvme[i].second.nsid, expected[i].nsid) << i;
    EXPECT_EQ(drives_.nvme[i].second.cdw10, expected[i].cdw10) << i;
  }
  // A controller that refuses the command: every form fails, none returns zeros as a page.
  drives_.nvmeStatus = 0x0002;
  EXPECT_EQ(cmd.Windows10NVMeIdentify(2, path, page.data()), 0u);
  EXPECT_EQ(cmd.IdentifyCommand_Controller(path, page.data()), 0u);
  // The vendor tunnel is a SCSI command; an NVMe namespace takes none.
  EXPECT_EQ(cmd.DoGetLogPageNVMeSamsung(path, log.data()), 0u);
  EXPECT_TRUE(drives_.scsiCdbs.empty());
}

TEST_F(LinuxRequests, ProtocolCommandCarriesDeviceSelfTestAndLogReadsOnly) {
  const std::string path = "\\\\?\\scsi#disk&ven_nvme&prod_quarn_nvme_ssd_qn990_1tb#5&000001000&0&000001#"
                           "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  ATACommand cmd;
  ASSERT_EQ(cmd.DoDeviceSelfTestNVMe(path, 1), 1u);
  std::vector<uint8_t> log(564, 0xAA);
  ASSERT_EQ(cmd.GetLogPageCommand_SelfTest(path, log.data()), 1u);
  EXPECT_EQ(log[4], 0x10);
  EXPECT_EQ(log[0], 0x00);
  ASSERT_EQ(drives_.nvme.size(), 2u);
  EXPECT_EQ(drives_.nvme[0].first, "nvme0n1");
  EXPECT_EQ(drives_.nvme[0].second.opcode, 0x14);
  EXPECT_EQ(drives_.nvme[0].second.nsid, 0xFFFFFFFFu);
  EXPECT_EQ(drives_.nvme[0].second.cdw10, 1u);
  EXPECT_EQ(drives_.nvme[1].second.opcode, 0x02);
  EXPECT_EQ(drives_.nvme[1].second.cdw10, 0x008C0006u);

  // Format NVM (0x80) in the same block never reaches the controller.
  DeviceIo& io = Devices();
  HANDLE h = io.CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> block(208, 0);
  const uint8_t header[] = {1, 0, 0, 0, 84, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0x80,
                            0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 0, 0};
  std::copy(std::begin(header), std::end(header), block.begin());
  block[56] = 1;     // admin command
  block[80] = 0x80;  // Format NVM
  uint32_t got = 0;
  EXPECT_FALSE(io.DeviceIoControl(h, 0x2DD3C0, block.data(), 208, block.data(), 208, &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  io.CloseHandle(h);
  EXPECT_EQ(drives_.nvme.size(), 2u);

  // A controller that refuses the test: no success.
  drives_.nvmeStatus = 0x0001;
  EXPECT_EQ(cmd.DoDeviceSelfTestNVMe(path, 2), 0u);
}

TEST_F(LinuxRequests, MiniportCarriesOnlyCommandsThatRead) {
  DeviceIo& io = Devices();
  HANDLE a = io.CreateFileW("\\\\.\\SCSI7:", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, 0);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  // A 664-byte "NvmeMini" block carrying Format NVM (opcode 0x80).
  std::vector<uint8_t> block = test::NvmeMiniport(664, 40, 0x80, 0, 0, 0);
  uint32_t got = 0;
  EXPECT_FALSE(io.DeviceIoControl(a, IOCTL_SCSI_MINIPORT, block.data(), static_cast<uint32_t>(block.size()),
                                  block.data(), static_cast<uint32_t>(block.size()), &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_TRUE(drives_.nvme.empty());
  io.CloseHandle(a);
}

TEST_F(LinuxRequests, ScsiAddressesAndTheVendorTunnelOnAScsiDisk) {
  ATACommand cmd;
  std::string name;
  ASSERT_NE(cmd.GetScsiPortName(kSdaPath, &name), 0u);
  EXPECT_EQ(name, "\\\\.\\SCSI0:");
  ASSERT_NE(cmd.GetScsiPortName("\\\\.\\PhysicalDrive2", &name), 0u);
  EXPECT_EQ(name, "\\\\.\\SCSI7:");
  std::vector<uint8_t> log(512, 0);
  EXPECT_EQ(cmd.DoGetLogPageNVMeSamsung(kSdaPath, log.data()), 1u);  // our fake answers non-zero data
  ASSERT_EQ(drives_.scsiCdbs.size(), 2u);
  EXPECT_EQ(drives_.scsiCdbs[0][0], 0xB5);
  EXPECT_EQ(drives_.scsiCdbs[1][0], 0xA2);
  EXPECT_EQ(log[0], 0x5A);
}

TEST_F(LinuxRequests, VolumeExtentsAndRetrievalPointers) {
  DeviceIo& io = Devices();
  auto extents = [&](const char* path, uint8_t* out, uint32_t size, uint32_t* got) {
    HANDLE h = io.CreateFileW(path, 0, 3, OPEN_EXISTING, 0);
    bool ok = h != INVALID_HANDLE_VALUE &&
              io.DeviceIoControl(h, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, out, size, got);
    uint32_t e = GetLastError();
    io.CloseHandle(h);
    SetLastError(e);
    return ok;
  };
  uint8_t out[64] = {};
  uint32_t got = 0;
  ASSERT_TRUE(extents("\\\\.\\D:", out, sizeof out, &got));  // /data on sda1
  EXPECT_EQ(got, 32u);
  EXPECT_EQ(GetLE32(out), 1u);
  EXPECT_EQ(GetLE32(out + 8), 0u);
  EXPECT_EQ(GetLE64(out + 16), 2048u * 512);
  EXPECT_EQ(GetLE64(out + 24), 1024000u * 512);
  EXPECT_FALSE(extents("\\\\.\\D:", out, 16, &got));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_FALSE(extents("\\\\.\\E:", out, sizeof out, &got));  // device mapper: its place is not known
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

  // A file of three blocks on /data (a folder of the test's own file system).
  std::string data(3 * 4096, 'x');
  tree_.File("/data/tmpxxxquarn/fill.bin", data);
  HANDLE f = io.CreateFileW("D:\\tmpxxxquarn\\fill.bin", GENERIC_READ, 3, OPEN_EXISTING, 0);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << GetLastError();
  uint8_t vcn[8] = {};
  uint8_t pointers[16 + 16 * 8] = {};
  bool ok = io.DeviceIoControl(f, FSCTL_GET_RETRIEVAL_POINTERS, vcn, 8, pointers, sizeof pointers, &got);
  struct statfs fs {};
  ::statfs(tree_.Root().c_str(), &fs);
  if (fs.f_type != 0x01021994 /* tmpfs, which has no FIEMAP */) {
    ASSERT_TRUE(ok) << GetLastError();
    EXPECT_GE(GetLE32(pointers), 1u);
    EXPECT_EQ(GetLE64(pointers + 8), 0u);   // starting cluster
    EXPECT_GE(GetLE64(pointers + 16), 3u);  // the first run ends after the file's three blocks
    EXPECT_EQ(got, 16u + 16u * GetLE32(pointers));
    // Past the end of the file.
    PutLE64(vcn, 1000);
    EXPECT_FALSE(io.DeviceIoControl(f, FSCTL_GET_RETRIEVAL_POINTERS, vcn, 8, pointers, sizeof pointers, &got));
    EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
    PutLE64(vcn, 0);
  }
  io.CloseHandle(f);
  // A name that leaves its volume is refused.
  EXPECT_EQ(io.CreateFileW("D:\\..\\etc\\passwd", GENERIC_READ, 3, OPEN_EXISTING, 0), INVALID_HANDLE_VALUE);
  // On a file system whose extents are not device offsets, no pointers are given.
  tree_.File("/pool/f.bin", data);
  HANDLE p = io.CreateFileW("F:\\f.bin", GENERIC_READ, 3, OPEN_EXISTING, 0);
  ASSERT_NE(p, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_FALSE(io.DeviceIoControl(p, FSCTL_GET_RETRIEVAL_POINTERS, vcn, 8, pointers, sizeof pointers, &got));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  io.CloseHandle(p);
}

TEST_F(LinuxRequests, InventoryQueriesRunOverTheMachinesObjects) {
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetPhysicalDriveSpace());
  std::vector<WmiDiskEntry>& table = WmiDiskTable();
  ASSERT_EQ(table.size(), 4u);
  EXPECT_EQ(table[0].Index, 0);
  EXPECT_EQ(table[0].InterfaceType, "IDE");
  EXPECT_EQ(table[0].SizeGB, 1u);  // 2097152 sectors
  EXPECT_EQ(table[2].InterfaceType, "SCSI");
  EXPECT_EQ(table[1].InterfaceType, "USB");
  EXPECT_EQ(util.GetDiskMode(0), "010601");
  EXPECT_EQ(util.GetDiskMode(2), "010802");
  EXPECT_EQ(util.GetDiskMode(1), "");  // USB
  std::string controller;
  ASSERT_EQ(util.GetDeviceIDFromPhysicalDrive(2, &controller), 1);
  EXPECT_EQ(controller, "PCI\\VEN_1B36&DEV_0010&SUBSYS_11001AF4&REV_02\\3&000001000&0");
  std::vector<LogicalDriveEntry> drives;
  EXPECT_EQ(util.GetLogicalDriveInfo(0, drives), 2);  // D: on sda1, E: on the volume over sda2
  EXPECT_EQ(drives[0].DriveName, "D:");
  EXPECT_EQ(drives[1].DriveName, "E:");
  // Each connection sees the machine as it is then: a file system mounted
  // since appears at the next query.
  tree_.File("/proc/self/mountinfo",
             "28 1 254:0 / / rw - ext4 /dev/vda rw\n"
             "30 28 8:1 / /data rw - ext4 /dev/sda1 rw\n"
             "31 28 253:0 / /lvm rw - ext4 /dev/mapper/vg-lv rw\n"
             "32 28 259:1 / /pool rw - btrfs /dev/nvme0n1p1 rw\n"
             "33 28 8:2 / /more rw - ext4 /dev/sda2 rw\n");
  EXPECT_EQ(util.GetLogicalDriveInfo(0, drives), 3);
  SystemInformation s;
  std::vector<HbaEntry> hbaList;
  ASSERT_TRUE(util.GetSystemInfo(s, hbaList));
  EXPECT_EQ(s.OsName, "Debian GNU/Linux 12 (bookworm)\n x64");
  EXPECT_EQ(s.CpuName, "AMD Ryzen 7 5800X");
  EXPECT_EQ(s.TotalMemoryMB, "16384");
  EXPECT_EQ(s.BoardVendor, "QUARN Boards");
  EXPECT_EQ(s.BiosVersion, "1.16.2");
  ASSERT_FALSE(hbaList.empty());
  bool ahci = false;
  for (const HbaEntry& h : hbaList)
    if (h.ClassCode == "010601") {
      ahci = true;
      EXPECT_EQ(h.DriverProvider, "Linux");
      EXPECT_EQ(h.DriverVersion, "3.0");
      EXPECT_EQ(h.AttachedDeviceCount, 1);
      EXPECT_EQ(h.AttachedDevices[0].PhysicalDriveIndex, 0);
    }
  EXPECT_TRUE(ahci);
}

}  // namespace
}  // namespace zel
