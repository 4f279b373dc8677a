// Device-tree helpers of drive discovery: the enumeration of the present
// disks' device interfaces, and the rescan of the whole device tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// At most this many disk interfaces are examined per discovery.
inline constexpr int32_t kMaxDiskInterfaces = 80;
// An interface path holds at most this many UTF-16 characters; longer paths
// are cut. Its buffer holds 256 characters with the terminating NUL, as the
// drive record's DevicePath does, so the path commands are sent to and the
// path the record keeps are the same.
inline constexpr size_t kMaxInterfacePathChars = 255;
// The interface detail is read into a block of this size; an interface whose
// detail does not fit ends the enumeration.
inline constexpr uint32_t kInterfaceDetailBufferSize = 1024;

// Replaces `paths` with the lower-cased device interface paths of the
// present disks, in the platform's order, at most kMaxDiskInterfaces of
// them; returns their number. Logs
// "SetupDiGetInterfaceDeviceDetail-DevicePath:%s" for each path.
int32_t EnumerateDiskInterfaces(std::vector<std::string>& paths);

// Asks the platform to re-enumerate the whole device tree through
// "cfgmgr32.dll"; non-zero on success. A missing library or function is a
// failure.
uint32_t RescanDevices();

}  // namespace zel
