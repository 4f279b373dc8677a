#include "log/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "log/log_file.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {

namespace {

// A formatted line holds at most this many UTF-16 characters, the limit of
// the platform formatter the lines were designed around.
constexpr size_t kMaxLineUnits = 1024;
// Names of traced operations and their Enter/Exit lines live in buffers of
// 100 UTF-16 characters.
constexpr size_t kTraceNameUnits = 99;

std::atomic<uint32_t> g_level{0};
// Set once the trace writer's first call of the run is behind it.
std::atomic<bool> g_traceStarted{false};

struct WriterState {
  WriterState(const char* s, bool t) : suffix(s), timed(t) {}
  const char* suffix;  // appended to the program path without its extension
  bool timed;
  logfile::LogFile file;
  bool firstCallPending = true;
  bool timeBaseTaken = false;
  uint32_t timeBase = 0;
};

// One lock for all writers: two threads logging at once never lose a line.
std::mutex g_writersMutex;
TraceLogOptions g_traceOptions;
bool g_traceAnnounced = false;
WriterState g_writers[] = {
    {".log", true},
    {"", false},  // the report writer builds its name from the tag
    {"_fail.log", true},
    {"_pass.log", true},
    {"_dvt.log", true},
};

WriterState& State(LogWriter w) { return g_writers[static_cast<int>(w)]; }

// The program path with the extension of its file name removed. Only a "."
// in the last path component starts an extension, so a dotted folder name
// never cuts the path and a program without extension keeps its whole name.
std::string ProgramPathWithoutExtension() {
  std::string path = platform::Sys().GetModuleFileName();
  size_t slash = path.find_last_of("/\\");
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= nameStart) path.resize(dot);
  return path;
}

// Writing a line leaves the caller's last error as it was: a trace line
// between a failing call and the reading of its error must not change it.
class KeepLastError {
 public:
  KeepLastError() : saved_(platform::GetLastError()) {}
  ~KeepLastError() { platform::SetLastError(saved_); }
  KeepLastError(const KeepLastError&) = delete;
  KeepLastError& operator=(const KeepLastError&) = delete;

 private:
  uint32_t saved_;
};

// Text mode of the platform: each "\n" goes out as CR LF, each character in
// the code page of the current locale; a character that does not convert ends
// the line's output there.
std::string EncodeLine(const std::string& line) {
  std::string encoded = ToLocaleMultibyte(line);
  std::string bytes;
  bytes.reserve(encoded.size() + 8);
  for (char c : encoded) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

void WriteLine(LogWriter which, std::string_view tag, std::string_view text) {
  KeepLastError keep;
  std::lock_guard<std::mutex> lock(g_writersMutex);
  WriterState& w = State(which);
  uint32_t now = platform::Sys().GetTickCount();
  if (w.firstCallPending && !w.timeBaseTaken) {
    w.timeBase = now;
    w.timeBaseTaken = true;
  }

  if (w.firstCallPending) {
    std::string base = ProgramPathWithoutExtension();
    std::string path = which == LogWriter::DvtReport
                           ? base + "_DVT_fail_" + std::string(tag) + ".log"
                           : base + w.suffix;
    // Only the trace log moves to the machine's log folder when the program's
    // folder cannot be written; the verification files are results the user
    // asked for beside the program, and their absence is reported there.
    const bool trace = which == LogWriter::Trace;
    const bool shared = trace && g_traceOptions.sharedByRuns;
    w.file.Begin(std::move(path), shared ? logfile::Sharing::Shared : logfile::Sharing::OwnRun,
                 shared ? g_traceOptions.capBytes : 0, trace);
    w.firstCallPending = false;
    if (which == LogWriter::Trace) g_traceStarted.store(true);
  }

  // Nothing is formatted for a writer that is switched off.
  if (g_level.load() == 0) return;

  std::string timeField;
  if (w.timed) timeField = Format("%08d ", static_cast<int32_t>(now - w.timeBase));
  // The text is cut so that the line, with its line end, holds at most the
  // formatter's limit: a long line still ends, and the next one starts on a
  // line of its own.
  auto formatLine = [&timeField](std::string_view lineText) {
    return TruncateUtf16(timeField + std::string(lineText), kMaxLineUnits - 1) + "\n";
  };

  std::string bytes;
  using Announce = TraceLogOptions::Announce;
  if (which == LogWriter::Trace && g_traceOptions.announcePath != Announce::Never && !g_traceAnnounced &&
      w.file.EnsureOpen() &&
      (g_traceOptions.announcePath == Announce::Always || !w.file.UnwritableFolder().empty())) {
    // The run's first line says where its log is, so a user who finds the
    // log elsewhere than beside the program knows why.
    std::string where = "Trace log: " + w.file.Path();
    if (!w.file.UnwritableFolder().empty())
      where += " (" + w.file.UnwritableFolder() + " cannot be written)";
    bytes = EncodeLine(formatLine(where));
    g_traceAnnounced = true;
  }
  bytes += EncodeLine(formatLine(text));
  // One write per line; a file that cannot be opened drops the line.
  w.file.Append(bytes);
}

}  // namespace

