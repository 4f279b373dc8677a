// How a volume's freed space reaches the drive as TRIM. On the platform the
// free-space TRIM was written for, the file system itself reports freed
// clusters to the drive when a file is deleted (NTFS with delete
// notifications on), so filling the free space with files and deleting them
// is enough. Other file systems need to be asked: after the filler files are
// deleted, the caller asks the volume to trim its free space, here, where the
// delete notifications would have done the work.
#pragma once

#include <cstdint>
#include <string>

namespace zel::platform {

// What TrimFreeSpace did.
struct FreeSpaceTrim {
  // True when the file system was asked to trim its free space; false when it
  // reports freed clusters by itself, so there was nothing to do.
  bool requested = false;
  // The bytes the file system says it trimmed (when requested).
  uint64_t bytesTrimmed = 0;
};

class VolumeTrim {
 public:
  virtual ~VolumeTrim() = default;

  // Whether the file system of the lettered volume `root` ("C:") turns
  // freed clusters into TRIM, by itself or when asked (TrimFreeSpace). A
  // volume the machine does not have answers false.
  virtual bool TurnsFreedClustersIntoTrim(const std::string& root) = 0;

  // Makes the freed space of the volume `root` known to the drive. False
  // with the last error set when the file system refuses.
  virtual bool TrimFreeSpace(const std::string& root, FreeSpaceTrim* result) = 0;
};

}  // namespace zel::platform
