// The window's own look: colours of the frame and panels, the fonts the
// pages name mapped to fonts this machine has, and the painted controls
// (buttons, bars, the remaining-life gauge, the state icons) that stand in
// for bitmaps. Everything is drawn with QPainter; no image files.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QEnterEvent>
#include <QFont>
#include <QWidget>

#include "app/dialog/dialog_model.h"

namespace zel::qt {

// Frame and panel colours.
inline const QColor kFrameTop{0x13, 0x22, 0x38};
inline const QColor kFrameBottom{0x0b, 0x14, 0x23};
inline const QColor kPanel{0x18, 0x2a, 0x42};
inline const QColor kPanelEdge{0x2a, 0x42, 0x62};
inline const QColor kAccent{0x01, 0xa8, 0xb1};
inline const QColor kButton{0x22, 0x38, 0x56};
inline const QColor kButtonHover{0x2c, 0x48, 0x6c};
inline const QColor kButtonPushed{0x0d, 0x5c, 0x73};

QColor ToQColor(COLORREF colour);
// Maps the faces the pages name ("Ariel", "Gulim") to fonts of this machine;
// call once after the application object exists.
void InstallFontSubstitutes();
// The font of a control: its face and size, or the window's default.
QFont FontOf(const ControlFont& font, int defaultPoints = 9);

// What a painted button shows besides its text.
enum class Glyph { None, Previous, Next, Refresh, Home, Close };

// A push button drawn in the window's style: rounded, an accent edge when
// pressed-in (page and drive buttons stay pressed), a glyph or text.
class SkinButton final : public QAbstractButton {
 public:
  explicit SkinButton(QWidget* parent = nullptr);
  void SetGlyph(Glyph glyph) { glyph_ = glyph; update(); }
  void SetPushedIn(bool pushed);
  void SetTextColour(const QColor& colour);
  // Page buttons: text on the left, an accent bar when pushed in.
  void SetPageStyle(bool page) { pageStyle_ = page; update(); }
  // Drive buttons: a light face, so their dark and red texts read well.
  void SetLightStyle(bool light) { lightStyle_ = light; update(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override { hover_ = true; update(); }
  void leaveEvent(QEvent*) override { hover_ = false; update(); }

 private:
  Glyph glyph_ = Glyph::None;
  bool pushedIn_ = false;
  bool hover_ = false;
  bool pageStyle_ = false;
  bool lightStyle_ = false;
  QColor textColour_{Qt::white};
};

// A flat bar with a range and a position (the usage bar, the self-test bars).
class SkinBar final : public QWidget {
 public:
  explicit SkinBar(QWidget* parent = nullptr) : QWidget(parent) {}
  void SetValue(int low, int high, int position);
  QSize sizeHint() const override { return {200, 14}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int low_ = 0, high_ = 100, position_ = 0;
};

// The remaining-life gauge: a ring filled to the value, the percentage inside.
class SkinGauge final : public QWidget {
 public:
  explicit SkinGauge(QWidget* parent = nullptr) : QWidget(parent) {}
  void SetValue(int low, int high, int position);
  QSize sizeHint() const override { return {96, 96}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  int low_ = 0, high_ = 100, position_ = 0;
};

// An icon with a few states: the health icon (good, warning), the
// thermometer (cool, normal, hot) and the bytes-written icon.
class SkinStateIcon final : public QWidget {
 public:
  enum class Shape { Health, Thermometer, BytesWritten, Dot };
  SkinStateIcon(Shape shape, QWidget* parent = nullptr) : QWidget(parent), shape_(shape) {}
  void SetState(int state);
  QSize sizeHint() const override { return {40, 40}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Shape shape_;
  int state_ = 0;
};

// A painted ornament: a thin line across its rectangle.
class SkinRule final : public QWidget {
 public:
  explicit SkinRule(QWidget* parent = nullptr) : QWidget(parent) {}

 protected:
  void paintEvent(QPaintEvent*) override;
};

}  // namespace zel::qt
