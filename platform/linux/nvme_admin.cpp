#include "platform/linux/nvme_admin.h"

#include <linux/nvme_ioctl.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "platform/errors.h"
#include "platform/linux/errors_linux.h"

namespace zel::linuxbackend {

using namespace zel::platform;

uint32_t ErrorFromNvmeStatus(uint16_t status) {
  uint16_t type = (status >> 8) & 0x7, code = status & 0xFF;
  if (type == 0 && (code == 0x01 || code == 0x02)) return ERROR_INVALID_FUNCTION;  // opcode, field
  if (type == 0 && code == 0x0B) return ERROR_INVALID_PARAMETER;                  // namespace
  return ERROR_IO_DEVICE;
}

NvmeAdminResult SendNvmeAdmin(int fd, const NvmeAdminCommand& c, uint8_t* data,
                              uint32_t dataLength) {
  NvmeAdminResult r;
  struct nvme_admin_cmd cmd;
  std::memset(&cmd, 0, sizeof cmd);
  cmd.opcode = c.opcode;
  cmd.nsid = c.nsid;
  cmd.addr = reinterpret_cast<uintptr_t>(data);
  cmd.data_len = data ? dataLength : 0;
  cmd.cdw10 = c.cdw10;
  cmd.cdw11 = c.cdw11;
  cmd.cdw12 = c.cdw12;
  cmd.cdw13 = c.cdw13;
  cmd.cdw14 = c.cdw14;
  cmd.cdw15 = c.cdw15;
  cmd.timeout_ms = c.timeoutMs;
  int rc;
  do {
    rc = ::ioctl(fd, NVME_IOCTL_ADMIN_CMD, &cmd);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) {
    r.error = ErrorFromErrno(errno);
    return r;
  }
  r.result = cmd.result;
  if (rc > 0) {
    r.status = static_cast<uint16_t>(rc & 0x7FF);
    r.error = ErrorFromNvmeStatus(r.status);
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace zel::linuxbackend
