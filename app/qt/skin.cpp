#include "app/qt/skin.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace zel::qt {

QColor ToQColor(COLORREF colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void InstallFontSubstitutes() {
  // The pages name the faces of the original platform; this machine's
  // fonts with Latin, Cyrillic and CJK glyphs stand in for them.
  const QStringList faces{"DejaVu Sans", "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Sans Serif"};
  QFont::insertSubstitutions("Ariel", faces);
  QFont::insertSubstitutions("Gulim", QStringList{"WenQuanYi Micro Hei", "DejaVu Sans", "Sans Serif"});
}

QFont FontOf(const ControlFont& font, int defaultPoints) {
  QFont f(font.face.empty() ? QString("Ariel") : QString::fromStdString(font.face));
  f.setPointSizeF(font.size > 0 ? font.size : defaultPoints);
  f.setBold(font.bold);
  return f;
}

// --- SkinButton -------------------------------------------------------------------

SkinButton::SkinButton(QWidget* parent) : QAbstractButton(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setCursor(Qt::PointingHandCursor);
}

void SkinButton::SetPushedIn(bool pushed) {
  if (pushedIn_ == pushed) return;
  pushedIn_ = pushed;
  update();
}

void SkinButton::SetTextColour(const QColor& colour) {
  if (textColour_ == colour) return;
  textColour_ = colour;
  update();
}

QSize SkinButton::sizeHint() const {
  QFontMetrics fm(font());
  const QSize size = fm.size(0, text());
  return {std::max(size.width() + 24, 60), std::max(size.height() + 12, 28)};
}

namespace {

void DrawGlyph(QPainter& p, Glyph glyph, const QRectF& r, const QColor& colour) {
  p.save();
  QPen pen(colour, std::max<qreal>(2.0, r.width() / 12.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setPen(pen);
  const QPointF c = r.center();
  const qreal s = std::min(r.width(), r.height()) * 0.28;
  switch (glyph) {
    case Glyph::Previous:
    case Glyph::Next: {
      const qreal d = glyph == Glyph::Next ? 1 : -1;
      QPainterPath path;
      path.moveTo(c.x() - d * s * 0.5, c.y() - s);
      path.lineTo(c.x() + d * s * 0.6, c.y());
      path.lineTo(c.x() - d * s * 0.5, c.y() + s);
      p.drawPath(path);
      break;
    }
    case Glyph::Refresh: {
      QRectF ring(c.x() - s, c.y() - s, 2 * s, 2 * s);
      p.drawArc(ring, 60 * 16, 280 * 16);
      // The arrow head at the arc's open end.
      QPointF tip(c.x() + s * 0.5, c.y() - s * 0.87);
      p.drawLine(tip, tip + QPointF(-s * 0.55, -s * 0.25));
      p.drawLine(tip, tip + QPointF(-s * 0.15, s * 0.55));
      break;
    }
    case Glyph::Home: {
      QPainterPath roof;
      roof.moveTo(c.x() - s * 1.1, c.y() - s * 0.05);
      roof.lineTo(c.x(), c.y() - s * 1.05);
      roof.lineTo(c.x() + s * 1.1, c.y() - s * 0.05);
      p.drawPath(roof);
      p.drawRect(QRectF(c.x() - s * 0.75, c.y() - s * 0.1, s * 1.5, s * 1.1));
      break;
    }
    case Glyph::Close:
      p.drawLine(QPointF(c.x() - s * 0.8, c.y() - s * 0.8), QPointF(c.x() + s * 0.8, c.y() + s * 0.8));
      p.drawLine(QPointF(c.x() + s * 0.8, c.y() - s * 0.8), QPointF(c.x() - s * 0.8, c.y() + s * 0.8));
      break;
    case Glyph::None:
      break;
  }
  p.restore();
}

}  // namespace

void SkinButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
  const bool down = isDown() || pushedIn_;
  QColor fill = down ? kButtonPushed : hover_ ? kButtonHover : kButton;
  if (glyph_ == Glyph::Close) fill = hover_ ? QColor(0xc0, 0x39, 0x4b) : QColor(0, 0, 0, 0);
  if (lightStyle_) fill = down ? QColor(0xff, 0xff, 0xff) : hover_ ? QColor(0xe8, 0xee, 0xf5) : QColor(0xc9, 0xd4, 0xe1);
  if (!isEnabled()) fill = fill.darker(130);
  p.setPen(QPen(down ? kAccent : kPanelEdge, 1));
  p.setBrush(fill);
  if (glyph_ == Glyph::Close) p.setPen(Qt::NoPen);
  p.drawRoundedRect(r, 6, 6);
  if (pageStyle_ && pushedIn_) {
    p.setPen(Qt::NoPen);
    p.setBrush(kAccent);
    p.drawRoundedRect(QRectF(r.left() + 1, r.top() + 8, 4, r.height() - 16), 2, 2);
  }
  if (hasFocus()) {
    p.setPen(QPen(QColor(255, 255, 255, 150), 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(3, 3, -3, -3), 4, 4);
  }
  QColor ink = isEnabled() ? textColour_ : QColor(0x6a, 0x7a, 0x90);
  if (glyph_ != Glyph::None) {
    DrawGlyph(p, glyph_, r, ink);
    return;
  }
  p.setPen(ink);
  p.setFont(font());
  int flags = Qt::TextWordWrap | Qt::AlignVCenter | (pageStyle_ ? Qt::AlignLeft : Qt::AlignHCenter);
  p.drawText(r.adjusted(pageStyle_ ? 16 : 6, 2, -6, -2), flags, text());
}

// --- SkinBar ------------------------------------------------------------------------

void SkinBar::SetValue(int low, int high, int position) {
  if (low == low_ && high == high_ && position == position_) return;
  low_ = low;
  high_ = high;
  position_ = position;
  update();
}

void SkinBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const qreal radius = r.height() / 2;
  p.setPen(QPen(kPanelEdge, 1));
  p.setBrush(QColor(0x0e, 0x1a, 0x2b));
  p.drawRoundedRect(r, radius, radius);
  const int span = std::max(1, high_ - low_);
  const qreal share = std::clamp(static_cast<qreal>(position_ - low_) / span, 0.0, 1.0);
  if (share <= 0) return;
  QRectF fill(r.left(), r.top(), std::max(r.height(), r.width() * share), r.height());
  QLinearGradient g(fill.topLeft(), fill.topRight());
  g.setColorAt(0, QColor(0x01, 0x86, 0xb5));
  g.setColorAt(1, kAccent);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(fill, radius, radius);
}

// --- SkinGauge ------------------------------------------------------------------------

void SkinGauge::SetValue(int low, int high, int position) {
  if (low == low_ && high == high_ && position == position_) return;
  low_ = low;
  high_ = high;
  position_ = position;
  update();
}

void SkinGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal side = std::min(width(), height());
  const qreal thick = side / 9;
  QRectF ring((width() - side) / 2 + thick, (height() - side) / 2 + thick, side - 2 * thick,
              side - 2 * thick);
  const int span = std::max(1, high_ - low_);
  const qreal share = std::clamp(static_cast<qreal>(position_ - low_) / span, 0.0, 1.0);
  // Green while plenty is left, amber below a third, red below a tenth.
  QColor colour = share > 0.33 ? QColor(109, 189, 12) : share > 0.10 ? QColor(0xf2, 0xb1, 0x34)
                                                                      : QColor(255, 81, 110);
  p.setPen(QPen(QColor(0x0e, 0x1a, 0x2b), thick, Qt::SolidLine, Qt::FlatCap));
  p.drawArc(ring, 0, 360 * 16);
  p.setPen(QPen(colour, thick, Qt::SolidLine, Qt::RoundCap));
  if (share > 0) p.drawArc(ring, 90 * 16, -static_cast<int>(share * 360 * 16));
  QFont f = font();
  f.setPointSizeF(std::max<qreal>(8, side / 7.5));
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(rect(), Qt::AlignCenter, QString("%1%").arg(position_));
}

// --- SkinStateIcon -----------------------------------------------------------------------

void SkinStateIcon::SetState(int state) {
  if (state == state_) return;
  state_ = state;
  update();
}

void SkinStateIcon::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
  const QPointF c = r.center();
  switch (shape_) {
    case Shape::Health: {
      // A shield: green with a check mark when good, amber with "!" otherwise.
      const bool good = state_ == 0;
      const qreal w = std::min(r.width(), r.height() * 0.85), h = w / 0.85;
      QRectF s(c.x() - w / 2, c.y() - h / 2, w, h);
      QPainterPath shield;
      shield.moveTo(s.center().x(), s.top());
      shield.lineTo(s.right(), s.top() + h * 0.18);
      shield.cubicTo(s.right(), s.top() + h * 0.65, s.center().x() + w * 0.2, s.bottom() - h * 0.08,
                     s.center().x(), s.bottom());
      shield.cubicTo(s.center().x() - w * 0.2, s.bottom() - h * 0.08, s.left(), s.top() + h * 0.65,
                     s.left(), s.top() + h * 0.18);
      shield.closeSubpath();
      QLinearGradient g(s.topLeft(), s.bottomLeft());
      g.setColorAt(0, good ? QColor(0x7c, 0xd6, 0x3a) : QColor(0xf7, 0xc0, 0x4a));
      g.setColorAt(1, good ? QColor(0x3f, 0x9a, 0x10) : QColor(0xd9, 0x80, 0x1c));
      p.setPen(Qt::NoPen);
      p.setBrush(g);
      p.drawPath(shield);
      p.setPen(QPen(Qt::white, w / 9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      if (good) {
        QPainterPath tick;
        tick.moveTo(s.left() + w * 0.28, s.top() + h * 0.5);
        tick.lineTo(s.left() + w * 0.45, s.top() + h * 0.66);
        tick.lineTo(s.left() + w * 0.74, s.top() + h * 0.34);
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
      } else {
        p.drawLine(QPointF(c.x(), s.top() + h * 0.25), QPointF(c.x(), s.top() + h * 0.58));
        p.drawPoint(QPointF(c.x(), s.top() + h * 0.74));
      }
      break;
    }
    case Shape::Thermometer: {
      // Cool blue, normal green, hot red; the column rises with the band.
      const QColor colours[3] = {QColor(86, 209, 255), QColor(158, 226, 116), QColor(255, 81, 110)};
      const QColor colour = colours[std::clamp(state_, 0, 2)];
      const qreal bulb = std::min(r.width(), r.height()) * 0.42;
      const qreal stem = bulb * 0.45;
      const QPointF bulbCentre(c.x(), r.bottom() - bulb / 2);
      QRectF tube(c.x() - stem / 2, r.top(), stem, r.height() - bulb * 0.8);
      p.setPen(QPen(QColor(0xd0, 0xd8, 0xe4), 1.5));
      p.setBrush(QColor(0x0e, 0x1a, 0x2b));
      p.drawRoundedRect(tube, stem / 2, stem / 2);
      p.drawEllipse(bulbCentre, bulb / 2, bulb / 2);
      const qreal level = (std::clamp(state_, 0, 2) + 1) / 3.0;
      QRectF column(tube.left() + 2, tube.bottom() - (tube.height() - 4) * level, stem - 4,
                    (tube.height() - 4) * level + bulb * 0.3);
      p.setPen(Qt::NoPen);
      p.setBrush(colour);
      p.drawRoundedRect(column, (stem - 4) / 2, (stem - 4) / 2);
      p.drawEllipse(bulbCentre, bulb / 2 - 2.5, bulb / 2 - 2.5);
      break;
    }
    case Shape::BytesWritten: {
      // A drive with an arrow into it.
      const qreal w = std::min(r.width(), r.height());
      QRectF body(c.x() - w * 0.45, c.y() + w * 0.02, w * 0.9, w * 0.4);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(109, 189, 12));
      p.drawRoundedRect(body, 4, 4);
      p.setBrush(QColor(0x0e, 0x1a, 0x2b));
      p.drawEllipse(QPointF(body.right() - w * 0.14, body.center().y()), w * 0.05, w * 0.05);
      p.setPen(QPen(QColor(109, 189, 12), w / 12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.drawLine(QPointF(c.x(), r.top() + w * 0.05), QPointF(c.x(), c.y() - w * 0.12));
      p.drawLine(QPointF(c.x() - w * 0.14, c.y() - w * 0.26), QPointF(c.x(), c.y() - w * 0.1));
      p.drawLine(QPointF(c.x() + w * 0.14, c.y() - w * 0.26), QPointF(c.x(), c.y() - w * 0.1));
      break;
    }
    case Shape::Dot:
      break;
  }
}

void SkinRule::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, width(), 0);
  g.setColorAt(0, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 200));
  g.setColorAt(1, QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 0));
  p.fillRect(rect(), g);
}

}  // namespace zel::qt
