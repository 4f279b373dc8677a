// One renderer for every dialog model: a widget per control, placed at the
// control's rectangle, showing its text, enabled and visible state, checked
// and pressed-in state, range and position, colour and font. Clicks go to a
// handler with the control's id; an edit box writes what the user typed back
// into the model and a check box its state. Sync() shows the model's
// current state after the page changed it.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <vector>

#include "app/dialog/dialog_model.h"
#include "app/qt/skin.h"

namespace zel::qt {

// The kind of a control whose page did not say: the dialog templates'
// controls by template and id; any other control is a label.
ControlKind KindOf(const DialogModel& model, const Control& control);

class ModelWidget final : public QWidget {
 public:
  using ClickHandler = std::function<void(int id)>;
  // `model` must outlive the widget. `glyphs` gives painted buttons their glyph.
  ModelWidget(DialogModel& model, ClickHandler onClick, QWidget* parent = nullptr,
              std::map<int, Glyph> glyphs = {});

  // Shows the model's state; widgets for controls added since are made.
  void Sync();
  // The widget of control `id`, or null.
  QWidget* WidgetOf(int id) const;
  DialogModel& Model() { return model_; }

 private:
  struct Item {
    int id;
    ControlKind kind;
    QWidget* widget;
  };
  void Make(const Control& control);
  void Apply(const Control& control, Item& item);

  DialogModel& model_;
  ClickHandler onClick_;
  std::map<int, Glyph> glyphs_;
  std::vector<Item> items_;
  std::map<int, size_t> index_;
};

}  // namespace zel::qt
