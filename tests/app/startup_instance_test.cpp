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

  EXPECT_FALSE(second->Procs().FindWindowTitle(kMainWindowTitle));
  std::intptr_t token = first->Procs().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(token, 0);
  EXPECT_TRUE(first->Procs().FindWindowTitle(kMainWindowTitle));
  EXPECT_TRUE(second->Procs().FindWindowTitle(kMainWindowTitle));
  EXPECT_FALSE(second->Procs().FindWindowTitle("QUARN SSD Zelvane 2"));
  EXPECT_FALSE(other->Procs().FindWindowTitle(kMainWindowTitle));
  EXPECT_FALSE(fromText->Procs().FindWindowTitle(kMainWindowTitle));

  // Two windows of one title: the title stays until both are gone.
  std::intptr_t again = second->Procs().ShowWindowTitle(kMainWindowTitle);
  ASSERT_NE(again, 0);
  first->Procs().HideWindowTitle(token);
  EXPECT_TRUE(first->Procs().FindWindowTitle(kMainWindowTitle));
  second->Procs().HideWindowTitle(again);
  EXPECT_FALSE(first->Procs().FindWindowTitle(kMainWindowTitle));

  // A machine that ends takes its windows with it.
  ASSERT_NE(second->Procs().ShowWindowTitle(kMainWindowTitle), 0);
  second.reset();
  EXPECT_FALSE(first->Procs().FindWindowTitle(kMainWindowTitle));
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
    char ok = r.machine && r.machine->Procs().ShowWindowTitle(kMainWindowTitle) ? 'y' : 'n';
    (void)!::write(ready[1], &ok, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ::close(ready[0]);
  EXPECT_EQ(ok, 'y');

  auto here = Load("a.json");
  EXPECT_TRUE(here->Procs().FindWindowTitle(kMainWindowTitle));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_FALSE(here->Procs().FindWindowTitle(kMainWindowTitle));
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
  EXPECT_FALSE(second->Procs().FindWindowTitle(kInstanceMutexName));
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
  EXPECT_EQ(machine->Procs().ShowWindowTitle(kMainWindowTitle), 0);
  EXPECT_EQ(platform::GetLastError(), platform::ERROR_ACCESS_DENIED);
  EXPECT_FALSE(machine->Procs().FindWindowTitle(kMainWindowTitle));
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

}  // namespace
}  // namespace zel
