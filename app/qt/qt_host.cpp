#include "app/qt/qt_host.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

#include "app/dialog/scripted_shell.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_shell.h"
#include "app/qt/screenshots.h"
#include "app/qt/skin.h"

namespace zel::qt {

namespace {

int g_argc = 1;
char g_name[] = "SSDZelvane";
char* g_argv[] = {g_name, nullptr};

}  // namespace

bool HasDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

bool OnScreen() {
  const QString platform = QGuiApplication::platformName();
  return platform != "offscreen" && platform != "minimal";
}

QtStartupHost::QtStartupHost(std::function<std::vector<std::string>()> reasons,
                             std::string screenshotDir)
    : reasons_(std::move(reasons)), screenshotDir_(std::move(screenshotDir)) {}

QtStartupHost::~QtStartupHost() = default;

QApplication* QtStartupHost::Application() {
  if (app_) return app_.get();
  if (QApplication::instance()) return qobject_cast<QApplication*>(QApplication::instance());
  if (!HasDisplay()) return nullptr;
  app_ = std::make_unique<QApplication>(g_argc, g_argv);
  QApplication::setApplicationName("SSDZelvane");
  InstallFontSubstitutes();
  return app_.get();
}

void QtStartupHost::ShowMessage(const std::string& text) {
  std::fprintf(stderr, "SSDZelvane: %s\n", text.c_str());
  std::fflush(stderr);
  // Offscreen there is nobody to press OK: the line on standard error is all.
  if (!screenshotDir_.empty() || !Application() || !OnScreen()) return;
  QMessageBox::information(nullptr, QString::fromUtf8(kMainWindowTitle), QString::fromStdString(text));
}

void QtStartupHost::ExplainNoUsableDrive() {
  if (!reasons_) return;
  for (const std::string& line : reasons_()) std::fprintf(stderr, "  %s\n", line.c_str());
  std::fflush(stderr);
}

int QtStartupHost::RunMainWindow(CQuarn_SSDZelvDlg& dialog) {
  QApplication* app = Application();
  if (!app) {
    std::fprintf(stderr,
                 "SSDZelvane: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are "
                 "not set); SSDZelvane --screenshots DIR renders it into pictures instead\n");
    return kExitNoMainWindow;
  }
  if (!screenshotDir_.empty()) {
    // Boxes shown while the pictures are made are recorded, not waited for.
    ScriptedShell shell;
    if (!dialog.InitMainWindow(shell) || dialog.Ended()) return kExitCouldNotRun;
    MainWindow window(dialog);
    std::string error;
    if (!SaveScreenshots(window, dialog, screenshotDir_, &error)) {
      std::fprintf(stderr, "SSDZelvane: %s\n", error.c_str());
      return kExitCouldNotRun;
    }
    std::printf("Screenshots written to %s\n", screenshotDir_.c_str());
    return 0;
  }
  QtShell shell;
  if (!dialog.InitMainWindow(shell) || dialog.Ended()) return kExitCouldNotRun;
  MainWindow window(dialog);
  shell.SetOwner(&window);
  if (QScreen* screen = QApplication::primaryScreen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  app->exec();
  return 0;
}

}  // namespace zel::qt
