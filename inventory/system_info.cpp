// The system and memory inventory: operating system, processor, memory,
// board, BIOS and memory modules in one pass over one connection, then the
// storage controllers and the program's own version.
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "inventory/wmi_connection.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

#ifndef ZEL_VERSION_MAJOR
#error "ZEL_VERSION_MAJOR, ZEL_VERSION_MINOR and ZEL_VERSION_PATCH come from the build"
#endif

namespace zel {

using namespace zel::platform;
using inventory_detail::GetInt;
using inventory_detail::GetText;
using inventory_detail::NextObject;
using inventory_detail::ParseDecimalU64;
using inventory_detail::WmiConnection;

namespace {

constexpr const char* kProcessorKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

// Runs one query of the pass; false (with the step's two messages) when it
// cannot.
bool QueryStep(WmiConnection& wmi, const char* className, const char* fail1, const char* fail2,
               UnderlyingUtil::EnumeratorPtr* objects) {
  if (!wmi.Query(className, "", objects)) {
    LogTrace(fail1);
    return false;
  }
  if (!*objects) {
    LogTrace(fail2);
    return false;
  }
  return true;
}

// A REG_SZ value as the platform returns it: UTF-16LE up to its first NUL
// within the bytes returned (a value stored without its NUL is still read
// only as far as it goes).
std::string RegistryText(const uint8_t* data, uint32_t size) {
  uint32_t end = 0;
  while (end + 1 < size && (data[end] || data[end + 1])) end += 2;
  return Utf16LeBytesToUtf8(data, end);
}

}  // namespace

bool UnderlyingUtil::GetSystemInfo(SystemInformation& info, std::vector<HbaEntry>& hbaList) {
  LogEnter("UnderlyingUtil::GetSystemInfo");

  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("ConnectWmiService fail 1");
    return false;
  }
  EnumeratorPtr objects;
  std::string text;

  // Operating system: the product name, without the Windows directory and
  // boot partition that follow it after "|".
  if (!QueryStep(wmi, "Win32_OperatingSystem", "ConnectWmiClass fail 1", "ConnectWmiClass fail 2",
                 &objects))
    return false;
  while (std::shared_ptr<WbemClassObject> os = NextObject(objects)) {
    if (!GetText(*this, "Name", *os, &text)) continue;
    info.OsName = TruncateUtf16(text, 255);
    LogTraceF("OS Name before: %s", info.OsName.c_str());
    size_t bar = info.OsName.find('|');
    if (bar != std::string::npos) info.OsName = info.OsName.substr(0, bar) + "\n";
    LogTraceF("OS Name after: %s", info.OsName.c_str());
  }