void SetLogLevel(uint32_t level) { g_level.store(level <= 2 ? level : 0); }
uint32_t GetLogLevel() { return g_level.load(); }

void LogTrace(std::string_view text) { WriteLine(LogWriter::Trace, {}, text); }
void LogDvtFail(std::string_view text) { WriteLine(LogWriter::DvtFail, {}, text); }
void LogDvtPass(std::string_view text) { WriteLine(LogWriter::DvtPass, {}, text); }
void LogDvtSummary(std::string_view text) { WriteLine(LogWriter::DvtSummary, {}, text); }
void LogDvtReport(std::string_view tag, std::string_view text) {
  WriteLine(LogWriter::DvtReport, tag, text);
}

// True when a trace line would be dropped: the log is off and the trace
// writer's first call (which removes the previous run's file) is behind us,
// so the callers need not format the line at all.
static bool TraceQuiet() { return g_level.load() == 0 && g_traceStarted.load(); }

void LogTraceF(const char* format, ...) {
  if (TraceQuiet()) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  LogTrace(text);
}

void LogEnter(const char* qualifiedName) {
  if (TraceQuiet()) return;
  std::string name = TruncateUtf16(qualifiedName, kTraceNameUnits);
  LogTrace(TruncateUtf16(Format("Enter %s()", name.c_str()), kTraceNameUnits));
}

void LogExit(const char* qualifiedName) {
  if (TraceQuiet()) return;
  std::string name = TruncateUtf16(qualifiedName, kTraceNameUnits);
  LogTrace(TruncateUtf16(Format("Exit %s()", name.c_str()), kTraceNameUnits));
}

std::string LogFilePath(LogWriter writer) {
  std::lock_guard<std::mutex> lock(g_writersMutex);
  return State(writer).file.Path();
}

void SetTraceLogOptions(const TraceLogOptions& options) {
  std::lock_guard<std::mutex> lock(g_writersMutex);
  g_traceOptions = options;
}

void CloseLogFiles() {
  KeepLastError keep;
  std::lock_guard<std::mutex> lock(g_writersMutex);
  for (WriterState& w : g_writers) w.file.Close();
}

void ResetLogForNewRun() {
  KeepLastError keep;
  std::lock_guard<std::mutex> lock(g_writersMutex);
  g_traceOptions = TraceLogOptions{};
  g_traceAnnounced = false;
  for (WriterState& w : g_writers) {
    w.file.Reset();
    w.firstCallPending = true;
    w.timeBaseTaken = false;
    w.timeBase = 0;
  }
  g_traceStarted.store(false);
  g_level.store(0);
}

}  // namespace zel
