#include "app/details_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/bytes.h"

namespace zel {
namespace {

struct Attr {
  uint8_t id, current, worst;
  uint8_t raw[6];
  uint8_t reserved;
  uint8_t threshold;
};

PhysicalDriveRecord SataDrive(const std::string& model, std::initializer_list<Attr> attrs = {}) {
  PhysicalDriveRecord r;
  r.BusType = kBusAta;
  r.PhysicalDriveIndex = 1;
  r.ModelName = model;
  int i = 0;
  for (const Attr& a : attrs) {
    auto& e = r.SmartAttributes[i].bytes;
    e[0] = a.id;
    e[3] = a.current;
    e[4] = a.worst;
    std::memcpy(&e[5], a.raw, 6);
    e[11] = a.reserved;
    r.SmartThresholds[i].bytes[0] = a.id;
    r.SmartThresholds[i].bytes[1] = a.threshold;
    ++i;
  }
  r.SmartAttributeCount = i;
  return r;
}

PhysicalDriveRecord NvmeDrive() {
  PhysicalDriveRecord r;
  r.BusType = kBusNvme;
  r.PhysicalDriveIndex = 2;
  r.ModelName = "QUARN KW705 1TB";
  PutLE16(&r.NvmeIdentifyData[0], 0x1C5C);
  PutLE16(&r.SmartData[1], 310);
  return r;
}

HbaEntry Controller(const std::string& name, const std::string& classCode,
                    std::initializer_list<int> driveIndexes) {
  HbaEntry h;
  h.Name = name;
  h.ClassCode = classCode;
  h.DriverVersion = "10.0.19041.1";
  h.DriverProvider = "Microsoft";
  for (int index : driveIndexes) {
    h.AttachedDevices[h.AttachedDeviceCount].Name = "disk";
    h.AttachedDevices[h.AttachedDeviceCount].PhysicalDriveIndex = index;
    ++h.AttachedDeviceCount;
  }
  return h;
}

std::string Headers(const std::vector<DetailsColumn>& columns) {
  std::string out;
  for (const DetailsColumn& c : columns) out += c.Header + ":" + std::to_string(c.Width) + " ";
  return out;
}

TEST(DetailsColumns, PerModeAndBus) {
  EXPECT_EQ(Headers(DetailsColumns(DetailsMode::Drive, kBusNvme)),
            "Item:150 Value:290 Description:160 ");
  EXPECT_EQ(Headers(DetailsColumns(DetailsMode::Drive, kBusAta)),
            "Item:80 Value:80 Description:440 ");
  EXPECT_EQ(Headers(DetailsColumns(DetailsMode::Smart, kBusNvme)),
            "ID:40 Value:130 Description:430 ");
  EXPECT_EQ(Headers(DetailsColumns(DetailsMode::Smart, kBusAta)),
            "ID:40 Hex:50 Description:150 Current:70 Worst:60 Threshold:80 Raw:150 ");
  // A USB or SCSI drive is not NVMe: the ATA columns.
  EXPECT_EQ(DetailsColumns(DetailsMode::Smart, kBusUsb).size(), 7u);
}

TEST(DetailsRows, IdentifyWordsOfASataDrive) {
  PhysicalDriveRecord r = SataDrive("QUARN KD785KK");
  // The model words as decoding leaves them: swapped into reading order.
  std::memcpy(&r.IdentifyData[54], "QUARN KD785KK", 13);
  PutLE16(&r.IdentifyData[2 * 255], 0xBEA5);

  const DetailsList list = BuildDetailsList(DetailsMode::Drive, r, {});
  ASSERT_EQ(list.Rows.size(), 256u);
  ASSERT_EQ(list.Columns.size(), 3u);
  EXPECT_EQ(list.Rows[0], (DetailsRow{"Word 0", "0x0000", list.Rows[0][2]}));
  EXPECT_EQ(list.Rows[27][0], "Word 27");
  EXPECT_EQ(list.Rows[27][1], "0x5551");
  EXPECT_EQ(list.Rows[27][2], "Model number (40 ASCII characters)");
  EXPECT_EQ(list.Rows[0][2], "General configuration");
  EXPECT_EQ(list.Rows[255][1], "0xBEA5");
}

TEST(DetailsRows, SmartAttributesOfASataDrive) {
  const PhysicalDriveRecord r = SataDrive("QUARN KD785KK 512GB",
                                          {
                                              {5, 100, 99, {0x10, 0x27, 0, 0, 0, 0}, 0, 10},
                                              {9, 98, 98, {1, 2, 3, 4, 5, 6}, 0x77, 0},
                                              {255, 100, 100, {}, 0, 0},
                                          });
  const DetailsList list = BuildDetailsList(DetailsMode::Smart, r, {});
  ASSERT_EQ(list.Rows.size(), 3u);
  EXPECT_EQ(list.Rows[0], (DetailsRow{"5", "0x05", "Retired Block Count", "100", "99", "10",
                                      "0x00000000002710"}));
  // Reserved byte first, then raw[5] down to raw[0].
  EXPECT_EQ(list.Rows[1][6], "0x77060504030201");
  EXPECT_EQ(list.Rows[1][2], "Power-on Hours");
  EXPECT_EQ(list.Rows[2][1], "0xFF");
  EXPECT_EQ(list.Rows[2][2], "Vendor Specified");
}

TEST(DetailsRows, ThresholdPairsByPositionAndCountStaysInBounds) {
  PhysicalDriveRecord r = SataDrive("Acme SSD", {{1, 100, 100, {}, 0, 0}, {194, 60, 50, {}, 0, 0}});
  // The threshold list holds a different identifier at position 1: the
  // list still pairs by position.
  r.SmartThresholds[1].bytes[0] = 12;
  r.SmartThresholds[1].bytes[1] = 45;
  auto rows = DetailsRows(DetailsMode::Smart, r);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][5], "45");
  EXPECT_EQ(rows[1][2], "Temperature");

