// The single-instance rendezvous of the simulated machine: a window title
// shown by one process on a machine is found by every process on the same
// machine (the same machine file), and by no other, and it vanishes with the
// process that shows it, however that process ends.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/startup.h"
#include "platform/errors.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class InstanceRendezvousTest : public test::SimTest {
 protected:
  // A machine loaded from a file of this test's folder, as a program given
  // --machine FILE loads it; each call stands for another process.
  std::shared_ptr<sim::SimMachine> Load(const std::string& name) {
    std::string path = Dir() + "/" + name;
    if (!std::filesystem::exists(path)) test::WriteFile(path, "{}");
    sim::LoadResult r = sim::LoadMachineFile(path);
    EXPECT_TRUE(r.machine) << r.error;
    return r.machine;
  }
};

TEST_F(InstanceRendezvousTest, TitleIsSeenOnTheSameMachineOnlyWhileShown) {
  auto first = Load("a.json");
  auto second = Load("a.json");
  auto other = Load("b.json");
  auto fromText = test::MustLoad("{}");

  EXPECT_EQ(second->Windows().FindWindowW(kMainWindowTitle), 0);
  std::intptr_t token = first->Windows().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(token, 0);
  EXPECT_NE(first->Windows().FindWindowW(kMainWindowTitle), 0);
  EXPECT_NE(second->Windows().FindWindowW(kMainWindowTitle), 0);
  EXPECT_EQ(second->Windows().FindWindowW("QUARN SSD Zelvane 2"), 0);
  EXPECT_EQ(other->Windows().FindWindowW(kMainWindowTitle), 0);
  EXPECT_EQ(fromText->Windows().FindWindowW(kMainWindowTitle), 0);

  // Two windows of one title: the title stays until both are gone.
  std::intptr_t again = second->Windows().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(again, 0);
  first->Windows().HideWindowTitle(token);
  EXPECT_NE(first->Windows().FindWindowW(kMainWindowTitle), 0);
  second->Windows().HideWindowTitle(again);
  EXPECT_EQ(first->Windows().FindWindowW(kMainWindowTitle), 0);

  // A machine that ends takes its windows with it.
  ASSERT_NE(second->Windows().ShowWindowTitle(kMainWindowTitle), 0);
  second.reset();
  EXPECT_EQ(first->Windows().FindWindowW(kMainWindowTitle), 0);
}

TEST_F(InstanceRendezvousTest, TitleOfAnotherProcessVanishesWhenItIsKilled) {
  std::string path = Dir() + "/a.json";
  test::WriteFile(path, "{}");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sim::LoadResult r = sim::LoadMachineFile(path);
    char ok = r.machine && r.machine->Windows().ShowWindowTitle(kMainWindowTitle) ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(ok, 'y');

  auto here = Load("a.json");
  EXPECT_NE(here->Windows().FindWindowW(kMainWindowTitle), 0);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(here->Windows().FindWindowW(kMainWindowTitle), 0);
}

TEST_F(InstanceRendezvousTest, MutexTellsItsSecondCreatorThatItExists) {
  auto first = Load("a.json");
  auto second = Load("a.json");
  platform::SetLastError(99);
  EXPECT_NE(first->Procs().CreateMutexW(kInstanceMutexName), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_SUCCESS);
  EXPECT_NE(second->Procs().CreateMutexW(kInstanceMutexName), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ALREADY_EXISTS);
  // A mutex is no window: the single-instance test does not see it.
  EXPECT_EQ(second->Windows().FindWindowW(kInstanceMutexName), 0);
  first.reset();
  second.reset();
  auto later = Load("a.json");
  EXPECT_NE(later->Procs().CreateMutexW(kInstanceMutexName), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_SUCCESS);
}

TEST_F(InstanceRendezvousTest, FolderThatOthersMayWriteToIsNotUsed) {
  // The objects' folder under a temporary directory of this test, made
  // writable for everybody beforehand, as another user could have made it.
  std::string tmp = Dir() + "/tmp";
  std::string folder = tmp + "/zelvane-sim-" + std::to_string(::geteuid());
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(folder, std::filesystem::perms::all);
  test::ScopedEnv tmpdir("TMPDIR", tmp.c_str());

  auto machine = Load("a.json");
  platform::SetLastError(0);
  EXPECT_EQ(machine->Windows().ShowWindowTitle(kMainWindowTitle), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
  EXPECT_EQ(machine->Windows().FindWindowW(kMainWindowTitle), 0);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace zel
