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

namespace zel::cli {

namespace {

const char* ResultName(int status) {
  switch (status) {
    case kDvtPassed: return "passed";
    case kDvtFailed: return "failed";
    default: return "could not run";
  }
}

// The result files this run wrote, by what they hold.
nlohmann::json ResultFiles() {
  nlohmann::json files = nlohmann::json::object();
  const std::pair<const char*, LogWriter> writers[] = {
      {"trace", LogWriter::Trace},     {"report", LogWriter::DvtReport},
      {"failures", LogWriter::DvtFail}, {"summary", LogWriter::DvtSummary},
      {"pass", LogWriter::DvtPass},
  };
  for (const auto& [name, writer] : writers) {
    std::string path = LogFilePath(writer);
    if (!path.empty()) files[name] = path;
  }
  return files;
}

// Whether the criteria file opens for reading, to tell why a run stopped.
bool CanOpenForReading(const std::string& path) {
  platform::Files& files = platform::Current().Files();
  platform::HANDLE h = files.CreateFileW(path, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                         platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
  if (h == platform::INVALID_HANDLE_VALUE) return false;
  files.CloseHandle(h);
  return true;
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
  bool found = std::any_of(drives.begin(), drives.end(), [&](const PhysicalDriveRecord& r) {
    return r.PhysicalDriveIndex == disk;
  });

  std::string reason;
  if (status == kDvtCouldNotRun) {
    bool readable = !criteria.empty() && CanOpenForReading(criteria);
    if (criteria.empty()) {
      reason = "no criteria file ZelvaneDvt*.txt in the current directory (error " +
               std::to_string(searchError) + ")";
    } else if (!readable) {
      reason = "the criteria file " + criteria + " cannot be read";
    } else if (!found) {
      reason = drives.empty() ? "no usable drive on this machine"
                              : "disk " + std::to_string(disk) + " is not among the usable drives";
    } else {
      reason = "the verification stopped early (the trace log says why)";
    }
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
