// The Run button's refusals and run-state step, and the worker that drives
// the page: its controls before, during and after the TRIM, the completion
// message, and TrimInProgress back at 0.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "optimize/quarn_registry.h"
#include "optimize/ssd_optimize_run.h"
#include "optimize_fixture.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/worker.h"

namespace zel {
namespace {

using test::kStoredProductKey;

// A page that writes down what the worker did to it.
class FakePage final : public SsdOptimizePage {
 public:
  void EnableRunButton(bool e) override { calls.push_back(e ? "run on" : "run off"); }
  void SetBusyState(int32_t s) override { calls.push_back(Format("busy %d", s)); }
  void ShowProgressBar(bool s) override { calls.push_back(s ? "bar shown" : "bar hidden"); }
  void SetProgressRange(uint64_t lo, uint64_t hi) override {
    calls.push_back(Format("range %llu..%llu", (unsigned long long)lo, (unsigned long long)hi));
  }
  void SetProgressPosition(uint64_t p) override { calls.push_back(Format("pos %llu", (unsigned long long)p)); }
  void ShowStringMessage(int id) override {
    calls.push_back(Format("message %d", id));
    codeAtMessage = code ? code->load() : -1;
  }
  std::vector<std::string> calls;
  std::atomic<int32_t>* code = nullptr;
  int32_t codeAtMessage = -1;
};

class SsdOptimizeRun : public test::OptimizeFixture {
 protected:
  std::string MachineJson() const override { return Machine(""); }
  static std::string Machine(const std::string& productValues) {
    return R"({"clock": {"time": "2026-12-11T12:00:00Z"},
               "drives": [{"index": 0, "model": "QUARN KD785KK 512GB"},
                          {"index": 1, "model": "QUARN KD785KK 256GB"}],
               "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": 8589934592,
                            "files": [{"path": "tmpxxxquarn\\old.tmp", "size": 4096}]},
                           {"letter": "D", "disk": 1, "size": 107374182400, "free": 8589934592,
                            "files": [{"path": "tmpxxxquarn\\old.tmp", "size": 4096}]}],
               "registry": {"keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {)" +
           productValues + "}}}}";
  }
  bool FolderExists(const std::string& folder) {
    return platform::Current().Files().GetFileAttributesW(folder) != platform::INVALID_FILE_ATTRIBUTES;
  }
};

TEST_F(SsdOptimizeRun, TheRunButtonRefusesWhileBusyWithoutVolumesOrWhileARunIsActive) {
  const int64_t now = Now();
  PhysicalDriveTable table = Drives();
  struct Case {
    const char* what;
    int32_t busy, drive;
    std::string values;
    int refusal;
  } cases[] = {
      {"page busy with TRIM", 1, 0, "", 290},
      {"page busy with OS optimization", 2, 0, "", 290},
      {"drive without volumes", 0, 5, "", 260},
      {"started 3599 s ago", 0, 0, Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})", (long long)(now - 3599)), 364},
      {"starts in a second", 0, 0, Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})", (long long)(now + 1)), 364},
  };
  for (const Case& c : cases) {
    UseMachine(Machine(c.values));
    EXPECT_EQ(StartSsdOptimize(c.busy, c.drive, table, now), c.refusal) << c.what;
    // A refused run cleans up nothing.
    EXPECT_TRUE(FolderExists("C:\\tmpxxxquarn")) << c.what;
  }
}

