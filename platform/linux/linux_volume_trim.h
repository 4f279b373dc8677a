// The volume TRIM of the real machine: which mounted file systems can be
// asked to trim their free space (FITRIM), and the request itself.
#pragma once

#include <string_view>

namespace zel::linuxbackend {

// Whether a file system of this kernel type answers FITRIM: the block file
// systems that implement it (ext4 and ext3 through it, xfs, btrfs, f2fs,
// vfat, ntfs3, jfs, nilfs2). Network, memory, FUSE and read-only file
// systems do not.
bool FileSystemTrimsOnRequest(std::string_view fsType);

}  // namespace zel::linuxbackend
