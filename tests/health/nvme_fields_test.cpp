#include "health/nvme_fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/bytes.h"

namespace zel {
namespace {

using IdentifyPage = std::array<uint8_t, kNvmeIdentifyPageSize>;
using HealthLog = std::array<uint8_t, kNvmeHealthLogSize>;

void PutText(IdentifyPage& page, size_t offset, const char* text) {
  std::memcpy(page.data() + offset, text, std::strlen(text));
}

// Every byte a different value, so a dump that starts or ends one byte off,
// or a field read from the wrong offset, shows.
IdentifyPage CountingPage() {
  IdentifyPage page{};
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i);
  return page;
}

TEST(NvmeIdentifyRows, FieldValueFormats) {
  IdentifyPage page{};
  PutLE16(&page[0], 0x1234);  // VID
  PutLE16(&page[2], 0x00AB);  // SSVID
  page[73] = 0x11, page[74] = 0x22, page[75] = 0x33,
  page[76] = 0x44;              // IEEE, printed in byte order
  PutLE16(&page[256], 0x0007);  // OACS: bit 0 only
  page[260] = 0x07;             // FRMW: bit 0 only
  page[261] = 0x03;             // LPA: whole byte
  page[264] = 0xFF;             // AVSCC: bit 0 only
  PutLE32(&page[516], 1);       // NN, sixteen digits
  PutLE16(&page[520], 0x001F);  // ONCS: whole word
  page[530] = 0xFE;             // NVSCC: bit 0 only
  const size_t ps3 = 2048 + 3 * 32;
  PutLE16(&page[ps3 + 0], 0x09C4);
  PutLE32(&page[ps3 + 4], 0x89ABCDEF);
  page[ps3 + 12] = 0xE3;
  page[ps3 + 15] = 0xFF;

  const auto rows = NvmeIdentifyRows(page);
  ASSERT_EQ(rows.size(), 502u);
  struct Case {
    size_t row;
    const char* item;
    const char* value;
  };
  const Case cases[] = {
      {0, "VID", "0x1234"},
      {1, "SSVID", "0x00AB"},
      {6, "IEEE", "0x11223344"},
      {20, "Optional Admin Command Support", "0x0001"},
      {23, "Firmware Updates", "0x01"},
      {24, "Log Page Attributes", "0x03"},
      {27, "Admin Vendor Specific Command Configuration", "0x01"},
      {47, "Number of Namespaces", "0x0000000000000001"},
      {48, "Optional NVM Command Support", "0x001F"},
      {54, "NVM Vendor Specific Command Configuration", "0x00"},
      {150 + 27, "Power State x Descriptor (3)", "0x09C4"},
      {152 + 27, "Power State x Descriptor (3)", "0x0000000089ABCDEF"},
      {154 + 27, "Power State x Descriptor (3)", "0x03"},
      {157 + 27, "Power State x Descriptor (3)", "0x1F"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rows[c.row].Item, c.item) << "row " << c.row;
    EXPECT_EQ(rows[c.row].Value, c.value) << "row " << c.row;
  }
  EXPECT_EQ(rows[154 + 27].Description, "Relative Read Throughput");
  EXPECT_EQ(rows[50].Description.size(), 883u);
}

TEST(NvmeIdentifyRows, TextFieldsStopAtNulAndKeepTheirLength) {
  IdentifyPage page{};
  PutText(page, 4, "S1234 ");  // trailing blank kept: no trimming
  // A model that fills all 40 bytes is followed directly by the firmware
  // revision: the model must not run into it.
  PutText(page, 24, "QUARN KW705 1TB NVMe 0123456789ABCDEFGHI");
  PutText(page, 64, "FW100001");
  page[72] = 'X';  // the byte after the firmware field (RAB)
  const auto rows = NvmeIdentifyRows(page);
  EXPECT_EQ(rows[2].Value, "S1234 ");
  EXPECT_EQ(rows[3].Value, "QUARN KW705 1TB NVMe 0123456789ABCDEFGHI");
  EXPECT_EQ(rows[4].Value, "FW100001");

  IdentifyPage empty{};
  EXPECT_EQ(NvmeIdentifyRows(empty)[2].Value, "");
}

TEST(NvmeIdentifyRows, DumpsCoverTheirExactRanges) {
  const auto rows = NvmeIdentifyRows(CountingPage());
  ASSERT_EQ(rows.size(), 502u);
  struct Case {
    size_t row;
    const char* item;
    size_t first;
    size_t count;
    const char* description;  // nullptr: same as the item
  };
  const Case cases[] = {
      {8, "Reserved 1 (0-15)", 78, 16, nullptr},
      {18, "Reserved 1 (160-175)", 238, 16, nullptr},
      {19, "Reserved (176-177)", 254, 2, nullptr},
      {28, "Reserved 2 (0-15)", 265, 16, nullptr},
      {43, "Reserved 2(240-247)", 505, 7, nullptr},
      {46, "RSVD3", 514, 2, "Reserved 3 (0-1)"},
      {65, "Reserved 4(160-173)", 691, 13, nullptr},
      {66, "Reserved 5 (0-15)", 704, 16, nullptr},
      {149, "Reserved 5 (1328-1343)", 2032, 16, nullptr},
      {158, "Power State x Descriptor (0)", 2064, 16, "Reserved 6 (0-15)"},
      {437, "Power State x Descriptor (31)", 3056, 16, "Reserved 6 (0-15)"},
      {438, "Vendor Specific (0-15)", 3072, 16, nullptr},
      {501, "Vendor Specific (1008-1023)", 4080, 16, nullptr},
  };
  const IdentifyPage page = CountingPage();
  for (const Case& c : cases) {
    const auto& row = rows[c.row];
    EXPECT_EQ(row.Item, c.item) << "row " << c.row;
    EXPECT_EQ(row.Value, NvmeHexDump(page.data() + c.first, c.count)) << "row " << c.row;
    EXPECT_EQ(row.Description, c.description ? c.description : c.item) << "row " << c.row;
  }
  EXPECT_EQ(rows[19].Value, "0xFEFF");
  EXPECT_EQ(NvmeHexDump(page.data() + 0x0A, 3), "0x0A0B0C");
}

TEST(NvmeHealthRows, FieldsAndCounters) {
  HealthLog log{};
  log[0] = 0x04;
  PutLE16(&log[1], 310);  // composite temperature, kelvin
  log[3] = 100;
  log[5] = 3;
  PutLE64(&log[48], 0x1234);          // data units written
  PutLE64(&log[64], 0x100000000ull);  // host read commands
  PutLE64(&log[80], 0xFFFFFFFFFFFFFFFFull);
  PutLE64(&log[176], 0x0123456789ABCDEFull);  // error log entries (last counter)
  PutLE64(&log[184], 0x1);                    // upper half set

  const auto rows = NvmeHealthRows(log);
  ASSERT_EQ(rows.size(), 15u);
  struct Case {
    size_t row;
    const char* item;
    const char* value;
  };
  const Case cases[] = {
      {0, "01h", "0x000000000004"},
      {1, "02h", "0x000000000136"},
      {2, "03h", "0x000000000064"},
      {4, "05h", "0x000000000003"},
      {5, "06h", "0x000000000000"},
      {6, "07h", "0x000000001234"},
      {7, "08h", "0x000100000000"},
      {8, "09h", "0xFFFFFFFFFFFFFFFF"},
      // A counter beyond 64 bits keeps its upper half.
      {14, "0Fh", "0x10123456789ABCDEF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rows[c.row].Item, c.item) << "row " << c.row;
    EXPECT_EQ(rows[c.row].Value, c.value) << "row " << c.row;
  }
  EXPECT_EQ(rows[1].Description, "Temperature");
  EXPECT_EQ(rows[9].Item, "0Ah");
  EXPECT_EQ(rows[14].Description, "The number of Error Information log entries.");
}

TEST(NvmeHealthRows, CounterTextOfWideValues) {
  uint8_t counter[16] = {};
  PutLE64(counter + 8, 0xABCD);
  EXPECT_EQ(NvmeCounterText(counter), "0xABCD0000000000000000");
  std::memset(counter, 0xFF, sizeof counter);
  EXPECT_EQ(NvmeCounterText(counter), "0xFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF");
}

}  // namespace
}  // namespace zel
