#include "app/startup.h"

#include <clocale>
#include <cstdio>

#include "app/startup_sequence.h"
#include "app/startup_trim_state.h"
#include "app/strings.h"
#include "device/ata_command.h"
#include "log/log.h"
#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"
#include "report/dvt_mode.h"

namespace zel {

using namespace zel::platform;

namespace {

// The identifiers of the page names, in the order of the pages.
constexpr int kPageNameIds[6] = {242, 243, 244, 245, 246, 333};
constexpr int kNoUsableDriveText = 360;
// The buffer of the vendor identifier read of -smuid.
constexpr size_t kVendorUidBufferSize = 8192;

// The product key's "LogLevel", read with full access as the program has
// always opened its key; 0 when the key or the value is not there.
uint32_t ReadStoredLogLevel() {
  Registry& reg = Current().Reg();
  HKEY key = 0;
  if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key) != 0)
    return 0;
  uint8_t data[4] = {};
  uint32_t type = 0, size = sizeof data;
  uint32_t level = 0;
  if (reg.RegQueryValueExW(key, "LogLevel", &type, data, &size) == 0 && type == REG_DWORD &&
      size == sizeof data)
    level = GetLE32(data);
  reg.RegCloseKey(key);
  return level;
}

}  // namespace

// --- Language -------------------------------------------------------------------

uint32_t ConvertDefaultLocale(uint32_t localeId) {
  constexpr uint32_t kNeutral = 0x0000, kUserDefault = 0x0400, kSystemDefault = 0x0800;
  constexpr uint32_t kEnglishUnitedStates = 0x0409;
  if (localeId == kNeutral || localeId == kUserDefault || localeId == kSystemDefault)
    return kEnglishUnitedStates;
  uint32_t primary = localeId & 0x3FF;
  uint32_t sublanguage = (localeId >> 10) & 0x3F;
  if (localeId <= 0xFFFF && sublanguage == 0) {
    // Chinese without a script is Simplified Chinese (China); every other
    // language takes its first sublanguage.
    if (primary == 0x04) return 0x0804;
    return primary | (1u << 10);
  }
  return localeId;
}

std::string UiLanguageTagFor(uint32_t languageId) {
  if (languageId == 1028) return "zh-TW";
  if (languageId == 2052) return "zh-CN";
  return "en-US";
}

const char* TitleFontFor(uint32_t languageId) { return languageId == 1042 ? "Gulim" : "Ariel"; }

// --- Command line -----------------------------------------------------------------

CommandLineOptions ScanCommandLine(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool dvt = a == "-dvt" || a == "-DVT";
    bool smuid = a == "-smuid" || a == "-SMUID";
    if (!dvt && !smuid) continue;
    options.dvt = dvt;
    options.smuid = smuid;
    if (i + 1 < args.size()) {
      const std::string& number = args[i + 1];
      UnsignedNumber n = ParseUnsigned(std::string_view(number), 10);
      options.diskNumber = n.value;
      if (n.stray)
        LogTraceF(dvt ? "DVT Disk number error: Disk-%s!!!" : "Disk number error: Disk-%s!!!",
                  number.c_str());
    }
    break;
  }
  return options;
}

// --- Build number -------------------------------------------------------------------

std::string FormatBuildNumber(const SystemTime& utc) {
  int code = static_cast<int>(utc.wYear) - 1936;
  // A zero character would end the text, and UTF-16 has no character for a
  // lone surrogate code.
  if (code < 1 || (code >= 0xD800 && code <= 0xDFFF)) return std::string();
  std::u16string first(1, static_cast<char16_t>(code));
  return Utf16ToUtf8(first) + Format("%X%02X%02X%02X", static_cast<unsigned>(utc.wMonth),
                                     static_cast<unsigned>(utc.wDay),
                                     static_cast<unsigned>(utc.wHour),
                                     static_cast<unsigned>(utc.wMinute));
}

std::string ReadBuildNumber() {
  // The running program's own file, wherever it was started from: the
  // current directory holds some other program's file, or none.
  std::string path = Sys().GetModuleFileName();
  Files& files = Current().Files();
  HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                             : files.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL);
  if (file == INVALID_HANDLE_VALUE) {
    // A folder does not open as a file (ERROR_ACCESS_DENIED).
    LogTraceF("Open SSDZelvane.exe fail:%d!",
              static_cast<int>(path.empty() ? ERROR_FILE_NOT_FOUND : GetLastError()));
    return std::string();
  }
  FILETIME written;
  bool timed = files.GetFileTime(file, nullptr, nullptr, &written);
  uint32_t timeError = GetLastError();
  files.CloseHandle(file);
  if (!timed) {
    LogTraceF("GetFileTime() fail:%d!", static_cast<int>(timeError));
    return std::string();
  }
  int64_t ms = UnixMsFromFileTime(written);
  SystemTime utc = ToSystemTime(ms);
  std::string number = FormatBuildNumber(utc);
  if (number.empty()) {
    LogTraceF("GetFileTime() fail:%d!", static_cast<int>(ERROR_INVALID_PARAMETER));
    return std::string();
  }
  LogTraceF("Build number:%s, Creation Time(UTC):%d %d %d %d %d!", number.c_str(), utc.wYear,
            utc.wMonth, utc.wDay, utc.wHour, utc.wMinute);
  return number;
}

