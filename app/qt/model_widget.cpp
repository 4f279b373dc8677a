#include "app/qt/model_widget.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

namespace zel::qt {

namespace {

// The controls of the templates whose pages do not state their kinds.
ControlKind TemplateKind(int templateId, int id) {
  if (templateId == 130) {  // Diagnostics
    switch (id) {
      case 1119: case 1120: return ControlKind::ProgressBar;
      case 1041: case 1072: case 1073: case 1074: case 1131: case 1132: return ControlKind::Button;
      case 1116: return ControlKind::CheckBox;
      case 1112: case 1114: return ControlKind::Edit;
      default: return ControlKind::Label;
    }
  }
  if (templateId == 131) {  // Utilities
    switch (id) {
      case 1041: case 1058: case 1059: case 1060: case 1062: return ControlKind::Button;
      default: return ControlKind::Label;
    }
  }
  return ControlKind::Label;
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

ControlKind KindOf(const DialogModel& model, const Control& control) {
  if (control.kind != ControlKind::Unknown) return control.kind;
  return TemplateKind(model.TemplateId(), control.id);
}

ModelWidget::ModelWidget(DialogModel& model, ClickHandler onClick, QWidget* parent,
                         std::map<int, Glyph> glyphs)
    : QWidget(parent), model_(model), onClick_(std::move(onClick)), glyphs_(std::move(glyphs)) {
  setAttribute(Qt::WA_TranslucentBackground);
  Sync();
}

QWidget* ModelWidget::WidgetOf(int id) const {
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : items_[it->second].widget;
}

void ModelWidget::Make(const Control& control) {
  const ControlKind kind = KindOf(model_, control);
  const int id = control.id;
  QWidget* w = nullptr;
  switch (kind) {
    case ControlKind::Button: {
      auto* b = new SkinButton(this);
      auto g = glyphs_.find(id);
      if (g != glyphs_.end()) b->SetGlyph(g->second);
      QObject::connect(b, &QAbstractButton::clicked, this, [this, id] {
        if (onClick_) onClick_(id);
      });
      w = b;
      break;
    }
    case ControlKind::CheckBox: {
      auto* c = new QCheckBox(this);
      c->setStyleSheet("QCheckBox { color: white; }");
      QObject::connect(c, &QCheckBox::clicked, this, [this, id](bool on) {
        if (Control* m = model_.Find(id)) m->checked = on;
        if (onClick_) onClick_(id);
      });
      w = c;
      break;
    }
    case ControlKind::Edit: {
      auto* e = new QLineEdit(this);
      e->setStyleSheet(
          "QLineEdit { background: #0e1a2b; color: white; border: 1px solid #2a4262;"
          " border-radius: 4px; padding: 2px 4px; }");
      QObject::connect(e, &QLineEdit::textEdited, this, [this, id](const QString& text) {
        if (Control* m = model_.Find(id)) m->text = text.toStdString();
      });
      w = e;
      break;
    }
    case ControlKind::ProgressBar: w = new SkinBar(this); break;
    case ControlKind::Gauge: w = new SkinGauge(this); break;
    case ControlKind::StateIcon: {
      // The Drive Info page's icons; any other state icon is a plain dot.
      SkinStateIcon::Shape shape = id == 1038   ? SkinStateIcon::Shape::Health
                                   : id == 1034 ? SkinStateIcon::Shape::Thermometer
                                   : id == 1028 ? SkinStateIcon::Shape::BytesWritten
                                                : SkinStateIcon::Shape::Dot;
      w = new SkinStateIcon(shape, this);
      break;
    }
    case ControlKind::Decoration: w = new SkinRule(this); break;
    case ControlKind::List: {
      auto* t = new QTableWidget(this);
      t->setEditTriggers(QAbstractItemView::NoEditTriggers);
      t->setSelectionBehavior(QAbstractItemView::SelectRows);
      t->setShowGrid(true);
      t->verticalHeader()->setVisible(false);
      t->setStyleSheet(
          "QTableWidget { background: white; color: black; gridline-color: #d0d6de; }"
          "QHeaderView::section { background: #e8edf3; color: #203040; padding: 3px;"
          " border: 0; border-right: 1px solid #c8d0da; border-bottom: 1px solid #c8d0da; }");
      w = t;
      break;
    }
    case ControlKind::Label:
    case ControlKind::Unknown: {
      auto* l = new QLabel(this);
      l->setTextFormat(Qt::PlainText);
      l->setAttribute(Qt::WA_TranslucentBackground);
      w = l;
      break;
    }
  }
  index_[id] = items_.size();
  items_.push_back({id, kind, w});
}

void ModelWidget::Apply(const Control& c, Item& item) {
  QWidget* w = item.widget;
  const QString text = Q(c.text);
  if (c.rect.width > 0 && c.rect.height > 0) {
    w->setGeometry(c.rect.x, c.rect.y, c.rect.width, c.rect.height);
  } else {
    w->move(c.rect.x, c.rect.y);
    w->resize(w->sizeHint());
  }
  w->setEnabled(c.enabled);
  w->setVisible(c.visible);
  w->setAccessibleName(c.accessibleName.empty() ? text : Q(c.accessibleName));
  w->setToolTip(Q(c.toolTip));
  const QFont font = FontOf(c.font, item.kind == ControlKind::Button ? 10 : 9);
  if (w->font() != font) w->setFont(font);
  switch (item.kind) {
    case ControlKind::Button: {
      auto* b = static_cast<SkinButton*>(w);
      if (b->text() != text) b->setText(text);
      b->SetPushedIn(c.pushed || c.checked);
      b->SetTextColour(c.colour ? ToQColor(*c.colour) : QColor(Qt::white));
      if (c.rect.width == 0) b->resize(b->sizeHint());
      break;
    }
    case ControlKind::CheckBox: {
      auto* b = static_cast<QCheckBox*>(w);
      if (b->text() != text) b->setText(text);
      b->setChecked(c.checked);
      if (c.rect.width == 0) b->resize(b->sizeHint());
      break;
    }
    case ControlKind::Edit: {
      auto* e = static_cast<QLineEdit*>(w);
      if (e->text() != text) e->setText(text);
      break;
    }
    case ControlKind::ProgressBar:
      static_cast<SkinBar*>(w)->SetValue(c.rangeLow, c.rangeHigh, c.position);
      break;
    case ControlKind::Gauge:
      static_cast<SkinGauge*>(w)->SetValue(c.rangeLow, c.rangeHigh, c.position);
      break;
    case ControlKind::StateIcon:
      static_cast<SkinStateIcon*>(w)->SetState(c.position);
      break;
    case ControlKind::Decoration:
      break;
    case ControlKind::List: {
      auto* t = static_cast<QTableWidget*>(w);
      if (t->columnCount() != static_cast<int>(c.columns.size()) ||
          t->rowCount() != static_cast<int>(c.rows.size())) {
        t->clear();
        t->setColumnCount(static_cast<int>(c.columns.size()));
        t->setRowCount(static_cast<int>(c.rows.size()));
        QStringList headers;
        for (const ListColumn& col : c.columns) headers << Q(col.header);
        t->setHorizontalHeaderLabels(headers);
        for (size_t i = 0; i < c.columns.size(); ++i)
          t->setColumnWidth(static_cast<int>(i), c.columns[i].width);
        for (size_t r = 0; r < c.rows.size(); ++r)
          for (size_t k = 0; k < c.rows[r].size() && k < c.columns.size(); ++k)
            t->setItem(static_cast<int>(r), static_cast<int>(k), new QTableWidgetItem(Q(c.rows[r][k])));
        t->horizontalHeader()->setStretchLastSection(true);
      }
      break;
    }
    case ControlKind::Label:
    case ControlKind::Unknown: {
      auto* l = static_cast<QLabel*>(w);
      // A label too low for two lines shows its lines side by side.
      QString shown = text;
      const bool oneLine = c.rect.height > 0 && c.rect.height < 2 * QFontMetrics(font).lineSpacing();
      if (oneLine) shown.replace(QString(" \n"), QString(" ")).replace('\n', ' ');
      if (l->text() != shown) l->setText(shown);
      l->setWordWrap(!oneLine && (c.rect.height > 26 || c.text.find('\n') != std::string::npos));
      l->setAlignment(Qt::AlignLeft | (c.rect.height > 40 ? Qt::AlignTop : Qt::AlignVCenter));
      const QColor colour = c.colour ? ToQColor(*c.colour) : QColor(0xc8, 0xd2, 0xde);
      QPalette pal = l->palette();
      if (pal.color(QPalette::WindowText) != colour) {
        pal.setColor(QPalette::WindowText, colour);
        l->setPalette(pal);
      }
      if (c.rect.width == 0) l->resize(l->sizeHint());
      break;
    }
  }
}

void ModelWidget::Sync() {
  for (const Control& c : model_.Controls())
    if (!index_.count(c.id)) Make(c);
  for (const Control& c : model_.Controls()) Apply(c, items_[index_[c.id]]);
}

}  // namespace zel::qt
