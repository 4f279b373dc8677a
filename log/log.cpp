#include "log/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>

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
  std::string path;
  bool firstCallPending = true;
  bool timeBaseTaken = false;
  uint32_t timeBase = 0;
};

// One lock for all writers: two threads logging at once never lose a line.
std::mutex g_writersMutex;
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

void WriteLine(LogWriter which, std::string_view tag, std::string_view text) {
  std::lock_guard<std::mutex> lock(g_writersMutex);
  WriterState& w = State(which);
  uint32_t now = platform::Sys().GetTickCount();
  if (w.firstCallPending && !w.timeBaseTaken) {
    w.timeBase = now;
    w.timeBaseTaken = true;
  }

  if (w.firstCallPending) {
    std::string base = ProgramPathWithoutExtension();
    if (which == LogWriter::DvtReport) {
      w.path = base + "_DVT_fail_" + std::string(tag) + ".log";
    } else {
      w.path = base + w.suffix;
    }
    std::error_code ec;
    std::filesystem::remove(w.path, ec);  // no old file, or a locked one: ignored
    w.firstCallPending = false;
    if (which == LogWriter::Trace) g_traceStarted.store(true);
  }

  // Nothing is formatted for a writer that is switched off.
  if (g_level.load() == 0) return;

  std::string line;
  if (w.timed) {
    int32_t elapsed = static_cast<int32_t>(now - w.timeBase);
    line = Format("%08d ", elapsed);
  }
  line.append(text);
  line += '\n';
  line = TruncateUtf16(line, kMaxLineUnits);

  // Text mode of the platform: each "\n" goes out as CR LF, each character in
  // the code page of the current locale; a character that does not convert
  // ends the line's output there.
  std::string encoded = ToLocaleMultibyte(line);
  std::string bytes;
  bytes.reserve(encoded.size() + 8);
  for (char c : encoded) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  FILE* f = std::fopen(w.path.c_str(), "ab");
  if (!f) return;  // folder not writable: the line is dropped
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  std::fclose(f);
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
  return State(writer).path;
}

void ResetLogForNewRun() {
  std::lock_guard<std::mutex> lock(g_writersMutex);
  for (WriterState& w : g_writers) {
    w.path.clear();
    w.firstCallPending = true;
    w.timeBaseTaken = false;
    w.timeBase = 0;
  }
  g_traceStarted.store(false);
  g_level.store(0);
}

}  // namespace zel