// --- The console host -------------------------------------------------------------------

void ConsoleStartupHost::ShowMessage(const std::string& text) {
  std::fprintf(stderr, "SSDZelvane: %s\n", text.c_str());
  std::fflush(stderr);
}

void ConsoleStartupHost::ExplainNoUsableDrive() {
  if (!reasons_) return;
  for (const std::string& line : reasons_()) std::fprintf(stderr, "  %s\n", line.c_str());
  std::fflush(stderr);
}

int ConsoleStartupHost::RunMainWindow(CQuarn_SSDZelvDlg& dialog) {
  int count = dialog.State().PhysicalDriveCount;
  std::fprintf(stderr,
               "SSDZelvane: start-up finished with %d usable drive%s, but this build has no main "
               "window (SSDZelvane -dvt N verifies disk N)\n",
               count, count == 1 ? "" : "s");
  std::fflush(stderr);
  return kExitNoMainWindow;
}

// --- The main dialog's start ----------------------------------------------------------------

CQuarn_SSDZelvDlg::CQuarn_SSDZelvDlg(AppState& state, StartupHost& host)
    : state_(state), host_(host) {
  AppState& values = state_;
  for (size_t i = 0; i < values.PageNames.size(); ++i)
    values.PageNames[i] = LoadStringText(kPageNameIds[i]);

  uint32_t language = ConvertDefaultLocale(Sys().GetUserDefaultUILanguage());
  LogTraceF("UserDefaultUILanguage:0x%04X", language);
  values.UiLanguageId = language;
  values.UiLanguageTag = UiLanguageTagFor(language);
}

void CQuarn_SSDZelvDlg::PostQuitMessage(int status) {
  if (quitPosted_) return;  // the first quit message ends the program
  quitPosted_ = true;
  exitStatus_ = status;
}

bool CQuarn_SSDZelvDlg::InitBeforeWindow(const std::vector<std::string>& args) {
  AppState& values = state_;

  // From here on 8-bit texts (the log file, decoded drive strings) use the
  // user's code page.
  std::setlocale(LC_ALL, "");

  values.InstanceMutex = Current().Procs().CreateMutexW(kInstanceMutexName);

  values.StoredLogLevel = ReadStoredLogLevel();

  values.CommandLine = args;
  values.Options = ScanCommandLine(args);

  LogTraceF("This build was compiled at %s, %s.", __DATE__, __TIME__);

  values.BuildNumber = ReadBuildNumber();

  // The system inventory also fills the program's own version text. When it
  // fails the program ends without a message: the trace log holds why. The
  // first discovery goes through the dialog's own UpdateDrivesInfo, which
  // shows the message when no drive is usable.
  StartupSteps steps;
  steps.stopWhenInventoryFails = true;
  steps.discover = [this](AppState&) { return UpdateDrivesInfo() != 0; };
  if (RunStartupSequence(values, steps) != StartupOutcome::Ready) {
    PostQuitMessage(kExitCouldNotRun);
    return false;
  }

  if (values.Options.smuid) {
    // The identifier block goes into a zeroed buffer nothing else reads;
    // neither result is examined.
    ATACommand ata;
    ata.SendVendorUidAccess(values.Options.diskNumber);
    std::vector<uint8_t> buffer(kVendorUidBufferSize);
    ata.ReadVendorUid(values.Options.diskNumber, buffer.data());
  }

  if (values.Options.dvt) {
    PostQuitMessage(RunDvtMode(values.Options.diskNumber, values.PhysicalDriveTable));
    return false;
  }

  // The start-up checks, before the window is built.
  CleanUpLeftoverTrimState(values);
  return true;
}

int32_t CQuarn_SSDZelvDlg::UpdateDrivesInfo() {
  LogEnter("CQuarn_SSDZelvDlg::UpdateDrivesInfo");
  if (DiscoverDrives(state_) > 0) {
    LogExit("CQuarn_SSDZelvDlg::UpdateDrivesInfo");
    return 1;
  }
  host_.ShowMessage(LoadStringText(kNoUsableDriveText));
  host_.ExplainNoUsableDrive();
  host_.CloseWindow();
  return 0;
}

// --- The application object -----------------------------------------------------------------

int CQuarn_SSDZelvApp::InitInstance(AppState& state, const std::vector<std::string>& args,
                                     StartupHost& host) {
  // The desktop program's run owns its trace log (the previous run's goes at
  // the first line); a first line says where the log is when it is not
  // beside the program.
  TraceLogOptions log;
  log.announcePath = TraceLogOptions::Announce::WhenElsewhere;
  SetTraceLogOptions(log);
  SetLogLevel(1);
  // A second instance ends here, before it writes any line: its first line
  // would empty the trace log of the instance that runs.
  if (Current().Windows().FindWindowW(kMainWindowTitle) != 0) return kExitCouldNotRun;

  // The common controls and the framework's settings key (kFrameworkSettingsKey)
  // belong to the window toolkit, which sets them up when it builds the window.
  CQuarn_SSDZelvDlg dialog(state, host);
  int status = dialog.InitBeforeWindow(args) ? host.RunMainWindow(dialog) : dialog.ExitStatus();
  CloseLogFiles();
  return status;
}

}  // namespace zel
