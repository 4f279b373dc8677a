// Control requests on the disks, adapters, volumes and files of the real
// machine: which form each control code is, and the small storage requests
// (device number, volume disk extents, retrieval pointers) answered from
// sysfs, the mount table and FIEMAP.
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/linux/errors_linux.h"
#include "platform/linux/linux_ata_requests.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"
#include "platform/wire/storage.h"
#include "platform/wire/volume.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

bool AnswerDeviceNumber(ControlRequest& r, uint32_t type, uint32_t number, uint32_t partition) {
  if (r.out.size() < wire::StorageDeviceNumber::kSize) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  wire::StorageDeviceNumber{type, number, partition}.Encode(r.out.data());
  *r.returned = wire::StorageDeviceNumber::kSize;
  return true;
}

bool VolumeDiskExtents(const VolumeInfo& v, ControlRequest& r) {
  using L = wire::VolumeDiskExtents;
  if (v.optical || v.diskNumber < 0 || !v.placement) return FailWith(ERROR_INVALID_FUNCTION);
  // A device-mapper or RAID volume lies somewhere inside its partition; its
  // place on the disk is not known, and a wrong one must never be given.
  if (!v.placement->extentKnown) return FailWith(ERROR_INVALID_FUNCTION);
  if (r.out.size() < L::SizeFor(1)) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  *r.returned = L::Encode({wire::DiskExtent{static_cast<uint32_t>(v.diskNumber),
                                            v.placement->startBytes, v.placement->lengthBytes}},
                          r.out.data());
  return true;
}

// File systems whose FIEMAP physical offsets are offsets on their block
// device. Others (btrfs, for one) report addresses of their own, which as
// clusters of the volume would name other data.
bool FiemapIsDeviceOffset(const std::string& fileSystem) {
  static const char* const kinds[] = {"ext2", "ext3", "ext4", "xfs", "FAT32", "FAT", "NTFS", "exFAT"};
  for (const char* k : kinds)
    if (fileSystem == k) return true;
  return false;
}

bool RetrievalPointers(const OpenDevice& f, ControlRequest& r) {
  using L = wire::RetrievalPointers;
  if (r.in.size() < wire::StartingVcnInput::kSize) return FailWith(ERROR_INVALID_PARAMETER);
  if (r.out.size() < L::kExtents) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  if (!FiemapIsDeviceOffset(f.volume.fileSystem)) return FailWith(ERROR_INVALID_FUNCTION);
  int64_t startVcn = wire::StartingVcnInput::Decode(r.in.data());
  if (startVcn < 0) return FailWith(ERROR_INVALID_PARAMETER);
  struct statfs fs {};
  if (::fstatfs(f.fd, &fs) != 0) return FailWithErrno(errno);
  uint64_t cluster = fs.f_bsize > 0 ? static_cast<uint64_t>(fs.f_bsize) : 4096;

  // The file's extents, in bytes, with holes as runs without a place.
  struct Run {
    uint64_t firstVcn, nextVcn;
    int64_t lcn;
  };
  std::vector<Run> runs;
  const uint32_t batch = 256;
  std::vector<uint8_t> buf(sizeof(struct fiemap) + batch * sizeof(struct fiemap_extent));
  uint64_t at = 0, vcnEnd = 0;
  bool last = false;
  while (!last) {
    std::memset(buf.data(), 0, buf.size());
    auto* fm = reinterpret_cast<struct fiemap*>(buf.data());
    fm->fm_start = at;
    fm->fm_length = ~0ull - at;
    fm->fm_flags = FIEMAP_FLAG_SYNC;
    fm->fm_extent_count = batch;
    if (::ioctl(f.fd, FS_IOC_FIEMAP, fm) != 0) return FailWithErrno(errno);
    if (fm->fm_mapped_extents == 0) break;
    for (uint32_t i = 0; i < fm->fm_mapped_extents; ++i) {
      const struct fiemap_extent& e = fm->fm_extents[i];
      if (e.fe_flags & (FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_DATA_INLINE |
                        FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_ENCRYPTED))
        return FailWith(ERROR_NOT_SUPPORTED);  // no place on the device that clusters could name
      uint64_t first = e.fe_logical / cluster;
      uint64_t next = (e.fe_logical + e.fe_length + cluster - 1) / cluster;
      if (first > vcnEnd) runs.push_back(Run{vcnEnd, first, -1});  // a hole
      runs.push_back(Run{first, next, static_cast<int64_t>(e.fe_physical / cluster)});
      vcnEnd = next;
      at = e.fe_logical + e.fe_length;
      if (e.fe_flags & FIEMAP_EXTENT_LAST) last = true;
    }
  }
  // The runs from the starting cluster on.
  std::vector<Run> wanted;
  for (Run run : runs) {
    if (run.nextVcn <= static_cast<uint64_t>(startVcn)) continue;
    if (run.firstVcn < static_cast<uint64_t>(startVcn)) {
      if (run.lcn >= 0) run.lcn += static_cast<int64_t>(startVcn - run.firstVcn);
      run.firstVcn = static_cast<uint64_t>(startVcn);
    }
    wanted.push_back(run);
  }
  if (wanted.empty()) return FailWith(ERROR_HANDLE_EOF);
  uint32_t room = static_cast<uint32_t>((r.out.size() - L::kExtents) / L::kExtentSize);
  uint32_t count = std::min<uint32_t>(room, static_cast<uint32_t>(wanted.size()));
  L pointers;
  pointers.StartingVcn = static_cast<int64_t>(wanted[0].firstVcn);
  for (uint32_t i = 0; i < count; ++i)
    pointers.Extents.push_back(wire::RetrievalExtent{static_cast<int64_t>(wanted[i].nextVcn), wanted[i].lcn});
  *r.returned = pointers.Encode(r.out.data());
  if (count < wanted.size()) return FailWith(ERROR_MORE_DATA);
  return true;
}

}  // namespace

