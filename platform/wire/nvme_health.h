// The NVMe SMART / Health Information log (log identifier 0x02): 512 bytes,
// every multi-byte field little-endian. The offsets are pinned here once;
// the simulated drive writes the log with them and the system reads it with
// them (discovery, the health values, the detail rows and the report).
#pragma once

#include <cstdint>
#include <optional>

#include "platform/bytes.h"

namespace zel::wire {

struct NvmeHealthLog {
  static constexpr uint32_t kSize = 512;
  static constexpr uint32_t kCriticalWarning = 0;          // 1 byte
  static constexpr uint32_t kCompositeTemperature = 1;     // 2 bytes, kelvin
  static constexpr uint32_t kAvailableSpare = 3;           // 1 byte, percent
  static constexpr uint32_t kAvailableSpareThreshold = 4;  // 1 byte, percent
  static constexpr uint32_t kPercentageUsed = 5;           // 1 byte
  // Ten 16-byte counters follow one another from byte 32.
  static constexpr uint32_t kCounterSize = 16;
  static constexpr uint32_t kDataUnitsRead = 32;
  static constexpr uint32_t kDataUnitsWritten = 48;
  static constexpr uint32_t kHostReadCommands = 64;
  static constexpr uint32_t kHostWriteCommands = 80;
  static constexpr uint32_t kControllerBusyTime = 96;
  static constexpr uint32_t kPowerCycles = 112;
  static constexpr uint32_t kPowerOnHours = 128;
  static constexpr uint32_t kUnsafeShutdowns = 144;
  static constexpr uint32_t kMediaErrors = 160;
  static constexpr uint32_t kErrorLogEntries = 176;
  static constexpr uint32_t kCounterCount = 10;
  static constexpr uint32_t kFirstCounter = kDataUnitsRead;

  // The counter `n` (0 for data units read to 9 for error log entries).
  static constexpr uint32_t Counter(uint32_t n) { return kFirstCounter + n * kCounterSize; }

  static uint16_t CompositeTemperatureKelvin(const uint8_t* log) {
    return GetLE16(log + kCompositeTemperature);
  }
  static void PutCompositeTemperatureKelvin(uint8_t* log, uint16_t kelvin) {
    PutLE16(log + kCompositeTemperature, kelvin);
  }
};
static_assert(NvmeHealthLog::kCompositeTemperature + 2 == NvmeHealthLog::kAvailableSpare);
static_assert(NvmeHealthLog::kDataUnitsWritten == NvmeHealthLog::Counter(1));
static_assert(NvmeHealthLog::kHostReadCommands == NvmeHealthLog::Counter(2));
static_assert(NvmeHealthLog::kHostWriteCommands == NvmeHealthLog::Counter(3));
static_assert(NvmeHealthLog::kControllerBusyTime == NvmeHealthLog::Counter(4));
static_assert(NvmeHealthLog::kPowerCycles == NvmeHealthLog::Counter(5));
static_assert(NvmeHealthLog::kPowerOnHours == NvmeHealthLog::Counter(6));
static_assert(NvmeHealthLog::kUnsafeShutdowns == NvmeHealthLog::Counter(7));
static_assert(NvmeHealthLog::kMediaErrors == NvmeHealthLog::Counter(8));
static_assert(NvmeHealthLog::kErrorLogEntries == NvmeHealthLog::Counter(9));
static_assert(NvmeHealthLog::Counter(NvmeHealthLog::kCounterCount) == 192);

// The one rule for "no temperature" on an NVMe drive: a composite
// temperature below 273 K (below 0 °C), 0 included, is none. A controller
// without a sensor leaves the field 0; a value just above 0 K is no reading
// a working drive gives, and subtracting 273 from it would wrap into
// thousands of degrees. Otherwise the whole degrees Celsius, kelvin - 273.
inline constexpr uint16_t kNvmeLowestTemperatureKelvin = 273;
inline std::optional<int32_t> NvmeTemperatureCelsius(uint16_t kelvin) {
  if (kelvin < kNvmeLowestTemperatureKelvin) return std::nullopt;
  return static_cast<int32_t>(kelvin) - 273;
}
inline std::optional<int32_t> NvmeCompositeTemperatureCelsius(const uint8_t* log) {
  return NvmeTemperatureCelsius(NvmeHealthLog::CompositeTemperatureKelvin(log));
}

}  // namespace zel::wire
