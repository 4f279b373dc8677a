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
  EXPECT_EQ(second->Windows().FindWindowW(kTitle), 0);
  std::intptr_t window = first->Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(window, 0);
  EXPECT_NE(first->Windows().FindWindowW(kTitle), 0);
  EXPECT_NE(second->Windows().FindWindowW(kTitle), 0);
  EXPECT_EQ(second->Windows().FindWindowW("QUARN SSD Zelvane 2"), 0);

  // Two windows of one title, here in one process: the title stays until
  // both are gone, and then nothing is left in the folder.
  std::intptr_t again = second->Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(again, 0);
  first->Windows().HideWindowTitle(window);
  EXPECT_NE(first->Windows().FindWindowW(kTitle), 0);
  second->Windows().HideWindowTitle(again);
  EXPECT_EQ(first->Windows().FindWindowW(kTitle), 0);
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));

  // A program that ends takes its windows with it.
  ASSERT_NE(second->Windows().ShowWindowTitle(kTitle), 0);
  second.reset();
  EXPECT_EQ(first->Windows().FindWindowW(kTitle), 0);
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
  EXPECT_EQ(second->Windows().FindWindowW("SSDZelvane"), 0);
  first.reset();
  second.reset();
  EXPECT_NE(Program()->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST_F(LinuxNamedObjects, PostedMessagesReachTheShowingProgramOnly) {
  auto first = Program();
  auto second = Program();
  platform::HWND window = first->Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(window, 0);
  ASSERT_TRUE(first->Windows().PostMessageW(first->Windows().FindWindowW(kTitle), 1125, 0x3202, 0x1234));
  platform::MSG got;
  ASSERT_TRUE(first->Windows().GetMessageW(&got, 1000));
  EXPECT_EQ(got.hwnd, window);
  EXPECT_EQ(got.message, 1125u);
  EXPECT_EQ(got.wParam, 0x3202u);
  EXPECT_EQ(got.lParam, 0x1234);
  EXPECT_FALSE(first->Windows().PeekMessageW(&got));

  // The other program finds the window but cannot post to it.
  platform::HWND foreign = second->Windows().FindWindowW(kTitle);
  ASSERT_NE(foreign, 0);
  EXPECT_FALSE(second->Windows().PostMessageW(foreign, 1125, 1, 0));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  first->Windows().HideWindowTitle(window);
  EXPECT_FALSE(first->Windows().PostMessageW(window, 1125, 1, 0));
  EXPECT_EQ(GetLastError(), 1400u);
}

TEST_F(LinuxNamedObjects, FolderThatOthersMayWriteToIsNotUsed) {
  // The folder made writable for everybody beforehand, as another user
  // could have made it.
  std::filesystem::create_directories(Folder());
  std::filesystem::permissions(Folder(), std::filesystem::perms::all);
  auto program = Program();
  SetLastError(0);
  EXPECT_EQ(program->Windows().ShowWindowTitle(kTitle), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(program->Procs().CreateMutexW("SSDZelvane"), 0);
  EXPECT_EQ(program->Windows().FindWindowW(kTitle), 0);
  EXPECT_TRUE(std::filesystem::is_empty(Folder()));
}

}  // namespace
}  // namespace zel
