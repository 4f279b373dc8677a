#include "app/qt/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWindow>
#include <QMouseEvent>
#include <cmath>

#include "app/dialog/page.h"
#include "app/pages/drive_info_page.h"
#include "app/pages/popup_dialog.h"

namespace zel::qt {

namespace {

// The product mark: a rounded hexagon with a smaller one inside.
void PaintMark(QPainter& p, QPointF centre, qreal radius) {
  auto hexagon = [&](qreal r) {
    QPainterPath path;
    for (int i = 0; i < 6; ++i) {
      const qreal a = (60.0 * i - 90.0) * 3.14159265358979 / 180.0;
      QPointF pt(centre.x() + r * std::cos(a), centre.y() + r * std::sin(a));
      if (i == 0) path.moveTo(pt);
      else path.lineTo(pt);
    }
    path.closeSubpath();
    return path;
  };
  QLinearGradient g(centre - QPointF(radius, radius), centre + QPointF(radius, radius));
  g.setColorAt(0, QColor(0x2f, 0xd3, 0xc6));
  g.setColorAt(1, QColor(0x01, 0x86, 0xb5));
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawPath(hexagon(radius));
  p.setBrush(kFrameTop);
  p.drawPath(hexagon(radius * 0.55));
  p.setBrush(QColor(0x2f, 0xd3, 0xc6));
  p.drawPath(hexagon(radius * 0.28));
}

bool IsNavigationKey(int key) {
  switch (key) {
    case Qt::Key_PageUp: case Qt::Key_PageDown: case Qt::Key_End: case Qt::Key_Home:
    case Qt::Key_Left: case Qt::Key_Right: case Qt::Key_Up: case Qt::Key_Down:
      return true;
    default:
      return false;
  }
}

}  // namespace

MainWindow::MainWindow(CQuarn_SSDZelvDlg& dialog, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), dialog_(dialog) {
  setWindowTitle(QString::fromUtf8(kMainWindowTitle));
  setAccessibleName(QString::fromUtf8(kMainWindowTitle));
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_DeleteOnClose, false);

  using D = CQuarn_SSDZelvDlg;
  controls_ = new ModelWidget(
      dialog_.Model(), [this](int id) { Click(id); }, this,
      {{D::kPrevious, Glyph::Previous}, {D::kNext, Glyph::Next}, {D::kRefresh, Glyph::Refresh},
       {D::kHome, Glyph::Home}, {D::kClose, Glyph::Close}});
  controls_->setGeometry(0, 0, kWidth, kHeight);
  for (int id : D::kPageButtons)
    if (auto* b = dynamic_cast<SkinButton*>(controls_->WidgetOf(id))) b->SetPageStyle(true);
  for (int id : D::kDriveButtons)
    if (auto* b = dynamic_cast<SkinButton*>(controls_->WidgetOf(id))) b->SetLightStyle(true);

  const Control* sheetControl = dialog_.Model().Find(D::kSheet);
  sheet_ = new QStackedWidget(this);
  sheet_->setAccessibleName(QString::fromStdString(sheetControl ? sheetControl->text : ""));
  sheet_->setGeometry(228, 200, 575, 420);
  if (auto* placeholder = controls_->WidgetOf(D::kSheet)) placeholder->hide();
  for (int i = 0; i < D::kPageCount; ++i) {
    Page* page = dialog_.PageAt(i);
    std::map<int, Glyph> glyphs;
    if (page->Model().TemplateId() == CDriveInfoPage::IDD)
      glyphs = {{CDriveInfoPage::kPreviousPartition, Glyph::Previous},
                {CDriveInfoPage::kNextPartition, Glyph::Next}};
    auto* w = new ModelWidget(page->Model(), [this](int id) { ClickPage(id); }, sheet_, glyphs);
    w->setAccessibleName(QString::fromStdString(page->Title()));
    sheet_->addWidget(w);
    pages_.push_back(w);
    if (auto* info = dynamic_cast<CDriveInfoPage*>(page))
      info->SetPopupRunner([this](CPopupDialog& popup) { RunPopup(popup); });
  }
  // The tab order: the page column, the drive row, the small buttons, Close,
  // then the page's own controls.
  QWidget* previous = nullptr;
  auto chain = [&](QWidget* w) {
    if (!w) return;
    if (previous) setTabOrder(previous, w);
    previous = w;
  };
  for (int id : D::kPageButtons) chain(controls_->WidgetOf(id));
  for (int id : D::kDriveButtons) chain(controls_->WidgetOf(id));
  for (int id : {D::kPrevious, D::kNext, D::kRefresh, D::kHome, D::kClose}) chain(controls_->WidgetOf(id));

  connect(&pump_, &QTimer::timeout, this, [this] { Pump(); });
  pump_.start(25);
  Sync();
}

void MainWindow::Sync() {
  controls_->Sync();
  // The sheet is drawn by the stacked pages, not by its placeholder control.
  if (QWidget* placeholder = controls_->WidgetOf(CQuarn_SSDZelvDlg::kSheet)) placeholder->hide();
  const int current = dialog_.CurrentPage();
  if (current >= 0 && current < static_cast<int>(pages_.size())) {
    pages_[current]->Sync();
    if (sheet_->currentIndex() != current) sheet_->setCurrentIndex(current);
  }
}

