#include "health/identify_decoding.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>

#include "platform/bytes.h"
#include "platform/text.h"

namespace zel {
namespace {

// Where each text field lies in the two pages.
struct Field {
  const char* name;
  size_t ataOffset, nvmeOffset, length;
  std::string PhysicalDriveRecord::*member;
};
const Field kSerial{"serial", 20, 4, 20, &PhysicalDriveRecord::SerialNumber};
const Field kFirmware{"firmware", 46, 64, 8, &PhysicalDriveRecord::FirmwareRevision};
const Field kModel{"model", 54, 24, 40, &PhysicalDriveRecord::ModelName};

// Writes `text` (padded with blanks to the field length) into the IDENTIFY
// page as an ATA drive sends it: the two bytes of every word exchanged.
void PutAtaText(PhysicalDriveRecord& r, const Field& f, std::string text) {
  text.resize(f.length, ' ');
  for (size_t i = 0; i < f.length; i += 2) {
    r.IdentifyData[f.ataOffset + i] = static_cast<uint8_t>(text[i + 1]);
    r.IdentifyData[f.ataOffset + i + 1] = static_cast<uint8_t>(text[i]);
  }
}

void PutNvmeText(PhysicalDriveRecord& r, const Field& f, std::string text) {
  text.resize(f.length, ' ');
  std::memcpy(r.NvmeIdentifyData.data() + f.nvmeOffset, text.data(), f.length);
}

void PutWord(PhysicalDriveRecord& r, int word, uint16_t value) { PutLE16(&r.IdentifyData[2 * word], value); }

// Switches the C locale for one test and restores it afterwards.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~ScopedLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
  bool ok() const { return ok_; }

 private:
  std::string previous_;
  bool ok_ = false;
};

TEST(TrimTrailingBlanks, DropsOnlyTrailingBlanksAndClearsToTheOldEnd) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"  A B  ", "  A B"}, {"ABC", "ABC"}, {"    ", ""}, {"", ""}, {"A\t ", "A\t"},
  };
  for (const Case& c : cases) {
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    std::strcpy(buf, c.in);
    TrimTrailingBlanks(buf);
    EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
    // Every former blank is now a NUL; nothing beyond the old end is touched.
    size_t n = std::strlen(c.in);
    for (size_t i = std::strlen(c.out); i <= n; ++i) EXPECT_EQ(buf[i], '\0') << c.in << " at " << i;
    EXPECT_EQ(buf[n + 1], 'x');
  }
}

TEST(DecodeIdentifyStrings, SwapsTheTextWordsInPlaceAndLeavesTheRest) {
  PhysicalDriveRecord r;
  r.BusType = kBusAta;
  // The drive sends "ABCD" as B, A, D, C.
  r.IdentifyData[54] = 'B';
  r.IdentifyData[55] = 'A';
  r.IdentifyData[56] = 'D';
  r.IdentifyData[57] = 'C';
  for (int i = 58; i < 94; ++i) r.IdentifyData[i] = ' ';
  PutAtaText(r, kSerial, "SN0001");
  PutAtaText(r, kFirmware, "FW12");
  PutWord(r, 47, 0x8010);
  PutWord(r, 222, 0x107F);

  DecodeIdentifyStrings(r);

  EXPECT_EQ(r.ModelName, "ABCD");
  EXPECT_EQ(r.SerialNumber, "SN0001");
  EXPECT_EQ(r.FirmwareRevision, "FW12");
  // The swapped form stays in the page for the readers of the raw words.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.IdentifyData[54]), 4), "ABCD");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&r.IdentifyData[20]), 6), "SN0001");
  EXPECT_EQ(r.IdentifyWord(47), 0x8010);
  EXPECT_EQ(r.IdentifyWord(222), 0x107F);
}

