// The SMART attribute name dictionaries: attribute meanings differ between
// controller families, so each drive gets the dictionary of its family, picked
// by a controller tag in the vendor-specific part of its SMART data page or by
// a model code in its model text.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "device/drive_record.h"

namespace zel {

// The name shown for an identifier that the drive's dictionary does not hold.
inline constexpr char kVendorSpecified[] = "Vendor Specified";

// A constant map from an 8-bit attribute identifier to its name. Every
// identifier 0..255 has a slot; an empty slot means "no name". A name may
// stand under several identifiers.
struct SmartNameEntry {
  uint8_t Id;
  std::string_view Name;
};

class SmartNameDictionary {
 public:
  SmartNameDictionary(std::string_view tag, std::span<const SmartNameEntry> entries);

  // The dictionary's own name ("SmartNamesJmf608", ...), for traces and tests.
  std::string_view Tag() const { return tag_; }
  // The name under `id`, empty when the dictionary holds none.
  std::string_view Find(uint8_t id) const { return names_[id]; }
  // Number of identifiers that carry a name.
  int Count() const;

 private:
  std::string_view tag_;
  std::array<std::string_view, 256> names_{};
};

// The six dictionaries. They are constant: built once on first use and kept
// for the rest of the run.
const SmartNameDictionary& SmartNamesJmf608();
const SmartNameDictionary& SmartNamesSm2246();
const SmartNameDictionary& SmartNamesSlcTlc();
const SmartNameDictionary& SmartNamesKv155();
const SmartNameDictionary& SmartNamesKd785kk();
const SmartNameDictionary& SmartNamesDefault();

// Makes sure the six dictionaries exist (the details popup calls this when it
// is constructed). Calling it again changes nothing.
void BuildSmartNameDictionaries();

// The dictionary for the drive of `record`; the first rule that matches wins:
// the "JMF608" tag at SmartData bytes 396-401, the "SM2246" tag at bytes
// 400-405 or a model code of that family, the SLC/TLC model codes, then the
// remaining model codes; every other drive gets SmartNamesDefault.
const SmartNameDictionary& SelectSmartNameDictionary(const PhysicalDriveRecord& record);

// The name of attribute `id` in `dictionary`, or "Vendor Specified" when it
// holds none (also for an identifier outside 0..255).
std::string GetSmartAttributeName(const SmartNameDictionary& dictionary, int id);

}  // namespace zel
