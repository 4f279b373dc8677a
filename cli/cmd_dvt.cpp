// zelvane dvt N [--criteria FILE]: the verification mode of the desktop
// program on disk N, with its result files, and its summary printed.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>

#include "cli/cli.h"
#include "cli/output.h"
#include "log/log.h"
#include "platform/platform.h"
#include "report/dvt_mode.h"
#include "report/dvt_result_files.h"

namespace zel::cli {

namespace {

const char* ResultName(int status) {
  switch (status) {
    case kDvtPassed: return "passed";
    case kDvtFailed: return "failed";
    default: return "could not run";
  }
}

// The result files this run wrote whole, by what they hold: a file the run
// could not write completely, or that is not there, is not listed.
nlohmann::json ResultFiles() {
  nlohmann::json files = nlohmann::json::object();
  const std::pair<const char*, LogWriter> writers[] = {
      {"report", LogWriter::DvtReport}, {"failures", LogWriter::DvtFail},
      {"summary", LogWriter::DvtSummary}, {"pass", LogWriter::DvtPass},
  };
  const std::vector<DvtResultFile> written = DvtResultFilesOfRun();
  const std::string trace = LogFilePath(LogWriter::Trace);
  if (!trace.empty() &&
      platform::Current().Files().GetFileAttributesW(trace) != platform::INVALID_FILE_ATTRIBUTES)
    files["trace"] = trace;
  for (const auto& [name, writer] : writers)
    for (const DvtResultFile& f : written)
      if (f.writer == writer && f.complete) files[name] = f.path;
  return files;
}

}  // namespace

int RunDvt(Context& ctx) {
  std::string diskText, criteria;
  bool criteriaGiven = false;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& a = ctx.args[i];
    if (a == "--criteria") {
      if (i + 1 >= ctx.args.size()) {
        Error(ctx, "--criteria needs a criteria file");
        return kExitCannotRun;
      }
      criteria = ctx.args[++i];
      criteriaGiven = true;
    } else if (a.rfind("--criteria=", 0) == 0) {
      criteria = a.substr(11);
      criteriaGiven = true;
    } else if (diskText.empty() && (a.empty() || a[0] != '-' || a.size() == 1)) {
      diskText = a;
    } else {
      Error(ctx, "dvt: unexpected argument \"" + a + "\" (usage: dvt N [--criteria FILE])");
      return kExitCannotRun;
    }
  }
  if (diskText.empty()) {
    Error(ctx, "dvt: which disk? (usage: dvt N [--criteria FILE])");
    return kExitCannotRun;
  }
  int disk = 0;
  if (!ParseDiskNumber(ctx, diskText, &disk)) return kExitCannotRun;
  if (criteriaGiven && criteria.empty()) {
    Error(ctx, "--criteria needs a criteria file");
    return kExitCannotRun;
  }

  // The drive table, as the desktop program's start builds it.
  PhysicalDriveTable drives;
  if (!LoadDriveTable(ctx, &drives)) return kExitCannotRun;

  // The criteria file is searched here rather than inside the run, so that
  // a missing file is told on standard error and never mixed into the
  // JSON document on standard output.
  uint32_t searchError = 0;
  if (!criteriaGiven) criteria = FindDvtCriteriaFile(&searchError);

  DvtCounts counts;
  int status = RunDvtModeWithCriteria(static_cast<uint32_t>(disk), drives, criteria, &counts);

  std::string reason;
  if (status == kDvtCouldNotRun) {
    reason = counts.stopReason;
    if (criteria.empty())
      reason = "no criteria file ZelvaneDvt*.txt in the current directory (error " +
               std::to_string(searchError) + ")";
    else if (reason.empty())
      reason = "the verification stopped early (the trace log says why)";
  }

  if (ctx.json) {
    nlohmann::json doc = {
        {"disk", disk},
        {"criteria", criteria},
        {"result", ResultName(status)},
        {"status", status},
        {"smart", {{"read", counts.smartLines}, {"passed", counts.smartPassed}}},
        {"identify", {{"read", counts.identifyLines}, {"passed", counts.identifyPassed}}},
        {"files", ResultFiles()},
    };
    if (!reason.empty()) doc["reason"] = reason;
    // Names need not be UTF-8: invalid bytes are written as replacement
    // characters, as every other command does.
    std::fprintf(ctx.out, "%s\n",
                 doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    // Standard error says why too, so a script that reads only the status
    // and the error stream is not left guessing.
    if (status == kDvtCouldNotRun) Error(ctx, "dvt: " + reason);
    return status;
  }

  if (status == kDvtCouldNotRun) {
    Error(ctx, "dvt: " + reason);
    return status;
  }
  std::fprintf(ctx.out, "Disk %d against %s: %s\n", disk, criteria.c_str(), ResultName(status));
  std::fprintf(ctx.out, "  SMART lines:    %u read, %u checked without error\n", counts.smartLines,
               counts.smartPassed);
  std::fprintf(ctx.out, "  IDENTIFY lines: %u read, %u checked without error\n",
               counts.identifyLines, counts.identifyPassed);
  nlohmann::json files = ResultFiles();
  for (const char* name : {"summary", "report", "failures", "pass"})
    if (files.contains(name))
      std::fprintf(ctx.out, "  %-9s %s\n", (std::string(name) + ":").c_str(),
                   files[name].get<std::string>().c_str());
  return status;
}

}  // namespace zel::cli
