// The main window: borderless, of our own design, moved by dragging its
// body. It renders the main dialog's model (page-button column, drive-button
// row with Previous, Next, Refresh and Home, the title label, Close) and the
// property sheet, which shows the current page without tabs. Clicks go to
// the dialog (or its current page); a timer takes the workers' posted
// notifications from the window's queue.
#pragma once

#include <QStackedWidget>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/qt/model_widget.h"
#include "app/startup.h"

namespace zel {
class CPopupDialog;
}

namespace zel::qt {

class MainWindow final : public QWidget {
 public:
  static constexpr int kWidth = 820, kHeight = 640;

  // The dialog must have built its window (InitMainWindow) and outlive this.
  explicit MainWindow(CQuarn_SSDZelvDlg& dialog, QWidget* parent = nullptr);

  // Shows the dialog's and the pages' current state.
  void Sync();
  // Takes the waiting notifications and shows what they changed.
  void Pump();
  // A click as the user's would be: a main-window or a page control.
  void Click(int id);
  void ClickPage(int id);

  ModelWidget& MainControls() { return *controls_; }
  ModelWidget& PageWidget(int page) { return *pages_.at(page); }
  QStackedWidget& Sheet() { return *sheet_; }
  // Runs the details popup modally (the Drive Info page's buttons).
  void RunPopup(CPopupDialog& popup);

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;
  void closeEvent(QCloseEvent*) override;

 private:
  void AfterCommand();

  CQuarn_SSDZelvDlg& dialog_;
  ModelWidget* controls_ = nullptr;
  QStackedWidget* sheet_ = nullptr;
  std::vector<ModelWidget*> pages_;
  QTimer pump_;
  QPoint dragFrom_;
  bool dragging_ = false;
};

// The details popup's window: borderless, centred on its parent, with the
// header, the list and a close button.
class PopupWindow final : public QWidget {
 public:
  explicit PopupWindow(CPopupDialog& popup, QWidget* parent = nullptr);
  ModelWidget& Controls() { return *controls_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseMoveEvent(QMouseEvent*) override;
  void keyPressEvent(QKeyEvent*) override;

 private:
  CPopupDialog& popup_;
  ModelWidget* controls_ = nullptr;
  QPoint dragFrom_;
};

}  // namespace zel::qt
