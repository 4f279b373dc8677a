#include "linux/tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace zel::test {

namespace fs = std::filesystem;

TempTree::TempTree() {
  char tmpl[] = "/tmp/zel-tree-XXXXXX";
  char* dir = ::mkdtemp(tmpl);
  if (!dir) ADD_FAILURE() << "no temporary folder";
  root_ = dir ? dir : "/tmp";
}

TempTree::~TempTree() {
  std::error_code ec;
  if (root_ != "/tmp") fs::remove_all(root_, ec);
}

TempTree& TempTree::File(const std::string& path, const std::string& content) {
  fs::path p = fs::path(root_) / fs::path(path).relative_path();
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content << "\n";
  return *this;
}

TempTree& TempTree::Link(const std::string& path, const std::string& target) {
  fs::path p = fs::path(root_) / fs::path(path).relative_path();
  fs::create_directories(p.parent_path());
  std::error_code ec;
  if (fs::is_symlink(p) && fs::read_symlink(p) == target) return *this;
  fs::create_symlink(target, p, ec);
  if (ec) ADD_FAILURE() << "link " << path << ": " << ec.message();
  return *this;
}

TempTree& TempTree::CopyFixture(const std::string& fixture) {
  fs::copy(fs::path(ZEL_FIXTURES_DIR) / fixture, root_,
           fs::copy_options::recursive | fs::copy_options::copy_symlinks |
               fs::copy_options::overwrite_existing);
  return *this;
}

TempTree& TempTree::AtaDisk(const std::string& name, int host, const std::string& model) {
  std::string h = std::to_string(host);
  std::string dev = "/sys/devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(host + 1) + "/host" + h +
                    "/target" + h + ":0:0/" + h + ":0:0:0";
  File(dev + "/type", "0").File(dev + "/vendor", "ATA     ").File(dev + "/model", model).File(dev + "/rev", "1.0");
  File(dev + "/block/" + name + "/size", "1000").File(dev + "/block/" + name + "/dev", "8:" + h);
  Link(dev + "/block/" + name + "/device", "../../../" + h + ":0:0:0");
  Link("/sys/block/" + name, "../devices/pci0000:00/0000:00:1f.2/ata" + std::to_string(host + 1) + "/host" +
                                 h + "/target" + h + ":0:0/" + h + ":0:0:0/block/" + name);
  Link("/sys/class/scsi_host/host" + h, "../../devices/pci0000:00/0000:00:1f.2/ata" +
                                            std::to_string(host + 1) + "/host" + h + "/scsi_host/host" + h);
  return *this;
}

TempTree& TempTree::NvmeNamespace(int controller, int ns, const std::string& model) {
  std::string c = std::to_string(controller);
  std::string pci = "0000:0" + std::to_string(controller + 1) + ":00.0";
  std::string ctl = "/sys/devices/pci0000:00/0000:00:01." + c + "/" + pci + "/nvme/nvme" + c;
  std::string name = "nvme" + c + "n" + std::to_string(ns);
  File(ctl + "/model", model).File(ctl + "/serial", "SN" + c).File(ctl + "/firmware_rev", "FW" + c);
  Link(ctl + "/device", "../../../" + pci);
  File(ctl + "/" + name + "/size", "2000").File(ctl + "/" + name + "/nsid", std::to_string(ns));
  Link(ctl + "/" + name + "/device", "../../nvme" + c);
  Link("/sys/block/" + name, "../devices/pci0000:00/0000:00:01." + c + "/" + pci + "/nvme/nvme" + c + "/" + name);
  Link("/sys/class/nvme/nvme" + c, "../../devices/pci0000:00/0000:00:01." + c + "/" + pci + "/nvme/nvme" + c);
  return *this;
}

}  // namespace zel::test
