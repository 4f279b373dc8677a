// The checks that stand before a security erase, in their order. Each
// refusal names its string-table text (or a fixed one); nothing here sends a
// command to the drive.
#include <cstdlib>
#include <string>

#include "device/ata_command.h"
#include "log/log.h"
#include "maintenance/security_erase.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr const char* kHandler = "CUtilityPage::OnBnClickedButtonUtilityRun()";
constexpr int kBusyString = 247;
constexpr int kNewerSystemString = 306;
constexpr int kNotMakerString = 307;
constexpr int kSystemDriveString = 308;
constexpr int kPartitionsString = 309;
constexpr int kFrozenString = 310;
constexpr int kLockedString = 311;
constexpr int kNotSupportedString = 325;
constexpr int kEnabledString = 331;
// The drive-letter roots buffer, in UTF-16 units.
constexpr uint32_t kRootsBufferUnits = 512;
// An erase time of 255 stands for more than 508 minutes.
constexpr uint16_t kEraseTimeOver508 = 255;

SecurityEraseRefusal Refuse(int step, int stringId) {
  return {step, {stringId, 0, std::string()}};
}

// The firmware revision read as a number from its start, as wcstod reads
// it, rounded to single precision.
float FirmwareNumber(const std::string& revision) {
  return static_cast<float>(std::strtod(revision.c_str(), nullptr));
}

void LogEraseTimes(const PhysicalDriveRecord& drive) {
  const char* model = drive.ModelName.c_str();
  if (drive.IdentifyWord(128) & kSecurityEnhancedErase) {
    const uint16_t enhanced = drive.IdentifyWord(90);
    if (enhanced == kEraseTimeOver508)
      LogTraceF("Time For Enhanced Security Erase: more than 508 minutes on %s", model);
    else
      LogTraceF("Time For Enhanced Security Erase:%d minutes on %s", enhanced * 2, model);
  }
  const uint16_t normal = drive.IdentifyWord(89);
  if (normal == kEraseTimeOver508)
    LogTraceF("Time For Security Erase: more than 508 minutes on %s", model);
  else
    LogTraceF("Time For Security Erase:%d minutes on %s", normal * 2, model);
}

// The disk that holds the volume device "\\.\X:", or -1.
int32_t DiskOfVolume(ATACommand& ata, const std::string& letterWithColon) {
  return ata.GetDiskNumberFromPath(Format("\\\\.\\%s", letterWithColon.c_str()));
}

// Whether any lettered volume lies on the drive (logged as it is found).
bool HasLetteredVolume(ATACommand& ata, int32_t driveNumber) {
  char16_t roots[kRootsBufferUnits] = {};
  const uint32_t length = platform::Current().Files().GetLogicalDriveStringsW(kRootsBufferUnits, roots);
  LogTraceF("%s-mounted drive map:0x%X", kHandler, length);
  // A buffer too small (the length needed is returned) holds nothing.
  if (length == 0 || length >= kRootsBufferUnits) return false;
  const std::u16string all(roots, length);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find(u'\0', start);
    if (end == std::u16string::npos) end = all.size();
    std::string root = Utf16ToUtf8(all.substr(start, end - start));
    start = end + 1;
    if (root.empty()) continue;
    // "X:\" without its trailing backslash.
    if (root.back() == '\\') root.pop_back();
    if (DiskOfVolume(ata, root) == driveNumber) {
      LogTraceF("%s-Mounted drive can't do security erase.:0x%X", kHandler, driveNumber);
      return true;
    }
  }
  return false;
}

// Whether the disk is in use without a drive letter (swap, a mount without
// a letter, a holder); each use found is logged.
bool HasUnletteredUse(int32_t driveNumber) {
  const std::vector<platform::DiskUse> uses = platform::Current().Uses().UnletteredUses(driveNumber);
  for (const platform::DiskUse& use : uses)
    LogTraceF("%s-Disk in use can't do security erase.:0x%X %s %s", kHandler, driveNumber,
              platform::DiskUseKindName(use.kind), use.what.c_str());
  return !uses.empty();
}

}  // namespace

SecurityEraseRefusal CheckSecurityErase(PhysicalDriveRecord drive, int32_t runningOperationCode) {
  if (runningOperationCode != 0) return Refuse(1, kBusyString);

  ATACommand ata;
  if (ata.OsVersion.dwMajorVersion == 6 && ata.OsVersion.dwMinorVersion > 1)
    return Refuse(2, kNewerSystemString);

  LogEraseTimes(drive);

  if (drive.ModelName.find("QUARN") == std::string::npos) return Refuse(4, kNotMakerString);

  if (drive.ModelName.find("KD785") != std::string::npos &&
      FirmwareNumber(drive.FirmwareRevision) < 1.08f)
    return {5, {0, 0, kEraseModelTooOldText}};

  const int32_t number = drive.PhysicalDriveIndex;
  const std::string systemDrive =
      platform::Sys().GetEnvironmentVariable("SystemDrive").value_or(std::string());
  const std::string systemDevice = Format("\\\\.\\%s", systemDrive.c_str());
  LogTraceF("%s-system drive %s", kHandler, systemDevice.c_str());
  // A missing variable names no volume: the lookup gives -1.
  if (!systemDrive.empty() && ata.GetDiskNumberFromPath(systemDevice) == number)
    return Refuse(6, kSystemDriveString);

  if (HasLetteredVolume(ata, number)) return Refuse(7, kPartitionsString);
  if (HasUnletteredUse(number)) return Refuse(7, kPartitionsString);

  const uint16_t security = drive.IdentifyWord(128);
  if (!(security & kSecuritySupported)) return Refuse(8, kNotSupportedString);
  if (security & kSecurityFrozen) return Refuse(9, kFrozenString);
  if (security & kSecurityEnabled) return Refuse(10, kEnabledString);
  if (security & kSecurityLocked) return Refuse(11, kLockedString);
  return {};
}

}  // namespace zel
