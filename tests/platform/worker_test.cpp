// Workers: one detached thread per run that holds its platform for the whole
// run, finds the main window by title and posts start, progress and end
// notifications that the user-interface thread drains, even while the
// platform the program had installed is swapped out and let go of.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/platform.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace std::chrono_literals;
using platform::Hold;
using platform::MSG;
using platform::ScopedPlatform;

constexpr const char* kTitle = "QUARN SSD Zelvane";

struct TestRequest {
  int32_t kind = 0;
  std::atomic<int32_t> result{0};
};

// What a worker and the test share: a gate the worker waits at, and what the
// worker saw. Held by both, so a test that fails early leaves nothing dangling.
struct Shared {
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  std::promise<void> done;
  std::atomic<bool> ranBody{false};
  std::atomic<bool> sawHeldPlatform{false};
  std::atomic<int> posted{0};
};

// Waits up to five seconds for `condition`.
template <class F>
bool Eventually(F condition) {
  for (auto until = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < until;
       std::this_thread::sleep_for(1ms))
    if (condition()) return true;
  return condition();
}

TEST(ProgressParameter, PhaseInTheLowByteAndTheValueAbove) {
  struct Case {
    uint8_t phase;
    int32_t value;
    platform::WPARAM wParam;
  } cases[] = {
      {1, 0, 0x1},
      {2, 50, 0x3202},
      {3, 101, 0x6503},
      {3, -1, 0xFFFFFFFF03},
      {2, 0x00640001, 0x64000102},  // a kind in the low half, a percentage in the high half
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::ProgressWParam(c.phase, c.value), c.wParam) << int(c.phase) << " " << c.value;
    EXPECT_EQ(platform::ProgressPhase(c.wParam), c.phase);
    EXPECT_EQ(platform::ProgressValue(c.wParam), c.value);
  }
  EXPECT_EQ(platform::SSDZELVMSG_PROGRESS, 1125u);
}

TEST(Worker, PostsToTheDrainingThreadWhileThePlatformIsSwappedOut) {
  static std::atomic<int32_t> runningOperationCode{0};
  TestRequest& request = platform::ProgramRequestBlock<TestRequest>();
  request.kind = 1;
  request.result = 0;
  auto shared = std::make_shared<Shared>();

  std::shared_ptr<platform::Platform> ui;  // the user-interface thread's own share
  std::weak_ptr<sim::SimMachine> watch;
  platform::HWND window = 0;
  {
    auto machine = test::MustLoad("{}");
    watch = machine;
    ScopedPlatform installed(machine);
    ui = Hold();
    window = ui->Windows().ShowWindowTitle(kTitle);
    ASSERT_NE(window, 0);
    runningOperationCode = 1;
    ASSERT_TRUE(platform::StartWorker(
        runningOperationCode, {kTitle, &request, platform::WithoutWindow::End},
        [shared, machine = machine.get()](platform::WorkerRun& run) {
          auto* req = static_cast<TestRequest*>(run.Request());
          run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSSTART);
          shared->opened.wait();
          // The platform was swapped out meanwhile; this thread still works on its own.
          shared->sawHeldPlatform = &platform::Current() == machine && platform::Hold().get() == machine;
          platform::Sys().Sleep(5000);
          run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSUPDATE, 50);
          req->result = 101;
          run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSEND, req->result);
          shared->done.set_value();
        }));
  }
  // The scoped machine is uninstalled; another one takes its place.
  ScopedPlatform other(test::MustLoad("{}"));
  EXPECT_NE(&platform::Current(), ui.get());

  MSG first;
  ASSERT_TRUE(ui->Windows().GetMessageW(&first, 5000));
  shared->gate.set_value();
  MSG rest[2];
  ASSERT_TRUE(ui->Windows().GetMessageW(&rest[0], 5000));
  ASSERT_TRUE(ui->Windows().GetMessageW(&rest[1], 5000));
  ASSERT_EQ(shared->done.get_future().wait_for(5s), std::future_status::ready);

  const MSG expected[] = {{window, 1125, 0x1, reinterpret_cast<platform::LPARAM>(&request)},
                          {window, 1125, 0x3202, reinterpret_cast<platform::LPARAM>(&request)},
                          {window, 1125, 0x6503, reinterpret_cast<platform::LPARAM>(&request)}};
  const MSG got[] = {first, rest[0], rest[1]};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[i].hwnd, expected[i].hwnd) << i;
    EXPECT_EQ(got[i].message, expected[i].message) << i;
    EXPECT_EQ(got[i].wParam, expected[i].wParam) << i;
    EXPECT_EQ(got[i].lParam, expected[i].lParam) << i;
  }
  EXPECT_TRUE(shared->sawHeldPlatform);
  EXPECT_EQ(request.result, 101);
  // The worker leaves the running-operation code to the page that handles the end.
  EXPECT_EQ(runningOperationCode, 1);
  EXPECT_FALSE(ui->Windows().PeekMessageW(nullptr));

  // Once the window's share is gone too, the machine ends with the worker.
  ui.reset();
  EXPECT_TRUE(Eventually([&] { return watch.expired(); }));
}

