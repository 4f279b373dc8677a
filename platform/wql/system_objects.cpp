#include "platform/wql/system_objects.h"

#include "platform/text.h"

namespace zel::wql {

using namespace zel::platform;

void DeclareSystemClasses(ObjectModel& m) {
  m.DeclareClass("Win32_Processor", "DeviceID");
  m.DeclareClass("Win32_OperatingSystem", "Name");
  m.DeclareClass("Win32_ComputerSystem", "Name");
  m.DeclareClass("Win32_BaseBoard", "Tag");
  m.DeclareClass("Win32_BIOS", "Name");
  m.DeclareClass("Win32_PhysicalMemory", "Tag");
}

void AddSystemObjects(ObjectModel& m, const SystemInventory& s) {
  DeclareSystemClasses(m);
  for (const char* c : {"Win32_OperatingSystem", "Win32_Processor", "Win32_ComputerSystem", "Win32_BaseBoard",
                        "Win32_BIOS", "Win32_PhysicalMemory"})
    AddSystemObjectsOf(m, s, c);
}

void AddSystemObjectsOf(ObjectModel& m, const SystemInventory& s, std::string_view className) {
  const bool wide = s.addressWidth == 64;
  auto is = [&](const char* name) { return EqualsNoCaseAscii(className, name); };
  if (is("Win32_OperatingSystem")) {
    Object o("Win32_OperatingSystem");
    o.Set("Name", Variant::Bstr(s.osName));
    o.Set("Caption", Variant::Bstr(s.osCaption));
    o.Set("Version", Variant::Bstr(s.osVersion));
    o.Set("OSArchitecture", Variant::Bstr(wide ? "64-bit" : "32-bit"));
    o.Set("CSName", Variant::Bstr(s.computerName));
    m.Add(std::move(o));
  }
  if (is("Win32_Processor"))
  for (int i = 0; i < s.processorCount; ++i) {
    Object o("Win32_Processor");
    o.Set("DeviceID", Variant::Bstr("CPU" + std::to_string(i)));
    o.Set("Name", Variant::Bstr(s.processor.name));
    o.Set("AddressWidth", Variant::I4(s.addressWidth));
    o.Set("DataWidth", Variant::I4(s.addressWidth));
    o.Set("Manufacturer", Variant::Bstr(s.processor.manufacturer));
    if (s.processor.logicalProcessors)
      o.Set("NumberOfLogicalProcessors", Variant::I4(*s.processor.logicalProcessors));
    if (s.processor.clockMhz) o.Set("CurrentClockSpeed", Variant::I4(*s.processor.clockMhz));
    m.Add(std::move(o));
  }
  if (is("Win32_ComputerSystem")) {
    Object o("Win32_ComputerSystem");
    o.Set("Name", Variant::Bstr(s.computerName));
    o.Set("TotalPhysicalMemory", s.totalMemory);
    o.Set("Manufacturer", s.systemManufacturer);
    o.Set("Model", s.systemModel);
    o.Set("SystemType", Variant::Bstr(wide ? "x64-based PC" : "X86-based PC"));
    m.Add(std::move(o));
  }
  if (is("Win32_BaseBoard")) {
    Object o("Win32_BaseBoard");
    o.Set("Tag", Variant::Bstr("Base Board"));
    o.Set("Manufacturer", s.boardManufacturer);
    o.Set("Product", s.boardProduct);
    m.Add(std::move(o));
  }
  if (is("Win32_BIOS")) {
    Object o("Win32_BIOS");
    o.Set("Name", Variant::Bstr(s.biosName));
    o.Set("SMBIOSBIOSVersion", s.biosVersion);
    o.Set("Manufacturer", s.biosManufacturer);
    o.Set("Version", s.biosVersion);
    m.Add(std::move(o));
  }
  if (is("Win32_PhysicalMemory"))
  for (size_t i = 0; i < s.modules.size(); ++i) {
    const SystemInventory::MemoryModule& mod = s.modules[i];
    Object o("Win32_PhysicalMemory");
    o.Set("Tag", Variant::Bstr("Physical Memory " + std::to_string(i)));
    o.Set("DeviceLocator", mod.deviceLocator);
    o.Set("BankLabel", mod.bankLabel);
    o.Set("Manufacturer", mod.manufacturer);
    o.Set("Capacity", mod.capacity);
    o.Set("Speed", mod.speed);
    o.Set("MemoryType", mod.memoryType);
    if (mod.smbiosMemoryType) o.Set("SMBIOSMemoryType", *mod.smbiosMemoryType);
    o.Set("PartNumber", mod.partNumber);
    if (mod.serialNumber) o.Set("SerialNumber", *mod.serialNumber);
    m.Add(std::move(o));
  }
}

}  // namespace zel::wql
