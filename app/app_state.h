// The application state: every process-wide value of a program in one object
// the program owns (main creates it and hands it down). Lower layers never
// see it whole; they take the values they need as parameters (the report
// takes the build number, the system information and the controller list).
//
// Threads: everything here is written only on the user-interface thread,
// except RunningOperationCode, which a worker resets when its operation ends
// and the user-interface thread reads before every action.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "device/drive_record.h"
#include "inventory/system_info.h"

namespace zel {

// The options of the desktop program's command line.
struct CommandLineOptions {
  bool dvt = false;           // "-dvt" / "-DVT": the verification mode
  bool smuid = false;         // "-smuid" / "-SMUID": the vendor identifier read
  uint32_t diskNumber = 1;    // the option's disk number
};

// What RunningOperationCode holds while a long operation runs.
enum RunningOperation : int32_t {
  kNoOperation = 0,
  kQuickSelfTest = 1,
  kFullSelfTest = 2,
  kServiceStop = 3,
  kSecurityErase = 4,
  kCommandSummaryRead = 5,
  kSsdOptimization = 6,
};

struct AppState {
  AppState() = default;
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  // The drives of the last discovery, in discovery order, and the number
  // that discovery appended.
  zel::PhysicalDriveTable PhysicalDriveTable;
  int32_t PhysicalDriveCount = 0;
  // Position in PhysicalDriveTable of the drive the user selected.
  int32_t SelectedDrive = 0;
  // 1 after the first successful discovery; a refresh clears it.
  int32_t DrivesLoaded = 0;

  // The system inventory and the storage controller list.
  SystemInformation SystemInfo;
  std::vector<HbaEntry> HbaList;

  // The program's build number, from its file's last-write time (empty when
  // the file could not be read).
  std::string BuildNumber;

  // The user's interface language as a locale identifier, and its tag
  // ("zh-TW", "zh-CN" or "en-US").
  uint32_t UiLanguageId = 1033;
  std::string UiLanguageTag = "en-US";
  // Texts 242, 243, 244, 245, 246 and 333: the names of the pages in order.
  std::array<std::string, 6> PageNames;

  // The options found on the command line, and the arguments as the program
  // received them without the ones that chose the machine (the Utilities
  // page looks for "-a" in them).
  CommandLineOptions Options;
  std::vector<std::string> CommandLine;
  // The product key's "LogLevel" as read at start (0 when absent). It does
  // not choose the level: the log stays at level 1, because a stored 0 would
  // also silence the verification mode, whose result files are its only
  // output.
  uint32_t StoredLogLevel = 0;
  // The single-instance mutex ("SSD Zelvane"), open for the whole run;
  // nothing examines it.
  std::intptr_t InstanceMutex = 0;

  // The logical drive the Drive Info page shows (an index into the selected
  // drive's logical drives); 0 whenever the selected drive changes.
  uint32_t DriveInfoPartition = 0;

  // 0 when idle, else the RunningOperation that runs.
  std::atomic<int32_t> RunningOperationCode{kNoOperation};
};

}  // namespace zel
