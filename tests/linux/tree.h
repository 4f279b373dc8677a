// Small sysfs/procfs trees for the Linux backend's tests: a temporary folder
// filled with files and relative symbolic links, removed at the end, and a
// copy of a committed fixture tree for tests that write into it.
#pragma once

#include <string>

namespace zel::test {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& Root() const { return root_; }
  // Writes a file (a line end is added), creating its folders.
  TempTree& File(const std::string& path, const std::string& content);
  // A symbolic link at `path` pointing to `target` (relative as in sysfs).
  TempTree& Link(const std::string& path, const std::string& target);
  // Copies a tree of fixtures/ (symbolic links kept) into this one.
  TempTree& CopyFixture(const std::string& fixture);

  // A SCSI disk "sdX" behind an ATA port of an AHCI function, or an NVMe
  // namespace "nvmeXnY" of a controller, with the links sysfs has.
  TempTree& AtaDisk(const std::string& name, int host, const std::string& model);
  TempTree& NvmeNamespace(int controller, int ns, const std::string& model);

 private:
  std::string root_;
};

}  // namespace zel::test
