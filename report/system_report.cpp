#include "report/system_report.h"

#include <algorithm>
#include <clocale>
#include <cstdio>

#include "health/identify_decoding.h"
#include "health/nvme_fields.h"
#include "health/smart_health.h"
#include "inventory/pcie_link.h"
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/bytes.h"
#include "platform/file_util.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wire/nvme_health.h"

namespace zel {

using namespace zel::platform;

namespace {

const std::string kS60 = std::string(60, '=') + "\n";
const std::string kD60 = std::string(60, '-') + "\n";
const std::string kD83 = std::string(83, '-') + "\n";

constexpr char kIdentifyHeader[] =
    "       0    1    2    3    4    5    6    7    8    9    A    B    C    D    E    F\n";
constexpr char kByteDumpHeader[] =
    "     0  1  2  3  4  5  6  7  8  9  A  B  C  D  E  F\n";

constexpr size_t kSectorBytes = 1024;      // sectors 0 and 1
constexpr size_t kFirstPartitionType = 450;  // type byte of the first MBR entry
constexpr uint8_t kProtectiveMbrType = 0xEE;
constexpr size_t kDiskpartMaxChars = 1023;

// 16 bytes of `data` from `offset` as one dump row: "%02X0" with the row
// number, then each byte as " %02X".
void AppendByteRow(std::string& out, const uint8_t* data, int row) {
  out += Format("%02X0", static_cast<unsigned>(row));
  for (int i = 0; i < 16; ++i) out += Format(" %02X", data[16 * row + i]);
  out += "\n";
}

void AppendByteDump(std::string& out, const uint8_t* data, int rows) {
  out += kByteDumpHeader;
  for (int r = 0; r < rows; ++r) AppendByteRow(out, data, r);
}

void AppendSystemSection(std::string& out, const std::string& buildNumber,
                         const SystemInformation& info) {
  out += Format("QUARN Zelvane Version: %s\n", info.ToolVersion.c_str());
  out += Format("Build Number:%s\n", buildNumber.c_str());
  out += kS60;
  out += Format("OS: %s\n", info.OsName.c_str());
  out += Format("Language: 0x%04X\n", static_cast<unsigned>(Sys().GetUserDefaultUILanguage()));
  const char* suffix = info.AddressWidth == 32 ? " x86" : info.AddressWidth == 64 ? " x64" : "";
  out += Format("CPU: %s%s\n", info.CpuName.c_str(), suffix);
  out += Format("Available RAM: %s MB\n", info.TotalMemoryMB.c_str());
  out += Format("MotherBoard Vendor: %s\n", info.BoardVendor.c_str());
  out += Format("MotherBoard: %s\n", info.BoardModel.c_str());
  out += Format("BIOS Version: %s\n", info.BiosVersion.c_str());
  out += kS60 + "\n";
}

void AppendControllerSection(std::string& out, const std::vector<HbaEntry>& list) {
  out += "HBA Information\n";
  out += Format("HBA Number: %d\n", static_cast<int>(list.size()));
  for (const HbaEntry& hba : list) {
    out += kD60;
    out += Format("HBA Name: %s\n", hba.Name.c_str());
    out += Format("Driver Provider: %s\n", hba.DriverProvider.c_str());
    // The count can never list more drives than the entry has slots for.
    const int attached = std::clamp(hba.AttachedDeviceCount, 0, kMaxAttachedDevices);
    out += Format("Attached Device Number: %d\n", attached);
    for (int k = 0; k < attached; ++k) {
      const AttachedDevice& device = hba.AttachedDevices[static_cast<size_t>(k)];
      out += Format("    Attached Device Name: %s\n", device.Name.c_str());
      out += Format("    Physical Drive Index: %d\n", device.PhysicalDriveIndex);
    }
  }
  out += kS60 + "\n";
}

void AppendMemorySection(std::string& out, const SystemInformation& info) {
  const std::vector<MemoryModuleEntry>& modules = info.MemoryModules;
  out += "DRAM Information\n";
  out += Format("DRAM Number: %d\n", static_cast<int>(modules.size()));
  for (const MemoryModuleEntry& m : modules) {
    out += kD60;
    out += Format("Device Locator: %s\n", m.DeviceLocator.c_str());
    out += Format("Bank Label: %s\n", m.BankLabel.c_str());
    out += Format("Manufacturer: %s\n", m.Manufacturer.c_str());
    out += Format("Capacity: %s\n", m.Capacity.c_str());
    out += Format("Speed: %d\n", m.Speed);
  }
  out += kS60 + "\n";
}

// The first two sectors of the disk, read raw through the platform; zeros
// where they cannot be read.
void ReadFirstSectors(int32_t disk, uint8_t* buffer) {
  std::fill(buffer, buffer + kSectorBytes, 0);
  DeviceIo& io = Devices();
  const std::string path = Format("\\\\.\\PhysicalDrive%d", disk);
  HANDLE h = io.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) {
    LogTraceF("WriteSystemReport::CreateFile(%s) fail: 0x%X", path.c_str(), GetLastError());
    return;
  }
  uint32_t total = 0;
  while (total < kSectorBytes) {
    uint32_t got = 0;
    if (!io.ReadFile(h, buffer + total, static_cast<uint32_t>(kSectorBytes - total), &got)) {
      LogTraceF("WriteSystemReport::ReadFile(%s) fail: 0x%X", path.c_str(), GetLastError());
      // A partial read is not trusted: the dump shows zeros.
      std::fill(buffer, buffer + kSectorBytes, 0);
      break;
    }
    if (got == 0) break;  // a disk smaller than two sectors
    total += got;
  }
  io.CloseHandle(h);
}

void AppendDrive(std::string& out, const PhysicalDriveRecord& drive) {
  const bool nvme = drive.BusType == kBusNvme;

  out += kD83;
  out += Format("Disk Channel: %d\n", drive.PhysicalDriveIndex);
  out += Format("Model Name: %s\n", drive.ModelName.c_str());
  out += Format("Disk Size: %llu GB\n", static_cast<unsigned long long>(drive.DiskSizeGB));
  if (!nvme) {
    // Words 100-103: printed in full, so a disk of 2^32 sectors and more
    // shows its real size.
    uint64_t maxLba = static_cast<uint64_t>(drive.IdentifyWord(100)) |
                      (static_cast<uint64_t>(drive.IdentifyWord(101)) << 16) |
                      (static_cast<uint64_t>(drive.IdentifyWord(102)) << 32) |
                      (static_cast<uint64_t>(drive.IdentifyWord(103)) << 48);
    out += Format("Maximum LBA: %llX", static_cast<unsigned long long>(maxLba));
    out += Format(" (%llu)\n", static_cast<unsigned long long>(maxLba));
    out += Format("World Wide Name: %04X%04X%04X%04X\n", drive.IdentifyWord(108),
                  drive.IdentifyWord(109), drive.IdentifyWord(110), drive.IdentifyWord(111));
  }
  out += Format("Serial Number: %s\n", drive.SerialNumber.c_str());
  out += Format("Firmware Revision: %s\n", drive.FirmwareRevision.c_str());
  if (nvme) {
    const PcieLinkInfo link = GetPcieLinkInfo(drive.PhysicalDriveIndex);
    out += Format("Connection Speed: PCIe Gen%u x%u\n", link.CurrentLinkSpeed, link.CurrentLinkWidth);
  } else {
    out += Format("Connection Speed: SATA %s\n", GetSataLinkSpeedText(drive).c_str());
  }
  out += Format("Temperature: %d degree C\n", drive.Temperature);

  // The identify page as 256 words: the ATA page, or the first 512 bytes
  // of an NVMe drive's Identify Controller page.
  const uint8_t* identify = nvme ? drive.NvmeIdentifyData.data() : drive.IdentifyData.data();
  out += kD83;
  out += "Identify Table\n";
  out += kIdentifyHeader;
  for (int r = 0; r < 16; ++r) {
    out += Format("%X0 ", static_cast<unsigned>(r));
    for (int i = 0; i < 16; ++i) out += Format(" %04X", GetLE16(identify + 2 * (16 * r + i)));
    out += "\n";
  }

  out += kD83;
  out += "SMART Attributes\n";
  if (!nvme) {
    out += "ID Current Worst Threshold RAW_value      Flags\n";
    const int count = std::clamp(drive.SmartAttributeCount, 0, kSmartEntryCount);
    for (int i = 0; i < count; ++i) {
      const auto& b = drive.SmartAttributes[static_cast<size_t>(i)].bytes;
      out += Format("%02X      %02X    %02X        %02X %02X%02X%02X%02X%02X%02X%02X %02X%02X\n",
                    b[0], b[3], b[4], drive.SmartThresholds[static_cast<size_t>(i)].Threshold(),
                    b[11], b[10], b[9], b[8], b[7], b[6], b[5], b[1], b[2]);
    }
  } else {
    using L = wire::NvmeHealthLog;
    const uint8_t* log = drive.SmartData.data();
    out += "ID  RAW_value\n";
    out += Format("01h 0x%012X\n", static_cast<unsigned>(log[L::kCriticalWarning]));
    out += Format("02h 0x%012X\n", static_cast<unsigned>(L::CompositeTemperatureKelvin(log)));
    out += Format("03h 0x%012X\n", static_cast<unsigned>(log[L::kAvailableSpare]));
    out += Format("04h 0x%012X\n", static_cast<unsigned>(log[L::kAvailableSpareThreshold]));
    out += Format("05h 0x%012X\n", static_cast<unsigned>(log[L::kPercentageUsed]));
    // The 16-byte counters, in full even beyond 32 bits.
    static constexpr const char* kIds[] = {"06h", "07h", "08h", "09h", "0Ah",
                                           "0Bh", "0Ch", "0Dh", "0Eh", "0Fh"};
    static_assert(std::size(kIds) == L::kCounterCount);
    for (uint32_t c = 0; c < L::kCounterCount; ++c)
      out += Format("%s %s\n", kIds[c], NvmeCounterText(log + L::Counter(c)).c_str());
  }

  out += kD83;
  out += "SMART Read Data\n";
  AppendByteDump(out, drive.SmartData.data(), 32);

  uint8_t sectors[kSectorBytes];
  ReadFirstSectors(drive.PhysicalDriveIndex, sectors);
  out += kD83;
  if (sectors[kFirstPartitionType] == kProtectiveMbrType) {
    out += "GPT Table\n";
    AppendByteDump(out, sectors, 64);
  } else {
    out += "MBR Table\n";
    AppendByteDump(out, sectors, 32);
  }

  out += kD83;
  out += "diskpart -- detail disk\n";
  std::string diskpart;
  GetDiskpartMsg(drive.PhysicalDriveIndex, &diskpart);
  out += diskpart;
}

// The report as the file holds it: each character in the user's code page
// (one that the code page cannot show becomes "?", and the rest of the text
// still follows), each line feed as CR LF. A CR LF that diskpart wrote
// stays as it is.
std::string EncodeForFile(const std::string& text) {
  const std::string encoded = ToLocaleMultibyteReplacing(text);
  std::string out;
  out.reserve(encoded.size() + encoded.size() / 20);
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '\n' && (i == 0 || encoded[i - 1] != '\r')) out += '\r';
    out += encoded[i];
  }
  return out;
}

}  // namespace

