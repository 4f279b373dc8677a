// The string table: the program's texts by their ids, exactly as the program
// spells them, in every language of the program (English until the others
// come), and nothing for an id the table lacks.
#include <gtest/gtest.h>

#include "app/dialog/string_table.h"
#include "app/strings.h"

namespace zel {
namespace {

TEST(StringTable, EnglishTextsByTheirIds) {
  struct Case {
    int id;
    const char* text;
  } cases[] = {
      {242, "Drive Info"},
      {245, "System \nOptimization"},
      {246, "System Info"},
      {247, "There is a process running! Any action is not allowed!"},
      {268, "Diagnotics quick scan is done successsfully!"},
      {273, "Diagnotics full scan fails!"},
      {274, "Zelvane Version:"},
      {277, "Usable RAM (MB):"},
      {280, "SSD Optimization"},
      {282, "This function performs a Trim command on the selected SSD. The run time is several minutes. "
            "It needs a partition to execute."},
      {285, "Advance"},
      {288, "Optimize Option:"},
      {290, "SSD Optimization is running!"},
      {291, "OS Optimization is running!"},
      {292, "Restore OS Optimization items is done."},
      {293, "Apply OS Optimization is done."},
      {313, "Warning"},
      {324, "BIOS Version"},
      {357, "This is not an QUARN product!"},
      {360, "No available SATA disk! Try using a windows AHCI driver for SATA controllers. This window will quit."},
      {363, "Scheduled Trim performs trim function automatically by user specified interval."},
      {364, "Trim is in progress."},
      {366, "New SSD Zelvane version available. Update now?"},
      {367, "Info"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadStringW(kLangEnglish, c.id), c.text) << c.id;
    EXPECT_TRUE(HasString(c.id)) << c.id;
    EXPECT_EQ(LoadStringText(c.id), c.text) << c.id;
  }
}

TEST(StringTable, EveryLanguageFallsBackToEnglish) {
  for (uint16_t language : {kLangTraditionalChinese, kLangJapanese, kLangKorean, kLangRussian,
                            kLangSimplifiedChinese, uint16_t{3076}, uint16_t{0}}) {
    EXPECT_EQ(LoadStringW(language, 246), "System Info") << language;
    EXPECT_EQ(LoadStringW(language, 367), "Info") << language;
  }
}

TEST(StringTable, UnknownIdsGiveNoText) {
  // 263, 264 and 298 are descriptions whose English text the program does
  // not state; 133 belongs to the tray program's own table.
  for (int id : {0, -1, 133, 241, 263, 264, 298, 368, 57344}) {
    EXPECT_EQ(LoadStringW(kLangEnglish, id), "") << id;
    EXPECT_FALSE(HasString(id)) << id;
  }
}

}  // namespace
}  // namespace zel
