// The Drive Info page through the scripted Shell on simulated machines:
// what each control shows, in which colour and state, for the drive the
// main window selected, and the partition buttons.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/app_state.h"
#include "app/dialog/scripted_shell.h"
#include "app/pages/drive_info_page.h"
#include "app/pages/popup_dialog.h"
#include "app/startup_sequence.h"
#include "inventory/underlying_util.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

class DriveInfoPageTest : public test::SimTest {
 protected:
  // Loads `machine`, discovers its drives and opens the page on drive `selected`.
  CDriveInfoPage& Open(const std::string& machine, int selected = 0) {
    UseMachine(machine);
    WmiDiskTable().clear();
    state_ = std::make_unique<AppState>();
    StartupSteps steps;
    EXPECT_EQ(RunStartupSequence(*state_, steps), StartupOutcome::Ready) << machine;
    state_->SelectedDrive = selected;
    page_ = std::make_unique<CDriveInfoPage>(*state_, shell_, 1033);
    page_->OnInitDialog();
    return *page_;
  }
  const Control& C(int id) { return *page_->Model().Find(id); }

  ScriptedShell shell_;
  std::unique_ptr<AppState> state_;
  std::unique_ptr<CDriveInfoPage> page_;
};

std::string SataWith(const std::string& model, const std::string& attributes,
                     const std::string& volumes = "") {
  return R"({"drives": [{"index": 0, "model": ")" + model + R"(", "firmware": "FW01",
             "serial": "S123", "wwn": "0x5001B44812345678", "smart": {"attributes": [)" +
         attributes + "]}}], \"volumes\": [" + volumes + "]}";
}

TEST_F(DriveInfoPageTest, IdentityLinesAndSectionTitlesInTheirColours) {
  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10}, {"id": 194, "raw": 40})"));
  EXPECT_EQ(C(1040).text, "Model: QUARN SSD KD755 480GB");
  EXPECT_EQ(C(1013).text, "Firmware version: FW01");
  EXPECT_EQ(C(1014).text, "Serial number: S123");
  EXPECT_EQ(C(1015).text, "WWN: 5001B44812345678");
  EXPECT_EQ(C(1016).text.rfind("Connection speed: SATA ", 0), 0u) << C(1016).text;
  for (int id : {1040, 1013, 1014, 1015, 1016}) {
    EXPECT_EQ(C(id).colour, RGB(128, 128, 128)) << id;
    EXPECT_EQ(C(id).font.size, 9) << id;
    EXPECT_EQ(C(id).font.face, "Ariel") << id;
  }
  for (int id : {1019, 1036, 1037}) {
    EXPECT_EQ(C(id).colour, RGB(255, 255, 255)) << id;
    EXPECT_EQ(C(id).font.size, 11) << id;
  }
  EXPECT_EQ(C(1019).text, "Logical Drive Info");
  EXPECT_EQ(C(1036).text, "Drive Health");
  EXPECT_EQ(C(1037).text, "Estimated Life Remaining");
  EXPECT_EQ(C(1029).text, "Total Bytes Written");
  EXPECT_EQ(C(1033).text, "Current Temperature");
  EXPECT_EQ(C(1018).text, "Drive Details");
  EXPECT_EQ(C(1041).text, "SMART Details");
  EXPECT_EQ(C(1018).font.size, 10);
}

TEST_F(DriveInfoPageTest, TemperatureBands) {
  struct Case {
    const char* attribute;  // attribute 194 (raw 0: the drive reports no temperature)
    const char* text;
    int state;
    COLORREF colour;
  } cases[] = {
      {R"({"id": 194, "raw": 30})", "30 \u00B0C", 0, RGB(86, 209, 255)},
      {R"({"id": 194, "raw": 31})", "31 \u00B0C", 1, RGB(158, 226, 116)},
      {R"({"id": 194, "raw": 70})", "70 \u00B0C", 1, RGB(158, 226, 116)},
      {R"({"id": 194, "raw": 71})", "71 \u00B0C", 2, RGB(255, 81, 110)},
      {R"({"id": 194, "raw": 0})", "N/A", 2, RGB(255, 81, 110)},
  };
  for (const Case& c : cases) {
    Open(SataWith("QUARN SSD KD755 480GB", std::string(R"({"id": 5, "threshold": 10}, )") + c.attribute));
    EXPECT_EQ(C(1035).text, c.text) << c.attribute;
    EXPECT_EQ(C(1034).position, c.state) << c.attribute;
    EXPECT_EQ(C(1035).colour, c.colour) << c.attribute;
    EXPECT_EQ(C(1035).font.size, 11);
  }
}

