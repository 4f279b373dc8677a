// The start-up host of the windowed program: messages before the window
// are message boxes (and lines on standard error), and the hand-over builds
// the main window and runs it. Without a display the program says so and
// ends; with a screenshot folder it renders the window offscreen, saves the
// pictures there and ends.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"

class QApplication;

namespace zel::qt {

class QtStartupHost final : public StartupHost {
 public:
  // `reasons`: why the machine offers no usable drive, one line per disk.
  // `screenshotDir`: empty for the window, else where the pictures go.
  explicit QtStartupHost(std::function<std::vector<std::string>()> reasons = {},
                         std::string screenshotDir = std::string());
  ~QtStartupHost() override;

  void ShowMessage(const std::string& text) override;
  void CloseWindow() override {}
  void ExplainNoUsableDrive() override;
  int RunMainWindow(CQuarn_SSDZelvDlg& dialog) override;

 private:
  // The application object, made on first need when a display is there.
  QApplication* Application();

  std::function<std::vector<std::string>()> reasons_;
  std::string screenshotDir_;
  std::unique_ptr<QApplication> app_;
};

// Whether a window can be shown: a display, or a platform chosen in the
// environment (QT_QPA_PLATFORM, such as offscreen).
bool HasDisplay();
// Whether the application's windows are seen by someone (not offscreen).
bool OnScreen();

}  // namespace zel::qt