TEST(DecodeIdentifyStrings, FieldContentsOfAtaAndNvmePages) {
  struct Case {
    const Field* field;
    std::string raw;  // in reading order, padded with blanks to the field length
    std::string decoded;
  } cases[] = {
      {&kSerial, "      ABCDEFGH      ", "      ABCDEFGH"},
      {&kSerial, "12345678901234567890", "12345678901234567890"},
      {&kModel, "", ""},
      {&kModel, "Q", "Q"},
      {&kModel, "QUARN KD765KK 1TB ABCDEFGHIJKLMNOPQRSTU", "QUARN KD765KK 1TB ABCDEFGHIJKLMNOPQRSTU"},
      {&kModel, "A B  C", "A B  C"},
      {&kFirmware, "12345678", "12345678"},
      {&kFirmware, std::string("AB\0D", 4), "AB"},     // the text ends at a NUL
      {&kFirmware, std::string("AB  \0XY", 7), "AB"},  // blanks before the NUL go too
      {&kFirmware, std::string(8, '\0'), ""},
  };
  for (const Case& c : cases) {
    PhysicalDriveRecord ata;
    ata.BusType = kBusAta;
    PutAtaText(ata, *c.field, c.raw);
    DecodeIdentifyStrings(ata);
    EXPECT_EQ(ata.*(c.field->member), c.decoded) << "ATA " << c.field->name << " '" << c.raw << "'";

    PhysicalDriveRecord nvme;
    nvme.BusType = kBusNvme;
    PutNvmeText(nvme, *c.field, c.raw);
    auto before = nvme.NvmeIdentifyData;
    DecodeIdentifyStrings(nvme);
    EXPECT_EQ(nvme.*(c.field->member), c.decoded) << "NVMe " << c.field->name << " '" << c.raw << "'";
    EXPECT_EQ(nvme.NvmeIdentifyData, before) << "NVMe text fields are not swapped";
  }
  const std::string full40 = "QUARN KD765KK 1TB ABCDEFGHIJKLMNOPQRSTUV";
  ASSERT_EQ(full40.size(), 40u);
  PhysicalDriveRecord r;
  PutAtaText(r, kModel, full40);
  DecodeIdentifyStrings(r);
  EXPECT_EQ(r.ModelName, full40);
}

TEST(DecodeIdentifyStrings, NvmeFieldsDoNotRunIntoEachOther) {
  PhysicalDriveRecord r;
  r.BusType = kBusNvme;
  r.NvmeIdentifyData[0] = 0x4D;  // PCI vendor identifier ahead of the serial number
  r.NvmeIdentifyData[1] = 0x1C;
  PutNvmeText(r, kSerial, "S1S2S3S4S5S6S7S8S9S0");
  PutNvmeText(r, kModel, "QUARN NV1 2TB MMMMMMMMMMMMMMMMMMMMMMMMMM");
  PutNvmeText(r, kFirmware, "FR123456");
  r.NvmeIdentifyData[72] = 'Z';  // the field after the firmware revision
  // The ATA page of an NVMe drive is never read and must stay untouched.
  PutAtaText(r, kModel, "NOT THIS ONE");
  auto ataPage = r.IdentifyData;

  DecodeIdentifyStrings(r);

  EXPECT_EQ(r.SerialNumber, "S1S2S3S4S5S6S7S8S9S0");
  EXPECT_EQ(r.ModelName, "QUARN NV1 2TB MMMMMMMMMMMMMMMMMMMMMMMMMM");
  EXPECT_EQ(r.FirmwareRevision, "FR123456");
  EXPECT_EQ(r.IdentifyData, ataPage);
}

TEST(DecodeIdentifyStrings, BytesTheLocaleCannotConvertComeThroughAsCodePoints) {
  {
    ScopedLocale c("C");
    ASSERT_TRUE(c.ok());
    PhysicalDriveRecord r;
    PutAtaText(r, kModel, "Caf\xE9 \xFF");
    PutAtaText(r, kSerial, std::string(20, '\xB5'));
    DecodeIdentifyStrings(r);
    EXPECT_EQ(r.ModelName, "Caf\u00E9 \u00FF");
    EXPECT_EQ(r.SerialNumber.size(), 40u);  // twenty two-byte UTF-8 characters
    EXPECT_EQ(Utf16Length(r.SerialNumber), 20u);
    EXPECT_EQ(r.SerialNumber.substr(0, 2), "\u00B5");
  }
  {
    ScopedLocale utf8("C.UTF-8");
    if (!utf8.ok()) GTEST_SKIP() << "no C.UTF-8 locale";
    PhysicalDriveRecord r;
    // A valid multibyte character, a stray byte, and a sequence cut off by
    // the end of the field.
    std::string model = "\xC3\xA9 \xFF";
    model.resize(39, 'M');
    model += '\xE2';
    PutNvmeText(r, kModel, model);
    r.BusType = kBusNvme;
    DecodeIdentifyStrings(r);
    EXPECT_EQ(r.ModelName, "\u00E9 \u00FF" + std::string(35, 'M') + "\u00E2");
    EXPECT_LE(Utf16Length(r.ModelName), kModelNameChars);
  }
}

