#include "health/smart_health.h"

#include <initializer_list>
#include <optional>
#include <string_view>

#include "log/log.h"
#include "platform/bytes.h"
#include "platform/text.h"
#include "platform/wire/nvme_health.h"

namespace zel {

namespace {

bool HasAnyCode(const std::string& model, std::initializer_list<std::string_view> codes) {
  for (std::string_view c : codes)
    if (Contains(model, c)) return true;
  return false;
}

bool IsKd765Family(const PhysicalDriveRecord& r) { return Contains(r.ModelName, "KD765"); }
bool IsKd765kk(const PhysicalDriveRecord& r) { return Contains(r.ModelName, "KD765KK"); }

bool IsGroup1(const PhysicalDriveRecord& r) {
  if (HasAnyCode(r.ModelName, {"K986", "KD985", "KD355", "KD355LK92", "KW795", "WR68G",
                               "ERKK9885G", "ER6K9894G", "KD045", "KV155", "ER6K9824", "EKKK982",
                               "ERKK982", "EJTK982", "ER6K9822", "ER6K9892L"}))
    return true;
  // The controller tag in the vendor-specific area of the SMART data page.
  static constexpr uint8_t kTag[] = {'J', 'M', 'F', '6', '0', '8'};
  for (int i = 0; i < 6; ++i)
    if (r.SmartData[396 + i] != kTag[i]) return false;
  return true;
}

bool IsGroup2(const PhysicalDriveRecord& r) { return HasAnyCode(r.ModelName, {"KD785", "KD055"}); }
bool IsGroup3(const PhysicalDriveRecord& r) {
  return HasAnyCode(r.ModelName, {"KD755", "KD755LK94", "KW8555H", "KW755", "KW785"});
}

bool IsNvme(const PhysicalDriveRecord& r) { return r.BusType == kBusNvme; }
using wire::NvmeHealthLog;
uint8_t NvmePercentageUsed(const PhysicalDriveRecord& r) {
  return r.SmartData[NvmeHealthLog::kPercentageUsed];
}

int AttributeCount(const PhysicalDriveRecord& r) {
  int n = r.SmartAttributeCount;
  return n < 0 ? 0 : (n > kSmartEntryCount ? kSmartEntryCount : n);
}

}  // namespace

int CheckDiskStatus(const PhysicalDriveRecord& record) {
  if (IsNvme(record)) return NvmePercentageUsed(record) > 90 ? kDiskStatusWarning : kDiskStatusGood;

  int bad = 0;
  bool noThreshold = true;
  for (int i = 0; i < AttributeCount(record); ++i) {
    const SmartAttributeEntry& a = record.SmartAttributes[i];
    for (int j = 0; j < i; ++j) {
      if (record.SmartAttributes[j].Id() == a.Id()) {
        LogTraceF("CheckDiskStatus::SMART attributes overlaped, %d %d\n", i, j);
        return kDiskStatusWarning;
      }
    }
    uint8_t threshold = record.SmartThresholds[i].Threshold();  // paired by position
    bool exempt = a.Id() == 194 || (a.Id() == 1 && a.Current() == 0 && a.Raw(0) == 0 && a.Raw(1) == 0);
    if (!exempt && threshold != 0 && a.Current() < threshold) ++bad;
    if (threshold != 0) noThreshold = false;
  }
  if (bad > 0) return kDiskStatusBad;
  return noThreshold ? kDiskStatusWarning : kDiskStatusGood;
}

uint16_t GetDriveTemperature(const PhysicalDriveRecord& record) {
  if (IsNvme(record)) {
    // The one rule for "no temperature" that discovery also applies.
    std::optional<int32_t> celsius = wire::NvmeCompositeTemperatureCelsius(record.SmartData.data());
    if (!celsius) {
      LogTrace("no support temperature\n");
      return kNoTemperature;
    }
    return static_cast<uint16_t>(*celsius);
  }
  for (int i = 0; i < AttributeCount(record); ++i) {
    const SmartAttributeEntry& a = record.SmartAttributes[i];
    if ((a.Id() == 190 || a.Id() == 194) && a.Raw(0) >= 1 && a.Raw(0) <= 99) {
      LogTraceF("Temperature:%d", a.Raw(0));
      return a.Raw(0);
    }
  }
  LogTrace("no support temperature\n");
  return kNoTemperature;
}

int32_t GetRemainingLife(const PhysicalDriveRecord& record) {
  if (IsNvme(record)) return 100 - static_cast<int32_t>(NvmePercentageUsed(record));

  uint8_t lifeId = IsKd765Family(record) ? 202 : IsGroup1(record) ? 231 : 169;
  for (int i = 0; i < AttributeCount(record); ++i) {
    const SmartAttributeEntry& a = record.SmartAttributes[i];
    if (a.Id() == lifeId) {
      int32_t life = static_cast<int8_t>(a.Current());
      LogTraceF("Remaining life:%d", life);
      return life;
    }
  }
  LogTrace("no support disk remaining life\n");
  return 100;
}

int64_t GetTotalBytesWritten(const PhysicalDriveRecord& record) {
  if (IsNvme(record)) {
    LogTrace("NVMe Total Byte Write\n");
    const uint8_t* written = &record.SmartData[NvmeHealthLog::kDataUnitsWritten];
    uint64_t low = GetLE64(written);
    uint64_t high = GetLE64(written + 8);
    // Data units of 512,000 bytes, shown in GB of 2^30: units / 2048. A count
    // beyond 64 bits is divided in 128 bits and saturated to the largest
    // count the result can hold.
    if (high == 0) return static_cast<int64_t>(low >> 11);
    unsigned __int128 units = (static_cast<unsigned __int128>(high) << 64) | low;
    unsigned __int128 gb = units >> 11;
    if (gb > static_cast<unsigned __int128>(INT64_MAX)) return INT64_MAX;
    return static_cast<int64_t>(gb);
  }

  const bool kk = IsKd765kk(record);
  const bool mu = Contains(record.FirmwareRevision, "MU");
  int seen = 0;  // how many of 171, 172, 173 were met in order
  for (int i = 0; i < AttributeCount(record); ++i) {
    const SmartAttributeEntry& a = record.SmartAttributes[i];
    if (kk) {
      if (mu) {
        if (seen < 3 && a.Id() == 171 + seen) {
          ++seen;
        } else if (seen == 3 && a.Id() == 246) {
          return static_cast<int64_t>(a.Raw48() * 512 / (1ull << 30));
        }
      } else if (a.Id() == 233) {
        return static_cast<int64_t>(a.Raw32() / 1024);
      }
      continue;
    }
    if (a.Id() != 241) continue;
    uint64_t v;
    if (IsGroup1(record)) {
      v = a.Raw48() * 512 / (1ull << 30);
    } else if (IsGroup2(record)) {
      v = a.Raw32() / 1000;
    } else if (IsGroup3(record)) {
      v = a.Raw32();
    } else {
      v = a.Raw48() * 32 / 1024;
    }
    return static_cast<int64_t>(v);
  }
  LogTrace("no support Total Byte Write\n");
  return -1;
}

}  // namespace zel
