#include "app/drive_info_values.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/bytes.h"
#include "support/drive_records.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using Attr = test::SmartAttr;

// A SATA drive of the given model with its attribute list (thresholds paired
// by position) and a SATA 3.1 page negotiated at 6 Gb/s.
PhysicalDriveRecord SataDrive(const std::string& model, const std::vector<Attr>& attrs) {
  PhysicalDriveRecord r;
  r.BusType = kBusAta;
  r.PhysicalDriveIndex = 1;
  r.ModelName = model;
  r.FirmwareRevision = "FW01";
  r.SerialNumber = "SN123";
  PutLE16(&r.IdentifyData[2 * 222], 0x107F);
  PutLE16(&r.IdentifyData[2 * 77], 0x0006);
  test::SetSmartAttributes(r, attrs);
  return r;
}

PhysicalDriveRecord NvmeDrive(const std::string& model, uint8_t percentageUsed, uint16_t kelvin,
                              uint64_t dataUnits) {
  PhysicalDriveRecord r;
  r.BusType = kBusNvme;
  r.ModelName = model;
  r.SmartData[5] = percentageUsed;
  PutLE16(&r.SmartData[1], kelvin);
  PutLE64(&r.SmartData[48], dataUnits);
  return r;
}

const PcieLinkInfo kNoLink{};

class DriveInfoValuesTest : public test::SimTest {};

TEST_F(DriveInfoValuesTest, IdentityAndConnectionLinesPerBus) {
  PhysicalDriveRecord sata = SataDrive("QUARN KD355 256GB", {{5, 100, 0, 10}});
  PutLE16(&sata.IdentifyData[2 * 108], 0x5001);
  PutLE16(&sata.IdentifyData[2 * 109], 0xB448);
  PutLE16(&sata.IdentifyData[2 * 110], 0x1234);
  PutLE16(&sata.IdentifyData[2 * 111], 0x5678);
  DriveInfoValues s = GetDriveInfoValues(sata, {}, PcieLinkInfo{8, 4, 4, 3});
  EXPECT_EQ(s.ModelLine, "Model: QUARN KD355 256GB");
  EXPECT_EQ(s.FirmwareLine, "Firmware version: FW01");
  EXPECT_EQ(s.SerialLine, "Serial number: SN123");
  EXPECT_EQ(s.WorldWideNameLine, "WWN: 5001B44812345678");
  EXPECT_EQ(s.ConnectionSpeed, "SATA 6.0 Gb/s");
  EXPECT_EQ(s.ConnectionLine, "Connection speed: SATA 6.0 Gb/s");
  EXPECT_EQ(s.SataVersion, "SATA 3.1");
  EXPECT_EQ(s.PcieLink.CurrentLinkSpeed, 0u) << "a SATA drive has no PCI Express link";

  // NVMe: the current generation and width, not the maximum ones.
  PhysicalDriveRecord nvme = NvmeDrive("QUARN NV900 1TB", 3, 310, 0);
  DriveInfoValues n = GetDriveInfoValues(nvme, {}, PcieLinkInfo{8, 4, 4, 3});
  EXPECT_TRUE(n.IsNvme);
  EXPECT_EQ(n.ConnectionLine, "Connection speed: PCIe Gen3 x4");
  EXPECT_EQ(n.PcieLink.MaxLinkWidth, 8u);
  EXPECT_EQ(n.WorldWideNameLine, "WWN: 0000000000000000");
  EXPECT_EQ(n.SataLinkSpeed, "N/A");
  EXPECT_EQ(GetDriveInfoValues(nvme, {}, kNoLink).ConnectionSpeed, "PCIe Gen0 x0");

  // A SATA page that reports no serial transport.
  PhysicalDriveRecord parallel = SataDrive("ACME PATA", {});
  PutLE16(&parallel.IdentifyData[2 * 222], 0x0020);
  EXPECT_EQ(GetDriveInfoValues(parallel, {}, kNoLink).ConnectionLine, "Connection speed: SATA N/A");
}

