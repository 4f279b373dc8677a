// zelvane trim N [--list] [--json]: the free-space TRIM of disk N's volumes,
// as the System Optimization page's Run does it, with the run state the
// programs share. --list changes nothing: it shows each volume, whether its
// file system turns freed space into TRIM, its free space and the filler
// files a run would make. Progress goes to standard error: a bar per volume
// on a terminal, a line per volume otherwise. Ctrl-C stops the fill; the
// TRIM folder is still removed and the run state ended.
// Exit 0 done, 1 a run is already going on, 2 could not run.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/output.h"
#include "inventory/underlying_util.h"
#include "optimize/free_space_trim.h"
#include "optimize/quarn_registry.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace zel::cli {

namespace {

constexpr int kExitInterrupted = 130;
std::atomic<bool> g_trimCancel{false};

extern "C" void OnTrimInterrupt(int) { g_trimCancel.store(true); }

// Filler files the fill would make for this much free space.
uint64_t ExpectedFillers(uint64_t freeBytes) {
  return freeBytes > kTrimFreeSpaceReserve ? (freeBytes - kTrimFreeSpaceReserve) / kTrimFillerFileSize + 1
                                           : 0;
}

int ListVolumes(Context& ctx, int disk, const std::vector<LogicalDriveEntry>& volumes) {
  platform::Platform& machine = platform::Current();
  Json list = Json::array();
  TextTable table;
  table.AddColumn("Volume");
  table.AddColumn("File system");
  table.AddColumn("TRIM of freed space");
  table.AddColumn("Free bytes", TextTable::Align::Right);
  table.AddColumn("Filler files", TextTable::Align::Right);
  for (const LogicalDriveEntry& v : volumes) {
    bool trims = machine.VolumeTrim().TurnsFreedClustersIntoTrim(v.DriveName);
    uint64_t toCaller = 0, total = 0, free = 0;
    bool known = machine.Files().GetDiskFreeSpaceExW(v.DriveName, &toCaller, &total, &free);
    uint64_t fillers = trims && known ? ExpectedFillers(free) : 0;
    Json item = Json::object();
    item["volume"] = v.DriveName;
    item["fileSystem"] = v.FileSystem;
    item["trims"] = trims;
    item["freeBytes"] = known ? Json(free) : Json(nullptr);
    item["fillerFiles"] = fillers;
    list.push_back(item);
    table.AddRow({v.DriveName, v.FileSystem, trims ? "yes" : "no",
                  known ? std::to_string(free) : std::string("unknown"), std::to_string(fillers)});
  }
  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["volumes"] = list;
    PrintJson(ctx, doc);
  } else {
    PrintText(ctx, table.Render());
  }
  return kExitOk;
}

// Progress on standard error: a bar of the run's filler files on a
// terminal, redrawn in place; one line per finished volume otherwise.
class CliProgress final : public SsdOptimizeProgress {
 public:
  CliProgress(const Context& ctx, bool terminal) : ctx_(ctx), terminal_(terminal) {}
  void Range(uint64_t total) override { total_ = total; }
  void Position(uint64_t position) override {
    position_ = position;
    if (terminal_ && !root_.empty()) Draw();
  }
  void VolumeStarted(const std::string& root) override {
    root_ = root;
    if (terminal_) Draw();
  }
  void VolumeFinished(const VolumeTrimOutcome& o) override {
    if (!o.filled) return;
    if (terminal_) std::fprintf(ctx_.err, "\n");
    std::fprintf(ctx_.err, "trim: %s: %d filler file%s%s\n", o.root.c_str(), o.fillerFiles,
                 o.fillerFiles == 1 ? "" : "s", o.stalled ? ", stopped: the free space did not fall" : "");
    std::fflush(ctx_.err);
    root_.clear();
  }

 private:
  void Draw() {
    const int width = 30;
    int filled = total_ ? static_cast<int>(position_ * width / total_) : width;
    std::fprintf(ctx_.err, "\r%s [%s%s] %llu/%llu", root_.c_str(), std::string(filled, '#').c_str(),
                 std::string(width - filled, '-').c_str(), static_cast<unsigned long long>(position_),
                 static_cast<unsigned long long>(total_));
    std::fflush(ctx_.err);
  }
  const Context& ctx_;
  bool terminal_;
  uint64_t total_ = 0, position_ = 0;
  std::string root_;
};

}  // namespace

