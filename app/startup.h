// The start of the desktop program SSDZelvane, up to its main window: the
// application object with the single-instance rule, and the part of the main
// dialog that runs before the window is built (language, locale, mutex, the
// command line, build number, system inventory, the first drive discovery,
// the vendor identifier read of -smuid and the verification mode of -dvt).
//
// The module knows no user-interface toolkit: what it needs of a window (a
// message box, closing, showing the main window once the start-up hands
// over) it asks of a StartupHost. ConsoleStartupHost is the host of a program
// without a window; the windowed program supplies its own. Everything the
// start-up learns goes into the program's AppState (app/app_state.h); the
// inventory, discovery and controller list run through the start-up sequence
// every program shares (app/startup_sequence.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "platform/system.h"

namespace zel {

// Named objects of the program.
inline constexpr const char* kMainWindowTitle = "QUARN SSD Zelvane";
inline constexpr const char* kInstanceMutexName = "SSD Zelvane";
// The product key under HKEY_LOCAL_MACHINE.
inline constexpr const char* kProductKey = "SOFTWARE\\Quarn\\SSDZelvane";
// The key of the framework's per-user settings.
inline constexpr const char* kFrameworkSettingsKey = "QUARN SSD Zelvane";

// Exit statuses of the program. The verification mode gives 0 (passed),
// 1 (a check failed) or 2 (it could not run); every other start that ends
// before the window (a second instance, a failed inventory, no usable drive)
// gives 2.
inline constexpr int kExitCouldNotRun = 2;
// A normal start went through to the main window, but the program has none.
inline constexpr int kExitNoMainWindow = 3;

// --- Language -----------------------------------------------------------------

// A language identifier made a locale identifier the way the platform's
// ConvertDefaultLocale does it: the user and system defaults and the neutral
// identifier become English (United States), a primary language without a
// sublanguage gets its default sublanguage; any other value is kept.
uint32_t ConvertDefaultLocale(uint32_t localeId);
// "zh-TW" for 1028, "zh-CN" for 2052, "en-US" for every other identifier.
std::string UiLanguageTagFor(uint32_t languageId);
// The font of the window's title and page labels: "Gulim" for Korean
// (1042), else "Ariel".
const char* TitleFontFor(uint32_t languageId);

// --- Command line -------------------------------------------------------------

// Scans the arguments (args[0] is the program) for the first recognised
// option; the scan stops there. The disk number is the next argument read as
// an unsigned decimal number; characters after its digits leave the number
// read so far and log "DVT Disk number error: Disk-%s!!!" (for -dvt) or
// "Disk number error: Disk-%s!!!" (for -smuid) with the whole argument; a
// missing argument keeps 1.
CommandLineOptions ScanCommandLine(const std::vector<std::string>& args);

// --- Build number ---------------------------------------------------------------

// "%c%X%02X%02X%02X": the character of code year - 1936 ('Q' for 2017),
// the month in one hexadecimal digit, the day, hour and minute in two.
// Empty for a year whose character does not exist (before 1937).
std::string FormatBuildNumber(const platform::SystemTime& utc);
// The build number of the running program, from the last-write time of its
// own file (the path GetModuleFileName gives), with its trace lines; empty
// when the file cannot be examined.
std::string ReadBuildNumber();

// --- The window side ----------------------------------------------------------------

class CQuarn_SSDZelvDlg;

class StartupHost {
 public:
  virtual ~StartupHost() = default;
  // A message box with the text and an OK button; returns when it is closed.
  virtual void ShowMessage(const std::string& text) = 0;
  // The dialog asks its window to close.
  virtual void CloseWindow() = 0;
  // After the "no usable drive" message: tell what the machine says of each
  // of its disks. A window has nowhere to show it; the console host prints
  // the reasons its program gave it (app/launch knows them).
  virtual void ExplainNoUsableDrive() {}
  // Builds and shows the main window once the start-up has handed over;
  // returns the program's exit status when the window ends.
  virtual int RunMainWindow(CQuarn_SSDZelvDlg& dialog) = 0;
};

// The host of a program without a window: message boxes go to standard
// error as "SSDZelvane: <text>", and a normal start ends at the hand-over
// with one line on standard error and kExitNoMainWindow.
class ConsoleStartupHost final : public StartupHost {
 public:
  // `reasons` lists why the machine offers no usable drive, one line per
  // disk; empty (or absent) on a simulated machine.
  explicit ConsoleStartupHost(std::function<std::vector<std::string>()> reasons = {})
      : reasons_(std::move(reasons)) {}
  void ShowMessage(const std::string& text) override;
  void CloseWindow() override {}
  void ExplainNoUsableDrive() override;
  int RunMainWindow(CQuarn_SSDZelvDlg& dialog) override;

 private:
  std::function<std::vector<std::string>()> reasons_;
};

// --- The main dialog's start ------------------------------------------------------

class CQuarn_SSDZelvDlg {
 public:
  // Loads the page names and chooses the language (logged as
  // "UserDefaultUILanguage:0x%04X") into `state`, which the dialog works on
  // for its whole life.
  CQuarn_SSDZelvDlg(AppState& state, StartupHost& host);

  AppState& State() { return state_; }

  // The dialog's initialisation up to the window: locale, mutex, "LogLevel",
  // command line, compile-time line, build number, system inventory, the
  // first discovery, -smuid and -dvt. True when the window is to be built
  // next (a normal start); false when the program ends, with its status in
  // ExitStatus().
  bool InitBeforeWindow(const std::vector<std::string>& args);

  // Empties the drive table and runs the discovery into it; 1 when it found
  // a usable drive. With none it shows string 360, asks the window to close
  // and returns 0.
  int32_t UpdateDrivesInfo();

  bool QuitPosted() const { return quitPosted_; }
  int ExitStatus() const { return exitStatus_; }

 private:
  void PostQuitMessage(int status);

  AppState& state_;
  StartupHost& host_;
  bool quitPosted_ = false;
  int exitStatus_ = 0;
};

// --- The application object ----------------------------------------------------------

class CQuarn_SSDZelvApp {
 public:
  // The whole start: log on, the single-instance test by the main window's
  // title (a second instance ends at once, silently and without touching
  // the trace log of the one that runs), the dialog's start, then the main
  // window. Returns the program's exit status.
  int InitInstance(AppState& state, const std::vector<std::string>& args, StartupHost& host);
};

}  // namespace zel
