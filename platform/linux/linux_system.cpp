// System services of the real machine: the version record, clocks, sleep,
// the environment, the program's path and the user's language.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/linux/linux_devices.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

uint64_t ClockMs(clockid_t clock) {
  struct timespec ts {};
  clock_gettime(clock, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// The language of the user's locale as a language identifier of the
// string tables: 1041 Japanese, 1042 Korean, 1049 Russian, 1028
// Traditional Chinese, 2052 Simplified Chinese, else 1033 English.
uint16_t LanguageOfLocale(std::string locale) {
  locale = ToLowerAscii(locale);
  if (StartsWith(locale, "ja")) return 1041;
  if (StartsWith(locale, "ko")) return 1042;
  if (StartsWith(locale, "ru")) return 1049;
  if (StartsWith(locale, "zh_tw") || StartsWith(locale, "zh_hk") || StartsWith(locale, "zh_mo"))
    return 1028;
  if (StartsWith(locale, "zh")) return 2052;
  return 1033;
}

class LinuxSystem final : public System {
 public:
  explicit LinuxSystem(std::shared_ptr<LinuxMachine> machine) : machine_(std::move(machine)) {}

  bool GetVersionExW(OSVERSIONINFOEXW* info) override {
    if (!info) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    uint32_t size = info->dwOSVersionInfoSize;
    if (size != kOsVersionInfoExSize && size != kOsVersionInfoSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    // The version whose rules fit what this backend can carry: ATA
    // pass-through with the security commands allowed, as on version 6.1.
    OSVERSIONINFOEXW v;
    v.dwOSVersionInfoSize = size;
    v.dwMajorVersion = 6;
    v.dwMinorVersion = 1;
    v.dwBuildNumber = 7601;
    v.dwPlatformId = 2;
    v.szCSDVersion = "Service Pack 1";
    if (size == kOsVersionInfoExSize) {
      v.wServicePackMajor = 1;
      v.wServicePackMinor = 0;
      v.wSuiteMask = 0x0100;
      v.wProductType = 1;
    }
    *info = v;
    return true;
  }

  uint32_t GetTickCount() override { return static_cast<uint32_t>(ClockMs(CLOCK_BOOTTIME)); }
  int64_t GetUnixTimeMs() override { return static_cast<int64_t>(ClockMs(CLOCK_REALTIME)); }

  void Sleep(uint32_t milliseconds) override {
    struct timespec ts {};
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }

  std::optional<std::string> GetEnvironmentVariable(const std::string& name) override {
    const char* value = std::getenv(name.c_str());
    if (value) return std::string(value);
    // "SystemDrive" names the volume the system runs from: the letter of
    // the lettered volume mounted at "/". A system whose "/" lies on no
    // block device (a live system, an initramfs) has none.
    if (ToLowerAscii(name) == "systemdrive" && machine_) {
      for (const VolumeInfo& v : ListVolumes(*machine_, machine_->Disks()))
        if (v.mountPoint == "/") return std::string(1, v.letter) + ":";
    }
    return std::nullopt;
  }

  std::string GetModuleFileName() override {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
  }

  uint16_t GetUserDefaultUILanguage() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* value = std::getenv(name);
      if (value && *value) return LanguageOfLocale(value);
    }
    return 1033;
  }

 private:
  std::shared_ptr<LinuxMachine> machine_;
};

}  // namespace

std::unique_ptr<System> MakeLinuxSystem(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxSystem>(std::move(machine));
}

}  // namespace zel::linuxbackend
