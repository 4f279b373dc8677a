#include "optimize/quarn_registry.h"

#include <cstring>
#include <vector>

#include "log/log.h"
#include "platform/platform.h"

namespace zel {

using namespace zel::platform;

int32_t EnableRestorePrivilege() { return 1; }

LSTATUS WriteQuarnRegistry(const std::string& subkey, const std::string& valueName,
                           uint32_t byteCount, uint32_t type, const void* data) {
  LogEnter("ATACommand::WriteQuarnRegistry");
  Registry& reg = Current().Reg();
  HKEY key = 0;
  uint32_t disposition = 0;
  LSTATUS status = reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, REG_OPTION_NON_VOLATILE,
                                       KEY_ALL_ACCESS, &key, &disposition);
  if (status != ERROR_SUCCESS) {
    LogTraceF("ATACommand::WriteQuarnRegistry--RegCreateKeyEx(%s) fail: 0x%X\n", subkey.c_str(),
              static_cast<unsigned>(status));
    LogExit("ATACommand::WriteQuarnRegistry");
    return status;
  }
  status = reg.RegSetValueExW(key, valueName, type, static_cast<const uint8_t*>(data), byteCount);
  if (status != ERROR_SUCCESS)
    LogTraceF("ATACommand::WriteQuarnRegistry--RegSetValueEx(%s) fail: 0x%X\n", valueName.c_str(),
              static_cast<unsigned>(status));
  LSTATUS closed = reg.RegCloseKey(key);
  LogExit("ATACommand::WriteQuarnRegistry");
  return closed;
}

LSTATUS ReadQuarnRegistry(const std::string& subkey, const std::string& valueName,
                          uint32_t* byteCount, uint32_t* type, void* data) {
  LogEnter("ATACommand::ReadQuarnRegistry");
  Registry& reg = Current().Reg();
  HKEY key = 0;
  LSTATUS status = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) {
    // A missing key reads as the caller's defaults, without a word.
    LogExit("ATACommand::ReadQuarnRegistry");
    return status;
  }
  // The query goes into a buffer of our own, so a failed or oversized
  // answer never touches the caller's default.
  uint32_t room = byteCount ? *byteCount : 0;
  std::vector<uint8_t> answer(room);
  uint32_t size = room;
  uint32_t found = 0;
  status = reg.RegQueryValueExW(key, valueName, &found, answer.data(), &size);
  if (status != ERROR_SUCCESS) {
    LogTraceF("ATACommand::ReadQuarnRegistry--RegQueryValueEx() fail: 0x%X\n",
              static_cast<unsigned>(status));
    if (status == ERROR_MORE_DATA && byteCount) *byteCount = size;
  } else {
    if (data && size) std::memcpy(data, answer.data(), size);
    if (byteCount) *byteCount = size;
    if (type) *type = found;
  }
  LSTATUS closed = reg.RegCloseKey(key);
  LogExit("ATACommand::ReadQuarnRegistry");
  return closed;
}

namespace {

// A fixed-size value of the product key; `fallback` stays when the read
// fails (ReadQuarnRegistry leaves the buffer untouched then).
template <typename T>
T ReadQuarnFixed(const std::string& subkey, const std::string& valueName, uint32_t type,
                 T fallback) {
  EnableRestorePrivilege();
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &fallback, sizeof(T));
  uint32_t size = sizeof(T);
  ReadQuarnRegistry(subkey, valueName, &size, &type, bytes);
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

}  // namespace

uint32_t ReadQuarnDword(const std::string& subkey, const std::string& valueName, uint32_t fallback) {
  return ReadQuarnFixed<uint32_t>(subkey, valueName, REG_DWORD, fallback);
}

int64_t ReadQuarnQword(const std::string& subkey, const std::string& valueName, int64_t fallback) {
  return ReadQuarnFixed<int64_t>(subkey, valueName, REG_QWORD, fallback);
}

