#include "device/drive_record.h"

#include <algorithm>

#include "platform/bytes.h"
#include "platform/text.h"

namespace zel {

uint32_t SmartAttributeEntry::Raw32() const { return GetLE32(&bytes[5]); }

uint64_t SmartAttributeEntry::Raw48() const {
  uint64_t v = 0;
  for (int i = 5; i >= 0; --i) v = (v << 8) | Raw(i);
  return v;
}

bool ParseSmartAttributes(PhysicalDriveRecord& record) {
  int filled = 0;
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const uint8_t* src = &record.SmartData[2 + i * kSmartEntrySize];
    // An empty entry is copied too, but its slot stays free and is
    // overwritten by the next non-empty entry.
    SmartAttributeEntry& slot = record.SmartAttributes[filled];
    std::copy(src, src + kSmartEntrySize, slot.bytes.begin());
    if (slot.Id() == 0) continue;

    if (slot.Id() == 190) {
      if (slot.Raw(0) >= 1 && slot.Raw(0) <= 99) record.Temperature = slot.Raw(0);
    } else if (slot.Id() == 194) {
      if (StartsWith(record.ModelName, "SAMSUNG SV") && (slot.Raw(1) != 0 || slot.Raw(0) > 70)) {
        record.Temperature = (slot.Raw(0) + 256 * slot.Raw(1)) / 10;
      } else if (slot.Raw(0) != 0) {
        record.Temperature = slot.Raw(0);
      }
      if (record.Temperature >= 100) record.Temperature = 0;
    }
    ++filled;
    if (filled == kSmartEntryCount) break;
  }
  record.SmartAttributeCount = filled;
  return filled > 0;
}

bool CopySmartThresholds(PhysicalDriveRecord& record) {
  bool any = false;
  for (int i = 0; i < kSmartEntryCount; ++i) {
    const uint8_t* src = &record.SmartThresholdData[2 + i * kSmartEntrySize];
    std::copy(src, src + kSmartEntrySize, record.SmartThresholds[i].bytes.begin());
    if (src[0] != 0) any = true;
  }
  return any;
}

}  // namespace zel
