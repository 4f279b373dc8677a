// The product key and the drive subkeys: the helpers' log lines and
// defaults, the scheduled-TRIM settings as stored and as the page shows
// them, and the run-state protocol's 3600-second rule.
#include <gtest/gtest.h>

#include "optimize/quarn_registry.h"
#include "optimize_fixture.h"
#include "platform/format.h"

namespace zel {
namespace {

using test::kStoredProductKey;

class QuarnRegistry : public test::OptimizeFixture {
 protected:
  std::string MachineJson() const override {
    return R"({"clock": {"time": "2026-12-11T12:00:00Z"},
               "drives": [{"index": 0, "model": "QUARN KD785KK 512GB"}],
               "registry": {"keys": {
                 "SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {"LogLevel": 1},
                 "SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane\\odd": {
                   "Short": {"type": "REG_DWORD", "bytes": "01 02"}}}}})";
  }
};

TEST_F(QuarnRegistry, ReadLeavesTheCallersDefaultWhenTheValueOrKeyIsMissing) {
  EXPECT_EQ(ReadQuarnDword(kQuarnProductKey, "TrimInProgress", 77u), 77u);
  EXPECT_TRUE(Logged("ATACommand::ReadQuarnRegistry--RegQueryValueEx() fail: 0x2"));
  EXPECT_EQ(ReadQuarnQword("SOFTWARE\\Quarn\\Nowhere", "TrimStartAt", -5), -5);
  EXPECT_EQ(ReadQuarnDword(kQuarnProductKey, "LogLevel", 0), 1u);
  // A stored value shorter than the buffer overwrites only its own bytes.
  EXPECT_EQ(ReadQuarnDword(std::string(kQuarnProductKey) + "\\odd", "Short", 0xAABBCCDDu), 0xAABB0201u);
  EXPECT_TRUE(Logged("Enter ATACommand::ReadQuarnRegistry()"));
  EXPECT_TRUE(Logged("Exit ATACommand::ReadQuarnRegistry()"));
}

TEST_F(QuarnRegistry, WriteCreatesTheKeyInTheProgramsViewWithTheGivenTypeAndBytes) {
  WriteQuarnQword(kQuarnProductKey + std::string("\\new"), "TrimStartAt", 0x0102030405060708);
  EXPECT_EQ(StoredType(std::string(kStoredProductKey) + "\\new", "TrimStartAt"), platform::REG_QWORD);
  EXPECT_EQ(Stored(std::string(kStoredProductKey) + "\\new", "TrimStartAt"),
            (std::vector<uint8_t>{8, 7, 6, 5, 4, 3, 2, 1}));
  EXPECT_TRUE(Logged("Enter ATACommand::WriteQuarnRegistry()"));
  EXPECT_TRUE(Logged("Exit ATACommand::WriteQuarnRegistry()"));
}

TEST_F(QuarnRegistry, SaveStoresIndexIntervalAndEnableInTheDrivesSubkey) {
  PhysicalDriveRecord drive = Drives().at(0);
  std::string stored = std::string(kStoredProductKey) + "\\" + drive.DevicePath.substr(4);
  struct Case {
    uint32_t days, enable;
    std::vector<uint8_t> interval;
  } cases[] = {
      {7, 1, {0x80, 0x3A, 0x09, 0x00}},  // 604800
      {30, 0, {0x00, 0x8D, 0x27, 0x00}},  // 2592000
      {1, 1, {0x80, 0x51, 0x01, 0x00}},  // 86400
  };
  for (const Case& c : cases) {
    SaveScheduledTrimSetting(c.enable, c.days, drive);
    EXPECT_EQ(Stored(stored, "ScheduledTrimInterval"), c.interval) << c.days;
    EXPECT_EQ(Stored(stored, "ScheduledTrimEnable"), (std::vector<uint8_t>{uint8_t(c.enable), 0, 0, 0}));
    EXPECT_EQ(StoredType(stored, "ScheduledTrimEnable"), platform::REG_DWORD);
    EXPECT_EQ(Stored(stored, "PhysicalDriveIndex"), (std::vector<uint8_t>{0, 0, 0, 0}));
  }
  EXPECT_TRUE(Logged("Enter ATACommand::SaveScheduledTrimSetting():" + drive.DevicePath));
}

