#include "health/smart_health.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/log.h"
#include "support/drive_records.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using Attr = test::SmartAttr;

PhysicalDriveRecord AtaDrive(const std::string& model, const std::vector<Attr>& attrs,
                             const std::string& firmware = "FW01") {
  PhysicalDriveRecord r;
  r.BusType = kBusAta;
  r.ModelName = model;
  r.FirmwareRevision = firmware;
  test::SetSmartAttributes(r, attrs);
  return r;
}

PhysicalDriveRecord NvmeDrive(uint8_t percentageUsed, uint16_t kelvin, uint64_t unitsLow,
                              uint64_t unitsHigh = 0) {
  PhysicalDriveRecord r;
  r.BusType = kBusNvme;
  r.SmartData[5] = percentageUsed;
  r.SmartData[1] = static_cast<uint8_t>(kelvin);
  r.SmartData[2] = static_cast<uint8_t>(kelvin >> 8);
  for (int b = 0; b < 8; ++b) {
    r.SmartData[48 + b] = static_cast<uint8_t>(unitsLow >> (8 * b));
    r.SmartData[56 + b] = static_cast<uint8_t>(unitsHigh >> (8 * b));
  }
  return r;
}

class SmartHealthTest : public test::SimTest {};

TEST_F(SmartHealthTest, DiskStatus) {
  std::vector<Attr> healthy = {{5, 100, 0, 10}, {9, 100, 0, 1}, {12, 100, 0, 1},
                               {177, 100, 0, 5}, {194, 70, 30, 20}};
  struct Case {
    const char* what;
    std::vector<Attr> attrs;
    int status;
  } cases[] = {
      {"all thresholds met", healthy, 1},
      {"attribute 5 below its threshold", {{5, 5, 0, 10}, {9, 100, 0, 1}}, 3},
      {"194 is never judged", {{5, 100, 0, 10}, {194, 5, 30, 20}}, 1},
      {"attribute 1 at zero is exempt", {{1, 0, 0, 6}, {5, 100, 0, 10}}, 1},
      {"attribute 1 at zero with raw data counts", {{1, 0, 0x0100, 6}}, 3},
      {"repeated identifier", {{9, 100, 0, 1}, {5, 100, 0, 10}, {9, 100, 0, 1}}, 2},
      {"no thresholds at all", {{5, 100, 0, 0}, {9, 100, 0, 0}}, 2},
      {"no attributes", {}, 2},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckDiskStatus(AtaDrive("QUARN X", c.attrs)), c.status) << c.what;
  EXPECT_EQ(CheckDiskStatus(NvmeDrive(90, 300, 0)), 1);
  EXPECT_EQ(CheckDiskStatus(NvmeDrive(91, 300, 0)), 2);
}

TEST_F(SmartHealthTest, OverlapIsLoggedWithBothPositions) {
  SetLogLevel(1);
  CheckDiskStatus(AtaDrive("QUARN X", {{9, 100, 0, 1}, {5, 100, 0, 10}, {9, 100, 0, 1}}));
  EXPECT_NE(TraceLog().find("CheckDiskStatus::SMART attributes overlaped, 2 0\r\n"), std::string::npos);
}

TEST_F(SmartHealthTest, Temperature) {
  EXPECT_EQ(GetDriveTemperature(AtaDrive("Q", {{194, 100, 0x1E, 0}})), 30);
  EXPECT_EQ(GetDriveTemperature(AtaDrive("Q", {{194, 100, 0, 0}})), 0xFFFF);
  EXPECT_EQ(GetDriveTemperature(AtaDrive("Q", {{194, 100, 100, 0}, {190, 100, 41, 0}})), 41);
  // The record's tenths rule is not applied here: raw[0] counts.
  EXPECT_EQ(GetDriveTemperature(AtaDrive("SAMSUNG SV", {{194, 100, 0x012C, 0}})), 44);
  EXPECT_EQ(GetDriveTemperature(NvmeDrive(0, 0x0136, 0)), 37);
  EXPECT_EQ(GetDriveTemperature(NvmeDrive(0, 0, 0)), 0xFFFF);
  EXPECT_EQ(GetDriveTemperature(NvmeDrive(0, 200, 0)), 0xFFFF);
  EXPECT_EQ(GetDriveTemperature(NvmeDrive(0, 273, 0)), 0);
}

TEST_F(SmartHealthTest, RemainingLifeByModelGroup) {
  struct Case {
    const char* model;
    std::vector<Attr> attrs;
    int32_t life;
  } cases[] = {
      {"QUARN KD765 256GB", {{169, 90, 0, 0}, {202, 80, 0, 0}}, 80},
      {"QUARN K986 256GB", {{169, 90, 0, 0}, {231, 70, 0, 0}}, 70},
      {"OTHER MAKER", {{169, 97, 0, 0}}, 97},
      {"OTHER MAKER", {{9, 97, 0, 0}}, 100},
      {"OTHER MAKER", {{169, 200, 0, 0}}, -56},  // a signed byte
  };
  for (const Case& c : cases) EXPECT_EQ(GetRemainingLife(AtaDrive(c.model, c.attrs)), c.life) << c.model;
  EXPECT_EQ(GetRemainingLife(NvmeDrive(90, 300, 0)), 10);
  EXPECT_EQ(GetRemainingLife(NvmeDrive(91, 300, 0)), 9);
}

TEST_F(SmartHealthTest, ControllerTagMakesGroup1) {
  PhysicalDriveRecord r = AtaDrive("UNKNOWN MODEL", {{169, 90, 0, 0}, {231, 60, 0, 0}});
  const char tag[] = "JMF608";
  for (int i = 0; i < 6; ++i) r.SmartData[396 + i] = static_cast<uint8_t>(tag[i]);
  EXPECT_EQ(GetRemainingLife(r), 60);
}

TEST_F(SmartHealthTest, TotalBytesWrittenByModelGroup) {
  struct Case {
    const char* model;
    const char* firmware;
    std::vector<Attr> attrs;
    int64_t gb;
  } cases[] = {
      {"OTHER", "F", {{241, 100, 3200, 0}}, 100},
      {"QUARN K986", "F", {{241, 100, 2097152, 0}}, 1},
      {"QUARN KD785", "F", {{241, 100, 5000, 0}}, 5},
      {"QUARN KD755", "F", {{241, 100, 5000, 0}}, 5000},
      {"QUARN KD765KK", "SVMU01", {{246, 100, 2097152, 0}, {171, 1, 0, 0}, {172, 1, 0, 0}, {173, 1, 0, 0}}, -1},
      {"QUARN KD765KK", "SVMU01", {{171, 1, 0, 0}, {9, 1, 0, 0}, {172, 1, 0, 0}, {173, 1, 0, 0}, {246, 100, 2097152, 0}}, 1},
      {"QUARN KD765KK", "SV01", {{241, 100, 3200, 0}, {233, 100, 4096, 0}}, 4},
      {"OTHER", "F", {{9, 100, 5, 0}}, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetTotalBytesWritten(AtaDrive(c.model, c.attrs, c.firmware)), c.gb) << c.model << " " << c.firmware;
}

TEST_F(SmartHealthTest, NvmeBytesWrittenIncludingCountsBeyond64Bits) {
  EXPECT_EQ(GetTotalBytesWritten(NvmeDrive(0, 300, 4096)), 2);
  EXPECT_EQ(GetTotalBytesWritten(NvmeDrive(0, 300, 0, 1)), int64_t(1) << 53);
  EXPECT_EQ(GetTotalBytesWritten(NvmeDrive(0, 300, 0, ~0ull)), INT64_MAX);
}

}  // namespace
}  // namespace zel
