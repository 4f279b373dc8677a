// zelvane firmware N [--file F] [--yes] [--download-dir D] [--json]
//
// Brings disk N's firmware up to date. Without --file it asks the update
// server (the online path: support list, program version, the firmware
// offered, the download checked by size and CRC, DOWNLOAD MICROCODE, the
// report back to the server); with --file it writes that image (the manual
// path). Messages the window would show in boxes go to standard error, with
// one progress line per piece the drive accepted. The confirmation is asked
// on a terminal, or given with --yes; without either the answer is No.
//
// Exit 0 only when the drive accepted every piece of the server's image, or
// reports a new revision after a manual update; 1 for every other ending; 2
// for bad usage or no such drive.
#include <unistd.h>

#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "app/dialog/string_table.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "inventory/underlying_util.h"
#include "maintenance/firmware.h"
#include "platform/platform.h"

namespace zel::cli {
namespace {

const char* EndWord(FirmwareUpdateEnd end) {
  switch (end) {
    case FirmwareUpdateEnd::Busy: return "busy";
    case FirmwareUpdateEnd::NotOurs: return "not-the-makers-drive";
    case FirmwareUpdateEnd::ProductPage: return "product-page-opened";
    case FirmwareUpdateEnd::ServerFailed: return "server-failed";
    case FirmwareUpdateEnd::ProgramOutdated: return "program-outdated";
    case FirmwareUpdateEnd::AlreadyLatest: return "already-latest";
    case FirmwareUpdateEnd::Declined: return "declined";
    case FirmwareUpdateEnd::DownloadFailed: return "download-failed";
    case FirmwareUpdateEnd::DriveFailed: return "drive-refused";
    case FirmwareUpdateEnd::Updated: return "updated";
    case FirmwareUpdateEnd::NotUpdated: return "revision-unchanged";
    case FirmwareUpdateEnd::FullPackage: return "full-package";
  }
  return "unknown";
}

class TerminalUi final : public FirmwareUpdateUi {
 public:
  TerminalUi(const Context& ctx, bool yes, std::string file)
      : ctx_(ctx), yes_(yes), file_(std::move(file)) {}

  std::string String(int32_t id) override { return LoadStringW(1033, id); }
  void Message(const std::string& text) override {
    std::fprintf(ctx_.err, "firmware: %s\n", text.c_str());
    std::fflush(ctx_.err);
  }
  bool Confirm(const std::string& text) override {
    if (yes_) {
      std::fprintf(ctx_.err, "firmware: %s yes (--yes)\n", text.c_str());
      return true;
    }
    if (::isatty(STDIN_FILENO) != 1) {
      std::fprintf(ctx_.err, "firmware: %s no (not a terminal; give --yes to confirm)\n",
                   text.c_str());
      return false;
    }
    std::fprintf(ctx_.err, "%s [y/N] ", text.c_str());
    std::fflush(ctx_.err);
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
  }
  bool ChooseImageFile(const std::string&, std::string* path) override {
    *path = file_;
    return !file_.empty();
  }
  void Progress(int32_t piece, uint64_t sent, uint64_t total) override {
    std::fprintf(ctx_.err, "firmware: piece %d accepted, %llu of %llu bytes\n", piece,
                 static_cast<unsigned long long>(sent), static_cast<unsigned long long>(total));
    std::fflush(ctx_.err);
  }

 private:
  const Context& ctx_;
  bool yes_;
  std::string file_;
};

}  // namespace

int RunFirmware(Context& ctx) {
  const char* usage = " (firmware N [--file F] [--yes] [--download-dir D] [--json])";
  std::string file, folder;
  bool yes = false;
  std::vector<std::string> positional;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    if (arg == "--yes") {
      yes = true;
    } else if (arg == "--file" || arg == "--download-dir") {
      if (i + 1 >= ctx.args.size() || ctx.args[i + 1].empty()) {
        Error(ctx, "firmware: " + arg + " needs a value" + usage);
        return kExitCannotRun;
      }
      (arg == "--file" ? file : folder) = ctx.args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      Error(ctx, "firmware: unknown option \"" + arg + "\"" + usage);
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  int disk = 0;
  PhysicalDriveTable table;
  const PhysicalDriveRecord* found = FindOneDisk(ctx, "firmware", positional, usage, &table, &disk);
  if (!found) return kExitCannotRun;

  FirmwareUpdateOptions options;
  options.UpgradeFwSwitch = !file.empty();
  options.Language = platform::Sys().GetUserDefaultUILanguage();
  options.DownloadFolder = folder;
  UnderlyingUtil().GetToolVersion(options.ToolVersion);
  TerminalUi ui(ctx, yes, file);
  const FirmwareUpdateOutcome outcome = UpdateFirmware(*found, options, ui);
  if (!outcome.Detail.empty()) std::fprintf(ctx.err, "firmware: %s\n", outcome.Detail.c_str());

  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["path"] = file.empty() ? "online" : "manual";
    doc["outcome"] = EndWord(outcome.End);
    doc["message"] = outcome.Message.empty() ? Json(nullptr) : Json(outcome.Message);
    doc["stringId"] = outcome.StringId ? Json(outcome.StringId) : Json(nullptr);
    doc["eventId"] = outcome.EventId >= 0 ? Json(outcome.EventId) : Json(nullptr);
    doc["downloadResult"] = outcome.DownloadResult ? Json(outcome.DownloadResult) : Json(nullptr);
    doc["fromRevision"] = outcome.FromRevision;
    doc["toRevision"] = outcome.ToRevision.empty() ? Json(nullptr) : Json(outcome.ToRevision);
    doc["image"] = outcome.ImagePath.empty() ? Json(nullptr) : Json(outcome.ImagePath);
    doc["detail"] = outcome.Detail.empty() ? Json(nullptr) : Json(outcome.Detail);
    PrintJson(ctx, doc);
  } else {
    std::fprintf(ctx.out, "Disk %d firmware: %s", disk, EndWord(outcome.End));
    if (outcome.End == FirmwareUpdateEnd::Updated)
      std::fprintf(ctx.out, " (%s -> %s)", outcome.FromRevision.c_str(),
                   outcome.ToRevision.empty() ? "?" : outcome.ToRevision.c_str());
    if (outcome.EventId >= 0) std::fprintf(ctx.out, ", event ID %03d", outcome.EventId);
    std::fprintf(ctx.out, "\n");
  }
  return outcome.End == FirmwareUpdateEnd::Updated ? kExitOk : kExitFailed;
}

}  // namespace zel::cli