TEST_F(DriveInfoPageTest, MakerRulesForBytesWrittenLifeAndHealth) {
  struct Case {
    const char* model;
    const char* attributes;
    const char* written;
    int life;
    int health;
  } cases[] = {
      // A group counter of 2048 GB is 2.00TB.
      {"QUARN SSD KD755 1TB", R"({"id": 5, "threshold": 10}, {"id": 241, "raw": 2048})", "2.00TB", -1, 0},
      // Another maker's drive: no bytes written, a full gauge, health from the status.
      {"OTHERCO SSD 860 500GB", R"({"id": 5, "current": 5, "threshold": 10}, {"id": 169, "current": 40}, {"id": 241, "raw": 2048})",
       "N/A", 100, 1},
      // K385 shows a full gauge whatever it reports.
      {"QUARN SSD K385 128GB", R"({"id": 5, "threshold": 10}, {"id": 169, "current": 40})", nullptr, 100, 0},
      // KD765 shows the good icon even with a failing attribute.
      {"QUARN SSD KD765KK 512GB", R"({"id": 5, "current": 5, "threshold": 10})", nullptr, -1, 0},
  };
  for (const Case& c : cases) {
    Open(SataWith(c.model, c.attributes));
    if (c.written) {
      EXPECT_EQ(C(1031).text, c.written) << c.model;
    }
    EXPECT_EQ(C(1031).colour, RGB(109, 189, 12));
    if (c.life >= 0) {
      EXPECT_EQ(C(1039).position, c.life) << c.model;
    }
    EXPECT_EQ(C(1039).rangeHigh, 100);
    EXPECT_EQ(C(1038).position, c.health) << c.model;
  }
}

TEST_F(DriveInfoPageTest, NvmeConnectionLine) {
  // Without a controller list an NVMe drive hangs on a Gen3 x4 controller.
  Open(R"({"drives": [{"index": 0, "kind": "nvme", "model": "QUARN NVMe KN900 1TB"}]})");
  EXPECT_EQ(C(1016).text, "Connection speed: PCIe Gen3 x4");
}

constexpr char kThreeVolumes[] =
    R"({"letter": "C", "disk": 0, "size": 107374182400, "free": 53687091200},
       {"letter": "D", "disk": 0, "size": 10737418240, "free": 10737418240},
       {"letter": "E", "disk": 0, "size": 21474836480, "free": 5368709120})";

TEST_F(DriveInfoPageTest, PartitionAreaAndItsButtons) {
  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10})", kThreeVolumes));
  ASSERT_EQ(page_->LogicalDrives().size(), 3u);
  EXPECT_EQ(C(1021).text, "C:");
  EXPECT_EQ(C(1022).text, "Total: 100.0 GB");
  EXPECT_EQ(C(1023).text, "Free: 50.0 GB");
  EXPECT_EQ(C(1026).text, "Free: 50.0 %");
  EXPECT_EQ(C(1026).colour, RGB(1, 168, 177));
  EXPECT_EQ(C(1026).font.size, 8);
  EXPECT_EQ(C(1027).position, 50);
  EXPECT_FALSE(C(1024).enabled);
  EXPECT_TRUE(C(1025).enabled);

  page_->OnBnClickedButtonNextPartition();
  EXPECT_EQ(C(1021).text, "D:");
  EXPECT_EQ(C(1027).position, 0);
  EXPECT_TRUE(C(1024).enabled);
  EXPECT_TRUE(C(1025).enabled);
  page_->OnBnClickedButtonNextPartition();
  EXPECT_EQ(C(1021).text, "E:");
  EXPECT_EQ(C(1027).position, 75);
  EXPECT_TRUE(C(1024).enabled);
  EXPECT_FALSE(C(1025).enabled);
  page_->OnBnClickedButtonNextPartition();  // at the last one: nothing happens
  EXPECT_EQ(state_->DriveInfoPartition, 2u);
  page_->OnBnClickedButtonPreviousPartition();
  EXPECT_EQ(C(1021).text, "D:");
}

TEST_F(DriveInfoPageTest, OnePartitionNoPartitionAndAnEmptyPartition) {
  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10})",
                R"({"letter": "C", "disk": 0, "size": 107374182400, "free": 53687091200})"));
  EXPECT_FALSE(C(1024).enabled);
  EXPECT_FALSE(C(1025).enabled);
  for (int id : {1022, 1023, 1026, 1027}) EXPECT_TRUE(C(id).visible) << id;

  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10})"));
  EXPECT_EQ(C(1021).text, "There is no recognized partition.");
  for (int id : {1022, 1023, 1026, 1027}) EXPECT_FALSE(C(id).visible) << id;
  EXPECT_FALSE(C(1024).enabled);
  EXPECT_FALSE(C(1025).enabled);

  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10})",
                R"({"letter": "C", "disk": 0, "size": 0, "free": 0})"));
  if (page_->LogicalDrives().size() == 1) {
    EXPECT_EQ(C(1026).text, "Free: N/A");
    EXPECT_EQ(C(1027).position, 0);
  }
}

TEST_F(DriveInfoPageTest, DetailsButtonsOpenThePopupInTheirMode) {
  Open(SataWith("QUARN SSD KD755 480GB", R"({"id": 5, "threshold": 10}, {"id": 9, "raw": [16, 39, 0, 0, 0, 0]})"));
  int runs = 0;
  page_->SetPopupRunner([&](CPopupDialog& popup) {
    ++runs;
    EXPECT_FALSE(popup.Model().Find(CPopupDialog::kList)->rows.empty());
  });
  page_->OnBnClickedButtonDriveDetails();
  ASSERT_NE(page_->LastPopup(), nullptr);
  EXPECT_EQ(page_->LastPopup()->Mode(), 1);
  EXPECT_EQ(page_->LastPopup()->Model().Find(CPopupDialog::kList)->rows.size(), 256u);
  page_->OnBnClickedButtonSmartDetails();
  EXPECT_EQ(page_->LastPopup()->Mode(), 2);
  EXPECT_EQ(runs, 2);
}

}  // namespace
}  // namespace zel
