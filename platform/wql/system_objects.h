// The management-instrumentation objects of the system inventory, built the
// same way for every backend from a neutral description of the machine:
//
//   Win32_OperatingSystem   the operating system (key Name)
//   Win32_Processor         each processor package (key DeviceID "CPUn")
//   Win32_ComputerSystem    the computer (key Name)
//   Win32_BaseBoard         the board (key Tag "Base Board")
//   Win32_BIOS              the firmware (key Name)
//   Win32_PhysicalMemory    each memory module (key Tag "Physical Memory n")
//
// The system's inventory reads these properties with fixed variant types;
// a value the machine does not know is VT_NULL where the platform gives
// VT_NULL for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wql/object_model.h"

namespace zel::wql {

struct SystemInventory {
  std::string computerName;  // CSName of the system, Name of the computer
  // The platform's form of the system's Name: product name, "|", system
  // folder, "|", boot device; Caption is the product name alone.
  std::string osName, osCaption, osVersion;
  // 64 makes the architecture "64-bit" and the system type "x64-based PC".
  int32_t addressWidth = 64;

  struct Processor {
    std::string name, manufacturer;
    std::optional<int32_t> logicalProcessors;  // NumberOfLogicalProcessors
    std::optional<int32_t> clockMhz;           // CurrentClockSpeed
  };
  int processorCount = 1;  // packages, all described by `processor`
  Processor processor;

  platform::Variant totalMemory;  // Win32_ComputerSystem.TotalPhysicalMemory, decimal bytes
  platform::Variant systemManufacturer, systemModel;
  platform::Variant boardManufacturer, boardProduct;
  std::string biosName;
  platform::Variant biosVersion, biosManufacturer;  // Version and SMBIOSBIOSVersion, Manufacturer

  struct MemoryModule {
    platform::Variant deviceLocator, bankLabel, manufacturer, capacity, speed, memoryType, partNumber;
    std::optional<platform::Variant> smbiosMemoryType, serialNumber;
  };
  std::vector<MemoryModule> modules;
};

// Declares the system classes with the key properties of their object paths
// and adds the objects of `inventory`.
void AddSystemObjects(ObjectModel& model, const SystemInventory& inventory);

// The parts of it, for a backend that fills each class when first asked:
// the declarations alone, and the objects of one class (of the six above)
// from `inventory`, of which only that class's fields are read.
void DeclareSystemClasses(ObjectModel& model);
void AddSystemObjectsOf(ObjectModel& model, const SystemInventory& inventory, std::string_view className);

}  // namespace zel::wql