TEST(SataTexts, VersionAndLinkSpeedFromWords222And77) {
  struct Case {
    uint16_t w222, w77;
    const char* version;
    const char* speed;
  } cases[] = {
      {0x107F, 0x0006, "SATA 3.1", "6.0 Gb/s"},
      {0x107F, 0x0007, "SATA 3.1", "N/A"},  // bit 0 set
      {0x107F, 0x0000, "SATA 3.1", "N/A"},  // no speed reported
      {0x107F, 0x0008, "SATA 3.1", ">6.0 Gb/s"},
      {0x107F, 0x000E, "SATA 3.1", ">6.0 Gb/s"},
      {0x103F, 0x0002, "SATA 3.0", "1.5 Gb/s"},
      {0x101F, 0x0004, "SATA 2.6", "3.0 Gb/s"},
      {0x100F, 0xFFF6, "SATA 2.5", "6.0 Gb/s"},  // bits above 3 do not count
      {0x1007, 0x0006, "SATA II Ext", "6.0 Gb/s"},
      {0x1003, 0x0006, "SATA 1.0a", "6.0 Gb/s"},
      {0x1001, 0x0006, "ATA8-AST", "6.0 Gb/s"},
      {0x10FF, 0x0006, "SATA >3.1", "6.0 Gb/s"},
      {0x1800, 0x0006, "SATA >3.1", "6.0 Gb/s"},
      {0x1000, 0x0006, "SATA >3.1", "6.0 Gb/s"},  // serial without a version bit
      {0x0020, 0x0006, "N/A", "N/A"},             // parallel transport
      {0x2040, 0x0006, "N/A", "N/A"},
      {0xFFFF, 0x0006, "N/A", "N/A"},
      {0x0000, 0x0000, "N/A", "N/A"},             // page never read
  };
  for (const Case& c : cases) {
    PhysicalDriveRecord r;
    PutWord(r, 222, c.w222);
    PutWord(r, 77, c.w77);
    EXPECT_EQ(GetSataVersionText(r), c.version) << std::hex << c.w222;
    EXPECT_EQ(GetSataLinkSpeedText(r), c.speed) << std::hex << c.w222 << " " << c.w77;
  }
}

TEST(WorldWideName, WordsInOrderAsUpperCaseHex) {
  PhysicalDriveRecord r;
  EXPECT_EQ(GetWorldWideNameText(r), "0000000000000000");
  PutWord(r, 107, 0xFFFF);  // neighbours do not leak in
  PutWord(r, 108, 0x5001);
  PutWord(r, 109, 0xB448);
  PutWord(r, 110, 0x1234);
  PutWord(r, 111, 0x00ab);
  PutWord(r, 112, 0xFFFF);
  EXPECT_EQ(GetWorldWideNameText(r), "5001B448123400AB");
}

TEST(IdentifyWordDescriptions, RunBoundariesAndLimits) {
  struct Case {
    int word;
    const char* text;
  } cases[] = {
      {0, "General configuration"},
      {9, "Retired"},
      {10, "Serial number (20 ASCII characters)"},
      {19, "Serial number (20 ASCII characters)"},
      {20, "Retired"},
      {46, "Model number (40 ASCII characters)"},
      {47, "READ/WRITE MULTIPLE"},
      {53, "Field Validaty"},
      {66, "Manufacturer\u00A1\u00A6s recommended Multiword DMA transfer cycle time (ns)"},
      {94, "Curren automatic acoustic management value"},
      {108, "World Wild Name"},
      {111, "World Wild Name"},
      {159, "Vendor specific"},
      {205, "Current media serial number (60 ASCII characters)"},
      {254, "Reserved"},
      {255, "Integrity word"},
  };
  for (const Case& c : cases) EXPECT_EQ(IdentifyWordDescriptions[c.word], c.text) << "word " << c.word;
  for (int w = 0; w < 256; ++w) {
    EXPECT_FALSE(IdentifyWordDescriptions[w].empty()) << w;
    EXPECT_LE(Utf16Length(IdentifyWordDescriptions[w]), kIdentifyWordDescriptionChars) << w;
  }
}

}  // namespace
}  // namespace zel