bool DiskControl(const LinuxMachine& machine, const OpenDevice& device, ControlRequest& request) {
  switch (request.code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (device.kind != OpenDevice::Disk) return FailWith(ERROR_INVALID_FUNCTION);
      return AnswerDeviceNumber(request, FILE_DEVICE_DISK, static_cast<uint32_t>(device.disk.number), 0);
    case IOCTL_ATA_PASS_THROUGH: return AtaBuffered(machine, device, request);
    case IOCTL_ATA_PASS_THROUGH_DIRECT: return AtaDirect(machine, device, request);
    case IOCTL_IDE_PASS_THROUGH: return AtaLegacy(machine, device, request);
    case SMART_RCV_DRIVE_DATA: return SmartReceive(machine, device, request);
    case SMART_SEND_DRIVE_COMMAND: return SmartSend(machine, device, request);
    case IOCTL_STORAGE_QUERY_PROPERTY: return NvmeStorageQuery(machine, device, request);
    case IOCTL_SCSI_MINIPORT: return NvmeMiniport(machine, device, request);
    case IOCTL_STORAGE_PROTOCOL_COMMAND: return NvmeProtocolCommand(machine, device, request);
    case IOCTL_SCSI_PASS_THROUGH: return ScsiPassThroughRequest(machine, device, request);
    case IOCTL_SCSI_GET_ADDRESS: return ScsiGetAddress(device, request);
    default: return FailWith(ERROR_INVALID_FUNCTION);
  }
}

bool VolumeControl(const LinuxMachine&, const OpenDevice& device, ControlRequest& request) {
  const VolumeInfo& v = device.volume;
  switch (request.code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (v.optical) return AnswerDeviceNumber(request, FILE_DEVICE_CD_ROM, 0, 0);
      // A volume on no numbered disk (a virtio disk, a network block
      // device) has no disk number, as a volume on no disk of the platform.
      if (v.diskNumber < 0 || !v.placement) return FailWith(ERROR_INVALID_FUNCTION);
      return AnswerDeviceNumber(request, FILE_DEVICE_DISK, static_cast<uint32_t>(v.diskNumber),
                                v.placement->partition);
    case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS: return VolumeDiskExtents(v, request);
    default: return FailWith(ERROR_INVALID_FUNCTION);
  }
}

bool FileControl(const LinuxMachine&, const OpenDevice& device, ControlRequest& request) {
  if (request.code == FSCTL_GET_RETRIEVAL_POINTERS) return RetrievalPointers(device, request);
  return FailWith(ERROR_INVALID_FUNCTION);
}

}  // namespace zel::linuxbackend