TEST_F(QuarnRegistry, AFailedSaveWriteIsLoggedAndTheNextOneStillHappens) {
  UseMachine(R"({"drives": [{"index": 0, "model": "QUARN KD785KK 512GB"}],
                 "registry": {"faults": [{"op": "set", "value": "ScheduledTrimInterval", "error": 5}]}})");
  PhysicalDriveRecord drive = Drives().at(0);
  SaveScheduledTrimSetting(1, 7, drive);
  std::string stored = std::string(kStoredProductKey) + "\\" + drive.DevicePath.substr(4);
  EXPECT_TRUE(Logged("ATACommand::SaveScheduledTrimSetting--RegSetValueEx(ScheduledTrimInterval) fail: 0x5"));
  EXPECT_FALSE(Stored(stored, "ScheduledTrimInterval"));
  EXPECT_EQ(Stored(stored, "ScheduledTrimEnable"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(Stored(stored, "PhysicalDriveIndex"), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(QuarnRegistry, ThePageShowsIntervalsBelowSevenDaysAsSeven) {
  PhysicalDriveRecord drive = Drives().at(0);
  // A drive without a subkey: check box off, 7 days; no subkey is made.
  ScheduledTrimShown none = ReadScheduledTrimSettingForPage(drive);
  EXPECT_EQ(none.enable, 0u);
  EXPECT_EQ(none.days, 7u);
  std::string stored = std::string(kStoredProductKey) + "\\" + drive.DevicePath.substr(4);
  EXPECT_FALSE(sim::RegistryOf(Machine()).KeyExists(stored));
  struct Case {
    uint32_t days, shown;
  } cases[] = {{1, 7}, {6, 7}, {7, 7}, {8, 8}, {30, 30}};
  for (const Case& c : cases) {
    SaveScheduledTrimSetting(1, c.days, drive);
    ScheduledTrimShown shown = ReadScheduledTrimSettingForPage(drive);
    EXPECT_EQ(shown.days, c.shown) << c.days;
    EXPECT_EQ(shown.enable, 1u);
  }
}

TEST_F(QuarnRegistry, ARunCountsAsActiveForLessThan3600SecondsAndWhenItStartsInTheFuture) {
  const int64_t now = Now();
  struct Case {
    std::optional<uint32_t> inProgress;
    std::optional<int64_t> startAt;
    bool active;
  } cases[] = {
      {1, now - 3599, true},  {1, now - 3600, false}, {1, now + 1, true},
      {1, std::nullopt, false}, {0, now, false},     {std::nullopt, now, false},
      {2, now, false},
  };
  for (const Case& c : cases) {
    UseMachine(R"({"clock": {"time": "2026-12-11T12:00:00Z"}})");
    if (c.inProgress) WriteQuarnDword(kQuarnProductKey, "TrimInProgress", *c.inProgress);
    if (c.startAt) WriteQuarnQword(kQuarnProductKey, "TrimStartAt", *c.startAt);
    EXPECT_EQ(ReadTrimRunState(now).active, c.active)
        << (c.inProgress ? int(*c.inProgress) : -1) << " " << (c.startAt ? *c.startAt - now : 0);
  }
}

TEST_F(QuarnRegistry, MarkingARunWritesTheFlagAndStartTimeAndEndingItKeepsTheTime) {
  const int64_t now = Now();
  MarkTrimStarted(now);
  EXPECT_EQ(Stored(kStoredProductKey, "TrimInProgress"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(StoredType(kStoredProductKey, "TrimStartAt"), platform::REG_QWORD);
  EXPECT_EQ(ReadQuarnQword(kQuarnProductKey, "TrimStartAt", 0), now);
  EXPECT_TRUE(ReadTrimRunState(now).active);
  MarkTrimEnded();
  EXPECT_EQ(Stored(kStoredProductKey, "TrimInProgress"), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(ReadQuarnQword(kQuarnProductKey, "TrimStartAt", 0), now);
  EXPECT_FALSE(ReadTrimRunState(now).active);
}

TEST_F(QuarnRegistry, OnlyTheMakersDrivesGetASubkeyNamedAfterTheirPath) {
  PhysicalDriveRecord drive;
  drive.DevicePath = "\\\\?\\ide#diskquarn_kd785kk#5&1a2b&0&0.0.0#{53f56307}";
  drive.ModelName = "QUARN KD785KK 512GB";
  EXPECT_EQ(DriveSubkey(drive), "SOFTWARE\\Quarn\\SSDZelvane\\ide#diskquarn_kd785kk#5&1a2b&0&0.0.0#{53f56307}");
  EXPECT_TRUE(IsQuarnDrive(drive));
  drive.ModelName = "Quarn KD785KK";  // case-sensitive
  EXPECT_FALSE(IsQuarnDrive(drive));
}

}  // namespace
}  // namespace zel
