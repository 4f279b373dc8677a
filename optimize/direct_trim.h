// Direct TRIM by LBA extents, for a file system that reports no freed
// clusters (the platform version 5.1, XP): before a filler file is deleted,
// GetLBA_XP maps it to LBA ranges of its physical drive, and DoTrim_XP sends
// the drive DATA SET MANAGEMENT (TRIM) commands for exactly those sectors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zel {

// One contiguous run of a file on its physical drive.
struct LbaExtent {
  uint32_t index = 0;   // position of the run in the file, from 0
  uint64_t start = 0;   // first LBA on the physical drive
  uint64_t length = 0;  // sectors
  bool operator==(const LbaExtent&) const = default;
};

// Sectors one range entry carries, entries in one 512-byte block (one block
// per command).
inline constexpr uint64_t kTrimRangeMaxSectors = 65535;
inline constexpr uint32_t kTrimEntriesPerBlock = 64;

// The runs of `path` as physical LBA ranges, in file order: retrieval
// pointers of the file, moved by where its volume starts on the disk; the
// volume's sector 0 is never part of a range. Runs without a place on the
// volume (sparse) are left out. 1 on success; 0 when any step fails,
// including a volume that spans more than one disk. With `trace` the steps
// are appended to GetLBA_XP.txt in the current directory.
int GetLBA_XP(const std::string& path, std::vector<LbaExtent>* extents, bool trace);

// The 512-byte TRIM payloads for one extent: entries of at most 65535
// sectors, 64 to a block, each a 48-bit LBA and a 16-bit length,
// little-endian; entries not filled are zero.
std::vector<std::vector<uint8_t>> TrimBlocksFor(const LbaExtent& extent);

// Sends the TRIM blocks of every extent in order to \\.\PhysicalDrive<n>
// (DATA SET MANAGEMENT, features 01h, count 1, 48-bit DMA data out). 1 when
// every command succeeded; 0 at the first that fails (nothing more is sent).
// With `trace` the entries are appended to DoTrim_XP.txt.
int DoTrim_XP(const std::vector<LbaExtent>& extents, uint32_t driveNumber, bool trace);

}  // namespace zel
