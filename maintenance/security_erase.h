// Security erase: wipes a SATA drive with the ATA security feature set. A
// fixed user password is set, SECURITY ERASE PREPARE and SECURITY ERASE UNIT
// are sent with it, the drive is followed with IDENTIFY until it reports
// security disabled again, then its cache is flushed and it is put into
// standby.
//
// Before anything reaches the drive the checks run (CheckSecurityErase), in
// a fixed order: another operation running, the operating-system version,
// the maker and firmware, the system drive, the lettered volumes and every
// other use of the disk, and the drive's security state. The confirmations
// belong to the face that asks (the Utilities page asks twice through its
// Shell; `zelvane erase` asks for the serial number).
//
// The erase itself is written once, RunSecurityErase, synchronous, on a
// copied target with a progress sink; the page runs it on a worker
// (UtilityThreadProc) and `zelvane erase` calls it directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/drive_record.h"
#include "platform/worker.h"

namespace zel {

// The operation kind, also the running-operation code while it runs.
inline constexpr int32_t kSecurityEraseKind = 4;

// A message for the user: a string-table text with its caption, or (with
// stringId 0) a fixed English text with its caption's string id.
struct SecurityEraseMessage {
  int stringId = 0;
  int captionId = 0;
  std::string text;  // the fixed text when stringId is 0
  bool operator==(const SecurityEraseMessage&) const = default;
};

// The fixed English texts of the operation.
inline constexpr const char* kEraseModelTooOldText = "This model does not support security erase.";
inline constexpr const char* kEraseNotConfirmedText =
    "Security Erase was not confirmed: the drive still reports security enabled after twice the "
    "time it announced. Do not use the drive's contents before checking it.";
inline constexpr const char* kErasePasswordRemovedText =
    "The temporary security password was removed again; the drive will not be locked at its next "
    "power-up.";
inline constexpr const char* kErasePasswordNotRemovedText =
    "The temporary security password could not be removed; the drive may be locked at its next "
    "power-up.";

// The first check that refused, or none.
struct SecurityEraseRefusal {
  int step = 0;  // 0: every check passed; else the check's number (1 to 11)
  SecurityEraseMessage message;
  bool Refused() const { return step != 0; }
};

// Runs the checks on a copy of the selected drive's record, in their order,
// with their log lines; the first that fails is returned. Nothing is sent to
// the drive (its security state is read from the record's IDENTIFY page).
SecurityEraseRefusal CheckSecurityErase(PhysicalDriveRecord drive, int32_t runningOperationCode);

// IDENTIFY word 128 bits and erase-time words.
inline constexpr uint16_t kSecuritySupported = 0x0001;
inline constexpr uint16_t kSecurityEnabled = 0x0002;
inline constexpr uint16_t kSecurityLocked = 0x0004;
inline constexpr uint16_t kSecurityFrozen = 0x0008;
inline constexpr uint16_t kSecurityEnhancedErase = 0x0020;

// The 512-byte password data block: control word 0 (user password, high
// security, normal erase) and the fixed user password in bytes 2-6.
std::array<uint8_t, 512> BuildSecurityPasswordBlock();

// What the erase works on.
struct SecurityEraseTarget {
  int32_t DriveNumber = 0;   // every command but IDENTIFY addresses it
  uint16_t EraseTime = 0;    // IDENTIFY word 89 (units of two minutes)
  std::string DevicePath;    // IDENTIFY during the wait uses it
};

enum class SecurityEraseEnd {
  Done,               // erased, security disabled again, flushed, in standby
  NotConfirmed,       // the drive still reports security enabled after twice its time
  SetPasswordFailed,  // nothing changed on the drive
  PrepareFailed,      // the password was set; PasswordRemoved says whether it is gone again
  EraseUnitFailed,    // as PrepareFailed
  FlushFailed,        // erased, but the cache flush failed
};

struct SecurityEraseOutcome {
  SecurityEraseEnd End = SecurityEraseEnd::Done;
  bool PasswordRemoved = false;  // after PrepareFailed or EraseUnitFailed
  uint32_t WaitedMs = 0;         // time spent waiting for the end of the erase
  std::vector<SecurityEraseMessage> Messages;  // what the user is told, in order
};

// Reports the wait: the time waited so far and the time the drive announced
// (0 when it announced none), both in milliseconds.
using SecurityEraseProgressSink = std::function<void(uint32_t waitedMs, uint32_t announcedMs)>;

// Erases the target. The wait follows the drive for the time it announces
// (one IDENTIFY every five seconds) and, while it still reports security
// enabled, for as long again; a drive still enabled then is not confirmed.
SecurityEraseOutcome RunSecurityErase(const SecurityEraseTarget& target,
                                      const SecurityEraseProgressSink& progress = nullptr);

// The block handed to the worker, filled by the page just before the worker
// starts and living as long as the program (platform::ProgramRequestBlock).
// The worker works on a private copy of the target fields and writes the
// outcome back before its end notification.
struct SecurityEraseRequest {
  int32_t DriveNumber = 0;
  uint16_t EraseTime = 0;
  int32_t Kind = kSecurityEraseKind;
  std::string WindowTitle;
  const void* Page = nullptr;  // the page that started it (shown by the notifications)
  std::string DevicePath;
  // Written by the worker just before the end notification.
  SecurityEraseEnd End = SecurityEraseEnd::Done;
  std::vector<SecurityEraseMessage> Messages;
};

// The worker's body: copies the request, sets the running-operation code to
// its kind, posts the start, runs the erase, writes the outcome into the
// shared block and posts the end.
void UtilityThreadProc(platform::WorkerRun& run);

// Starts UtilityThreadProc on `request`. A worker that finds no main window
// titled request.WindowTitle resets the code to 0 and ends without sending
// anything. False when no thread could start (the code is 0 again).
bool StartSecurityEraseWorker(SecurityEraseRequest& request,
                              std::atomic<int32_t>& runningOperationCode);

}  // namespace zel
