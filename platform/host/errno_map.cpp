#include "platform/host/errno_map.h"

#include <cerrno>

#include "platform/errors.h"

namespace zel::hostfs {

using namespace zel::platform;

uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;  // a folder does not open as a file
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
    case EFAULT:
    case ERANGE: return ERROR_INVALID_PARAMETER;
    case ENOTTY:
    case ENOSYS: return ERROR_INVALID_FUNCTION;
    case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
    case EBUSY:
    case EAGAIN: return ERROR_BUSY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EIO: return ERROR_IO_DEVICE;
    case ENXIO:
    case ENODEV: return ERROR_DEVICE_NOT_CONNECTED;
    case ENOMEDIUM: return ERROR_NO_MEDIA_IN_DRIVE;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ERROR_DISK_FULL;
    case EMSGSIZE:
    case E2BIG: return ERROR_BAD_LENGTH;
    default: return ERROR_GEN_FAILURE;
  }
}

bool FailWithErrno(int err) {
  SetLastError(ErrorFromErrno(err));
  return false;
}

}  // namespace zel::hostfs