TEST_F(DriveInfoValuesTest, MakerRulesForBytesWrittenLifeAndHealth) {
  // Attribute 5 below its threshold makes the disk status bad (3).
  const Attr failing{5, 5, 0, 10};
  const Attr passing{5, 100, 0, 10};
  struct Case {
    const char* what;
    PhysicalDriveRecord record;
    const char* written;
    int life;
    int icon;
    int status;
  } cases[] = {
      {"another maker: no bytes written, full gauge, icon from the status",
       SataDrive("ACME SSD 512", {failing, {241, 100, 3200, 0}, {169, 40, 0, 0}}), "N/A", 100,
       kHealthIconWarning, 3},
      {"another maker in good health", SataDrive("ACME SSD 512", {passing, {169, 40, 0, 0}}), "N/A",
       100, kHealthIconGood, 1},
      {"group 1: sectors written and life from 231",
       SataDrive("QUARN KD355 256GB", {passing, {241, 100, 2048ull * 2097152, 0}, {169, 40, 0, 0},
                                       {231, 80, 0, 0}}),
       "2.00TB", 80, kHealthIconGood, 1},
      {"generic maker's drive: 32 MiB units and life from 169",
       SataDrive("QUARN ZX1 1TB", {passing, {241, 100, 3200, 0}, {169, 97, 0, 0}}), "0.10TB", 97,
       kHealthIconGood, 1},
      {"K385: bytes written shown, life not",
       SataDrive("QUARN K385 128GB", {passing, {241, 100, 3200, 0}, {169, 40, 0, 0}}), "0.10TB",
       100, kHealthIconGood, 1},
      {"KD765: the good icon whatever the status, life from 202",
       SataDrive("QUARN KD765 512GB", {failing, {169, 40, 0, 0}, {202, 66, 0, 0}}), "N/A", 66,
       kHealthIconGood, 3},
      {"KW4555LD: the good icon with a warning status",
       SataDrive("QUARN KW4555LD 1TB", {{5, 100, 0, 0}}), "N/A", 100, kHealthIconGood, 2},
      {"maker's name inside the model: bytes written yes, own life no",
       SataDrive("OEM QUARN ZX1", {passing, {241, 100, 3200, 0}, {169, 40, 0, 0}}), "0.10TB", 100,
       kHealthIconGood, 1},
      {"a life value that reads as negative shows 0",
       SataDrive("QUARN ZX1 1TB", {passing, {169, 200, 0, 0}}), "N/A", 0, kHealthIconGood, 1},
      {"NVMe maker's drive", NvmeDrive("QUARN NV900 1TB", 10, 310, 4096), "0.00TB", 90,
       kHealthIconGood, 1},
      {"NVMe worn far beyond its rating shows 0, not a wrapped full gauge",
       NvmeDrive("QUARN NV900 1TB", 255, 310, 2048ull * 1024 * 3), "3.00TB", 0,
       kHealthIconWarning, 2},
      {"NVMe of another maker", NvmeDrive("ACME NV 1TB", 50, 310, 4096), "N/A", 100,
       kHealthIconGood, 1},
  };
  for (const Case& c : cases) {
    DriveInfoValues v = GetDriveInfoValues(c.record, {}, kNoLink);
    EXPECT_EQ(v.TotalBytesWrittenText, c.written) << c.what;
    EXPECT_EQ(v.RemainingLife, c.life) << c.what;
    EXPECT_EQ(v.RemainingLifeText, std::to_string(c.life) + "%") << c.what;
    EXPECT_EQ(v.HealthIconState, c.icon) << c.what;
    EXPECT_EQ(v.HealthText, c.icon == kHealthIconGood ? "Good" : "Warning") << c.what;
    EXPECT_EQ(v.DiskStatus, c.status) << c.what;
    EXPECT_EQ(v.HasTotalBytesWritten, std::string(c.written) != "N/A") << c.what;
  }
}

TEST_F(DriveInfoValuesTest, BytesWrittenInTerabytes) {
  // 2048 GB from a group-3 counter (raw value unchanged).
  DriveInfoValues v =
      GetDriveInfoValues(SataDrive("QUARN KD755 1TB", {{241, 100, 2048, 0}}), {}, kNoLink);
  EXPECT_EQ(v.TotalBytesWrittenGB, 2048);
  EXPECT_DOUBLE_EQ(v.TotalBytesWrittenTB, 2.0);
  EXPECT_EQ(v.TotalBytesWrittenText, "2.00TB");
  v = GetDriveInfoValues(SataDrive("QUARN KD755 1TB", {{241, 100, 1536 + 5, 0}}), {}, kNoLink);
  EXPECT_EQ(v.TotalBytesWrittenText, "1.50TB");
  v = GetDriveInfoValues(SataDrive("QUARN KD755 1TB", {{9, 100, 0, 0}}), {}, kNoLink);
  EXPECT_EQ(v.TotalBytesWrittenGB, -1);
  EXPECT_EQ(v.TotalBytesWrittenText, "N/A");
}

TEST_F(DriveInfoValuesTest, TemperatureBands) {
  struct Case {
    int temperature;  // 0 for none
    const char* text;
    int band;
    Rgb colour;
  } cases[] = {
      {1, "1 \u00B0C", kThermometerCool, {86, 209, 255}},
      {30, "30 \u00B0C", kThermometerCool, {86, 209, 255}},
      {31, "31 \u00B0C", kThermometerNormal, {158, 226, 116}},
      {70, "70 \u00B0C", kThermometerNormal, {158, 226, 116}},
      {71, "71 \u00B0C", kThermometerHot, {255, 81, 110}},
      {0, "N/A", kThermometerHot, {255, 81, 110}},
  };
  for (const Case& c : cases) {
    std::vector<Attr> attrs = {{5, 100, 0, 10}};
    if (c.temperature) attrs.push_back({194, 100, static_cast<uint64_t>(c.temperature), 0});
    DriveInfoValues v = GetDriveInfoValues(SataDrive("ACME SSD", attrs), {}, kNoLink);
    EXPECT_EQ(v.TemperatureText, c.text);
    EXPECT_EQ(v.HasTemperature, c.temperature != 0) << c.text;
    EXPECT_EQ(v.TemperatureBand, c.band) << c.text;
    EXPECT_EQ(v.TemperatureColour, c.colour) << c.text;
  }
  DriveInfoValues nvme = GetDriveInfoValues(NvmeDrive("QUARN NV", 0, 0x0136, 0), {}, kNoLink);
  EXPECT_EQ(nvme.TemperatureText, "37 \u00B0C");
  EXPECT_EQ(nvme.TemperatureBand, kThermometerNormal);
}

