#include "health/smart_dictionaries.h"

#include <cstring>
#include <initializer_list>

#include "platform/text.h"

namespace zel {

SmartNameDictionary::SmartNameDictionary(std::string_view tag,
                                         std::span<const SmartNameEntry> entries)
    : tag_(tag) {
  for (const SmartNameEntry& e : entries) names_[e.Id] = e.Name;
}

int SmartNameDictionary::Count() const {
  int n = 0;
  for (std::string_view name : names_)
    if (!name.empty()) ++n;
  return n;
}

constexpr SmartNameEntry kJmf608Names[] = {
    {1, "Read Error Rate"},
    {5, "Reallocated Sector Count"},
    {9, "Power-on Hours"},
    {12, "Power-on Cycles"},
    {169, "Bad Block Count"},
    {173, "Erase Count"},
    {181, "Program Fail Count"},
    {182, "Erase Fail Count"},
    {187, "Uncorrectable Errors Count"},
    {192, "Unsafe Shutdown Count"},
    {194, "Temperature"},
    {231, "Drive Life %"},
    {241, "Total Host Write"},
    {242, "Total Host Read"},
    {248, "History Temperature"},
    {250, "Wear Leveling Factor"},
};

const SmartNameDictionary& SmartNamesJmf608() {
  static const SmartNameDictionary d("SmartNamesJmf608", kJmf608Names);
  return d;
}

constexpr SmartNameEntry kSm2246Names[] = {
    {1, "Read Error Rate"},
    {5, "Reallocated Sector Count"},
    {9, "Reserved"},
    {12, "Power Cycle Count"},
    {160, "Uncorrectable Sector Count"},
    {161, "Number of Valid Spare Block"},
    {163, "Number of Initial Invalid Block"},
    {164, "Total Erase Count"},
    {165, "Maximum Erase Count"},
    {166, "Minimum Erase Count"},
    {167, "Average Erase Count"},
    {192, "Power-Off Retract Count"},
    {194, "Controlled Temperature"},
    {195, "Hardware Ecc Recovered"},
    {196, "Reallocation Event Count"},
    {199, "UltraDMA CRC Error Count"},
    {241, "Total LBA Written (32MB)"},
    {242, "Total LBA Read (32MB)"},
};

const SmartNameDictionary& SmartNamesSm2246() {
  static const SmartNameDictionary d("SmartNamesSm2246", kSm2246Names);
  return d;
}

constexpr SmartNameEntry kSlcTlcNames[] = {
    {1, "Read Error Rate"},
    {5, "Reallocated Sector Count"},
    {9, "Power On Hours"},
    {12, "Power Cycle Count"},
    {148, "SLC Total Erase Count"},
    {149, "SLC Max Erase Count"},
    {150, "SLC Min Erase Count"},
    {151, "SLC Average Erase Count"},
    {160, "Uncorrectable Sector Count"},
    {161, "Number of Valid Spare Block"},
    {163, "Number of Initial Invalid Block"},
    {164, "TLC Total Erase Count"},
    {165, "TLC Maximum Erase Count"},
    {166, "TLC Minimum Erase Count"},
    {167, "TLC Average Erase Count"},
    {169, "Remain Life Percentage"},
    {177, "WearLeveling Count"},
    {181, "Program Fail Count"},
    {182, "Erase Fail Count"},
    {187, "Uncorrectable Error Count"},
    {192, "Power-Off Retract Count"},
    {194, "Temperature"},
    {196, "Reallocation Event Count"},
    {199, "UDMA CRC Error Count"},
    {225, "Host Writes"},
    {232, "Available Reserved Space(%)"},
    {241, "Total LBA Written (each write unit = 32MB)"},
    {242, "Total LBA Read (each write unit = 32MB)"},
    {245, "Total sector write to flash"},
};

const SmartNameDictionary& SmartNamesSlcTlc() {
  static const SmartNameDictionary d("SmartNamesSlcTlc", kSlcTlcNames);
  return d;
}

constexpr SmartNameEntry kKv155Names[] = {
    {9, "Power On Hours"},
    {12, "Power Cycle Count"},
    {167, "SSD Protect Mode"},
    {168, "PHY Error Count"},
    {169, "Bad Block Count"},
    {173, "Erase Count"},
    {175, "Bad Cluster Table Count"},
    {180, "Spare Block Count Left"},
    {192, "Unexpected Power Loss Count"},
    {194, "Temperature"},
    {231, "SSD Life Left"},
    {233, "Write Sector Count to Nand"},
    {234, "Read Sector Count from Nand"},
    {241, "Write Sector Count"},
    {242, "Read Sector Count"},
};

const SmartNameDictionary& SmartNamesKv155() {
  static const SmartNameDictionary d("SmartNamesKv155", kKv155Names);
  return d;
}

// Held as a table indexed by identifier like the others. Its slots cover the
// whole 8-bit range, so identifier 255 is looked up in bounds and simply has
// no name.
constexpr SmartNameEntry kKd785kkNames[] = {
    {1, "Read Error Rate"},
    {5, "Retired Block Count"},
    {9, "Power-on Hours"},
    {12, "Power Cycle Count"},
    {171, "Program Fail Count"},
    {172, "Erase Fail Count"},
    {174, "Unexpected Power Loss"},
    {177, "Wear Range Delta"},
    {181, "Program Fail Count"},
    {182, "Erase Fail Count"},
    {187, "Reported Uncorrectable Errors"},
    {194, "Temperature"},
    {195, "ECC On-the-Fly Error Count"},
    {196, "Reallocation Event Count"},
    {201, "Uncorrectable Soft Read Error Rate"},
    {204, "Soft ECC Correction Rate"},
    {230, "Drive Life Protection Status"},
    {231, "SSD Life Left"},
    {241, "Total LBAs Written"},
    {242, "Total LBAs Read"},
};

const SmartNameDictionary& SmartNamesKd785kk() {
  static const SmartNameDictionary d("SmartNamesKd785kk", kKd785kkNames);
  return d;
}

constexpr SmartNameEntry kDefaultNames[] = {
    {1, "Read Error Rate"},
    {5, "Reallocated Sector Count"},
    {9, "Power-on Hours"},
    {12, "Power-on Cycles"},
    {171, "Program Fail Count"},
    {172, "Erase Fail Count"},
    {174, "Unsafe Shutdown Count"},
    {177, "Wear Range Delta"},
    {181, "Program Fail Count"},
    {182, "Erase Fail Count"},
    {187, "Uncorrectable Errors Count"},
    {194, "Temperature"},
    {195, "On-the-Fly ECC Uncorrectable Error Count"},
    {196, "Reallocation Event Count"},
    {201, "Uncorrectable Soft Read Error Rate"},
    {204, "Soft Ecc Correction Rate"},
    {230, "Life Curve Status"},
    {231, "Drive Life %"},
    {233, "Vendor Specific"},
    {234, "Vendor Specific"},
    {241, "Total Host Write"},
    {242, "Total Host Read"},
};

const SmartNameDictionary& SmartNamesDefault() {
  static const SmartNameDictionary d("SmartNamesDefault", kDefaultNames);
  return d;
}

void BuildSmartNameDictionaries() {
  SmartNamesJmf608();
  SmartNamesSm2246();
  SmartNamesSlcTlc();
  SmartNamesKv155();
  SmartNamesKd785kk();
  SmartNamesDefault();
}

namespace {

// A controller tag: six ASCII bytes at `offset` of the SMART data page,
// compared byte by byte.
bool HasSmartTag(const PhysicalDriveRecord& record, size_t offset, const char (&tag)[7]) {
  return std::memcmp(record.SmartData.data() + offset, tag, 6) == 0;
}

bool ModelHasAny(const PhysicalDriveRecord& record, std::initializer_list<std::string_view> codes) {
  for (std::string_view code : codes)
    if (Contains(record.ModelName, code)) return true;
  return false;
}

}  // namespace

const SmartNameDictionary& SelectSmartNameDictionary(const PhysicalDriveRecord& record) {
  if (HasSmartTag(record, 396, "JMF608")) return SmartNamesJmf608();
  if (HasSmartTag(record, 400, "SM2246") || ModelHasAny(record, {"QUARN KD005"}))
    return SmartNamesSm2246();
  if (ModelHasAny(record, {"QUARN KV455", "QUARN ER6K9994", "QUARN KW705", "QUARN KV755"}))
    return SmartNamesSlcTlc();
  if (ModelHasAny(record, {"QUARN KV155"})) return SmartNamesKv155();
  if (ModelHasAny(record, {"QUARN KD785KK"})) return SmartNamesKd785kk();
  if (ModelHasAny(record, {"EKKK986"})) return SmartNamesJmf608();
  return SmartNamesDefault();
}

std::string GetSmartAttributeName(const SmartNameDictionary& dictionary, int id) {
  if (id < 0 || id > 255) return kVendorSpecified;
  std::string_view name = dictionary.Find(static_cast<uint8_t>(id));
  return name.empty() ? std::string(kVendorSpecified) : std::string(name);
}

}  // namespace zel
