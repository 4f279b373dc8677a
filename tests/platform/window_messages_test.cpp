// Windows of the simulated machine and of the machine before any platform
// is installed: a window found by title, messages posted to it taken from the
// process's queue in order, with and without waiting, and the refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/errors.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using platform::GetLastError;
using platform::HWND;
using platform::MSG;

constexpr const char* kTitle = "QUARN SSD Zelvane";

class SimWindowsTest : public test::SimTest {
 protected:
  platform::WindowMessages& Windows() { return Machine().Windows(); }
};

TEST_F(SimWindowsTest, PostedMessagesAreTakenInOrderWithTheirParameters) {
  HWND window = Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(window, 0);
  EXPECT_EQ(Windows().FindWindowW(kTitle), window);
  EXPECT_EQ(Windows().FindWindowW("QUARN SSD"), 0);

  int block = 0;
  const MSG sent[] = {{window, 1125, 0x1, reinterpret_cast<platform::LPARAM>(&block)},
                      {window, 1125, 0x3202, reinterpret_cast<platform::LPARAM>(&block)},
                      {window, 0x0010, 0, 0}};
  for (const MSG& m : sent) ASSERT_TRUE(Windows().PostMessageW(m.hwnd, m.message, m.wParam, m.lParam));

  MSG got;
  ASSERT_TRUE(Windows().PeekMessageW(&got));
  EXPECT_EQ(got.hwnd, window);
  EXPECT_EQ(got.message, 1125u);
  EXPECT_EQ(got.wParam, 0x1u);
  EXPECT_EQ(got.lParam, reinterpret_cast<platform::LPARAM>(&block));
  ASSERT_TRUE(Windows().GetMessageW(&got, 0));
  EXPECT_EQ(got.wParam, 0x3202u);
  ASSERT_TRUE(Windows().GetMessageW(&got));
  EXPECT_EQ(got.message, 0x0010u);
  EXPECT_FALSE(Windows().PeekMessageW(&got));
  EXPECT_FALSE(Windows().GetMessageW(&got, 10));
}

TEST_F(SimWindowsTest, AWaitingDrainWakesWhenAnotherThreadPosts) {
  HWND window = Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(window, 0);
  std::thread poster([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Windows().PostMessageW(Windows().FindWindowW(kTitle), 1125, 0x6503, 0);
  });
  MSG got;
  bool arrived = Windows().GetMessageW(&got, 5000);
  poster.join();
  ASSERT_TRUE(arrived);
  EXPECT_EQ(got.wParam, 0x6503u);
}

TEST_F(SimWindowsTest, AHiddenWindowTakesNoMessageAndLosesWhatWasQueued) {
  HWND window = Windows().ShowWindowTitle(kTitle);
  HWND other = Windows().ShowWindowTitle("QUARN SSD Zelvane Scheduled Trim");
  ASSERT_NE(window, 0);
  ASSERT_NE(other, 0);
  EXPECT_NE(window, other);
  ASSERT_TRUE(Windows().PostMessageW(window, 1125, 1, 0));
  ASSERT_TRUE(Windows().PostMessageW(other, 1125, 2, 0));
  Windows().HideWindowTitle(window);

  EXPECT_EQ(Windows().FindWindowW(kTitle), 0);
  EXPECT_FALSE(Windows().PostMessageW(window, 1125, 3, 0));
  EXPECT_EQ(GetLastError(), 1400u);
  MSG got;
  ASSERT_TRUE(Windows().PeekMessageW(&got));
  EXPECT_EQ(got.hwnd, other);
  EXPECT_EQ(got.wParam, 2u);
  EXPECT_FALSE(Windows().PeekMessageW(&got));

  for (HWND never : {HWND{0}, HWND{-1}, HWND{12345}}) {
    EXPECT_FALSE(Windows().PostMessageW(never, 1125, 1, 0)) << never;
    EXPECT_EQ(GetLastError(), 1400u) << never;
  }
}

TEST_F(SimWindowsTest, AnotherProcesssWindowIsFoundButTakesNoMessageFromThisOne) {
  std::string path = Dir() + "/machine.json";
  test::WriteFile(path, "{}");
  sim::LoadResult first = sim::LoadMachineFile(path);
  sim::LoadResult second = sim::LoadMachineFile(path);
  ASSERT_TRUE(first.machine && second.machine);

  HWND shown = first.machine->Windows().ShowWindowTitle(kTitle);
  ASSERT_NE(shown, 0);
  HWND found = second.machine->Windows().FindWindowW(kTitle);
  ASSERT_NE(found, 0);
  EXPECT_EQ(second.machine->Windows().FindWindowW(kTitle), found);
  EXPECT_FALSE(second.machine->Windows().PostMessageW(found, 1125, 1, 0));
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_FALSE(first.machine->Windows().PeekMessageW(nullptr));
  EXPECT_FALSE(second.machine->Windows().PeekMessageW(nullptr));

  first.machine->Windows().HideWindowTitle(shown);
  EXPECT_EQ(second.machine->Windows().FindWindowW(kTitle), 0);
}

TEST(NullPlatformWindows, NothingIsShownFoundOrPosted) {
  platform::ScopedPlatform none(nullptr);
  platform::WindowMessages& windows = platform::Current().Windows();
  EXPECT_EQ(windows.ShowWindowTitle(kTitle), 0);
  EXPECT_EQ(GetLastError(), 50u);
  EXPECT_EQ(windows.FindWindowW(kTitle), 0);
  EXPECT_FALSE(windows.PostMessageW(0x10010, 1125, 1, 0));
  EXPECT_EQ(GetLastError(), 1400u);
  EXPECT_FALSE(windows.PeekMessageW(nullptr));
  EXPECT_FALSE(windows.GetMessageW(nullptr, 1));
}

}  // namespace
}  // namespace zel
