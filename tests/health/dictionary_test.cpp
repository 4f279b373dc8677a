#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "health/smart_dictionaries.h"

namespace zel {
namespace {

PhysicalDriveRecord Drive(const std::string& model, int tagOffset = -1, const char* tag = nullptr) {
  PhysicalDriveRecord r;
  r.BusType = kBusAta;
  r.ModelName = model;
  if (tag != nullptr) std::memcpy(r.SmartData.data() + tagOffset, tag, 6);
  return r;
}

TEST(SmartDictionarySelection, PicksTheFamilyDictionary) {
  struct Case {
    const char* what;
    PhysicalDriveRecord drive;
    const SmartNameDictionary& expected;
  };
  const Case cases[] = {
      {"JMF608 tag", Drive("Other Maker SSD", 396, "JMF608"), SmartNamesJmf608()},
      {"tag is tested before the model", Drive("QUARN KV155 240GB", 396, "JMF608"),
       SmartNamesJmf608()},
      {"SM2246 tag", Drive("Other Maker SSD", 400, "SM2246"), SmartNamesSm2246()},
      {"KD005 model", Drive("QUARN KD005 120GB"), SmartNamesSm2246()},
      {"KV455 model", Drive("QUARN KV455 480GB"), SmartNamesSlcTlc()},
      {"ER6K9994 model", Drive("QUARN ER6K9994"), SmartNamesSlcTlc()},
      {"KW705 model", Drive("QUARN KW705 1TB"), SmartNamesSlcTlc()},
      {"KV755 model", Drive("QUARN KV755"), SmartNamesSlcTlc()},
      {"KV155 model", Drive("QUARN KV155 240GB"), SmartNamesKv155()},
      {"KD785KK model", Drive("QUARN KD785KK 512GB"), SmartNamesKd785kk()},
      {"EKKK986 model, any maker", Drive("XYZ EKKK986"), SmartNamesJmf608()},
      {"SLC/TLC code wins over a later rule", Drive("QUARN KV455 EKKK986"), SmartNamesSlcTlc()},
      {"model test is case-sensitive", Drive("quarn kv155"), SmartNamesDefault()},
      {"code without the maker's prefix", Drive("KV155"), SmartNamesDefault()},
      {"tag one byte off", Drive("Other", 397, "JMF608"), SmartNamesDefault()},
      {"partial tag", Drive("Other", 396, "JMF60X"), SmartNamesDefault()},
      {"other maker", Drive("Acme 2.5in SSD"), SmartNamesDefault()},
      {"empty model", Drive(""), SmartNamesDefault()},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SelectSmartNameDictionary(c.drive).Tag(), c.expected.Tag()) << c.what;
}

TEST(SmartDictionaryNames, NotableAttributesAndGaps) {
  struct Case {
    const SmartNameDictionary& dictionary;
    int id;
    const char* name;
  };
  const Case cases[] = {
      {SmartNamesDefault(), 232, "Vendor Specified"},
      {SmartNamesDefault(), 233, "Vendor Specific"},
      {SmartNamesDefault(), 234, "Vendor Specific"},
      {SmartNamesDefault(), 195, "On-the-Fly ECC Uncorrectable Error Count"},
      {SmartNamesDefault(), 0, "Vendor Specified"},
      {SmartNamesSm2246(), 9, "Reserved"},
      {SmartNamesSm2246(), 241, "Total LBA Written (32MB)"},
      {SmartNamesKd785kk(), 5, "Retired Block Count"},
      {SmartNamesKd785kk(), 171, "Program Fail Count"},
      {SmartNamesKd785kk(), 181, "Program Fail Count"},
      {SmartNamesKd785kk(), 254, "Vendor Specified"},
      {SmartNamesKd785kk(), 255, "Vendor Specified"},
      {SmartNamesJmf608(), 231, "Drive Life %"},
      {SmartNamesJmf608(), 250, "Wear Leveling Factor"},
      {SmartNamesJmf608(), 251, "Vendor Specified"},
      {SmartNamesSlcTlc(), 232, "Available Reserved Space(%)"},
      {SmartNamesSlcTlc(), 241, "Total LBA Written (each write unit = 32MB)"},
      {SmartNamesKv155(), 1, "Vendor Specified"},
      {SmartNamesKv155(), 233, "Write Sector Count to Nand"},
      // Identifiers outside the 8-bit range never index past the table.
      {SmartNamesKd785kk(), 256, "Vendor Specified"},
      {SmartNamesDefault(), -1, "Vendor Specified"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GetSmartAttributeName(c.dictionary, c.id), c.name)
        << c.dictionary.Tag() << " id " << c.id;
}

TEST(SmartDictionaryNames, SizesAndRebuildKeepContents) {
  EXPECT_EQ(SmartNamesJmf608().Count(), 16);
  EXPECT_EQ(SmartNamesSm2246().Count(), 18);
  EXPECT_EQ(SmartNamesSlcTlc().Count(), 29);
  EXPECT_EQ(SmartNamesKv155().Count(), 15);
  EXPECT_EQ(SmartNamesKd785kk().Count(), 20);
  EXPECT_EQ(SmartNamesDefault().Count(), 22);

  const SmartNameDictionary* before = &SmartNamesDefault();
  BuildSmartNameDictionaries();
  BuildSmartNameDictionaries();
  EXPECT_EQ(&SmartNamesDefault(), before);
  EXPECT_EQ(GetSmartAttributeName(SmartNamesDefault(), 9), "Power-on Hours");
}

}  // namespace
}  // namespace zel
