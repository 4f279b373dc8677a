// The verification mode: one drive checked against a criteria file without
// any user interaction. The criteria file ("ZelvaneDvt*.txt" in the current
// directory, or a file the caller names) holds a SMART section of attribute
// limits and an IDENTIFY section of expected words; the run writes the drive
// report, the failure list, the summary and, when everything passed, the pass
// marker through the verification writers of report/log.h.
//
// The format of the criteria file, the result files and the exit status are
// described in docs/dvt-criteria.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "device/drive_record.h"

namespace zel {

// Exit status of a run, for scripts.
inline constexpr int kDvtPassed = 0;      // every line checked without error
inline constexpr int kDvtFailed = 1;      // the run completed and did not pass
inline constexpr int kDvtCouldNotRun = 2; // no criteria file, unreadable file, no such disk,
                                          // a result file not written completely

// The counters of one run.
struct DvtCounts {
  uint32_t smartLines = 0;          // SMART lines read
  uint32_t smartPassed = 0;         // SMART lines checked without error
  uint32_t identifyLines = 0;       // IDENTIFY lines read
  uint32_t identifyPassed = 0;      // IDENTIFY lines checked without error
  // Why a run could not take place or complete (status 2), for a message:
  // the criteria file, the drive, memory, or a result file that could not
  // be written completely. Empty otherwise.
  std::string stopReason;
};

// The largest criteria file read: 16 MiB.
inline constexpr uint64_t kMaxDvtCriteriaBytes = 16ull << 20;

// One line of a criteria file that is neither a section marker nor a
// comment, with the sections open where it stands. The text is UTF-8 (the
// file's bytes taken in the current locale's code page), leading blanks
// removed.
struct DvtCriteriaLine {
  std::string text;
  bool smart = false;     // inside the SMART section
  bool identify = false;  // inside the IDENTIFY section
};

// Splits criteria-file content into the lines to check. The content ends at
// its first zero byte; lines end with CR LF only (a lone LF or CR is part of
// the line) and text after the last CR LF is not read; leading spaces are
// removed and empty lines skipped; the four section markers must match the
// whole line; any other line holding "#" is a comment. Lines outside both
// sections are dropped.
std::vector<DvtCriteriaLine> ParseDvtCriteria(std::string_view content);

// The first file matching "ZelvaneDvt*.txt" (letters of either case) in the
// current directory, in name order; empty with `*error` set to the platform
// error code when there is none or the directory cannot be read.
std::string FindDvtCriteriaFile(uint32_t* error);

// The whole run on disk `diskNumber` of `drives`: searches the criteria file
// in the current directory, checks the first record whose PhysicalDriveIndex
// is the disk number, writes the result files and returns the exit status.
// The caller ends the program afterwards.
int RunDvtMode(uint32_t diskNumber, const PhysicalDriveTable& drives,
               DvtCounts* counts = nullptr);

// The same run with a criteria file named by the caller instead of searched.
int RunDvtModeWithCriteria(uint32_t diskNumber, const PhysicalDriveTable& drives,
                           const std::string& criteriaPath, DvtCounts* counts = nullptr);

// The total-written value a formula gives for a raw value: the formula is a
// chain of "*N" and "/N" steps applied in order from the left, each result
// truncated toward zero, and the end result divided by 1024. False when the
// formula is malformed. Exposed for the documentation's examples and tests.
bool EvaluateDvtFormula(std::string_view formula, uint64_t rawValue, uint64_t* result);

}  // namespace zel