TEST_F(SsdOptimizeRun, AStaleRunIsCleanedUpAndTheNewOneMarked) {
  const int64_t now = Now();
  UseMachine(Machine(Format(R"("TrimInProgress": 1, "TrimStartAt": {"type": "REG_QWORD", "data": %lld})",
                            (long long)(now - 3600))));
  PhysicalDriveTable table = Drives();
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(StartSsdOptimize(0, 0, table, now), 0);
  // Every drive's TRIM folders are gone, not only the chosen drive's.
  EXPECT_FALSE(FolderExists("C:\\tmpxxxquarn"));
  EXPECT_FALSE(FolderExists("D:\\tmpxxxquarn"));
  EXPECT_TRUE(Logged("Enter ATACommand::DeleteTrimTempFolder()"));
  EXPECT_TRUE(Logged("Exit ATACommand::DeleteTrimTempFolder()"));
  EXPECT_EQ(Stored(kStoredProductKey, "TrimInProgress"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(ReadQuarnQword(kQuarnProductKey, "TrimStartAt", 0), now);
}

TEST_F(SsdOptimizeRun, TheWorkerDrivesThePageAndEndsTheRunState) {
  const int64_t now = Now();
  PhysicalDriveTable table = Drives();
  ASSERT_EQ(StartSsdOptimize(0, 0, table, now), 0);
  FakePage page;
  std::atomic<int32_t> code{0};
  page.code = &code;
  SsdOptimizeRequest request;
  request.DriveNumber = 0;
  request.Page = &page;
  EXPECT_EQ(SsdOptimizeThreadProc(request, code), 1);
  // 8 GiB free: two filler files.
  EXPECT_EQ(page.calls, (std::vector<std::string>{"run off", "busy 1", "pos 0", "range 0..0", "bar shown",
                                                  "range 0..2", "pos 0", "pos 1", "pos 2", "message 289",
                                                  "bar hidden", "run on", "busy 0"}));
  EXPECT_EQ(page.codeAtMessage, 6);
  EXPECT_EQ(code.load(), 0);
  EXPECT_EQ(Stored(kStoredProductKey, "TrimInProgress"), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(ReadQuarnQword(kQuarnProductKey, "TrimStartAt", 0), now);
}

TEST_F(SsdOptimizeRun, OnVersion51TheWorkerThreadRunsTheDirectTrimVariant) {
  UseMachine(R"({"os": {"major": 5, "minor": 1, "build": 2600, "servicePack": "Service Pack 3"},
                 "drives": [{"index": 0, "model": "QUARN KD785KK 4TB", "size": 4000787030016}],
                 "volumes": [{"letter": "C", "disk": 0, "size": 107374182400, "free": 7516192768}]})");
  ASSERT_EQ(StartSsdOptimize(0, 0, Drives(), Now()), 0);
  // The page is driven from the worker's thread.
  class LockedPage final : public SsdOptimizePage {
   public:
    void EnableRunButton(bool) override {}
    void SetBusyState(int32_t s) override { busy.store(s); }
    void ShowProgressBar(bool) override {}
    void SetProgressRange(uint64_t, uint64_t hi) override { range.store(hi); }
    void SetProgressPosition(uint64_t) override {}
    void ShowStringMessage(int id) override { message.store(id); }
    std::atomic<int32_t> busy{-1};
    std::atomic<uint64_t> range{0};
    std::atomic<int> message{0};
  };
  static LockedPage page;  // outlives the worker, as the program's page does
  static std::atomic<int32_t> code{0};
  SsdOptimizeRequest& request = platform::ProgramRequestBlock<SsdOptimizeRequest>();
  request.DriveNumber = 0;
  request.Page = &page;
  code.store(kSsdOptimizationOperationCode);
  ASSERT_TRUE(StartSsdOptimizeWorker(request, code));
  // The worker's last act is its exit line.
  for (int i = 0; i < 2000 && !Logged("Exit ATACommand::SsdOptimizeThreadProc_XP()"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(page.message.load(), 289);
  EXPECT_EQ(page.busy.load(), 0);
  EXPECT_EQ(code.load(), 0);
  EXPECT_EQ(page.range.load(), 4u);  // two filler files, each counted twice
  EXPECT_TRUE(Logged("Enter ATACommand::SsdOptimizeThreadProc_XP()"));
}

}  // namespace
}  // namespace zel
