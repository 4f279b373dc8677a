// System services of the seam: the version record, clocks, sleep, the
// environment and the program's own path and language.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zel::platform {

// OSVERSIONINFOEXW as the platform fills it. `dwOSVersionInfoSize` is set by
// the caller: 284 asks for the extended record, 276 for the basic one.
struct OSVERSIONINFOEXW {
  uint32_t dwOSVersionInfoSize = 0;
  uint32_t dwMajorVersion = 0;
  uint32_t dwMinorVersion = 0;
  uint32_t dwBuildNumber = 0;
  uint32_t dwPlatformId = 0;
  std::string szCSDVersion;  // service-pack text, at most 127 UTF-16 characters
  uint16_t wServicePackMajor = 0;
  uint16_t wServicePackMinor = 0;
  uint16_t wSuiteMask = 0;
  uint8_t wProductType = 0;
  uint8_t wReserved = 0;
};
inline constexpr uint32_t kOsVersionInfoExSize = 284;
inline constexpr uint32_t kOsVersionInfoSize = 276;

// Calendar time in UTC, as SYSTEMTIME.
struct SystemTime {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

class System {
 public:
  virtual ~System() = default;

  // Fills the record according to its size field; false (last error set) when
  // the platform refuses that size.
  virtual bool GetVersionExW(OSVERSIONINFOEXW* info) = 0;

  // Milliseconds since the machine started, wrapping at 2^32.
  virtual uint32_t GetTickCount() = 0;
  // Milliseconds since 1970-01-01 00:00 UTC.
  virtual int64_t GetUnixTimeMs() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;

  virtual std::optional<std::string> GetEnvironmentVariable(const std::string& name) = 0;

  // Full path of the running program (GetModuleFileNameW).
  virtual std::string GetModuleFileName() = 0;

  // The user's user-interface language identifier (GetUserDefaultUILanguage).
  virtual uint16_t GetUserDefaultUILanguage() = 0;

  // The folder for the programs' logs when the program's own folder cannot
  // be written (it may not exist yet); empty when the machine has none.
  virtual std::string GetLogFolder() = 0;
};

// Converts milliseconds since 1970 to calendar fields (UTC).
SystemTime ToSystemTime(int64_t unixMs);

}  // namespace zel::platform