  // Processor name from the registry, into a 260-byte buffer (129
  // characters and the terminating NUL).
  {
    Registry& reg = Current().Reg();
    HKEY key = 0;
    LSTATUS status = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProcessorKey, 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS) {
      LogTraceF("GetSystemInfo::RegOpenKeyEx(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) "
                "fail: 0x%X\n",
                static_cast<unsigned>(status));
      return false;
    }
    uint8_t buffer[260] = {};
    uint32_t size = sizeof buffer;
    uint32_t type = REG_NONE;
    status = reg.RegQueryValueExW(key, "ProcessorNameString", &type, buffer, &size);
    if (status != ERROR_SUCCESS) {
      LogTraceF("GetSystemInfo::RegQueryValueEx(ProcessorNameString) fail: 0x%X\n",
                static_cast<unsigned>(status));
      reg.RegCloseKey(key);
      return false;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ)
      info.CpuName = TruncateUtf16(RegistryText(buffer, size), 129);
    status = reg.RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
      LogTraceF("GetSystemInfo::RegCloseKey(HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0) "
                "fail: 0x%X\n",
                static_cast<unsigned>(status));
      return false;
    }
  }

  // Address width, and the OS name's " x86" / " x64" suffix. A machine
  // with several processor sockets reports one object per socket; the
  // suffix is written once.
  if (!QueryStep(wmi, "Win32_Processor", "ConnectWmiClass fail 1", "ConnectWmiClass fail 2",
                 &objects))
    return false;
  bool suffixed = false;
  while (std::shared_ptr<WbemClassObject> cpu = NextObject(objects)) {
    int32_t width = 0;
    if (!GetInt(*this, "AddressWidth", *cpu, &width)) continue;
    info.AddressWidth = width;
    if (!suffixed && (width == 32 || width == 64)) {
      info.OsName = TruncateUtf16(Format(width == 32 ? "%s x86" : "%s x64", info.OsName.c_str()), 255);
      suffixed = true;
    }
    LogTraceF("Processor AddressWidth : %d", width);
  }

  if (!QueryStep(wmi, "Win32_ComputerSystem", "ConnectWmiClass(Win32_ComputerSystem) fail 1",
                 "ConnectWmiClass(Win32_ComputerSystem) fail 2", &objects))
    return false;
  while (std::shared_ptr<WbemClassObject> cs = NextObject(objects)) {
    if (!GetText(*this, "TotalPhysicalMemory", *cs, &text)) continue;
    uint64_t mb = ParseDecimalU64(text) / 1024 / 1024;
    info.TotalMemoryMB = TruncateUtf16(Format("%llu", static_cast<unsigned long long>(mb)), 127);
    LogTraceF("Total Physical Memory : %s", info.TotalMemoryMB.c_str());
  }

  if (!QueryStep(wmi, "Win32_BaseBoard", "ConnectWmiClass(Win32_BaseBoard) fail 1",
                 "ConnectWmiClass(Win32_BaseBoard) fail 2", &objects))
    return false;
  while (std::shared_ptr<WbemClassObject> board = NextObject(objects)) {
    if (GetText(*this, "Manufacturer", *board, &text)) {
      info.BoardVendor = TruncateUtf16(text, 127);
      LogTraceF("Base Board Manufacturer: %s", info.BoardVendor.c_str());
    }
    if (GetText(*this, "Product", *board, &text)) {
      info.BoardModel = TruncateUtf16(text, 127);
      LogTraceF("Base Board: %s", info.BoardModel.c_str());
    }
  }

  if (!QueryStep(wmi, "Win32_BIOS", "ConnectWmiClass(Win32_BIOS) fail 1",
                 "ConnectWmiClass(Win32_BIOS) fail 2", &objects))
    return false;
  while (std::shared_ptr<WbemClassObject> bios = NextObject(objects)) {
    if (GetText(*this, "SMBIOSBIOSVersion", *bios, &text)) {
      info.BiosVersion = TruncateUtf16(text, 127);
      LogTraceF("BIOS Version: %s", info.BiosVersion.c_str());
    }
  }

  // Memory modules, one per device locator, kept across passes.
  if (!QueryStep(wmi, "Win32_PhysicalMemory", "ConnectWmiClass(Win32_PhysicalMemory) fail 1",
                 "ConnectWmiClass(Win32_PhysicalMemory) fail 2", &objects))
    return false;
  while (std::shared_ptr<WbemClassObject> module = NextObject(objects)) {
    std::string locator;
    if (!GetText(*this, "DeviceLocator", *module, &locator)) continue;
    locator = TruncateUtf16(locator, 127);
    LogTraceF("DeviceLocator: %s", locator.c_str());
    bool listed = false;
    for (const MemoryModuleEntry& m : info.MemoryModules)
      if (m.DeviceLocator == locator) listed = true;
    if (listed) continue;

    MemoryModuleEntry entry;
    entry.DeviceLocator = locator;
    if (GetText(*this, "BankLabel", *module, &text)) {
      entry.BankLabel = TruncateUtf16(text, 127);
      LogTraceF("BankLabel: %s", entry.BankLabel.c_str());
    }
    if (GetText(*this, "Manufacturer", *module, &text)) {
      entry.Manufacturer = TruncateUtf16(text, 127);
      LogTraceF("Manufacturer: %s", entry.Manufacturer.c_str());
    }
    if (entry.Manufacturer == entry.BankLabel) entry.Manufacturer = "N/A";
    int32_t number = 0;
    if (GetInt(*this, "MemoryType", *module, &number)) LogTraceF("MemoryType: %d", number);
    if (GetInt(*this, "Speed", *module, &number)) {
      entry.Speed = number;
      LogTraceF("Speed: %d", entry.Speed);
    }
    if (GetText(*this, "Capacity", *module, &text)) {
      entry.Capacity = TruncateUtf16(text, 127);
      LogTraceF("Capacity: %s", entry.Capacity.c_str());
    }
    info.MemoryModules.push_back(std::move(entry));
  }
  wmi.Close();

  if (!GetHbaInfo(hbaList)) return false;
  GetToolVersion(info.ToolVersion);
  LogExit("UnderlyingUtil::GetSystemInfo");
  return true;
}

void UnderlyingUtil::GetToolVersion(std::string& out) {
  // The version of the running program, fixed when it was built, so the
  // text is the same wherever the program is started from.
  out = Format("%d.%d.%d", ZEL_VERSION_MAJOR, ZEL_VERSION_MINOR, ZEL_VERSION_PATCH);
}

}  // namespace zel
