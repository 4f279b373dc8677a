// The trace log and the verification-mode result writers: free functions with
// process-wide state. Each writer names its file beside the running program on
// its first call, deletes the previous run's file then, and appends one line
// per call. A run keeps one append-only handle on each file it writes and
// writes each line with one call, so every line is in the kernel before the
// caller's next step and a crash of the program loses none; the handle is
// closed at the end of the run (CloseLogFiles) or when the run is reset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

// 0 switches every writer off; 1 and 2 switch them on; larger values mean 0.
void SetLogLevel(uint32_t level);
uint32_t GetLogLevel();

// "%08d %s\n" lines: milliseconds since the writer's first call, the text.
void LogTrace(std::string_view text);      // <program>.log
void LogDvtFail(std::string_view text);    // <program>_fail.log
void LogDvtPass(std::string_view text);    // <program>_pass.log
void LogDvtSummary(std::string_view text); // <program>_dvt.log
// "%s\n" lines into <program>_DVT_fail_<tag>.log; the tag names the file on
// the first call only.
void LogDvtReport(std::string_view tag, std::string_view text);

// LogTrace of a printf-formatted text.
void LogTraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The trace convention: "Enter %s()" and "Exit %s()" with a qualified name.
void LogEnter(const char* qualifiedName);
void LogExit(const char* qualifiedName);

// The file a writer uses (empty until its first call). For tests and for the
// system report, which collects the trace log.
enum class LogWriter { Trace, DvtReport, DvtFail, DvtPass, DvtSummary };
std::string LogFilePath(LogWriter writer);

// Forgets every writer's first call, closes their files, sets the level to 0
// and the trace log's options to their defaults, as at the start of a run.
// For tests that run several "runs" in one process.
void ResetLogForNewRun();

// How the trace log treats its file; set before the run's first line.
struct TraceLogOptions {
  // False: the desktop program's rule, the run's first call deletes the
  // previous run's file. True: runs share the file (zelvane.log, several
  // may run at once): each run appends under a shared lock, and a run that
  // finds the file at `capBytes` or more while no other run has it open
  // moves it to "<name>.1" (replacing the earlier one) and begins it anew.
  bool sharedByRuns = false;
  uint64_t capBytes = 0;
  // Whether the run's first line says where the log is: "Trace log: <path>",
  // and when the program's folder cannot be written
  // "Trace log: <path> (<folder> cannot be written)". The desktop program
  // says so only when its log is not beside it, so that its log otherwise
  // begins as it always has.
  enum class Announce { Never, WhenElsewhere, Always };
  Announce announcePath = Announce::Never;
};
void SetTraceLogOptions(const TraceLogOptions& options);

// Closes every writer's file, as at the end of a run; a later line opens its
// file again and appends.
void CloseLogFiles();

}  // namespace zel
