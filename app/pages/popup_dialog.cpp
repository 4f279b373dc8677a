#include "app/pages/popup_dialog.h"

#include "app/details_rows.h"
#include "app/dialog/page.h"
#include "app/dialog/string_table.h"
#include "health/smart_dictionaries.h"
#include "platform/format.h"

namespace zel {

namespace {

// The column headers by mode and bus: a string-table id, or 0 with a fixed text.
struct Header {
  int stringId;
  const char* fixed;
};

std::vector<Header> HeadersFor(DetailsMode mode, bool nvme) {
  if (mode == DetailsMode::Drive) return {{321, ""}, {322, ""}, {323, ""}};
  if (nvme) return {{0, "ID"}, {0, "Value"}, {0, "Description"}};
  return {{342, ""}, {343, ""}, {323, ""}, {344, ""}, {345, ""}, {346, ""}, {347, ""}};
}

}  // namespace

CPopupDialog::CPopupDialog(int mode, int32_t driveIndex, const AppState& state, Shell& shell,
                           uint16_t languageId)
    : mode_(mode), driveIndex_(driveIndex), state_(state), shell_(shell), languageId_(languageId) {
  BuildSmartNameDictionaries();
  model_.Item(kHeader).kind = ControlKind::Label;
  model_.Item(kList).kind = ControlKind::List;
  Control& close = model_.Item(kClose);
  close.kind = ControlKind::Button;
  close.text = "\u2715";
  close.accessibleName = "Close";
}

std::string CPopupDialog::Caption() const { return LoadStringW(languageId_, mode_ == 1 ? 258 : 259); }

bool CPopupDialog::OnInitDialog() {
  model_.Item(kHeader).rect = {15, 40, 620, 55};
  model_.Item(kList).rect = {15, 95, 620, 340};
  model_.Item(kClose).rect = {kWidth - 45, 11, 30, 24};
  (void)shell_;
  if (driveIndex_ < 0 || static_cast<size_t>(driveIndex_) >= state_.PhysicalDriveTable.size())
    return true;
  const PhysicalDriveRecord record = state_.PhysicalDriveTable[driveIndex_];
  const DetailsMode mode = mode_ == 1 ? DetailsMode::Drive : DetailsMode::Smart;

  Control& header = model_.Item(kHeader);
  if (mode == DetailsMode::Drive) {
    header.text = Format("%s %s\n", LoadStringW(languageId_, 299).c_str(), record.ModelName.c_str()) +
                  DetailsControllerLine(record, state_.HbaList);
  } else {
    header.text = Format("%s %s", LoadStringW(languageId_, 300).c_str(), record.ModelName.c_str());
  }
  header.colour = kHeaderColour;
  header.font = ControlFont{PageFontFace(languageId_), 11, false};

  Control& list = model_.Item(kList);
  const bool nvme = record.BusType == kBusNvme;
  const std::vector<DetailsColumn> widths = DetailsColumns(mode, record.BusType);
  const std::vector<Header> headers = HeadersFor(mode, nvme);
  list.columns.clear();
  for (size_t i = 0; i < widths.size() && i < headers.size(); ++i)
    list.columns.push_back({headers[i].stringId ? LoadStringW(languageId_, headers[i].stringId)
                                                : std::string(headers[i].fixed),
                            widths[i].Width});
  list.rows = DetailsRows(mode, record);
  list.colour = RGB(0, 0, 0);
  return true;
}

}  // namespace zel
