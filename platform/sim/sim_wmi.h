// The management-instrumentation side of the simulated machine: the
// machine's description from its "system" section (shared with the registry,
// which serves the processor name), and the object model built from the
// drives, volumes, controllers, "system" and "wmi" sections.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/json_util.h"
#include "platform/wql/object_model.h"

namespace zel::sim {

class SimMachine;

// One memory module as its Win32_PhysicalMemory properties (a JSON null in
// the machine file gives VT_NULL).
struct SimMemoryModule {
  platform::Variant deviceLocator, bankLabel, manufacturer, capacity, partNumber;
  platform::Variant speed, memoryType;
};

struct SimSystemInfo {
  std::string computerName = "ZELVANE-SIM";
  std::string osName = "Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition2";
  std::string osVersion = "10.0.19045";
  std::string processor = "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz";
  int processors = 1;
  int32_t addressWidth = 64;
  std::string totalMemory;  // decimal bytes, as Win32_ComputerSystem gives it
  std::string boardManufacturer = "ASUSTeK COMPUTER INC.";
  std::string boardProduct = "PRIME Z370-A";
  std::string biosVersion = "2001";
  std::string biosManufacturer = "American Megatrends Inc.";
  std::vector<SimMemoryModule> modules;
};

// Reads the "system" section (defaults for everything absent). Throws
// FixtureError naming the field.
SimSystemInfo ReadSystemSection(const Json& root);

// The object model of a machine: its drives, volumes, controllers, system
// description and the objects and overrides of its "wmi" section.
std::shared_ptr<wql::ObjectModel> BuildSimObjectModel(const SimMachine& machine);

}  // namespace zel::sim
