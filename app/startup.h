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
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/app_state.h"
#include "app/dialog/dialog_model.h"
#include "app/dialog/page.h"
#include "platform/system.h"
#include "platform/windows.h"

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
class Page;
class Shell;

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

  // --- The window: navigation, drive selection, notifications -------------------
  // (app/main_dialog.cpp; the window toolkit renders Model() and the pages)

  static constexpr int IDD = 102;
  static constexpr int kPageButtons[6] = {1000, 1001, 1002, 1003, 1004, 1013};
  static constexpr int kDriveButtons[3] = {1005, 1006, 1007};
  static constexpr int kPrevious = 1008, kNext = 1009, kRefresh = 1010, kHome = 1011;
  static constexpr int kClose = 2, kTitle = 1012, kSheet = 600;
  static constexpr int kPageCount = 6;

  ~CQuarn_SSDZelvDlg();

  // The normal start after InitBeforeWindow: logs the entry of the dialog's
  // initialisation, "Check tmp folder done!", sets the window title (from
  // here on the single-instance test and the workers find the window) and
  // builds the window with its pages, which ask the user through `shell`.
  // False when the window could not be made.
  bool InitMainWindow(Shell& shell);

  // The window-building steps, in the order InitMainWindow runs them.
  void InitControlBitmaps();
  void SetWindowRegionAndPosition();
  void InitPropertyPages();
  void SetControlPosition();
  void InitControlInfo();

  // A click on a control of the main window (page, drive, small buttons,
  // Close); false for an id the window does not have.
  bool OnCommand(int id);
  // A click on control `id` of the current page, handed to the page's handler.
  bool OnPageCommand(int id);
  void SelectPage(int page);
  void OnBnClickedDriveButton(int k);  // k = 1, 2, 3
  void OnBnClickedPrevious();
  void OnBnClickedNext();
  void OnBnClickedRefresh();
  void OnBnClickedHome();
  void OnBnClickedClose();  // the Escape key too

  // SSDZELVMSG_PROGRESS, routed by phase, kind and current page.
  void OnProgress(platform::WPARAM wParam, platform::LPARAM lParam);
  // Takes every posted message waiting in the window's queue and handles it.
  void PumpMessages();

  // How the kind of a worker's request block is read while page `page` is
  // current (the Utilities and ATA Command Summary pages bring their own
  // blocks); the Diagnostics page's blocks are known already.
  using KindReader = std::function<int32_t(platform::LPARAM)>;
  void SetKindReader(int page, KindReader reader);
  // Where notifications routed to a page other than the Diagnostics page go
  // (the Utilities and ATA Command Summary pages): page, phase, block, value.
  using ProgressSink = std::function<void(int page, uint8_t phase, platform::LPARAM block, int32_t value)>;
  void SetProgressSink(ProgressSink sink) { progressSink_ = std::move(sink); }

  DialogModel& Model() { return model_; }
  const DialogModel& Model() const { return model_; }
  int CurrentPage() const { return currentPage_; }
  Page* PageAt(int page);
  int32_t FirstVisibleDrive() const { return firstVisibleDrive_; }
  int32_t LastVisibleDrive() const { return lastVisibleDrive_; }
  // Close was accepted: the window ends.
  bool Ended() const { return ended_; }
  platform::HWND Window() const { return window_; }

 private:
  void PostQuitMessage(int status);
  void ShowBusy();
  bool Busy() const;
  void LabelDriveButtons();
  void PressDriveButton(int k);
  void RefreshCurrentPage();

  AppState& state_;
  StartupHost& host_;
  bool quitPosted_ = false;
  int exitStatus_ = 0;

  Shell* shell_ = nullptr;
  DialogModel model_{IDD};
  std::unique_ptr<Page> pages_[kPageCount];
  int currentPage_ = 0;
  int pageCount_ = 0;
  int32_t firstVisibleDrive_ = 0;
  int32_t lastVisibleDrive_ = 0;
  int firstShow_ = 1;
  bool ended_ = false;
  platform::HWND window_ = 0;
  KindReader kindReaders_[kPageCount];
  ProgressSink progressSink_;
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
