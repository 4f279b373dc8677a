// The simulated SATA drive: SMART EXECUTE OFF-LINE IMMEDIATE and the
// self-test that runs on the machine's virtual clock, read back through the
// execution status byte of the SMART data page.
#include "platform/sim/sata_drive.h"

#include <algorithm>

namespace zel::sim {

uint8_t SataDrive::SelfTestStatusNow() {
  if (testRunning_) {
    uint64_t elapsed = NowMs() - testStartMs_;
    uint64_t endsAt = testDurationMs_;
    if (testEndsAfterMs_ && *testEndsAfterMs_ < endsAt) endsAt = *testEndsAfterMs_;
    if (elapsed >= endsAt) {
      testRunning_ = false;
      testStatus_ = testResult_;
    } else {
      // Tens of percent still to run, from 9 at the start down to 1.
      uint64_t left = testDurationMs_ - elapsed;
      uint64_t tens = (left * 10 + testDurationMs_ - 1) / testDurationMs_;
      tens = std::clamp<uint64_t>(tens, 1, 9);
      return static_cast<uint8_t>(0xF0 | tens);
    }
  }
  return testStatus_;
}

SataDrive::Answer SataDrive::ExecuteOffline(const Task& t) {
  Answer a;
  a.regs = t.regs;
  SelfTestStatusNow();  // settle a test that has already ended
  switch (t.regs.LbaLow) {
    case 0x00:  // off-line data collection: nothing to show
      return a;
    case 0x01:
    case 0x02:
      testRunning_ = true;
      testTouched_ = true;
      testStartMs_ = NowMs();
      testDurationMs_ = t.regs.LbaLow == 0x01 ? shortTestMs_ : extendedTestMs_;
      return a;
    case 0x7F:
      if (testRunning_) {
        testRunning_ = false;
        testStatus_ = 0x10;  // aborted by the host
      }
      return a;
    case 0x81:
    case 0x82:
      // Captive: the test is over when the command completes.
      testRunning_ = false;
      testTouched_ = true;
      testStatus_ = testResult_;
      return a;
    default:
      a.aborted = true;
      return a;
  }
}

}  // namespace zel::sim
