#include "platform/platform.h"

#include "platform/titled_windows.h"

#include <ctime>
#include <mutex>

namespace zel::platform {

namespace {

thread_local uint32_t t_lastError = 0;

// A machine without disks has no disk in use.
class NoDiskUses final : public DiskUses {
 public:
  std::vector<DiskUse> UnletteredUses(int32_t) override { return {}; }
};

// The machine before any backend is installed: nothing exists, every request
// fails with a platform error instead of crashing.
class NullPlatform final : public Platform,
                           DeviceIo,
                           System,
                           DeviceTree,
                           Com,
                           Registry,
                           Processes,
                           platform::Files,
                           platform::Services {
 public:
  DeviceIo& Devices() override { return *this; }
  System& Sys() override { return *this; }
  DeviceTree& Tree() override { return *this; }
  Com& Wmi() override { return *this; }
  Registry& Reg() override { return *this; }
  Processes& Procs() override { return *this; }
  platform::Files& Files() override { return *this; }
  WindowMessages& Windows() override { return windows_; }
  platform::Services& Services() override { return *this; }
  DiskUses& Uses() override { return uses_; }

  HANDLE CreateFileW(const std::string&, uint32_t, uint32_t, uint32_t, uint32_t) override {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool DeviceIoControl(HANDLE, uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t*,
                       std::span<uint8_t>) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  bool ReadFile(HANDLE, uint8_t*, uint32_t, uint32_t*) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  bool CloseHandle(HANDLE) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }

  bool GetVersionExW(OSVERSIONINFOEXW*) override {
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
  uint32_t GetTickCount() override { return 0; }
  int64_t GetUnixTimeMs() override { return 0; }
  void Sleep(uint32_t) override {}
  std::optional<std::string> GetEnvironmentVariable(const std::string&) override {
    return std::nullopt;
  }
  std::string GetModuleFileName() override { return std::string(); }
  uint16_t GetUserDefaultUILanguage() override { return 1033; }
  std::string GetLogFolder() override { return std::string(); }

  HDEVINFO SetupDiGetClassDevsW(const GUID&, uint32_t) override {
    SetLastError(ERROR_NOT_SUPPORTED);
    return INVALID_DEVINFO;
  }
  bool SetupDiDestroyDeviceInfoList(HDEVINFO) override { return false; }
  bool SetupDiEnumDeviceInterfaces(HDEVINFO, const GUID&, uint32_t) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  bool SetupDiGetDeviceInterfaceDetailW(HDEVINFO, uint32_t, uint8_t*, uint32_t,
                                        uint32_t*) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  bool SetupDiEnumDeviceInfo(HDEVINFO, uint32_t, uint32_t*) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  uint32_t CM_Get_Device_IDW(uint32_t, char16_t*, uint32_t) override { return CR_NO_SUCH_DEVNODE; }
  bool SetupDiGetDevicePropertyW(HDEVINFO, uint32_t, const DEVPROPKEY&, uint32_t*, uint8_t*,
                                 uint32_t, uint32_t*) override {
    SetLastError(ERROR_NOT_FOUND);
    return false;
  }
  bool HasLibraryFunction(const std::string&, const std::string&) override { return false; }
  uint32_t CM_Locate_DevNodeW(uint32_t*, const char16_t*, uint32_t) override { return CR_FAILURE; }
  uint32_t CM_Reenumerate_DevNode(uint32_t, uint32_t) override { return CR_FAILURE; }

  HRESULT CoInitializeEx(uint32_t) override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT CreateWbemLocator(std::shared_ptr<WbemLocator>*) override { return REGDB_E_CLASSNOTREG; }
  HRESULT CoSetProxyBlanket(WbemServices&, uint32_t, uint32_t, uint32_t, uint32_t) override {
    return E_FAIL;
  }

  LSTATUS RegOpenKeyExW(HKEY, const std::string&, uint32_t, uint32_t, HKEY*) override {
    return ERROR_FILE_NOT_FOUND;
  }
  LSTATUS RegCreateKeyExW(HKEY, const std::string&, uint32_t, uint32_t, HKEY*,
                          uint32_t*) override {
    return ERROR_ACCESS_DENIED;
  }
  LSTATUS RegQueryValueExW(HKEY, const std::string&, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_INVALID_HANDLE;
  }
  LSTATUS RegSetValueExW(HKEY, const std::string&, uint32_t, const uint8_t*, uint32_t) override {
    return ERROR_INVALID_HANDLE;
  }
  LSTATUS RegDeleteValueW(HKEY, const std::string&) override { return ERROR_INVALID_HANDLE; }
  LSTATUS RegDeleteKeyExW(HKEY, const std::string&, uint32_t) override {
    return ERROR_FILE_NOT_FOUND;
  }
  LSTATUS RegEnumKeyExW(HKEY, uint32_t, std::string*) override { return ERROR_INVALID_HANDLE; }
  LSTATUS RegCloseKey(HKEY) override { return ERROR_INVALID_HANDLE; }

  bool RunAndCapture(const std::string&, std::string*) override {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::intptr_t CreateMutexW(const std::string&) override { return 0; }

  // No service manager: every call fails as on a machine without one.
  SC_HANDLE OpenSCManagerW(const std::string&, uint32_t) override {
    SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
    return 0;
  }
  SC_HANDLE OpenServiceW(SC_HANDLE, const std::string&, uint32_t) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  bool QueryServiceStatus(SC_HANDLE, SERVICE_STATUS*) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool QueryServiceConfigW(SC_HANDLE, QUERY_SERVICE_CONFIGW*) override {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  bool ChangeServiceConfigW(SC_HANDLE, uint32_t, uint32_t, uint32_t) override {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  bool StartServiceW(SC_HANDLE) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool ControlService(SC_HANDLE, uint32_t, SERVICE_STATUS*) override {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  bool CloseServiceHandle(SC_HANDLE) override { return FailWith(ERROR_INVALID_HANDLE); }

  // No volumes, no folders: every file call fails as on a path that is not there.
  bool WriteFile(HANDLE, const uint8_t*, uint32_t, uint32_t*) override {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  bool GetFileSizeEx(HANDLE, uint64_t*) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool GetFileTime(HANDLE, FILETIME*, FILETIME*, FILETIME*) override {
    return FailWith(ERROR_INVALID_HANDLE);
  }
  bool FlushFileBuffers(HANDLE) override { return FailWith(ERROR_INVALID_HANDLE); }
  uint32_t GetFileAttributesW(const std::string&) override {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  bool SetFileAttributesW(const std::string&, uint32_t) override {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  bool DeleteFileW(const std::string&) override { return FailWith(ERROR_PATH_NOT_FOUND); }
  bool CreateDirectoryW(const std::string&) override { return FailWith(ERROR_PATH_NOT_FOUND); }
  bool RemoveDirectoryW(const std::string&) override { return FailWith(ERROR_PATH_NOT_FOUND); }
  HANDLE FindFirstFileW(const std::string&, WIN32_FIND_DATAW*) override {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool FindNextFileW(HANDLE, WIN32_FIND_DATAW*) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool FindClose(HANDLE) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool GetDiskFreeSpaceExW(const std::string&, uint64_t*, uint64_t*, uint64_t*) override {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  bool GetDiskFreeSpaceW(const std::string&, uint32_t*, uint32_t*, uint32_t*, uint32_t*) override {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  bool GetVolumePathNameW(const std::string&, std::string*, uint32_t) override {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  uint32_t GetLogicalDriveStringsW(uint32_t, char16_t*) override {
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  std::string GetFullPathNameW(const std::string&) override {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return std::string();
  }
  bool MoveFileExW(const std::string&, const std::string&, uint32_t) override {
    return FailWith(ERROR_PATH_NOT_FOUND);
  }
  bool LockFileEx(HANDLE, uint32_t) override { return FailWith(ERROR_INVALID_HANDLE); }
  bool UnlockFileEx(HANDLE) override { return FailWith(ERROR_INVALID_HANDLE); }
 private:
  // No window can be shown, so none is found and nothing is posted.
  TitledWindows windows_{std::function<NamedObjects&()>()};
  NoDiskUses uses_;
};

std::mutex g_mutex;
std::shared_ptr<Platform> g_current;

// The thread's pinned platform and its share of the one it was last given.
thread_local std::shared_ptr<Platform> t_pinned;
thread_local std::shared_ptr<Platform> t_given;

// The platform before any is installed. Never destroyed: a worker may still
// hold it while the program ends.
const std::shared_ptr<Platform>& NullShared() {
  static const auto* platform = new std::shared_ptr<Platform>(std::make_shared<NullPlatform>());
  return *platform;
}

}  // namespace

uint32_t GetLastError() { return t_lastError; }
void SetLastError(uint32_t error) { t_lastError = error; }

Platform& Current() {
  if (t_pinned) return *t_pinned;
  // The share let go of is released after the lock: a platform's end may
  // itself ask for the current platform.
  std::shared_ptr<Platform> released;
  std::lock_guard<std::mutex> lock(g_mutex);
  const std::shared_ptr<Platform>& now = g_current ? g_current : NullShared();
  if (t_given != now) {
    released = std::move(t_given);
    t_given = now;
  }
  return *t_given;
}

std::shared_ptr<Platform> Hold() {
  if (t_pinned) return t_pinned;
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_current ? g_current : NullShared();
}

std::shared_ptr<Platform> Install(std::shared_ptr<Platform> platform) {
  std::shared_ptr<Platform> released;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::swap(g_current, platform);
    // The installing thread lets go of its share, so a platform installed
    // for a scope ends with the scope unless another thread still uses it.
    released = std::move(t_given);
  }
  return platform;
}

PinnedPlatform::PinnedPlatform(std::shared_ptr<Platform> platform) : previous_(std::move(t_pinned)) {
  t_pinned = std::move(platform);
}

PinnedPlatform::~PinnedPlatform() { t_pinned = std::move(previous_); }

SystemTime ToSystemTime(int64_t unixMs) {
  SystemTime st;
  int64_t secs = unixMs >= 0 ? unixMs / 1000 : (unixMs - 999) / 1000;
  time_t t = static_cast<time_t>(secs);
  struct tm tmv {};
  gmtime_r(&t, &tmv);
  st.wYear = static_cast<uint16_t>(tmv.tm_year + 1900);
  st.wMonth = static_cast<uint16_t>(tmv.tm_mon + 1);
  st.wDayOfWeek = static_cast<uint16_t>(tmv.tm_wday);
  st.wDay = static_cast<uint16_t>(tmv.tm_mday);
  st.wHour = static_cast<uint16_t>(tmv.tm_hour);
  st.wMinute = static_cast<uint16_t>(tmv.tm_min);
  st.wSecond = static_cast<uint16_t>(tmv.tm_sec);
  st.wMilliseconds = static_cast<uint16_t>(unixMs - secs * 1000);
  return st;
}

namespace {

// The network of a platform that has none: nothing connects.
class NoNet final : public Net {
 public:
  bool HttpGet(const HttpGetRequest&, size_t, const HttpBlockSink&) override { return false; }
  ConnectResult Connect(const std::string&, uint16_t, uint32_t, SOCKET* socket) override {
    *socket = INVALID_SOCKET;
    return ConnectResult::NotResolved;
  }
  int64_t Send(SOCKET, const uint8_t*, size_t) override { return -1; }
  int64_t Receive(SOCKET, uint8_t*, size_t, uint32_t) override { return kReceiveError; }
  void CloseSocket(SOCKET) override {}
  bool OpenAddress(const std::string&) override { return false; }
};

}  // namespace

Net& Platform::Net() {
  static NoNet none;
  return none;
}

// The volume TRIM of a platform that has none: no file system turns freed
// clusters into TRIM, and asking for it is refused.
namespace {
class NoVolumeTrim final : public VolumeTrim {
 public:
  bool TurnsFreedClustersIntoTrim(const std::string&) override { return false; }
  bool TrimFreeSpace(const std::string&, FreeSpaceTrim* result) override {
    if (result) *result = FreeSpaceTrim{};
    SetLastError(ERROR_NOT_SUPPORTED);
    return false;
  }
};
}  // namespace

VolumeTrim& Platform::VolumeTrim() {
  static NoVolumeTrim none;
  return none;
}

}  // namespace zel::platform
