// The dialog model: a window's controls by their control ids, each with the
// state a page sets on it (text, enabled, visible, checked, pushed, range,
// position, colour, font, place). Pages work on the model only; the window
// toolkit renders it, and tests read it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <deque>
#include <vector>

namespace zel {

// A colour in the platform's order: red in the low byte, then green, then blue.
using COLORREF = uint32_t;
constexpr COLORREF RGB(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<COLORREF>(red) | (static_cast<COLORREF>(green) << 8) |
         (static_cast<COLORREF>(blue) << 16);
}

struct ControlFont {
  std::string face;  // empty: the dialog's own font
  int size = 0;      // points; 0: the dialog's own size
  bool bold = false;
  bool operator==(const ControlFont&) const = default;
};

struct ControlRect {
  int x = 0, y = 0, width = 0, height = 0;  // client pixels; 0 size: the control's own
  bool operator==(const ControlRect&) const = default;
};

// What a control is, so the window toolkit knows which widget draws it.
enum class ControlKind {
  Unknown,      // not said: the dialog template's table decides (ControlKindOf)
  Label,        // static text
  Button,       // push button (page, drive and command buttons)
  CheckBox,
  Edit,         // one-line edit box; the user's text is written back to `text`
  ProgressBar,  // range and position
  Gauge,        // a round gauge: range and position
  StateIcon,    // an icon with a few states; `position` is the state
  Decoration,   // a painted ornament with no content
  List,         // a report list with `columns` and `rows`
};

// A column of a report list: its header text and width in pixels.
struct ListColumn {
  std::string header;
  int width = 0;
  bool operator==(const ListColumn&) const = default;
};

struct Control {
  int id = 0;
  std::string text;
  bool enabled = true;
  bool visible = true;
  bool checked = false;  // check boxes and radio-like buttons
  bool pushed = false;   // buttons that stay pressed (page and drive buttons)
  int32_t rangeLow = 0;  // progress bars and sliders
  int32_t rangeHigh = 100;
  int32_t position = 0;
  std::optional<COLORREF> colour;  // text colour; none: the default
  ControlFont font;
  ControlRect rect;
  ControlKind kind = ControlKind::Unknown;
  std::string accessibleName;  // empty: the text
  std::string toolTip;         // empty: none
  // Report lists only.
  std::vector<ListColumn> columns;
  std::vector<std::vector<std::string>> rows;
};

class DialogModel {
 public:
  explicit DialogModel(int templateId = 0) : templateId_(templateId) {}

  int TemplateId() const { return templateId_; }

  // The control with this id, added (with default state) when the model has
  // none yet, as a dialog template declares its controls.
  Control& Item(int id);
  // The control with this id, or null.
  const Control* Find(int id) const;
  Control* Find(int id);
  // The controls in the order they were added (the template's order).
  const std::deque<Control>& Controls() const { return controls_; }

  // Shorthands for the calls pages make most.
  void SetText(int id, std::string text) { Item(id).text = std::move(text); }
  void Enable(int id, bool enabled) { Item(id).enabled = enabled; }
  void Show(int id, bool visible) { Item(id).visible = visible; }

 private:
  int templateId_;
  std::deque<Control> controls_;  // a deque: references to controls stay valid as more are added
};

}  // namespace zel
