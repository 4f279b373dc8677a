#include "device/disk_interfaces.h"

#include <array>

#include "log/log.h"
#include "platform/bytes.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "platform/wire/setup.h"

namespace zel {

using namespace zel::platform;

int32_t EnumerateDiskInterfaces(std::vector<std::string>& paths) {
  using D = wire::SpDeviceInterfaceDetailW;
  paths.clear();
  DeviceTree& tree = Current().Tree();
  HDEVINFO set = tree.SetupDiGetClassDevsW(GUID_DEVINTERFACE_DISK, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_DEVINFO) return 0;

  for (uint32_t member = 0; static_cast<int32_t>(paths.size()) < kMaxDiskInterfaces; ++member) {
    if (!tree.SetupDiEnumDeviceInterfaces(set, GUID_DEVINTERFACE_DISK, member)) break;
    // A fresh zero-filled block for every interface, so no part of a longer
    // earlier path can show through.
    std::array<uint8_t, kInterfaceDetailBufferSize> detail{};
    PutLE32(detail.data() + D::kCbSize, D::kCbSizeValue);
    uint32_t required = 0;
    if (!tree.SetupDiGetDeviceInterfaceDetailW(set, member, detail.data(), kInterfaceDetailBufferSize,
                                               &required))
      break;
    // The path ends at its NUL or at the end of the block, whichever comes first.
    std::string path = Utf16LeBytesToUtf8(detail.data() + D::kDevicePath,
                                          kInterfaceDetailBufferSize - D::kDevicePath);
    path = TruncateUtf16(ToLowerAscii(path), kMaxInterfacePathChars);
    paths.push_back(path);
    LogTraceF("SetupDiGetInterfaceDeviceDetail-DevicePath:%s", path.c_str());
  }

  tree.SetupDiDestroyDeviceInfoList(set);
  return static_cast<int32_t>(paths.size());
}

uint32_t RescanDevices() {
  DeviceTree& tree = Current().Tree();
  // The library and both functions are looked up before anything is called.
  if (!tree.HasLibraryFunction("cfgmgr32.dll", "CM_Locate_DevNodeW") ||
      !tree.HasLibraryFunction("cfgmgr32.dll", "CM_Reenumerate_DevNode"))
    return 0;
  uint32_t root = 0;
  if (tree.CM_Locate_DevNodeW(&root, nullptr, 0) != CR_SUCCESS) return 0;
  if (tree.CM_Reenumerate_DevNode(root, 0) != CR_SUCCESS) return 0;
  return 1;
}

}  // namespace zel
