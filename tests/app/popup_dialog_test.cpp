// The details popup's header and list for both modes and both buses.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/dialog/scripted_shell.h"
#include "app/pages/popup_dialog.h"
#include "app/startup_sequence.h"
#include "inventory/underlying_util.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class PopupDialogTest : public test::SimTest {
 protected:
  const DialogModel& Open(const std::string& machine, int mode) {
    UseMachine(machine);
    WmiDiskTable().clear();
    state_ = std::make_unique<AppState>();
    EXPECT_EQ(RunStartupSequence(*state_, StartupSteps{}), StartupOutcome::Ready);
    popup_ = std::make_unique<CPopupDialog>(mode, 0, *state_, shell_, 1033);
    popup_->OnInitDialog();
    return popup_->Model();
  }
  std::vector<std::string> Headers(const DialogModel& m) {
    std::vector<std::string> h;
    for (const ListColumn& c : m.Find(CPopupDialog::kList)->columns)
      h.push_back(c.header + ":" + std::to_string(c.width));
    return h;
  }
  ScriptedShell shell_;
  std::unique_ptr<AppState> state_;
  std::unique_ptr<CPopupDialog> popup_;
};

constexpr char kSata[] = R"({"drives": [{"index": 0, "model": "QUARN SSD KD755 480GB",
    "smart": {"attributes": [{"id": 9, "current": 100, "raw": [16, 39, 0, 0, 0, 0], "threshold": 0}]}}]})";

TEST_F(PopupDialogTest, SataDriveDetails) {
  const DialogModel& m = Open(kSata, 1);
  const Control& header = *m.Find(CPopupDialog::kHeader);
  // The default machine hangs SATA drives on one AHCI controller.
  EXPECT_EQ(header.text.rfind("Drive Detail Information: QUARN SSD KD755 480GB\nHBA: ", 0), 0u) << header.text;
  EXPECT_NE(header.text.find(" / AHCI\nDriver Version: "), std::string::npos) << header.text;
  EXPECT_EQ(header.colour, RGB(120, 120, 120));
  EXPECT_EQ(header.font.size, 11);
  EXPECT_EQ(Headers(m), (std::vector<std::string>{"Item:80", "Value:80", "Description:440"}));
  const auto& rows = m.Find(CPopupDialog::kList)->rows;
  ASSERT_EQ(rows.size(), 256u);
  // Word 27 holds the model's first two characters, 'Q' (0x51) and 'U' (0x55).
  EXPECT_EQ(rows[27][0], "Word 27");
  EXPECT_EQ(rows[27][1], "0x5551");
}

TEST_F(PopupDialogTest, SataSmartDetails) {
  const DialogModel& m = Open(kSata, 2);
  EXPECT_EQ(m.Find(CPopupDialog::kHeader)->text, "SMART Detail Information: QUARN SSD KD755 480GB");
  EXPECT_EQ(Headers(m), (std::vector<std::string>{"ID:40", "Hex:50", "Description:150", "Current:70",
                                                  "Worst:60", "Threshold:80", "Raw:150"}));
  const auto& rows = m.Find(CPopupDialog::kList)->rows;
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0][0], "9");
  EXPECT_EQ(rows[0][1], "0x09");
  EXPECT_EQ(rows[0][6], "0x00000000002710");
}

TEST_F(PopupDialogTest, NvmeColumns) {
  const char* nvme = R"({"drives": [{"index": 0, "kind": "nvme", "model": "QUARN NVMe KN900 1TB"}]})";
  EXPECT_EQ(Headers(Open(nvme, 1)), (std::vector<std::string>{"Item:150", "Value:290", "Description:160"}));
  EXPECT_EQ(popup_->Model().Find(CPopupDialog::kHeader)->text.rfind(
                "Drive Detail Information: QUARN NVMe KN900 1TB\n", 0),
            0u);
  EXPECT_EQ(Headers(Open(nvme, 2)), (std::vector<std::string>{"ID:40", "Value:130", "Description:430"}));
  EXPECT_FALSE(popup_->Model().Find(CPopupDialog::kList)->rows.empty());
}

}  // namespace
}  // namespace zel
