// The named objects of the real machine: window titles and mutexes seen by
// every program of the user, held until the last holder lets go, and kept
// out of a folder that another user could write to.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "linux/tree.h"
#include "platform/errors.h"
#include "platform/linux/linux_platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

constexpr const char* kTitle = "QUARN SSD Zelvane";

class LinuxNamedObjects : public ::testing::Test {
 protected:
  // Another program of the user: a platform of its own.
  std::shared_ptr<Platform> Program() {
    LinuxPlatformOptions o;
    o.root = tree_.Root();
    o.registryPath = tree_.Root() + "/registry.sqlite3";
    return MakeLinuxPlatform(o);
  }
  std::string Folder() const { return tree_.Root() + "/ssdzelvane"; }

  test::TempTree tree_;
  // The user's runtime folder is the tree's.
  test::ScopedEnv runtime_{"XDG_RUNTIME_DIR", tree_.Root().c_str()};
};

TEST_F(LinuxNamedObjects, TitleIsSeenByEveryProgramUntilItsLastWindowIsGone) {
  auto first = Program();
  auto second = Program();
  EXPECT_FALSE(second->Procs().FindWindowTitle(kTitle));
  std::intptr_t window = first->Procs().ShowWindowTitle(kTitle);
  ASSERT_NE(window, 0);
  EXPECT_TRUE(first->Procs().FindWindowTitle(kTitle));
  EXPECT_TRUE(second->Procs().FindWindowTitle(kTitle));
  EXPECT_FALSE(second->Procs().FindWindowTitle("QUARN SSD Zelvane 2"));

  // Two windows of one title, here in one process: the title stays until
  // both are gone, and then nothing is left in the folder.
  std::intptr_t again = second->Procs().ShowWindowTitle(kTitle);
  ASSERT_NE(again, 0);
  first->Procs().HideWindowTitle(window);
  EXPECT_TRUE(first->Procs().FindWindowTitle(kTitle));
  second->Procs().HideWindowTitle(again);
  EXPECT_FALSE(first->Procs().FindWindowTitle(kTitle));
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));

  // A program that ends takes its windows with it.
  ASSERT_NE(second->Procs().ShowWindowTitle(kTitle), 0);
  second.reset();
  EXPECT_FALSE(first->Procs().FindWindowTitle(kTitle));
}

TEST_F(LinuxNamedObjects, MutexTellsItsSecondCreatorThatItExists) {
  auto first = Program();
  auto second = Program();
  SetLastError(99);
  EXPECT_NE(first->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_NE(second->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  // A mutex is no window.
  EXPECT_FALSE(second->Procs().FindWindowTitle("SSDZelvane"));
  first.reset();
  second.reset();
  EXPECT_NE(Program()->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(LinuxNamedObjects, FolderThatOthersMayWriteToIsNotUsed) {
  // The folder made writable for everybody beforehand, as another user
  // could have made it.
  std::filesystem::create_directories(Folder());
  std::filesystem::permissions(Folder(), std::filesystem::perms::all);
  auto program = Program();
  SetLastError(0);
  EXPECT_EQ(program->Procs().ShowWindowTitle(kTitle), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(program->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_FALSE(program->Procs().FindWindowTitle(kTitle));
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

}  // namespace
}  // namespace zel
