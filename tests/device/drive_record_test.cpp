#include "device/drive_record.h"

#include <gtest/gtest.h>

namespace zel {
namespace {

// Writes attribute entry `slot` of a SMART data page.
void PutAttribute(PhysicalDriveRecord& r, int slot, uint8_t id, uint8_t current,
                  std::initializer_list<uint8_t> raw) {
  uint8_t* e = &r.SmartData[2 + slot * 12];
  e[0] = id;
  e[1] = 0x32;
  e[3] = current;
  e[4] = current;
  int i = 0;
  for (uint8_t b : raw) e[5 + i++] = b;
}

TEST(ParseSmartAttributes, EmptyEntriesAreSkippedAndLaterOnesMoveUp) {
  PhysicalDriveRecord r;
  PutAttribute(r, 0, 5, 100, {0});
  PutAttribute(r, 2, 9, 99, {0x10, 0x27});
  ASSERT_TRUE(ParseSmartAttributes(r));
  EXPECT_EQ(r.SmartAttributeCount, 2);
  EXPECT_EQ(r.SmartAttributes[0].Id(), 5);
  EXPECT_EQ(r.SmartAttributes[1].Id(), 9);
  EXPECT_EQ(r.SmartAttributes[1].Raw32(), 0x2710u);
  EXPECT_EQ(r.SmartAttributes[1].Current(), 99);
}

TEST(ParseSmartAttributes, PageWithoutAttributesFails) {
  PhysicalDriveRecord r;
  EXPECT_FALSE(ParseSmartAttributes(r));
  EXPECT_EQ(r.SmartAttributeCount, 0);
}

TEST(ParseSmartAttributes, TemperatureRules) {
  struct Case {
    const char* model;
    std::vector<std::pair<uint8_t, std::vector<uint8_t>>> attrs;  // id, raw
    int32_t temperature;
  } cases[] = {
      {"QUARN", {{194, {40}}, {190, {45}}}, 45},  // the later attribute decides
      {"QUARN", {{190, {45}}, {194, {40}}}, 40},
      {"QUARN", {{194, {0x1E}}}, 30},
      {"QUARN", {{194, {100}}}, 0},
      {"QUARN", {{190, {100}}}, 0},               // 190 only counts 1..99
      {"QUARN", {{190, {0}}}, 0},
      {"SAMSUNG SV1234", {{194, {0x2C, 0x01}}}, 30},  // tenths of a degree
      {"SAMSUNG SV1234", {{194, {50, 0}}}, 50},
      {"SAMSUNG SV1234", {{194, {0xE8, 0x03}}}, 0},   // 100 degrees is no temperature
  };
  for (const Case& c : cases) {
    PhysicalDriveRecord r;
    r.ModelName = c.model;
    int slot = 0;
    for (auto& [id, raw] : c.attrs) {
      uint8_t* e = &r.SmartData[2 + slot++ * 12];
      e[0] = id;
      for (size_t i = 0; i < raw.size(); ++i) e[5 + i] = raw[i];
    }
    ParseSmartAttributes(r);
    EXPECT_EQ(r.Temperature, c.temperature) << c.model << " first id " << int(c.attrs[0].first);
  }
}

TEST(CopySmartThresholds, CopiesAllEntriesInPageOrder) {
  PhysicalDriveRecord r;
  EXPECT_FALSE(CopySmartThresholds(r));
  r.SmartThresholdData[2 + 12 * 3] = 0xBB;
  r.SmartThresholdData[2 + 12 * 3 + 1] = 10;
  EXPECT_TRUE(CopySmartThresholds(r));
  EXPECT_EQ(r.SmartThresholds[3].Id(), 0xBB);
  EXPECT_EQ(r.SmartThresholds[3].Threshold(), 10);
  EXPECT_EQ(r.SmartThresholds[0].Id(), 0);
}

}  // namespace
}  // namespace zel
