// The System Info page on the dialog model: seven rows of a grey label and a
// blue value, filled from the system information the inventory left, in the
// page font of the user-interface language; no box is ever shown.
#include <gtest/gtest.h>

#include "app/dialog/scripted_shell.h"
#include "app/dialog/string_table.h"
#include "app/pages/sys_info_page.h"
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "platform/format.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

struct ExpectedRow {
  int labelId;
  const char* label;
  int valueId;
  std::string value;
};

// Checks every row's texts, colours and font, and the column layout.
void ExpectRows(const CSysInfoPage& page, const std::vector<ExpectedRow>& rows, const char* face) {
  ASSERT_EQ(rows.size(), 7u);
  const Control* firstLabel = page.Model().Find(rows[0].labelId);
  ASSERT_NE(firstLabel, nullptr);
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].label);
    const Control* label = page.Model().Find(rows[i].labelId);
    const Control* value = page.Model().Find(rows[i].valueId);
    ASSERT_NE(label, nullptr);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(label->text, rows[i].label);
    EXPECT_EQ(value->text, rows[i].value);
    EXPECT_EQ(label->colour, std::optional<COLORREF>(0x808080));
    EXPECT_EQ(value->colour, std::optional<COLORREF>(0xFBB601));
    EXPECT_EQ(label->font.face, face);
    EXPECT_EQ(value->font.face, face);
    // One column of labels 24 pixels apart, each value to the right of its label.
    EXPECT_EQ(label->rect.x, firstLabel->rect.x);
    EXPECT_EQ(label->rect.y, firstLabel->rect.y + 24 * static_cast<int>(i));
    EXPECT_EQ(value->rect.y, label->rect.y);
    EXPECT_GE(value->rect.x, label->rect.x + label->rect.width);
  }
}

class SysInfoPageTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 0}], "system": {
      "osName": "Microsoft Windows 10 Pro|C:\\WINDOWS|\\Device\\Harddisk0\\Partition4",
      "processor": "Intel(R) Core(TM) i5-9600K CPU @ 3.70GHz",
      "memory": 8589934592,
      "board": {"manufacturer": "Gigabyte Technology Co., Ltd.", "product": "Z390 UD"},
      "bios": {"version": "F10"}}})";
  }
  ScriptedShell shell_;
};

TEST_F(SysInfoPageTest, SevenRowsFromTheInventoryOfA64BitMachine) {
  SystemInformation info;
  std::vector<HbaEntry> controllers;
  UnderlyingUtil util;
  ASSERT_TRUE(util.GetSystemInfo(info, controllers));
  const std::string version = Format("%d.%d.%d", ZEL_VERSION_MAJOR, ZEL_VERSION_MINOR, ZEL_VERSION_PATCH);

  CSysInfoPage page(info, shell_, kLangEnglish);
  EXPECT_EQ(page.Model().TemplateId(), 133);
  EXPECT_EQ(page.Title(), "System Info");
  EXPECT_TRUE(page.OnInitDialog());
  EXPECT_EQ(page.BackgroundBitmap(), 178);
  ExpectRows(page,
             {{1052, "Zelvane Version:", 1089, version},
              {1042, "Operating System:", 1047, "Microsoft Windows 10 Pro\n x64"},
              {1043, "CPU:", 1048, "Intel(R) Core(TM) i5-9600K CPU @ 3.70GHz"},
              {1044, "Usable RAM (MB):", 1049, "8192"},
              {1045, "Base Board Vendor:", 1050, "Gigabyte Technology Co., Ltd."},
              {1046, "Base Board Model:", 1051, "Z390 UD"},
              {1128, "BIOS Version", 1129, "F10"}},
             "Ariel");
  // Fourteen controls and nothing else; no box shown.
  EXPECT_EQ(page.Model().Controls().size(), 14u);
  EXPECT_TRUE(shell_.Boxes().empty());
}

TEST(SysInfoPage, AnEmptyVersionAndKoreanFont) {
  SystemInformation info;
  info.OsName = "Microsoft Windows 7 Professional \n x86";
  info.CpuName = "CPU";
  info.TotalMemoryMB = "4095";
  ScriptedShell shell;
  CSysInfoPage page(info, shell, kLangKorean);
  ASSERT_TRUE(page.OnInitDialog());
  ExpectRows(page,
             {{1052, "Zelvane Version:", 1089, ""},
              {1042, "Operating System:", 1047, "Microsoft Windows 7 Professional \n x86"},
              {1043, "CPU:", 1048, "CPU"},
              {1044, "Usable RAM (MB):", 1049, "4095"},
              {1045, "Base Board Vendor:", 1050, ""},
              {1046, "Base Board Model:", 1051, ""},
              {1128, "BIOS Version", 1129, ""}},
             "Gulim");
  EXPECT_TRUE(shell.Boxes().empty());
}

TEST(SysInfoPage, ShowsWhatTheInformationHoldsWhenInitialisedAndLaysOutOnResize) {
  SystemInformation info;
  info.BiosVersion = "F1";
  ScriptedShell shell;
  CSysInfoPage page(info, shell, kLangRussian);
  info.BiosVersion = "F2";  // changed before the page is shown
  ASSERT_TRUE(page.OnInitDialog());
  EXPECT_EQ(page.Model().Find(1129)->text, "F2");
  EXPECT_EQ(page.Model().Find(1128)->font.face, "Ariel");
  info.BiosVersion = "F3";  // the page never refreshes itself
  EXPECT_EQ(page.Model().Find(1129)->text, "F2");

  const int narrow = page.Model().Find(1129)->rect.width;
  page.OnSize(900, 500);
  const int wide = page.Model().Find(1129)->rect.width;
  EXPECT_GT(wide, narrow);
  EXPECT_EQ(page.Model().Find(1128)->rect.y - page.Model().Find(1052)->rect.y, 6 * 24);
  EXPECT_EQ(page.Model().Find(1129)->text, "F2");
}

}  // namespace
}  // namespace zel
