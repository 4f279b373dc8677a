// Drive records for the tests of what the programs make of a record: SMART
// attributes and thresholds set at their byte positions.
#pragma once

#include <cstdint>
#include <vector>

#include "device/drive_record.h"

namespace zel::test {

// One SMART attribute and its threshold.
struct SmartAttr {
  uint8_t id;
  uint8_t current;  // also the worst value
  uint64_t raw;     // the low 48 bits are stored
  uint8_t threshold;
};

// Sets the record's SMART attribute entries and thresholds, paired by
// position, and their count.
inline void SetSmartAttributes(PhysicalDriveRecord& r, const std::vector<SmartAttr>& attrs) {
  for (size_t i = 0; i < attrs.size(); ++i) {
    auto& e = r.SmartAttributes[i].bytes;
    e[0] = attrs[i].id;
    e[3] = e[4] = attrs[i].current;
    for (int b = 0; b < 6; ++b) e[5 + b] = static_cast<uint8_t>(attrs[i].raw >> (8 * b));
    r.SmartThresholds[i].bytes[0] = attrs[i].id;
    r.SmartThresholds[i].bytes[1] = attrs[i].threshold;
  }
  r.SmartAttributeCount = static_cast<int32_t>(attrs.size());
}

}  // namespace zel::test
