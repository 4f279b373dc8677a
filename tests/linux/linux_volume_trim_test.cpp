// The volume TRIM of the real machine, on a copied tree: which kernel file
// system types are trimmed, the request going to the volume's mount point
// through the backend's transport, and never to this machine's own file
// systems when the backend looks at a copy.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <string>

#include "linux/tree.h"
#include "platform/errors.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/linux_transport.h"
#include "platform/linux/linux_volume_trim.h"
#include "platform/platform.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

TEST(LinuxVolumeTrimKinds, OnlyBlockFileSystemsThatAnswerFitrimAreTrimmed) {
  struct Case {
    const char* type;
    bool trims;
  } cases[] = {
      {"ext4", true},     {"ext3", true},  {"xfs", true},      {"btrfs", true},   {"f2fs", true},
      {"vfat", true},     {"ntfs3", true}, {"jfs", true},      {"nilfs2", true},  {"ntfs", false},
      {"fuseblk", false}, {"exfat", false}, {"tmpfs", false},  {"nfs4", false},   {"iso9660", false},
      {"overlay", false}, {"EXT4", false},  {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(FileSystemTrimsOnRequest(c.type), c.trims) << c.type;
}

class LinuxVolumeTrim : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.CopyFixture("linux/mixed");
    tree_.File("/proc/self/mountinfo",
               "28 1 254:0 / / rw - tmpfs none rw\n"
               "30 28 8:1 / /data rw - vfat /dev/sda1 rw\n");
    tree_.File("/data/keep.txt", "kept");
  }
  std::shared_ptr<Platform> Make(std::shared_ptr<LinuxTransports> transports) {
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    o.transports = std::move(transports);
    return MakeLinuxPlatform(o);
  }
  test::TempTree tree_;
};

std::string PathOfFd(int fd) {
  char link[PATH_MAX] = {};
  ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), link, sizeof link - 1);
  return n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
}

TEST_F(LinuxVolumeTrim, TheRequestGoesToTheVolumesMountPointAndReportsItsBytes) {
  auto transports = std::make_shared<LinuxTransports>();
  std::vector<std::string> asked;
  transports->fitrim = [&](int fd, uint64_t* bytes) {
    asked.push_back(PathOfFd(fd));
    *bytes = 123456789;
    return 0;
  };
  std::shared_ptr<Platform> p = Make(transports);
  VolumeTrim& trim = p->VolumeTrim();
  EXPECT_FALSE(trim.TurnsFreedClustersIntoTrim("C:"));  // tmpfs
  EXPECT_TRUE(trim.TurnsFreedClustersIntoTrim("D:"));
  EXPECT_TRUE(trim.TurnsFreedClustersIntoTrim("d:\\"));
  EXPECT_FALSE(trim.TurnsFreedClustersIntoTrim("Q:"));

  FreeSpaceTrim result;
  ASSERT_TRUE(trim.TrimFreeSpace("D:", &result));
  EXPECT_TRUE(result.requested);
  EXPECT_EQ(result.bytesTrimmed, 123456789u);
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0], tree_.Root() + "/data");

  // A file system that is not trimmed, and a letter the machine lacks, are
  // refused without asking.
  EXPECT_FALSE(trim.TrimFreeSpace("C:", &result));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_FALSE(trim.TrimFreeSpace("Q:", &result));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(LinuxVolumeTrim, ARefusalOfTheFileSystemIsAFailure) {
  auto transports = std::make_shared<LinuxTransports>();
  transports->fitrim = [](int, uint64_t*) { return EOPNOTSUPP; };
  std::shared_ptr<Platform> p = Make(transports);
  FreeSpaceTrim result;
  EXPECT_FALSE(p->VolumeTrim().TrimFreeSpace("D:", &result));
  EXPECT_NE(GetLastError(), ERROR_SUCCESS);
  EXPECT_FALSE(result.requested);
}

TEST_F(LinuxVolumeTrim, ABackendOnACopiedTreeNeverTrimsTheFileSystemTheCopyLiesOn) {
  // No transport of the test's own: the kernel's request would reach the
  // file system of the temporary folder, so it is refused.
  std::shared_ptr<Platform> p = Make(nullptr);
  FreeSpaceTrim result;
  EXPECT_FALSE(p->VolumeTrim().TrimFreeSpace("D:", &result));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  // A test's transports without a TRIM request refuse too.
  std::shared_ptr<Platform> q = Make(std::make_shared<LinuxTransports>());
  EXPECT_FALSE(q->VolumeTrim().TrimFreeSpace("D:", &result));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

}  // namespace
}  // namespace zel