void MainWindow::Pump() {
  dialog_.PumpMessages();
  Sync();
  if (dialog_.Ended()) close();
}

void MainWindow::AfterCommand() {
  Sync();
  if (dialog_.Ended()) close();
}

void MainWindow::Click(int id) {
  dialog_.OnCommand(id);
  AfterCommand();
}

void MainWindow::ClickPage(int id) {
  dialog_.OnPageCommand(id);
  AfterCommand();
}

void MainWindow::RunPopup(CPopupDialog& popup) {
  PopupWindow window(popup, this);
  window.setWindowModality(Qt::ApplicationModal);
  window.show();
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (popup.Ended() || !window.isVisible()) loop.quit();
  });
  check.start(20);
  loop.exec();
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, kFrameTop);
  g.setColorAt(1, kFrameBottom);
  p.fillRect(rect(), g);
  // The header band with the product's mark and name.
  QLinearGradient band(0, 0, width(), 0);
  band.setColorAt(0, QColor(0x0d, 0x3b, 0x55));
  band.setColorAt(1, QColor(0x13, 0x22, 0x38));
  p.fillRect(QRect(0, 0, width(), 96), band);
  p.fillRect(QRect(0, 96, width(), 2), QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 160));
  PaintMark(p, QPointF(52, 48), 26);
  QFont name("Ariel");
  name.setPointSizeF(20);
  name.setBold(true);
  p.setFont(name);
  p.setPen(Qt::white);
  p.drawText(QRect(92, 18, 500, 34), Qt::AlignLeft | Qt::AlignVCenter, "SSD Zelvane");
  QFont sub("Ariel");
  sub.setPointSizeF(9.5);
  p.setFont(sub);
  p.setPen(QColor(0x9f, 0xb4, 0xc8));
  p.drawText(QRect(94, 52, 500, 22), Qt::AlignLeft | Qt::AlignVCenter, "QUARN solid-state drive toolbox");
  // The sheet's panel.
  p.setPen(QPen(kPanelEdge, 1));
  p.setBrush(kPanel);
  p.drawRoundedRect(QRectF(224.5, 196.5, 582, 428), 10, 10);
  // The page column's panel.
  p.setBrush(QColor(0x10, 0x1e, 0x31));
  p.drawRoundedRect(QRectF(12.5, 112.5, 206, 512), 10, 10);
}

void MainWindow::mousePressEvent(QMouseEvent* e) {
  // A press anywhere on the body moves the window, as on a caption.
  if (e->button() != Qt::LeftButton) return;
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  dragging_ = true;
  dragFrom_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
}

void MainWindow::mouseMoveEvent(QMouseEvent* e) {
  if (dragging_ && (e->buttons() & Qt::LeftButton)) move(e->globalPosition().toPoint() - dragFrom_);
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void MainWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    Click(CQuarn_SSDZelvDlg::kClose);
    return;
  }
  if (IsNavigationKey(e->key())) {
    e->accept();  // swallowed, as the window and its sheet do
    return;
  }
  QWidget::keyPressEvent(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
  // The window manager's close goes through Close's rules.
  if (!dialog_.Ended()) {
    dialog_.OnCommand(CQuarn_SSDZelvDlg::kClose);
    Sync();
    if (!dialog_.Ended()) {
      e->ignore();
      return;
    }
  }
  pump_.stop();
  e->accept();
}

// --- The popup ---------------------------------------------------------------------

PopupWindow::PopupWindow(CPopupDialog& popup, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint), popup_(popup) {
  setFixedSize(CPopupDialog::kWidth, CPopupDialog::kHeight);
  const Control* header = popup.Model().Find(CPopupDialog::kHeader);
  setWindowTitle(QString::fromStdString(header ? header->text.substr(0, header->text.find('\n')) : ""));
  controls_ = new ModelWidget(
      popup.Model(),
      [this](int id) {
        if (id == CPopupDialog::kClose) {
          popup_.OnBnClickedClose();
          close();
        }
      },
      this, {{CPopupDialog::kClose, Glyph::Close}});
  controls_->setGeometry(0, 0, width(), height());
  if (parent) {
    const QRect pr = parent->frameGeometry();
    move(pr.center() - rect().center());
  }
}

void PopupWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.fillRect(rect(), QColor(0xf4, 0xf6, 0xf9));
  QLinearGradient band(0, 0, width(), 0);
  band.setColorAt(0, QColor(0x0d, 0x3b, 0x55));
  band.setColorAt(1, QColor(0x13, 0x22, 0x38));
  p.fillRect(QRect(0, 0, width(), 34), band);
  p.setPen(kPanelEdge);
  p.setBrush(Qt::NoBrush);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  QFont f("Ariel");
  f.setPointSizeF(10);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(15, 0, width() - 80, 34), Qt::AlignVCenter | Qt::AlignLeft,
             QString::fromStdString(popup_.Caption()));
}

void PopupWindow::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  dragFrom_ = e->globalPosition().toPoint() - frameGeometry().topLeft();
}

void PopupWindow::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) move(e->globalPosition().toPoint() - dragFrom_);
}

void PopupWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Escape) {
    popup_.OnBnClickedClose();
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

}  // namespace zel::qt
