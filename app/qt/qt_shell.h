// The Shell of the window: message boxes with QMessageBox and the file-open
// dialog with QFileDialog, owned by the main window when one is given.
#pragma once

#include <QPointer>
#include <QWidget>

#include "app/dialog/shell.h"

namespace zel::qt {

class QtShell final : public Shell {
 public:
  void SetOwner(QWidget* owner) { owner_ = owner; }
  int MessageBox(const MessageBoxRequest& request) override;
  std::optional<std::string> FileOpen(const FileOpenRequest& request) override;

 private:
  QPointer<QWidget> owner_;
};

// The filter of a file-open request as QFileDialog takes it:
// "Log File(*.log) (*.log);;All Files (*.*) (*.*)".
QString QtFileFilter(const std::string& filter);

}  // namespace zel::qt
