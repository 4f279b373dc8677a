// The simulated SATA drive: the security feature set (passwords, lock,
// freeze, attempts) and the security erase, which goes on in the drive on
// the virtual clock after its command has completed.
#include "platform/sim/sata_drive.h"

#include "platform/bytes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sata_drive_commands.h"

namespace zel::sim {

using namespace zel::sim::sata;

void SataDrive::Advance() {
  if (erasing_ && NowMs() >= eraseEndsMs_) {
    erasing_ = false;
    sectors_.clear();  // the whole medium reads as zeros
    secEnabled_ = false;
    secLocked_ = false;
    userPassword_.fill(0);
    secAttempts_ = 5;
    secExpired_ = false;
  }
}

SataDrive::Answer SataDrive::Security(const Task& t, bool wasPrepared) {
  Answer a;
  a.regs = t.regs;
  auto refuse = [&] {
    a.aborted = true;
    return a;
  };
  if (!secSupported_) return refuse();
  uint8_t command = t.regs.Command;
  uint16_t control = t.out.size() >= 2 ? GetLE16(&t.out[0]) : 0;
  bool master = control & 0x0001;
  std::array<uint8_t, 32> password{};
  if (t.out.size() >= 34) std::copy(t.out.begin() + 2, t.out.begin() + 34, password.begin());
  // A wrong password costs one of five attempts; then only a power cycle helps.
  auto matches = [&] {
    bool ok = master ? (!secMasterMax_ || command != kSecurityUnlock) && password == masterPassword_
                     : secEnabled_ && password == userPassword_;
    if (!ok && --secAttempts_ <= 0) secExpired_ = true;
    return ok;
  };

  switch (command) {
    case kSecuritySetPassword:
      if (secFrozen_ || secLocked_) return refuse();
      if (master) {
        masterPassword_ = password;
      } else {
        userPassword_ = password;
        secEnabled_ = true;
        secMasterMax_ = control & 0x0100;
      }
      return a;
    case kSecurityUnlock:
      if (secFrozen_ || secExpired_) return refuse();
      if (!matches()) return refuse();
      secLocked_ = false;
      return a;
    case kSecurityErasePrepare:
      if (secFrozen_) return refuse();
      prepared_ = true;
      return a;
    case kSecurityEraseUnit: {
      if (secFrozen_ || secExpired_ || !wasPrepared) return refuse();
      bool enhanced = control & 0x0002;
      if (enhanced && !secEnhanced_) return refuse();
      if (!matches()) return refuse();
      uint16_t units = identify_[enhanced ? 90 : 89];
      uint64_t ms = units == 255 ? 510ull * 60000 : units * 2ull * 60000;
      if (enhanced && enhancedEraseMs_) ms = *enhancedEraseMs_;
      if (!enhanced && eraseMs_) ms = *eraseMs_;
      // The erase goes on in the drive after the command has completed; the
      // user password stays set (word 128 bit 1) until it is over.
      erasing_ = true;
      eraseEndsMs_ = NowMs() + ms;
      standby_ = false;
      Advance();
      return a;
    }
    case kSecurityFreezeLock:
      if (secLocked_) return refuse();
      secFrozen_ = true;
      return a;
    case kSecurityDisablePassword:
      if (secFrozen_ || secLocked_) return refuse();
      if (!matches()) return refuse();
      secEnabled_ = false;
      userPassword_.fill(0);
      return a;
    default:
      return refuse();
  }
}

}  // namespace zel::sim
