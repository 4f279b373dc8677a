// Security erase: the command sequence, the wait for its end, and the worker
// that reports to the main window. The checks are in
// security_erase_checks.cpp.
#include "maintenance/security_erase.h"

#include "device/ata_command.h"
#include "log/log.h"
#include "platform/platform.h"

namespace zel {
namespace {

constexpr uint8_t kDevice = 0xA0;
constexpr uint8_t kSecuritySetPassword = 0xF1;
constexpr uint8_t kSecurityErasePrepare = 0xF3;
constexpr uint8_t kSecurityEraseUnit = 0xF4;
constexpr uint8_t kSecurityDisablePassword = 0xF6;
constexpr uint8_t kFlushCacheExt = 0xEA;
constexpr uint32_t kCycleMs = 5000;
constexpr int kErrorCaption = 302;

SecurityEraseMessage Box(int stringId, int captionId) { return {stringId, captionId, {}}; }
SecurityEraseMessage Fixed(const char* text, int captionId) { return {0, captionId, text}; }

constexpr uint8_t kStatusError = 0x01;

// One command to the drive, successful only when the request went through
// and the drive did not abort it (the request succeeds either way).
bool Send(ATACommand& ata, int32_t driveNumber, uint8_t command, uint8_t* data, uint32_t length) {
  uint8_t status = 0;
  // The sector count names the one block a data command transfers.
  const uint32_t flags = ATA_FLAGS_DRDY_REQUIRED | (length ? ATA_FLAGS_DATA_OUT : 0);
  return ata.SendAtaCommandWithStatus(static_cast<uint32_t>(driveNumber), kDevice, command, 0,
                                      length ? 1 : 0, data, length, flags, &status) != 0 &&
         !(status & kStatusError);
}

// One of the 512-byte security commands, with the block, to the drive.
bool SendWithBlock(ATACommand& ata, int32_t driveNumber, uint8_t command,
                   std::array<uint8_t, 512>& block) {
  return Send(ata, driveNumber, command, block.data(), 512);
}

// After a failed PREPARE or ERASE UNIT the password set a moment ago is
// still in force and would lock the drive at its next power-up: it is
// removed again with the same block.
bool RemovePassword(ATACommand& ata, int32_t driveNumber, std::array<uint8_t, 512>& block) {
  bool removed = SendWithBlock(ata, driveNumber, kSecurityDisablePassword, block);
  LogTraceF("UtilityThreadProc--SECURITY DISABLE PASSWORD(%d) %s", driveNumber,
            removed ? "SUCCESS" : "fail");
  return removed;
}

// Reads IDENTIFY from the device path: 1 security still enabled, 0 disabled
// (the erase is over), -1 the read failed.
int SecurityStillEnabled(ATACommand& ata, const SecurityEraseTarget& target) {
  std::array<uint8_t, 512> page{};
  if (!ata.DoIdentify(target.DevicePath, kDevice, page.data())) {
    LogTraceF("UtilityThreadProc::DoIdentify(%d) fail.", target.DriveNumber);
    return -1;
  }
  const uint16_t word128 = static_cast<uint16_t>(page[256] | (page[257] << 8));
  return (word128 & kSecurityEnabled) ? 1 : 0;
}

}  // namespace

std::array<uint8_t, 512> BuildSecurityPasswordBlock() {
  std::array<uint8_t, 512> block{};
  // The user password, built here one letter at a time and kept nowhere else.
  block[2] = 'Q';
  block[3] = 'Z';
  block[4] = 'E';
  block[5] = 'R';
  block[6] = 'A';
  return block;
}

SecurityEraseOutcome RunSecurityErase(const SecurityEraseTarget& target,
                                      const SecurityEraseProgressSink& progress) {
  SecurityEraseOutcome outcome;
  ATACommand ata;
  const uint32_t number = static_cast<uint32_t>(target.DriveNumber);
  std::array<uint8_t, 512> block = BuildSecurityPasswordBlock();

  if (!SendWithBlock(ata, target.DriveNumber, kSecuritySetPassword, block)) {
    LogTraceF("UtilityThreadProc--SECURITY SET PASSWORD(%d) fail", target.DriveNumber);
    outcome.End = SecurityEraseEnd::SetPasswordFailed;
    outcome.Messages = {Box(301, kErrorCaption)};
    return outcome;
  }
  const bool prepared = Send(ata, target.DriveNumber, kSecurityErasePrepare, nullptr, 0);
  if (!prepared || !SendWithBlock(ata, target.DriveNumber, kSecurityEraseUnit, block)) {
    LogTraceF("UtilityThreadProc--SECURITY %s(%d) fail", prepared ? "ERASE UNIT" : "ERASE PREPARE",
              target.DriveNumber);
    outcome.End = prepared ? SecurityEraseEnd::EraseUnitFailed : SecurityEraseEnd::PrepareFailed;
    outcome.PasswordRemoved = RemovePassword(ata, target.DriveNumber, block);
    outcome.Messages = {Box(prepared ? 304 : 303, kErrorCaption),
                        Fixed(outcome.PasswordRemoved ? kErasePasswordRemovedText
                                                      : kErasePasswordNotRemovedText,
                              kErrorCaption)};
    return outcome;
  }

  // One cycle per five seconds of the time the drive announces; while it
  // still reports security enabled after that, as many cycles again. A
  // drive that announces no time is asked once.
  platform::System& sys = platform::Sys();
  const uint32_t cycles = static_cast<uint32_t>(target.EraseTime) * 2 * 60 / 5;
  const uint32_t announcedMs = cycles * kCycleMs;
  int state = 1;
  for (uint32_t cycle = 0; cycle < 2 * cycles; ++cycle) {
    if (cycle == cycles)
      LogTraceF("UtilityThreadProc--security still enabled on drive %d after %u minutes; waiting "
                "up to %u minutes more", target.DriveNumber, announcedMs / 60000,
                announcedMs / 60000);
    state = SecurityStillEnabled(ata, target);
    if (state == 0) break;
    sys.Sleep(kCycleMs);
    outcome.WaitedMs += kCycleMs;
    if (progress) progress(outcome.WaitedMs, announcedMs);
  }
  if (state != 0) state = SecurityStillEnabled(ata, target);
  if (state != 0) {
    LogTraceF("UtilityThreadProc--security erase of drive %d not confirmed after %u ms",
              target.DriveNumber, outcome.WaitedMs);
    outcome.End = SecurityEraseEnd::NotConfirmed;
    outcome.Messages = {Fixed(kEraseNotConfirmedText, kErrorCaption)};
    return outcome;
  }

  if (!Send(ata, target.DriveNumber, kFlushCacheExt, nullptr, 0)) {
    outcome.End = SecurityEraseEnd::FlushFailed;
    outcome.Messages = {Box(305, kErrorCaption)};
    return outcome;
  }
  ata.DoStandbyImmediate(number, kDevice);  // its result changes nothing
  outcome.End = SecurityEraseEnd::Done;
  outcome.Messages = {Box(317, 318)};
  return outcome;
}

void UtilityThreadProc(platform::WorkerRun& run) {
  auto& shared = *static_cast<SecurityEraseRequest*>(run.Request());
  // A private copy of what the erase works on; only the outcome goes back.
  const SecurityEraseTarget target{shared.DriveNumber, shared.EraseTime, shared.DevicePath};
  run.RunningOperationCode().store(shared.Kind);
  LogEnter("UtilityThreadProc");
  run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSSTART);
  SecurityEraseOutcome outcome = RunSecurityErase(target);
  shared.End = outcome.End;
  shared.Messages = std::move(outcome.Messages);
  run.Post(platform::SSDZELVMSG_WPARAM_PROGRESSEND, static_cast<int32_t>(shared.End));
  LogExit("UtilityThreadProc");
}

bool StartSecurityEraseWorker(SecurityEraseRequest& request,
                              std::atomic<int32_t>& runningOperationCode) {
  return platform::StartWorker(runningOperationCode,
                               {request.WindowTitle, &request, platform::WithoutWindow::End},
                               UtilityThreadProc);
}

}  // namespace zel