TEST(Worker, IsTheLastHolderOfItsPlatformAndEndsIt) {
  static std::atomic<int32_t> runningOperationCode{0};
  auto shared = std::make_shared<Shared>();
  std::weak_ptr<sim::SimMachine> watch;
  {
    auto machine = test::MustLoad("{}");
    watch = machine;
    ScopedPlatform installed(machine);
    ASSERT_NE(platform::Current().Windows().ShowWindowTitle(kTitle), 0);
    runningOperationCode = 6;
    ASSERT_TRUE(platform::StartWorker(runningOperationCode, {kTitle, nullptr},
                                      [shared](platform::WorkerRun& run) {
                                        shared->opened.wait();
                                        // Every other share is gone by now.
                                        shared->sawHeldPlatform = &platform::Current() == &run.Machine();
                                        shared->posted = run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSEND, 7) +
                                                         run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSEND, 8);
                                        run.RunningOperationCode() = 0;
                                        shared->done.set_value();
                                      }));
  }
  EXPECT_FALSE(watch.expired());
  shared->gate.set_value();
  ASSERT_EQ(shared->done.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(shared->sawHeldPlatform);
  EXPECT_EQ(shared->posted, 2);
  EXPECT_EQ(runningOperationCode, 0);
  EXPECT_TRUE(Eventually([&] { return watch.expired(); }));
}

TEST(Worker, WithoutTheWindowByItsTitle) {
  struct Case {
    const char* name;
    platform::WithoutWindow without;
    bool runs;
    int32_t codeAfter;
  } cases[] = {
      {"ends and resets the running-operation code", platform::WithoutWindow::End, false, 0},
      {"or runs without posting", platform::WithoutWindow::Continue, true, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    static std::atomic<int32_t> runningOperationCode{0};
    runningOperationCode = 2;
    auto shared = std::make_shared<Shared>();
    ScopedPlatform installed(test::MustLoad("{}"));
    // A window of another title is shown; the worker's is not.
    ASSERT_NE(platform::Current().Windows().ShowWindowTitle("QUARN SSD Zelvane Scheduled Trim"), 0);
    ASSERT_TRUE(platform::StartWorker(runningOperationCode, {kTitle, nullptr, c.without},
                                      [shared](platform::WorkerRun& run) {
                                        shared->ranBody = true;
                                        shared->posted = run.Window() == 0 && !run.Post(1) ? -1 : 1;
                                        shared->done.set_value();
                                      }));
    if (c.runs) {
      ASSERT_EQ(shared->done.get_future().wait_for(5s), std::future_status::ready);
      EXPECT_EQ(shared->posted, -1);
    } else {
      ASSERT_TRUE(Eventually([] { return runningOperationCode == 0; }));
      std::this_thread::sleep_for(20ms);
      EXPECT_FALSE(shared->ranBody);
    }
    EXPECT_EQ(runningOperationCode, c.codeAfter);
    EXPECT_FALSE(platform::Current().Windows().PeekMessageW(nullptr));
  }
}

}  // namespace
}  // namespace zel