  r.SmartAttributeCount = 1000;
  EXPECT_EQ(DetailsRows(DetailsMode::Smart, r).size(), 30u);
  r.SmartAttributeCount = -3;
  EXPECT_TRUE(DetailsRows(DetailsMode::Smart, r).empty());
}

TEST(DetailsRows, NvmeListsInBothModes) {
  const PhysicalDriveRecord r = NvmeDrive();
  const DetailsList identify = BuildDetailsList(DetailsMode::Drive, r, {});
  ASSERT_EQ(identify.Rows.size(), 502u);
  EXPECT_EQ(identify.Rows[0], (DetailsRow{"VID", "0x1C5C", "PCI Vendor ID"}));

  const DetailsList health = BuildDetailsList(DetailsMode::Smart, r, {});
  ASSERT_EQ(health.Rows.size(), 15u);
  EXPECT_EQ(health.Rows[1], (DetailsRow{"02h", "0x000000000136", "Temperature"}));
  EXPECT_EQ(health.HeaderText, "SMART Detail Information: QUARN KW705 1TB");
}

TEST(DetailsHeader, ControllerLine) {
  const PhysicalDriveRecord sata = SataDrive("QUARN KV155 240GB");  // drive index 1
  struct Case {
    const char* what;
    std::vector<HbaEntry> controllers;
    const char* header;
  };
  const Case cases[] = {
      {"AHCI controller",
       {Controller("Standard SATA AHCI Controller", "010601", {0, 1})},
       "Drive Detail Information: QUARN KV155 240GB\n"
       "HBA: Standard SATA AHCI Controller / AHCI\nDriver Version: 10.0.19041.1 (Microsoft)"},
      {"the last match wins",
       {Controller("IDE Channel", "010180", {1}), Controller("NVMe Controller", "010802", {2}),
        Controller("Second IDE", "01018A", {1})},
       "Drive Detail Information: QUARN KV155 240GB\n"
       "HBA: Second IDE / IDE\nDriver Version: 10.0.19041.1 (Microsoft)"},
      {"no controller lists the drive",
       {Controller("NVMe Controller", "010802", {2}), Controller("Empty", "010601", {})},
       "Drive Detail Information: QUARN KV155 240GB\n"},
      {"no controllers at all", {}, "Drive Detail Information: QUARN KV155 240GB\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DetailsHeaderText(DetailsMode::Drive, sata, c.controllers), c.header) << c.what;

  EXPECT_EQ(DetailsHeaderText(DetailsMode::Smart, sata, cases[0].controllers),
            "SMART Detail Information: QUARN KV155 240GB");
}

TEST(DetailsHeader, AttachedCountBeyondTheListIsClamped) {
  HbaEntry h = Controller("Odd", "010601", {});
  h.AttachedDevices[kMaxAttachedDevices - 1].PhysicalDriveIndex = 1;
  h.AttachedDeviceCount = 5000;
  const PhysicalDriveRecord r = SataDrive("M");
  EXPECT_EQ(DetailsControllerLine(r, {h}),
            "HBA: Odd / AHCI\nDriver Version: 10.0.19041.1 (Microsoft)");
}

TEST(DetailsHeader, InterfaceTextOfClassCode) {
  struct Case {
    const char* classCode;
    const char* text;
  };
  const Case cases[] = {
      {"010180", "IDE"}, {"0101", "IDE"}, {"010601", "AHCI"}, {"010802", "NVMe"}, {"0106", ""},
      {"010400", ""},    {"010801", ""},  {"", ""},           {"01060", ""},      {"0106010", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(HbaInterfaceText(c.classCode), c.text) << c.classCode;

  // An unknown interface leaves the slot empty after the slash.
  const PhysicalDriveRecord r = SataDrive("M");
  EXPECT_EQ(DetailsControllerLine(r, {Controller("RAID", "0106", {1})}),
            "HBA: RAID / \nDriver Version: 10.0.19041.1 (Microsoft)");
}

}  // namespace
}  // namespace zel
