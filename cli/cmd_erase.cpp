// zelvane erase N [--confirm-serial SERIAL] [--json]: the security erase of
// disk N. Every check of the Utilities page's Run runs first, in its order,
// with the disk's other uses (swap, mounts without a letter, holders); a
// refusal prints its message. The erase then needs the drive's serial
// number: typed at the prompt on a terminal, or given with
// --confirm-serial (the only way when standard input is not a terminal).
// While the drive erases, the time waited and the time it announced are
// shown on standard error. Ctrl-C is ignored once the erase has started:
// stopping between setting the password and the erase would leave a drive
// that locks at its next power-up.
//
// Exit 0 erased and confirmed, 1 the erase failed or was not confirmed by
// the drive, 2 refused, not confirmed by the user, or could not run.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>

#include "app/dialog/string_table.h"
#include "cli/cli.h"
#include "cli/output.h"
#include "maintenance/security_erase.h"
#include "platform/platform.h"

namespace zel::cli {

namespace {

constexpr uint16_t kEnglish = 1033;
constexpr uint16_t kEraseTimeOver508 = 255;

std::string MessageText(const SecurityEraseMessage& m) {
  return m.stringId != 0 ? LoadStringW(kEnglish, m.stringId) : m.text;
}

std::string Clock(uint32_t ms) {
  uint32_t s = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  return text;
}

// The time the drive announces for the erase, for people.
std::string AnnouncedText(uint16_t eraseTime) {
  if (eraseTime == 0) return "no time announced";
  if (eraseTime == kEraseTimeOver508) return "more than 508 minutes announced";
  return Clock(eraseTime * 120000u) + " announced";
}

const char* EndWord(SecurityEraseEnd end) {
  switch (end) {
    case SecurityEraseEnd::Done: return "erased";
    case SecurityEraseEnd::NotConfirmed: return "not confirmed";
    case SecurityEraseEnd::SetPasswordFailed: return "set password failed";
    case SecurityEraseEnd::PrepareFailed: return "erase prepare failed";
    case SecurityEraseEnd::EraseUnitFailed: return "erase failed";
    case SecurityEraseEnd::FlushFailed: return "flush failed";
  }
  return "failed";
}

std::string Trim(std::string text) {
  const char* blanks = " \t\r\n";
  size_t start = text.find_first_not_of(blanks);
  if (start == std::string::npos) return "";
  return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

// A refusal or a cancelled run, as text or JSON; returns kExitCannotRun.
int Decline(const Context& ctx, int disk, const char* outcome, int check,
            const std::string& message) {
  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["outcome"] = outcome;
    doc["check"] = check == 0 ? Json(nullptr) : Json(check);
    doc["message"] = message;
    PrintJson(ctx, doc);
  } else {
    Error(ctx, "erase: " + message);
  }
  return kExitCannotRun;
}

}  // namespace

int RunErase(Context& ctx) {
  const char* usage = " (erase N [--confirm-serial SERIAL] [--json])";
  std::optional<std::string> confirmSerial;
  std::vector<std::string> positional;
  for (size_t i = 0; i < ctx.args.size(); ++i) {
    const std::string& arg = ctx.args[i];
    if (arg == "--confirm-serial") {
      if (i + 1 >= ctx.args.size()) {
        Error(ctx, std::string("erase: --confirm-serial needs the drive's serial number") + usage);
        return kExitCannotRun;
      }
      confirmSerial = ctx.args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      Error(ctx, "erase: unknown option \"" + arg + "\"" + usage);
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  int disk = 0;
  PhysicalDriveTable table;
  const PhysicalDriveRecord* found = FindOneDisk(ctx, "erase", positional, usage, &table, &disk);
  if (!found) return kExitCannotRun;
  const PhysicalDriveRecord drive = *found;

  const SecurityEraseRefusal refusal = CheckSecurityErase(drive, 0);
  if (refusal.Refused())
    return Decline(ctx, disk, "refused", refusal.step, MessageText(refusal.message));
  // The page never offers the erase for an NVMe drive (its Run is
  // disabled); its record carries no ATA security word to pass the checks
  // with, but should one ever do, the drive is still refused here.
  if (drive.BusType == kBusNvme)
    return Decline(ctx, disk, "refused", 0,
                   "disk " + std::to_string(disk) +
                       " is an NVMe drive; the security erase is for SATA drives");

  const uint16_t eraseTime = drive.IdentifyWord(89);
  const bool terminal = ::isatty(::fileno(stdin)) == 1 && ::isatty(::fileno(ctx.err)) == 1;
  std::string typed;
  if (confirmSerial) {
    typed = *confirmSerial;
  } else if (terminal) {
    std::fprintf(ctx.err,
                 "Disk %d: %s, serial number %s.\n%s\nType the drive's serial number to erase it "
                 "(anything else cancels): ",
                 disk, drive.ModelName.c_str(), drive.SerialNumber.c_str(),
                 LoadStringW(kEnglish, 312).c_str());
    std::fflush(ctx.err);
    if (!std::getline(std::cin, typed)) typed.clear();
  } else {
    return Decline(ctx, disk, "not confirmed", 0,
                   "standard input is not a terminal: give the drive's serial number with "
                   "--confirm-serial to erase disk " + std::to_string(disk));
  }
  if (Trim(typed) != Trim(drive.SerialNumber) || Trim(drive.SerialNumber).empty())
    return Decline(ctx, disk, "not confirmed", 0,
                   "the serial number does not match disk " + std::to_string(disk) +
                       "'s; nothing was sent to the drive");

  struct sigaction ignore = {};
  struct sigaction previous = {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGINT, &ignore, &previous);

  const bool progressTerminal = ::isatty(::fileno(ctx.err)) == 1;
  std::fprintf(ctx.err, "erase: disk %d erasing (%s); Ctrl-C is ignored until it ends\n", disk,
               AnnouncedText(eraseTime).c_str());
  std::fflush(ctx.err);
  const SecurityEraseTarget target{drive.PhysicalDriveIndex, eraseTime, drive.DevicePath};
  auto progress = [&](uint32_t waitedMs, uint32_t) {
    // On a terminal one line that moves on; otherwise a line a minute.
    if (progressTerminal) {
      std::fprintf(ctx.err, "\rerase: %s elapsed, %s", Clock(waitedMs).c_str(),
                   AnnouncedText(eraseTime).c_str());
    } else if (waitedMs % 60000 == 0) {
      std::fprintf(ctx.err, "erase: %s elapsed, %s\n", Clock(waitedMs).c_str(),
                   AnnouncedText(eraseTime).c_str());
    }
    std::fflush(ctx.err);
  };
  const SecurityEraseOutcome outcome = RunSecurityErase(target, progress);
  if (progressTerminal && outcome.WaitedMs > 0) std::fprintf(ctx.err, "\n");
  sigaction(SIGINT, &previous, nullptr);

  const bool done = outcome.End == SecurityEraseEnd::Done;
  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["outcome"] = EndWord(outcome.End);
    doc["check"] = nullptr;
    Json messages = Json::array();
    for (const SecurityEraseMessage& m : outcome.Messages) messages.push_back(MessageText(m));
    doc["messages"] = messages;
    if (outcome.End == SecurityEraseEnd::PrepareFailed ||
        outcome.End == SecurityEraseEnd::EraseUnitFailed)
      doc["passwordRemoved"] = outcome.PasswordRemoved;
    doc["announcedMinutes"] = eraseTime == kEraseTimeOver508 ? Json(nullptr) : Json(eraseTime * 2);
    doc["waitedSeconds"] = outcome.WaitedMs / 1000;
    PrintJson(ctx, doc);
  } else {
    std::fprintf(ctx.out, "Disk %d security erase: %s, %s waited (%s)\n", disk,
                 EndWord(outcome.End), Clock(outcome.WaitedMs).c_str(),
                 AnnouncedText(eraseTime).c_str());
    for (const SecurityEraseMessage& m : outcome.Messages)
      std::fprintf(ctx.out, "%s\n", MessageText(m).c_str());
  }
  return done ? kExitOk : kExitFailed;
}

}  // namespace zel::cli
