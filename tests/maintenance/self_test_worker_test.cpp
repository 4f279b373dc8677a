// The self-test worker: the notifications it posts to the main window, byte
// for byte, and the result it leaves in the shared request block.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "device/ata_command.h"
#include "maintenance/self_test.h"
#include "platform/platform.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"
#include "worker_notifications.h"

namespace zel {
namespace {

class SelfTestWorker : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0, "selfTest": {"shortSeconds": 20, "result": "0x73"}}]})";
  }
};

TEST_F(SelfTestWorker, PostsStartProgressWithPercentAndKindAndTheEnd) {
  ATACommand ata;
  PhysicalDriveTable table;
  ASSERT_EQ(ata.UpdatePhysicalDrivesInfo(table), 1);
  platform::HWND window = platform::Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
  SelfTestRequest& request = platform::ProgramRequestBlock<SelfTestRequest>();
  request.Kind = 1;
  request.Result = 0;
  request.WindowTitle = "QUARN SSD Zelvane";
  request.Drive = table[0];
  static std::atomic<int32_t> code{0};
  SelfTestCancelFlag() = false;
  ASSERT_TRUE(StartSelfTestWorker(request, code));

  const std::vector<platform::WPARAM> got = test::NotificationsUntilEnd(window, &request);
  // Phase in the low byte; above it the value: at the start 0, in progress
  // the percentage in the high half and the kind in the low half, at the
  // end the result (108: the read element failed).
  EXPECT_EQ(got, (std::vector<platform::WPARAM>{0x01, 0x14000102, 0x32000102, 0x46000102,
                                                0x6C03}));
  EXPECT_EQ(request.Result, 108);
  // The worker set the code to its kind; the page resets it at the end.
  EXPECT_EQ(code, 1);
}

}  // namespace
}  // namespace zel