void WriteQuarnDword(const std::string& subkey, const std::string& valueName, uint32_t value) {
  EnableRestorePrivilege();
  WriteQuarnRegistry(subkey, valueName, 4, REG_DWORD, &value);
}

void WriteQuarnQword(const std::string& subkey, const std::string& valueName, int64_t value) {
  EnableRestorePrivilege();
  WriteQuarnRegistry(subkey, valueName, 8, REG_QWORD, &value);
}

std::string DriveSubkey(const PhysicalDriveRecord& record) {
  std::string path = record.DevicePath.size() > 4 ? record.DevicePath.substr(4) : std::string();
  return std::string(kQuarnProductKey) + "\\" + path;
}

bool IsQuarnDrive(const PhysicalDriveRecord& record) {
  return record.ModelName.find("QUARN") != std::string::npos;
}

LSTATUS SaveScheduledTrimSetting(uint32_t enable, uint32_t intervalDays, PhysicalDriveRecord record) {
  LogTraceF("Enter ATACommand::SaveScheduledTrimSetting():%s", record.DevicePath.c_str());
  EnableRestorePrivilege();
  Registry& reg = Current().Reg();
  HKEY key = 0;
  uint32_t disposition = 0;
  LSTATUS status = reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, DriveSubkey(record),
                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, &key, &disposition);
  if (status != ERROR_SUCCESS) return status;
  struct Entry {
    const char* name;
    uint32_t value;
  } entries[] = {
      {kPhysicalDriveIndexValue, static_cast<uint32_t>(record.PhysicalDriveIndex)},
      // The interval is a 32-bit number of seconds, as the platform stores it.
      {kScheduledTrimIntervalValue, intervalDays * kSecondsPerDay},
      {kScheduledTrimEnableValue, enable},
  };
  for (const Entry& e : entries) {
    uint32_t v = e.value;
    LSTATUS set = reg.RegSetValueExW(key, e.name, REG_DWORD, reinterpret_cast<const uint8_t*>(&v), 4);
    if (set != ERROR_SUCCESS)
      LogTraceF("ATACommand::SaveScheduledTrimSetting--RegSetValueEx(%s) fail: 0x%X\n", e.name,
                static_cast<unsigned>(set));
  }
  return reg.RegCloseKey(key);
}

ScheduledTrimShown ReadScheduledTrimSettingForPage(const PhysicalDriveRecord& record) {
  std::string subkey = DriveSubkey(record);
  ScheduledTrimShown shown;
  shown.enable = ReadQuarnDword(subkey, kScheduledTrimEnableValue, 0);
  uint32_t interval = ReadQuarnDword(subkey, kScheduledTrimIntervalValue, 7);
  if (interval < kMinimumShownIntervalSeconds) interval = kMinimumShownIntervalSeconds;
  shown.days = interval / kSecondsPerDay;
  return shown;
}

TrimRunState ReadTrimRunState(int64_t now) {
  TrimRunState state;
  state.inProgress = ReadQuarnDword(kQuarnProductKey, kTrimInProgressValue, 0);
  if (state.inProgress == 1) {
    state.startAt = ReadQuarnQword(kQuarnProductKey, kTrimStartAtValue, 0);
    // Computed without overflow for any stored start time.
    int64_t age = static_cast<int64_t>(static_cast<uint64_t>(now) - static_cast<uint64_t>(state.startAt));
    state.active = age < kStaleTrimSeconds;
  }
  return state;
}

void MarkTrimStarted(int64_t now) {
  WriteQuarnDword(kQuarnProductKey, kTrimInProgressValue, 1);
  WriteQuarnQword(kQuarnProductKey, kTrimStartAtValue, now);
}

void MarkTrimEnded() { WriteQuarnDword(kQuarnProductKey, kTrimInProgressValue, 0); }

int64_t NowSeconds() {
  int64_t ms = Current().Sys().GetUnixTimeMs();
  return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}

}  // namespace zel
