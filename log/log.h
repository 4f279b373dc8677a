// The trace log and the verification-mode result writers: free functions with
// process-wide state. Each writer names its file beside the running program on
// its first call, deletes the previous run's file then, and appends one line
// per call (opened, written, flushed and closed each time, so the log survives
// a crash up to its last line).
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

// Forgets every writer's first call and sets the level to 0, as at the start
// of a run. For tests that run several "runs" in one process.
void ResetLogForNewRun();

}  // namespace zel