LogicalDriveEntry Volume(const char* name, uint64_t sizeMB, uint64_t freeMB) {
  return LogicalDriveEntry{name, "NTFS", freeMB, sizeMB};
}

TEST_F(DriveInfoValuesTest, PartitionArea) {
  PhysicalDriveRecord r = SataDrive("QUARN ZX1", {{5, 100, 0, 10}});

  DriveInfoValues none = GetDriveInfoValues(r, {}, kNoLink);
  EXPECT_EQ(none.PartitionNameText, "There is no recognized partition.");
  EXPECT_FALSE(none.PartitionLinesShown);
  EXPECT_FALSE(none.PreviousPartitionEnabled);
  EXPECT_FALSE(none.NextPartitionEnabled);

  DriveInfoValues one = GetDriveInfoValues(r, {Volume("C:", 102400, 25600)}, kNoLink);
  EXPECT_TRUE(one.PartitionLinesShown);
  EXPECT_EQ(one.PartitionNameText, "C:");
  const LogicalDriveValues& c = one.LogicalDrives.at(0);
  EXPECT_EQ(c.TotalText, "Total: 100.0 GB");
  EXPECT_EQ(c.FreeText, "Free: 25.0 GB");
  EXPECT_EQ(c.FreePercentText, "Free: 25.0 %");
  EXPECT_EQ(c.UsagePercent, 75);
  EXPECT_EQ(c.FileSystem, "NTFS");
  EXPECT_FALSE(one.PreviousPartitionEnabled);
  EXPECT_FALSE(one.NextPartitionEnabled);

  struct Volumes {
    const char* what;
    LogicalDriveEntry entry;
    const char* freePercent;
    int usage;
  } odd[] = {
      {"size 0", Volume("E:", 0, 0), "Free: N/A", 0},
      {"free above size", Volume("E:", 1000, 1500), "Free: 150.0 %", 0},
      {"nearly full", Volume("E:", 1000, 1), "Free: 0.1 %", 99},
      {"empty volume", Volume("E:", 1000, 1000), "Free: 100.0 %", 0},
  };
  for (const Volumes& o : odd) {
    LogicalDriveValues v = GetDriveInfoValues(r, {o.entry}, kNoLink).LogicalDrives.at(0);
    EXPECT_EQ(v.FreePercentText, o.freePercent) << o.what;
    EXPECT_EQ(v.UsagePercent, o.usage) << o.what;
    EXPECT_EQ(v.HasFreePercent, o.entry.SizeMB != 0) << o.what;
  }
}

TEST_F(DriveInfoValuesTest, PartitionButtonsFollowTheIndex) {
  PhysicalDriveRecord r = SataDrive("QUARN ZX1", {{5, 100, 0, 10}});
  std::vector<LogicalDriveEntry> three = {Volume("C:", 1000, 500), Volume("D:", 2000, 500),
                                          Volume("E:", 4000, 1000)};
  struct Case {
    uint32_t index;
    uint32_t shown;
    const char* name;
    bool previous, next;
  } cases[] = {
      {0, 0, "C:", false, true},
      {1, 1, "D:", true, true},
      {2, 2, "E:", true, false},
      {7, 2, "E:", true, false},  // a stale index shows the last drive
  };
  for (const Case& c : cases) {
    DriveInfoValues v = GetDriveInfoValues(r, three, kNoLink, c.index);
    EXPECT_EQ(v.CurrentPartition, c.shown) << c.index;
    EXPECT_EQ(v.PartitionNameText, c.name) << c.index;
    EXPECT_EQ(v.PreviousPartitionEnabled, c.previous) << c.index;
    EXPECT_EQ(v.NextPartitionEnabled, c.next) << c.index;
  }
  EXPECT_EQ(GetDriveInfoValues(r, three, kNoLink, 1).LogicalDrives.size(), 3u);

  struct Step {
    uint32_t index;
    size_t count;
    int step;
    uint32_t result;
  } steps[] = {
      {0, 1, +1, 0}, {0, 0, +1, 0}, {0, 3, -1, 0}, {0, 3, +1, 1},
      {2, 3, +1, 2}, {2, 3, -1, 1}, {9, 3, -1, 1},
  };
  for (const Step& s : steps)
    EXPECT_EQ(StepPartitionIndex(s.index, s.count, s.step), s.result)
        << s.index << " of " << s.count << " step " << s.step;
}

}  // namespace
}  // namespace zel