std::string BuildSystemReportText(const PhysicalDriveTable& drives, const std::string& buildNumber,
                                  const SystemInformation& systemInfo,
                                  const std::vector<HbaEntry>& hbaList) {
  std::string out;
  out.reserve(16384 + drives.size() * 12288);
  AppendSystemSection(out, buildNumber, systemInfo);
  AppendControllerSection(out, hbaList);
  AppendMemorySection(out, systemInfo);
  out += Format("There are %d disk drives attached.\n", static_cast<int>(drives.size()));
  for (const PhysicalDriveRecord& drive : drives) AppendDrive(out, drive);
  out += kS60;
  return out;
}

bool WriteSystemReport(const std::string& path, const PhysicalDriveTable& drives,
                       const std::string& buildNumber, SystemInformation& systemInfo,
                       std::vector<HbaEntry>& hbaList, std::string* refusal) {
  std::setlocale(LC_ALL, "");
  UnderlyingUtil util;
  util.GetSystemInfo(systemInfo, hbaList);
  const std::string bytes =
      EncodeForFile(BuildSystemReportText(drives, buildNumber, systemInfo, hbaList));

  // A second export replaces the first, but only once it is complete: an
  // export that fails (a full disk) leaves the earlier report as it was.
  Files& files = Current().Files();
  uint32_t error = 0;
  std::string refused;
  bool created = false;
  if (ReplaceFileSafely(files, path, bytes, &error, &refused, &created)) return true;
  if (refusal) *refusal = refused;
  LogTraceF(created ? "WriteSystemReport::write %s fail: 0x%X" : "WriteSystemReport::open %s fail: 0x%X",
            path.c_str(), error);
  return false;
}

