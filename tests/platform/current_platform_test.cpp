// The current platform across threads: a thread keeps what Current gave it
// while another thread swaps the installed platform; the installing thread
// lets go at once; a pinned platform is the thread's whatever is installed.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using platform::Current;
using platform::Hold;
using platform::PinnedPlatform;
using platform::ScopedPlatform;

TEST(CurrentPlatform, AnotherThreadKeepsWhatItWasGivenUntilItAsksAgain) {
  std::weak_ptr<sim::SimMachine> watch;
  std::promise<platform::Platform*> given;
  std::promise<void> swapped;
  std::promise<bool> usedAfterSwap;
  std::promise<platform::Platform*> askedAgain;
  std::thread other;
  {
    auto machine = test::MustLoad("{}");
    watch = machine;
    ScopedPlatform installed(machine);
    machine.reset();
    other = std::thread([&] {
      platform::Platform& p = Current();
      given.set_value(&p);
      swapped.get_future().wait();
      // Still the machine it was given, though nothing else holds it now.
      usedAfterSwap.set_value(p.Windows().FindWindowW("QUARN SSD Zelvane") == 0 &&
                              p.Sys().GetTickCount() == p.Sys().GetTickCount());
      askedAgain.set_value(&Current());
    });
    given.get_future().wait();
  }
  EXPECT_FALSE(watch.expired());
  swapped.set_value();
  EXPECT_TRUE(usedAfterSwap.get_future().get());
  platform::Platform* now = askedAgain.get_future().get();
  other.join();
  EXPECT_TRUE(watch.expired());
  EXPECT_EQ(now, Hold().get());
}

TEST(CurrentPlatform, TheInstallingThreadLetsGoWhenItsScopeEnds) {
  std::weak_ptr<sim::SimMachine> watch;
  {
    auto machine = test::MustLoad("{}");
    watch = machine;
    ScopedPlatform installed(std::move(machine));
    EXPECT_NE(Current().Windows().ShowWindowTitle("QUARN SSD Zelvane"), 0);
  }
  EXPECT_TRUE(watch.expired());
}

TEST(CurrentPlatform, APinnedPlatformIsTheThreadsWhateverIsInstalled) {
  auto first = test::MustLoad("{}");
  auto second = test::MustLoad("{}");
  auto installed = test::MustLoad("{}");
  ScopedPlatform scope(installed);
  EXPECT_EQ(&Current(), installed.get());
  {
    PinnedPlatform outer(first);
    EXPECT_EQ(&Current(), first.get());
    EXPECT_EQ(Hold(), first);
    {
      PinnedPlatform inner(second);
      EXPECT_EQ(&Current(), second.get());
      ScopedPlatform other(test::MustLoad("{}"));
      EXPECT_EQ(&Current(), second.get());
    }
    EXPECT_EQ(&Current(), first.get());
  }
  EXPECT_EQ(&Current(), installed.get());
  EXPECT_EQ(Hold(), installed);
}

}  // namespace
}  // namespace zel
