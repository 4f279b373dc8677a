#include "optimize/direct_trim.h"

#include <algorithm>

#include "device/ata_command.h"
#include "platform/file_util.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/wire/volume.h"

namespace zel {

using namespace zel::platform;

namespace {

constexpr uint8_t kDataSetManagement = 0x06;
constexpr uint8_t kTrimBit = 0x01;
constexpr uint8_t kStatusError = 0x01;

// The trace files; times are the platform's clock in UTC.
class Trace {
 public:
  Trace(bool on, const char* file) : on_(on), file_(file) {}
  void Line(const std::string& text) {
    if (!on_) return;
    uint32_t error = 0;
    AppendToFile(Current().Files(), file_, text, &error);
  }
  void Time(const char* label) {
    if (!on_) return;
    SystemTime t = ToSystemTime(Current().Sys().GetUnixTimeMs());
    Line(Format("%s : %d/%02d/%02d %02d:%02d:%02d \n%s", label, t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, std::string(label) == "End Time" ? "\n" : ""));
  }

 private:
  bool on_;
  std::string file_;
};

}  // namespace

int GetLBA_XP(const std::string& path, std::vector<LbaExtent>* extents, bool trace) {
  Trace t(trace, ".//GetLBA_XP.txt");
  t.Time("Start Time");
  t.Line(Format("File Name : %s \n", path.c_str()));
  Platform& machine = Current();
  std::string root;
  if (!machine.Files().GetVolumePathNameW(path, &root, 520)) return 0;
  uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!machine.Files().GetDiskFreeSpaceW(root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                         &totalClusters) ||
      sectorsPerCluster == 0 || bytesPerSector == 0)
    return 0;

  // The file, for its size and its retrieval pointers.
  HANDLE sized = machine.Files().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             OPEN_EXISTING, 0);
  if (sized == INVALID_HANDLE_VALUE) return 0;
  uint64_t size = 0;
  bool haveSize = machine.Files().GetFileSizeEx(sized, &size);
  machine.Files().CloseHandle(sized);
  if (!haveSize) return 0;
  HANDLE file = machine.Devices().CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              OPEN_EXISTING, 0);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // Room for one run per cluster of the file (its size's low 32 bits).
  const uint64_t clusterBytes = uint64_t(sectorsPerCluster) * bytesPerSector;
  std::vector<uint8_t> answer(static_cast<uint32_t>(size) / clusterBytes * 16 + 32, 0);
  uint8_t vcn[wire::StartingVcnInput::kSize];
  wire::StartingVcnInput::Encode(0, vcn);
  uint32_t returned = 0;
  bool mapped = machine.Devices().DeviceIoControl(file, FSCTL_GET_RETRIEVAL_POINTERS, vcn, sizeof vcn,
                                                  answer.data(), static_cast<uint32_t>(answer.size()),
                                                  &returned, {});
  machine.Devices().CloseHandle(file);
  if (!mapped || returned < wire::RetrievalPointers::kExtents) return 0;
  wire::RetrievalPointers runs = wire::RetrievalPointers::Decode(answer.data(), returned);

  std::vector<LbaExtent> out;
  int64_t previous = runs.StartingVcn;
  for (size_t i = 0; i < runs.Extents.size(); ++i) {
    const wire::RetrievalExtent& run = runs.Extents[i];
    int64_t clusters = run.NextVcn - previous;
    previous = run.NextVcn;
    if (run.Lcn < 0 || clusters < 0) continue;  // no place on the volume
    LbaExtent e;
    e.index = static_cast<uint32_t>(i);
    e.start = static_cast<uint64_t>(run.Lcn) * sectorsPerCluster;
    e.length = static_cast<uint64_t>(clusters) * sectorsPerCluster;
    out.push_back(e);
  }

  // Where the volume lies on its disk; a volume on several disks does not
  // fit the answer's room and is refused.
  HANDLE volume = machine.Devices().CreateFileW(Format("\\\\.\\%s", root.substr(0, 2).c_str()),
                                                GENERIC_READ | GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  if (volume == INVALID_HANDLE_VALUE) return 0;
  uint8_t place[wire::VolumeDiskExtents::SizeFor(1)] = {};
  returned = 0;
  bool placed = machine.Devices().DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0,
                                                  place, sizeof place, &returned, {});
  machine.Devices().CloseHandle(volume);
  if (!placed) return 0;
  std::vector<wire::DiskExtent> disks = wire::VolumeDiskExtents::Decode(place, returned);
  if (disks.size() != 1) return 0;
  const uint64_t shift = disks[0].StartingOffset / bytesPerSector;
  t.Line(Format("The letter : %s \n", root.substr(0, 2).c_str()));
  t.Line(Format("The offset of logical to physical : %llu \n\n", static_cast<unsigned long long>(shift)));

  for (LbaExtent& e : out) {
    uint64_t logical = e.start;
    // Sector 0 of the volume (its boot sector) is never trimmed.
    if (e.start == 0 && e.length != 0) {
      e.start = 1;
      e.length -= 1;
    }
    e.start += shift;
    t.Line(Format("The extent number : %u \n", e.index));
    t.Line(Format("The logical start address : %llu \n", static_cast<unsigned long long>(logical)));
    t.Line(Format("The size of extent : %llu \n", static_cast<unsigned long long>(e.length)));
    t.Line(Format("The logical end address : %llu \n",
                  static_cast<unsigned long long>(logical + e.length)));
    t.Line(Format("The physical start address : %llu \n", static_cast<unsigned long long>(e.start)));
    t.Line(Format("The physical end address : %llu \n",
                  static_cast<unsigned long long>(e.start + e.length)));
  }
  t.Time("End Time");
  *extents = std::move(out);
  return 1;
}

