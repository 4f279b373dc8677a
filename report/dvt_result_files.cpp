#include "report/dvt_result_files.h"

#include <mutex>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/platform.h"

namespace zel {

namespace {

std::mutex g_mutex;
std::vector<DvtResultFile> g_files;

// The size of a file, or false when it is not there.
bool SizeOf(const std::string& path, uint64_t* size) {
  platform::Files& files = platform::Current().Files();
  platform::HANDLE h = files.CreateFileW(
      path, 0, platform::FILE_SHARE_READ | platform::FILE_SHARE_WRITE | platform::FILE_SHARE_DELETE,
      platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
  if (h == platform::INVALID_HANDLE_VALUE) return false;
  bool known = files.GetFileSizeEx(h, size);
  files.CloseHandle(h);
  return known;
}

// Writes one line through `write` and records whether the writer's file grew
// by it. Each writer appends one line per call (its first call of the run
// removes the previous run's file), so a file that did not grow lost the line.
template <typename Write>
void Checked(LogWriter writer, Write write) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (GetLogLevel() == 0) {
    write();  // the writer removes the old file on its first call, and writes nothing
    return;
  }
  std::string path = LogFilePath(writer);
  uint64_t before = 0;
  if (!path.empty() && !SizeOf(path, &before)) before = 0;
  write();
  path = LogFilePath(writer);
  uint64_t after = 0;
  const bool grew = SizeOf(path, &after) && after > before;
  for (DvtResultFile& f : g_files) {
    if (f.writer == writer) {
      f.complete = f.complete && grew;
      return;
    }
  }
  g_files.push_back({writer, path, grew});
}

}  // namespace

void StartDvtResultFiles() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_files.clear();
}

void DvtReportLine(std::string_view tag, std::string_view text) {
  Checked(LogWriter::DvtReport, [&] { LogDvtReport(tag, text); });
}
void DvtFailLine(std::string_view text) {
  Checked(LogWriter::DvtFail, [&] { LogDvtFail(text); });
}
void DvtPassLine(std::string_view text) {
  Checked(LogWriter::DvtPass, [&] { LogDvtPass(text); });
}
void DvtSummaryLine(std::string_view text) {
  Checked(LogWriter::DvtSummary, [&] { LogDvtSummary(text); });
}

std::vector<DvtResultFile> DvtResultFilesOfRun() {
  std::lock_guard<std::mutex> lock(g_mutex);
  std::vector<DvtResultFile> files = g_files;
  // A line cut short by a full disk leaves a file that does not end with a
  // line end, even when it grew.
  for (DvtResultFile& f : files) {
    if (!f.complete) continue;
    std::string bytes;
    uint32_t error = 0;
    f.complete = platform::ReadWholeFile(platform::Current().Files(), f.path, &bytes, &error) &&
                 !bytes.empty() && bytes.back() == '\n';
  }
  return files;
}

}  // namespace zel
