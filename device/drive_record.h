// The physical drive record: one drive's raw pages, compact SMART lists,
// disk number, size, bus type, temperature, identity texts and device path.
// A plain value, zero-filled when created and copied whole when handed on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zel {

inline constexpr int kSmartEntryCount = 30;
inline constexpr int kSmartEntrySize = 12;

// Bus types of the record.
inline constexpr int32_t kBusScsi = 0;
inline constexpr int32_t kBusAta = 1;  // IDE/SATA
inline constexpr int32_t kBusUsb = 2;
inline constexpr int32_t kBusNvme = 3;

// A SMART attribute entry as the drive sends it: identifier, 16-bit flags,
// current and worst normalised values, six raw bytes (least significant
// first), one reserved byte.
struct SmartAttributeEntry {
  std::array<uint8_t, kSmartEntrySize> bytes{};

  uint8_t Id() const { return bytes[0]; }
  uint16_t Flags() const { return static_cast<uint16_t>(bytes[1] | (bytes[2] << 8)); }
  uint8_t Current() const { return bytes[3]; }
  uint8_t Worst() const { return bytes[4]; }
  uint8_t Raw(int i) const { return bytes[5 + i]; }  // i = 0 (least significant) .. 5
  uint32_t Raw32() const;  // raw[0..3], little-endian
  uint64_t Raw48() const;  // raw[0..5], little-endian
  uint8_t Reserved() const { return bytes[11]; }
};

// A SMART threshold entry: identifier, threshold, ten reserved bytes.
struct SmartThresholdEntry {
  std::array<uint8_t, kSmartEntrySize> bytes{};

  uint8_t Id() const { return bytes[0]; }
  uint8_t Threshold() const { return bytes[1]; }
};

// Capacities of the record's text members in UTF-16 characters, without the
// terminating NUL of the fixed buffers they stand for.
inline constexpr size_t kSerialNumberChars = 20;
inline constexpr size_t kFirmwareRevisionChars = 8;
inline constexpr size_t kModelNameChars = 40;
inline constexpr size_t kDevicePathChars = 255;

struct PhysicalDriveRecord {
  std::array<uint8_t, 512> IdentifyData{};
  std::array<uint8_t, 512> SmartData{};
  std::array<uint8_t, 512> SmartThresholdData{};
  std::array<SmartAttributeEntry, kSmartEntryCount> SmartAttributes{};
  std::array<SmartThresholdEntry, kSmartEntryCount> SmartThresholds{};
  std::array<uint8_t, 4096> NvmeIdentifyData{};
  int32_t PhysicalDriveIndex = 0;
  uint64_t DiskSizeGB = 0;
  int32_t SmartAttributeCount = 0;
  int32_t Temperature = 0;
  int32_t BusType = kBusScsi;
  std::string SerialNumber;      // UTF-8, at most kSerialNumberChars UTF-16 units
  std::string FirmwareRevision;  // at most kFirmwareRevisionChars
  std::string ModelName;         // at most kModelNameChars
  std::string DevicePath;        // lower-cased interface path, at most kDevicePathChars

  // IDENTIFY word i (little-endian) of an ATA drive.
  uint16_t IdentifyWord(int i) const {
    return static_cast<uint16_t>(IdentifyData[2 * i] | (IdentifyData[2 * i + 1] << 8));
  }
};

// The drives of the last discovery, in discovery order.
using PhysicalDriveTable = std::vector<PhysicalDriveRecord>;

// Builds SmartAttributes from SmartData (the non-empty entries in page order)
// and sets Temperature from attributes 190 and 194; true when at least one
// attribute was found. The caller has zeroed SmartAttributes and the count.
bool ParseSmartAttributes(PhysicalDriveRecord& record);

// Copies the 30 threshold entries of SmartThresholdData in page order; true
// when at least one entry has a non-zero identifier.
bool CopySmartThresholds(PhysicalDriveRecord& record);

}  // namespace zel
