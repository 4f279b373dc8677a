#include "app/details_rows.h"

#include <algorithm>

#include "health/identify_decoding.h"
#include "app/strings.h"
#include "health/nvme_fields.h"
#include "health/smart_dictionaries.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel {

namespace {

// String-table entries of the popup.
constexpr int kStrDriverVersion = 265;
constexpr int kStrDriveDetailInformation = 299;
constexpr int kStrSmartDetailInformation = 300;
constexpr int kStrItem = 321;
constexpr int kStrValue = 322;
constexpr int kStrDescription = 323;
constexpr int kStrId = 342;
constexpr int kStrHex = 343;
constexpr int kStrCurrent = 344;
constexpr int kStrWorst = 345;
constexpr int kStrThreshold = 346;
constexpr int kStrRaw = 347;

constexpr int kIdentifyWordCount = 256;

bool IsNvme(int32_t busType) { return busType == kBusNvme; }

DetailsColumn Column(int stringId, int width) { return {LoadStringText(stringId), width}; }

std::vector<DetailsRow> ToRows(std::vector<NvmeFieldRow> fields) {
  std::vector<DetailsRow> rows;
  rows.reserve(fields.size());
  for (NvmeFieldRow& f : fields)
    rows.push_back({std::move(f.Item), std::move(f.Value), std::move(f.Description)});
  return rows;
}

// One row per IDENTIFY word. The serial, firmware and model words were
// byte-swapped into reading order when the record was decoded, and are shown
// as the record now holds them.
std::vector<DetailsRow> IdentifyWordRows(const PhysicalDriveRecord& record) {
  std::vector<DetailsRow> rows;
  rows.reserve(kIdentifyWordCount);
  for (int n = 0; n < kIdentifyWordCount; ++n) {
    rows.push_back({Format("Word %d", n), Format("0x%04X", record.IdentifyWord(n)),
                    std::string(IdentifyWordDescriptions[n])});
  }
  return rows;
}

// One row per compact SMART attribute entry, in list order; the threshold is
// the entry at the same position of the threshold list.
std::vector<DetailsRow> SmartAttributeRows(const PhysicalDriveRecord& record) {
  const SmartNameDictionary& dictionary = SelectSmartNameDictionary(record);
  // The count comes from the drive's data: keep it within the record's lists.
  const int count = std::clamp(record.SmartAttributeCount, 0, kSmartEntryCount);
  std::vector<DetailsRow> rows;
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const SmartAttributeEntry& a = record.SmartAttributes[i];
    const auto& b = a.bytes;
    rows.push_back({
        Format("%d", a.Id()),
        Format("0x%02X", a.Id()),
        GetSmartAttributeName(dictionary, a.Id()),
        Format("%d", a.Current()),
        Format("%d", a.Worst()),
        Format("%d", record.SmartThresholds[i].Threshold()),
        // The reserved byte, then raw[5] down to raw[0].
        Format("0x%02X%02X%02X%02X%02X%02X%02X", b[11], b[10], b[9], b[8], b[7], b[6], b[5]),
    });
  }
  return rows;
}

}  // namespace

std::string HbaInterfaceText(std::string_view classCode) {
  if (StartsWith(classCode, "0101")) return "IDE";
  if (classCode == "010601") return "AHCI";
  if (classCode == "010802") return "NVMe";
  return "";
}

std::string DetailsControllerLine(const PhysicalDriveRecord& record,
                                  const std::vector<HbaEntry>& controllers) {
  const HbaEntry* match = nullptr;
  for (const HbaEntry& hba : controllers) {
    const int attached = std::clamp(hba.AttachedDeviceCount, 0, kMaxAttachedDevices);
    for (int k = 0; k < attached; ++k)
      if (hba.AttachedDevices[k].PhysicalDriveIndex == record.PhysicalDriveIndex) match = &hba;
  }
  if (match == nullptr) return "";
  const std::string interfaceText = HbaInterfaceText(match->ClassCode);
  const std::string driverVersionLabel = LoadStringText(kStrDriverVersion);
  return Format("HBA: %s / %s\n%s %s (%s)", match->Name.c_str(), interfaceText.c_str(),
                driverVersionLabel.c_str(), match->DriverVersion.c_str(),
                match->DriverProvider.c_str());
}

std::string DetailsHeaderText(DetailsMode mode, const PhysicalDriveRecord& record,
                              const std::vector<HbaEntry>& controllers) {
  switch (mode) {
    case DetailsMode::Drive: {
      const std::string label = LoadStringText(kStrDriveDetailInformation);
      return Format("%s %s\n", label.c_str(), record.ModelName.c_str()) +
             DetailsControllerLine(record, controllers);
    }
    case DetailsMode::Smart: {
      const std::string label = LoadStringText(kStrSmartDetailInformation);
      return Format("%s %s", label.c_str(), record.ModelName.c_str());
    }
  }
  return "";
}

std::vector<DetailsColumn> DetailsColumns(DetailsMode mode, int32_t busType) {
  switch (mode) {
    case DetailsMode::Drive:
      if (IsNvme(busType))
        return {Column(kStrItem, 150), Column(kStrValue, 290), Column(kStrDescription, 160)};
      return {Column(kStrItem, 80), Column(kStrValue, 80), Column(kStrDescription, 440)};
    case DetailsMode::Smart:
      // The NVMe health list has fixed English headers.
      if (IsNvme(busType)) return {{"ID", 40}, {"Value", 130}, {"Description", 430}};
      return {Column(kStrId, 40),      Column(kStrHex, 50),   Column(kStrDescription, 150),
              Column(kStrCurrent, 70), Column(kStrWorst, 60), Column(kStrThreshold, 80),
              Column(kStrRaw, 150)};
  }
  return {};
}

std::vector<DetailsRow> DetailsRows(DetailsMode mode, const PhysicalDriveRecord& record) {
  switch (mode) {
    case DetailsMode::Drive:
      if (IsNvme(record.BusType)) return ToRows(NvmeIdentifyRows(record.NvmeIdentifyData));
      return IdentifyWordRows(record);
    case DetailsMode::Smart:
      if (IsNvme(record.BusType)) return ToRows(NvmeHealthRows(record.SmartData));
      return SmartAttributeRows(record);
  }
  return {};
}

DetailsList BuildDetailsList(DetailsMode mode, const PhysicalDriveRecord& record,
                             const std::vector<HbaEntry>& controllers) {
  BuildSmartNameDictionaries();
  DetailsList list;
  list.HeaderText = DetailsHeaderText(mode, record, controllers);
  list.Columns = DetailsColumns(mode, record.BusType);
  list.Rows = DetailsRows(mode, record);
  return list;
}

}  // namespace zel
