// Control requests on the disks and volumes of the real machine.
#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/wire/storage.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

bool Fail(uint32_t error) {
  SetLastError(error);
  return false;
}

bool AnswerDeviceNumber(ControlRequest& r, uint32_t type, uint32_t number, uint32_t partition) {
  if (r.out.size() < wire::StorageDeviceNumber::kSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
  wire::StorageDeviceNumber{type, number, partition}.Encode(r.out.data());
  *r.returned = wire::StorageDeviceNumber::kSize;
  return true;
}

}  // namespace

bool DiskControl(const LinuxMachine&, const OpenDevice& device, ControlRequest& request) {
  switch (request.code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (device.kind != OpenDevice::Disk) return Fail(ERROR_INVALID_FUNCTION);
      return AnswerDeviceNumber(request, FILE_DEVICE_DISK, static_cast<uint32_t>(device.disk.number), 0);
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

bool VolumeControl(const LinuxMachine&, const OpenDevice& device, ControlRequest& request) {
  const VolumeInfo& v = device.volume;
  switch (request.code) {
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (v.optical)
        return AnswerDeviceNumber(request, FILE_DEVICE_CD_ROM, 0, 0);
      // A volume on no numbered disk (a virtio disk, a network block
      // device) has no disk number, as a volume on no disk of the platform.
      if (v.diskNumber < 0 || !v.placement) return Fail(ERROR_INVALID_FUNCTION);
      return AnswerDeviceNumber(request, FILE_DEVICE_DISK, static_cast<uint32_t>(v.diskNumber),
                                v.placement->partition);
    default:
      return Fail(ERROR_INVALID_FUNCTION);
  }
}

}  // namespace zel::linuxbackend
