// Reading the kernel's files below a root folder: an attribute's first
// line, and links resolved inside the root.
#include "platform/linux/host_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "linux/tree.h"

namespace zel {
namespace {

using linuxbackend::HostFiles;

void WriteRaw(const test::TempTree& tree, const std::string& path, const std::string& bytes) {
  std::ofstream(tree.Root() + path, std::ios::binary) << bytes;
}

TEST(HostFiles, AnAttributeIsItsFirstLineWithoutTrailingBlanks) {
  test::TempTree tree;
  tree.File("/sys/a/placeholder", "");
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected;
  } const cases[] = {
      {"class", "0x010601\n", "0x010601"},
      {"model", "QUARN SSD KD765 \t\r\n", "QUARN SSD KD765"},
      {"lines", "first\nsecond\n", "first"},
      {"unended", "no line end  ", "no line end"},
      {"empty", "", ""},
      // A first line longer than one read.
      {"long", std::string(5000, 'x') + "\nrest", std::string(5000, 'x')},
      {"longunended", std::string(9000, 'y'), std::string(9000, 'y')},
  };
  HostFiles files(tree.Root());
  for (const Case& c : cases) {
    WriteRaw(tree, std::string("/sys/a/") + c.name, c.bytes);
    EXPECT_EQ(files.Attribute(std::string("/sys/a/") + c.name), c.expected) << c.name;
  }
  EXPECT_EQ(files.Attribute("/sys/a/missing"), "");
  EXPECT_EQ(files.Attribute("/sys/a"), "");  // a folder reads as nothing
}

TEST(HostFiles, LinksResolveToMachinePathsInsideTheRoot) {
  test::TempTree tree;
  tree.File("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda/size", "8")
      .Link("/sys/block/sda", "../devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda")
      .Link("/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda/device", "../..")
      .Link("/sys/block/escape", "../../..")
      .Link("/sys/block/dangling", "../devices/nothing");
  HostFiles files(tree.Root());
  struct Case {
    const char* path;
    std::optional<std::string> expected;
  } const cases[] = {
      {"/sys/block/sda", "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda"},
      {"/sys/block/sda/device", "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0"},
      {"/sys/block/sda/size", "/sys/devices/pci0000:00/0000:00:1f.2/ata1/host0/block/sda/size"},
      {"/sys", "/sys"},
      {"/", "/"},
      {"/sys/block/dangling", std::nullopt},
      {"/sys/block/missing", std::nullopt},
      {"/sys/block/sda/size/below", std::nullopt},  // a file is no folder
      {"/sys/block/escape", std::nullopt},           // outside the root
  };
  for (const Case& c : cases) EXPECT_EQ(files.Resolve(c.path), c.expected) << c.path;
}

}  // namespace
}  // namespace zel