int RunTrim(Context& ctx) {
  const char* usage = " (trim N [--list] [--json])";
  bool list = false;
  std::vector<std::string> positional;
  for (const std::string& arg : ctx.args) {
    if (arg == "--list") {
      list = true;
    } else if (!arg.empty() && arg[0] == '-') {
      Error(ctx, "trim: unknown option \"" + arg + "\"" + usage);
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  int disk = 0;
  PhysicalDriveTable table;
  const PhysicalDriveRecord* found = FindOneDisk(ctx, "trim", positional, usage, &table, &disk);
  if (!found) return kExitCannotRun;

  UnderlyingUtil util;
  std::vector<LogicalDriveEntry> volumes;
  if (util.GetLogicalDriveInfo(found->PhysicalDriveIndex, volumes) <= 0) {
    Error(ctx, "trim: There is no recognized partition.");
    return kExitCannotRun;
  }
  if (list) return ListVolumes(ctx, disk, volumes);
  // On the real machine the filler files, the TRIM request and the shared
  // run state (the root's store, which the tray program reads) need root.
  if (!ctx.simulated && ::geteuid() != 0) {
    Error(ctx, "trim: needs root (the filler files, the TRIM request and the shared run state); nothing was changed");
    return kExitCannotRun;
  }

  // The run-state protocol, as the Run button keeps it.
  const int64_t now = NowSeconds();
  TrimRunState state = ReadTrimRunState(now);
  if (state.active) {
    Error(ctx, Format("trim: Trim is in progress. (a run started at %lld, %lld s ago)",
                      static_cast<long long>(state.startAt), static_cast<long long>(now - state.startAt)));
    return kExitFailed;
  }
  DeleteTrimTempFolder(table);
  MarkTrimStarted(now);

  g_trimCancel = false;
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = OnTrimInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);
  CliProgress progress(ctx, ::isatty(::fileno(ctx.err)) == 1);
  SsdOptimizeResult result = RunSsdOptimize(found->PhysicalDriveIndex, progress, g_trimCancel, UsesDirectTrim());
  sigaction(SIGINT, &previous, nullptr);
  MarkTrimEnded();

  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["cancelled"] = result.cancelled;
    Json vols = Json::array();
    for (const VolumeTrimOutcome& o : result.volumes) {
      Json v = Json::object();
      v["volume"] = o.root;
      v["fileSystem"] = o.fileSystem;
      v["trims"] = o.trims;
      v["filled"] = o.filled;
      v["freeBytes"] = o.freeKnown ? Json(o.freeBytes) : Json(nullptr);
      v["fillerFiles"] = o.fillerFiles;
      v["stalled"] = o.stalled;
      v["trimRequested"] = o.trim.requested;
      v["bytesTrimmed"] = o.trim.requested ? Json(o.trim.bytesTrimmed) : Json(nullptr);
      v["trimFailed"] = o.filled && !o.trimmed;
      vols.push_back(v);
    }
    doc["volumes"] = vols;
    PrintJson(ctx, doc);
  } else {
    for (const VolumeTrimOutcome& o : result.volumes) {
      std::string line = o.root + " " + o.fileSystem + ": ";
      if (!o.trims)
        line += "skipped, its file system does not turn freed space into TRIM";
      else if (!o.freeKnown)
        line += "skipped, its free space cannot be read";
      else if (!o.filled && o.freeBytes <= kTrimFreeSpaceReserve)
        line += "skipped, not more than 5 GiB free";
      else if (!o.filled)
        line += "skipped, its TRIM folder " + TrimFolderOf(o.root) + " could not be removed";
      else {
        line += Format("%d filler file%s", o.fillerFiles, o.fillerFiles == 1 ? "" : "s");
        if (o.stalled) line += ", fill stopped: the free space did not fall";
        if (!o.trimmed)
          line += ", the TRIM request failed";
        else if (o.trim.requested)
          line += Format(", %llu bytes trimmed", static_cast<unsigned long long>(o.trim.bytesTrimmed));
      }
      std::fprintf(ctx.out, "%s\n", line.c_str());
    }
    std::fprintf(ctx.out, "%s\n", result.cancelled ? "SSD Optimization was interrupted." : "SSD Optimization is done!");
  }
  return result.cancelled ? kExitInterrupted : kExitOk;
}

}  // namespace zel::cli
