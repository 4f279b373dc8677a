// The drive the verification-mode tests check: a SATA drive built field by
// field, so each test can state the exact value a check meets.
#pragma once

#include <cstring>
#include <string>

#include "device/drive_record.h"

namespace zel::test {

struct DvtAttribute {
  uint8_t id;
  uint16_t flags;
  uint8_t current, worst;
  uint64_t raw;  // six bytes
  uint8_t reserved;
  uint8_t thresholdId;  // the identifier of the threshold entry at the same position
  uint8_t threshold;
};

inline void SetIdentifyText(PhysicalDriveRecord& r, int firstWord, int words, const std::string& text) {
  std::string padded = text;
  padded.resize(static_cast<size_t>(2 * words), ' ');
  std::memcpy(&r.IdentifyData[2 * firstWord], padded.data(), padded.size());
}

inline void SetIdentifyWord(PhysicalDriveRecord& r, int word, uint16_t value) {
  r.IdentifyData[2 * word] = static_cast<uint8_t>(value);
  r.IdentifyData[2 * word + 1] = static_cast<uint8_t>(value >> 8);
}

inline PhysicalDriveRecord DvtTestDrive() {
  static const DvtAttribute kAttributes[] = {
      {0x05, 0x0033, 100, 100, 0, 0, 0x05, 0x0A},
      {0x09, 0x0032, 100, 100, 0x1234, 0x01, 0x09, 0},
      {0x0C, 0x0032, 100, 100, 0x0155, 0, 0x0C, 0},
      {0xAB, 0x0032, 100, 100, 0, 0, 0xAB, 0},
      {0xAC, 0x0032, 100, 100, 0, 0, 0xAC, 0},
      {0xAD, 0x0032, 100, 100, 0x12, 0, 0xAD, 0},
      {0xBB, 0x0032, 100, 100, 0, 0, 0xBC, 0},  // its threshold entry names another attribute
      {0xC2, 0x0022, 67, 55, 0x2D00140021ull, 0, 0xC2, 0},  // 33 °C, lowest 20, highest 45
      {0xCA, 0x0030, 98, 98, 2, 0, 0xCA, 0x0A},
      {0xF6, 0x0032, 100, 100, 1234567890, 0, 0xF6, 0},
  };
  PhysicalDriveRecord r;
  r.PhysicalDriveIndex = 0;
  r.BusType = kBusAta;
  r.ModelName = "QUARN SSD KD765KK 512GB";
  r.SerialNumber = "QKD765KK0001";
  r.FirmwareRevision = "SVMU01";
  int j = 0;
  for (const DvtAttribute& a : kAttributes) {
    auto& e = r.SmartAttributes[j].bytes;
    e[0] = a.id;
    e[1] = static_cast<uint8_t>(a.flags);
    e[2] = static_cast<uint8_t>(a.flags >> 8);
    e[3] = a.current;
    e[4] = a.worst;
    for (int k = 0; k < 6; ++k) e[5 + k] = static_cast<uint8_t>(a.raw >> (8 * k));
    e[11] = a.reserved;
    r.SmartThresholds[j].bytes[0] = a.thresholdId;
    r.SmartThresholds[j].bytes[1] = a.threshold;
    ++j;
  }
  r.SmartAttributeCount = j;
  r.Temperature = 33;

  SetIdentifyWord(r, 0, 0x0040);
  SetIdentifyWord(r, 1, 0x3FFF);
  SetIdentifyText(r, 10, 10, "QKD765KK0001");
  SetIdentifyText(r, 23, 4, "SVMU01");
  SetIdentifyText(r, 27, 20, "QUARN SSD KD765KK 512GB");
  SetIdentifyWord(r, 60, 0x12B0);
  SetIdentifyWord(r, 61, 0x3B9E);
  SetIdentifyWord(r, 83, 0x7400);
  SetIdentifyWord(r, 100, 0x5678);
  SetIdentifyWord(r, 101, 0x1234);
  SetIdentifyWord(r, 102, 0x0C0F);
  SetIdentifyWord(r, 103, 0x5002);
  SetIdentifyWord(r, 217, 0x0001);
  SetIdentifyWord(r, 255, 0xA5A5);
  return r;
}

}  // namespace zel::test