std::vector<std::vector<uint8_t>> TrimBlocksFor(const LbaExtent& extent) {
  std::vector<std::vector<uint8_t>> blocks;
  const uint64_t entries = (extent.length + kTrimRangeMaxSectors - 1) / kTrimRangeMaxSectors;
  const uint64_t end = extent.start + extent.length;
  for (uint64_t done = 0; done < entries;) {
    std::vector<uint8_t> block(512, 0);
    for (uint32_t j = 0; j < kTrimEntriesPerBlock && done < entries; ++j, ++done) {
      uint64_t lba = extent.start + done * kTrimRangeMaxSectors;
      uint64_t length = std::min<uint64_t>(kTrimRangeMaxSectors, end - lba);
      uint8_t* entry = &block[j * 8];
      for (int k = 0; k < 6; ++k) entry[k] = static_cast<uint8_t>(lba >> (8 * k));
      entry[6] = static_cast<uint8_t>(length);
      entry[7] = static_cast<uint8_t>(length >> 8);
    }
    blocks.push_back(std::move(block));
  }
  return blocks;
}

int DoTrim_XP(const std::vector<LbaExtent>& extents, uint32_t driveNumber, bool trace) {
  Trace t(trace, ".//DoTrim_XP.txt");
  t.Time("Start Time");
  ATACommand ata;
  for (const LbaExtent& e : extents) {
    t.Line(Format("LBA start address : %llu \n", static_cast<unsigned long long>(e.start)));
    t.Line(Format("Size : %llu \n", static_cast<unsigned long long>(e.length)));
    std::vector<std::vector<uint8_t>> blocks = TrimBlocksFor(e);
    for (size_t b = 0; b < blocks.size(); ++b) {
      std::vector<uint8_t>& block = blocks[b];
      for (uint32_t j = 0; j < kTrimEntriesPerBlock; ++j) {
        const uint8_t* entry = &block[j * 8];
        uint32_t length = entry[6] | (entry[7] << 8);
        if (length == 0) break;
        uint64_t lba = 0;
        for (int k = 0; k < 6; ++k) lba |= uint64_t(entry[k]) << (8 * k);
        t.Line(Format("Block Number : %u, Entry Number : %u \n", static_cast<unsigned>(b), j));
        t.Line(Format("LBA Value : %llu \n", static_cast<unsigned long long>(lba)));
        t.Line(Format("Range Length : %u \n", length));
      }
      // A command the drive aborted (error bit of the status) has failed
      // as much as one that never reached it.
      uint8_t status = 0;
      uint32_t sent = ata.SendAtaCommandWithStatus(
          driveNumber, 0, kDataSetManagement, kTrimBit, 1, block.data(), 512,
          ATA_FLAGS_DATA_OUT | ATA_FLAGS_48BIT_COMMAND | ATA_FLAGS_USE_DMA, &status);
      if (!sent || (status & kStatusError)) {
        t.Line("SendAtaCommandPhysicalDrive fail\n");
        return 0;
      }
    }
  }
  t.Time("End Time");
  return 1;
}

}  // namespace zel
