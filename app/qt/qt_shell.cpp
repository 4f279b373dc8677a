#include "app/qt/qt_shell.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/startup.h"

namespace zel::qt {

int QtShell::MessageBox(const MessageBoxRequest& request) {
  QMessageBox box(request.owned ? owner_.data() : nullptr);
  box.setWindowTitle(QString::fromStdString(request.caption.empty() ? kMainWindowTitle : request.caption));
  box.setText(QString::fromStdString(request.text));
  box.setTextFormat(Qt::PlainText);
  switch (request.buttons) {
    case MessageButtons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageButtons::YesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setIcon(QMessageBox::Question);
      break;
    case MessageButtons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    case QMessageBox::Cancel: return IDCANCEL;
    case QMessageBox::Ok: return IDOK;
    default:
      // Closed without a button: the safe answer.
      return request.buttons == MessageButtons::YesNo ? IDNO
             : request.buttons == MessageButtons::OkCancel ? IDCANCEL : IDOK;
  }
}

QString QtFileFilter(const std::string& filter) {
  QStringList parts;
  for (const auto& [description, patterns] : FileFilterEntries(filter)) {
    QString p = QString::fromStdString(patterns);
    p.replace(';', ' ');
    parts << QString::fromStdString(description) + " (" + p + ")";
  }
  return parts.join(";;");
}

std::optional<std::string> QtShell::FileOpen(const FileOpenRequest& request) {
  QFileDialog dialog(owner_.data());
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  dialog.setNameFilter(QtFileFilter(request.filter));
  if (!request.defaultExtension.empty())
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first().toStdString();
}

}  // namespace zel::qt
