// Reading the kernel's view of the machine (sysfs, procfs, /etc) below a root
// folder: "" on the real machine, a copied folder tree in tests. Every path
// the backend reads is an absolute path of the machine ("/sys/block"), and
// symbolic links are resolved inside the root, so a copied tree with relative
// links behaves like the live one.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zel::linuxbackend {

class HostFiles {
 public:
  // `root` is prepended to every path; "" (or "/") is the real machine.
  explicit HostFiles(std::string root = "");

  const std::string& Root() const { return root_; }
  // The path on this machine's file system of a machine path.
  std::string Path(std::string_view machinePath) const;

  // The whole file, or nothing when it cannot be read.
  std::optional<std::string> Read(std::string_view machinePath) const;
  // The first line of a file without trailing blanks and line ends; empty
  // when the file cannot be read (sysfs attributes are one line). The
  // kernel's release and architecture, fixed for the boot, and the host
  // name, which the platform's computer name also takes once, are read once
  // for the object and its copies.
  std::string Attribute(std::string_view machinePath) const;
  bool Exists(std::string_view machinePath) const;
  bool IsDirectory(std::string_view machinePath) const;
  // The names in a folder, sorted, without "." and "..". A listing of the
  // kernel's own folders (/sys, /proc) ends at the first read that leaves
  // room in the buffer, as they fill it as far as they can.
  std::vector<std::string> List(std::string_view machinePath) const;
  // The machine path with every symbolic link resolved, or nothing when it
  // does not exist or resolves outside the root.
  std::optional<std::string> Resolve(std::string_view machinePath) const;
  // The last component of the link's target ("ahci" for a driver link).
  std::string LinkName(std::string_view machinePath) const;

  // Writes a text to a file that exists (sysfs control files); returns the
  // errno of the failure, 0 on success.
  int WriteExisting(std::string_view machinePath, std::string_view text) const;

 private:
  struct Kept {
    std::mutex mutex;
    std::map<std::string, std::string, std::less<>> values;
  };
  std::string root_;
  std::shared_ptr<Kept> kept_ = std::make_shared<Kept>();
};

// Helpers for machine paths.
std::string JoinPath(std::string_view a, std::string_view b);
std::string BaseName(std::string_view path);
std::string DirName(std::string_view path);

}  // namespace zel::linuxbackend
