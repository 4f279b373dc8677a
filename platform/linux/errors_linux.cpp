#include "platform/linux/errors_linux.h"

#include "platform/host/errno_map.h"

namespace zel::linuxbackend {

// The backend's one map is the host's: files and devices fail alike.
uint32_t ErrorFromErrno(int err) { return hostfs::ErrorFromErrno(err); }

bool FailWithErrno(int err) { return hostfs::FailWithErrno(err); }

}  // namespace zel::linuxbackend
