// The dialog model: controls by id in their template's order, their default
// state, references that stay valid, and colours in the platform's order.
#include <gtest/gtest.h>

#include "app/dialog/dialog_model.h"

namespace zel {
namespace {

TEST(DialogModel, ControlsByIdInTheOrderTheyWereAdded) {
  DialogModel model(133);
  EXPECT_EQ(model.TemplateId(), 133);
  EXPECT_EQ(model.Find(1052), nullptr);

  Control& first = model.Item(1052);
  first.text = "Zelvane Version:";
  // Many more controls, then the first again: the same control, still valid.
  for (int id = 2000; id < 2200; ++id) model.Item(id);
  EXPECT_EQ(&model.Item(1052), &first);
  EXPECT_EQ(first.text, "Zelvane Version:");
  ASSERT_EQ(model.Controls().size(), 201u);
  EXPECT_EQ(model.Controls().front().id, 1052);
  EXPECT_EQ(model.Controls().back().id, 2199);
  ASSERT_NE(model.Find(2100), nullptr);
  EXPECT_EQ(model.Find(2100)->id, 2100);
}

TEST(DialogModel, ANewControlIsShownEnabledAndUnpressed) {
  DialogModel model;
  const Control& c = model.Item(1127);
  EXPECT_TRUE(c.enabled);
  EXPECT_TRUE(c.visible);
  EXPECT_FALSE(c.checked);
  EXPECT_FALSE(c.pushed);
  EXPECT_EQ(c.text, "");
  EXPECT_EQ(c.rangeLow, 0);
  EXPECT_EQ(c.rangeHigh, 100);
  EXPECT_EQ(c.position, 0);
  EXPECT_FALSE(c.colour.has_value());
  EXPECT_EQ(c.font, ControlFont{});

  model.Enable(1127, false);
  model.Show(1127, false);
  model.SetText(1127, "50");
  EXPECT_FALSE(c.enabled);
  EXPECT_FALSE(c.visible);
  EXPECT_EQ(c.text, "50");
}

TEST(DialogModel, ColoursAreRedInTheLowByte) {
  struct Case {
    uint8_t r, g, b;
    COLORREF value;
  } cases[] = {
      {128, 128, 128, 0x808080},
      {1, 182, 251, 0xFBB601},
      {128, 128, 0, 0x008080},  // the buttons' transparent colour
      {255, 0, 0, 0x0000FF},
      {0, 0, 255, 0xFF0000},
  };
  for (const Case& c : cases) EXPECT_EQ(RGB(c.r, c.g, c.b), c.value);
}

}  // namespace
}  // namespace zel
