// The kernel's errno values in the platform's error numbering, so every
// failure of the real machine reaches the system as the platform would
// report it. A permission failure is always ERROR_ACCESS_DENIED.
#pragma once

#include <cstdint>

namespace zel::linuxbackend {

uint32_t ErrorFromErrno(int err);

// Sets the platform's last error from an errno value and returns false, for
// the common "fail with this errno" return of the backend's calls.
bool FailWithErrno(int err);

}  // namespace zel::linuxbackend
