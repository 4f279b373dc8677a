// The kernel's errno values in the platform's error numbering: the one map
// of this machine's file and device failures, used by both backends where
// they reach real files. A permission failure is always ERROR_ACCESS_DENIED.
#pragma once

#include <cstdint>

namespace zel::hostfs {

uint32_t ErrorFromErrno(int err);

// Sets the platform's last error from an errno value and returns false.
bool FailWithErrno(int err);

}  // namespace zel::hostfs