void GetDiskpartMsg(int32_t diskNumber, std::string* text) {
  text->clear();
  auto fail = [&](const std::string& line) {
    *text = line;
    LogTrace(std::string_view(line).substr(0, line.size() - 1));  // without its line feed
  };

  // The script, written the way a text-mode file is: CR LF line ends.
  Files& files = Current().Files();
  const std::string lines = Format("select disk %d\r\ndetail disk\r\n", diskNumber);
  uint32_t error = 0;
  bool opened = false;
  // Created new, never through a link planted under the name: the script's
  // folder is the current directory, which others may be able to write.
  if (!WriteNewFile(files, kDiskpartScriptName, lines, &error, &opened)) {
    // Without our own script diskpart must not run: a script left behind by
    // an earlier run could name another disk.
    fail(Format("GetDiskpartMsg::CreateFile fail : 0x%X\n", error));
    if (opened) files.DeleteFileW(kDiskpartScriptName);
    return;
  }

  std::string output;
  const bool started =
      Current().Procs().RunAndCapture(Format(kDiskpartCommandFormat, kDiskpartScriptName), &output);
  error = GetLastError();
  files.DeleteFileW(kDiskpartScriptName);
  if (!started) {
    fail(Format("GetDiskpartMsg::CreateProcess fail : 0x%X\n", error));
    return;
  }
  std::string converted = FromLocaleMultibyte(output);
  converted.resize(std::min(converted.size(), converted.find('\0')));  // a text ends at a NUL
  *text = TruncateUtf16(converted, kDiskpartMaxChars);
}

}  // namespace zel
