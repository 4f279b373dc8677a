#include "platform/linux/errors_linux.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "platform/errors.h"

namespace zel {
namespace {

using namespace zel::platform;

TEST(LinuxErrors, ErrnoInThePlatformsNumbering) {
  struct Case {
    int err;
    uint32_t error;
  } const cases[] = {
      {0, ERROR_SUCCESS},
      {ENOENT, ERROR_FILE_NOT_FOUND},
      {EACCES, ERROR_ACCESS_DENIED},
      {EPERM, ERROR_ACCESS_DENIED},
      {EROFS, ERROR_ACCESS_DENIED},
      {EBADF, ERROR_INVALID_HANDLE},
      {EINVAL, ERROR_INVALID_PARAMETER},
      {ENOTTY, ERROR_INVALID_FUNCTION},
      {EBUSY, ERROR_BUSY},
      {EIO, ERROR_IO_DEVICE},
      {ENODEV, ERROR_DEVICE_NOT_CONNECTED},
      {ENXIO, ERROR_DEVICE_NOT_CONNECTED},
      {ETIMEDOUT, ERROR_SEM_TIMEOUT},
      {ENOSPC, ERROR_DISK_FULL},
      {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {EEXIST, ERROR_FILE_EXISTS},
      {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
      {ENOMEDIUM, ERROR_NO_MEDIA_IN_DRIVE},
      {EXDEV, ERROR_NOT_SAME_DEVICE},
      {EDOM, ERROR_GEN_FAILURE},
  };
  for (const Case& c : cases) EXPECT_EQ(linuxbackend::ErrorFromErrno(c.err), c.error) << c.err;
  SetLastError(0);
  EXPECT_FALSE(linuxbackend::FailWithErrno(EACCES));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
}  // namespace zel
