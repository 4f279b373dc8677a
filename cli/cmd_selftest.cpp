// zelvane selftest N [--extended] [--json]: runs the drive's quick (or, with
// --extended, full) self-test to its end. Progress goes to standard error:
// a bar with the percentage and the elapsed time on a terminal, one line
// per reading otherwise. Ctrl-C aborts the test in the drive and exits 130.
// Exit 0 passed, 1 failed (any other final result), 2 could not run.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "cli/output.h"
#include "maintenance/self_test.h"
#include "platform/platform.h"

namespace zel::cli {

namespace {

constexpr int kExitInterrupted = 130;
std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
  SelfTestCancelFlag().store(true);
}

const char* ResultWord(int32_t result) {
  switch (result) {
    case 101: return "passed";
    case 102: return "aborted by the host";
    case 103: return "interrupted by a reset";
    case 104: return "fatal or unknown test error";
    case 105: return "failed (failing element unknown)";
    case 106: return "failed (electrical element)";
    case 107: return "failed (servo or seek element)";
    case 108: return "failed (read element)";
    case 109: return "failed (handling damage suspected)";
    default: return "no result";
  }
}

std::string Elapsed(uint32_t ms) {
  uint32_t s = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%u:%02u:%02u", s / 3600, s / 60 % 60, s % 60);
  return text;
}

}  // namespace

int RunSelfTest(Context& ctx) {
  const char* usage = " (selftest N [--extended] [--json])";
  bool extended = false;
  std::vector<std::string> positional;
  for (const std::string& arg : ctx.args) {
    if (arg == "--extended") {
      extended = true;
    } else if (!arg.empty() && arg[0] == '-') {
      Error(ctx, "selftest: unknown option \"" + arg + "\"" + usage);
      return kExitCannotRun;
    } else {
      positional.push_back(arg);
    }
  }
  int disk = 0;
  PhysicalDriveTable table;
  const PhysicalDriveRecord* found = FindOneDisk(ctx, "selftest", positional, usage, &table, &disk);
  if (!found) return kExitCannotRun;
  const PhysicalDriveRecord drive = *found;
  const int32_t kind = extended ? kSelfTestFull : kSelfTestQuick;

  g_interrupted = false;
  SelfTestCancelFlag() = false;
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous);

  platform::System& sys = platform::Sys();
  const uint32_t start = sys.GetTickCount();
  const bool terminal = ::isatty(::fileno(ctx.err)) == 1;
  if (!terminal)
    std::fprintf(ctx.err, "selftest: %s self-test of disk %d started\n",
                 extended ? "extended" : "short", disk);
  auto progress = [&](int32_t percent) {
    std::string elapsed = Elapsed(sys.GetTickCount() - start);
    if (terminal) {
      const int width = 30;
      int filled = percent * width / 100;
      std::fprintf(ctx.err, "\r[%s%s] %3d%%  %s", std::string(filled, '#').c_str(),
                   std::string(width - filled, '-').c_str(), percent, elapsed.c_str());
    } else {
      std::fprintf(ctx.err, "selftest: %d%% done, %s elapsed\n", percent, elapsed.c_str());
    }
    std::fflush(ctx.err);
  };
  SelfTestOutcome outcome = zel::RunSelfTest(drive, kind, progress, SelfTestCancelFlag());
  if (terminal) std::fprintf(ctx.err, "\n");
  sigaction(SIGINT, &previous, nullptr);

  if (g_interrupted.load()) {
    bool aborted = AbortSelfTest(drive) != 0;
    Error(ctx, aborted ? "selftest: interrupted; the test was aborted in the drive"
                       : "selftest: interrupted; the drive did not take the abort");
    SelfTestCancelFlag() = false;
    return kExitInterrupted;
  }

  int status = kExitFailed;
  std::string outcomeWord;
  switch (outcome.End) {
    case SelfTestEnd::Final:
      status = outcome.Result == kSelfTestPassed ? kExitOk : kExitFailed;
      outcomeWord = outcome.Result == kSelfTestPassed ? "passed" : "failed";
      break;
    case SelfTestEnd::NotStarted:
      status = kExitCannotRun;
      outcomeWord = "not started";
      break;
    case SelfTestEnd::NotSupported:
      status = kExitCannotRun;
      outcomeWord = "not supported";
      break;
    case SelfTestEnd::Cancelled:
      status = kExitFailed;
      outcomeWord = "cancelled";
      break;
  }
  const std::string elapsed = Elapsed(sys.GetTickCount() - start);
  const bool hasResult = outcome.End == SelfTestEnd::Final;
  if (ctx.json) {
    Json doc = Json::object();
    doc["disk"] = disk;
    doc["test"] = extended ? "extended" : "short";
    doc["outcome"] = outcomeWord;
    doc["result"] = hasResult ? Json(outcome.Result) : Json(nullptr);
    doc["resultText"] = hasResult ? Json(ResultWord(outcome.Result)) : Json(nullptr);
    doc["message"] = outcome.Message.empty() ? Json(nullptr) : Json(outcome.Message);
    doc["elapsedSeconds"] = (sys.GetTickCount() - start) / 1000;
    PrintJson(ctx, doc);
  } else if (hasResult) {
    std::fprintf(ctx.out, "Disk %d %s self-test: %s (%d), %s\n", disk,
                 extended ? "extended" : "short", ResultWord(outcome.Result), outcome.Result,
                 elapsed.c_str());
  } else {
    std::fprintf(ctx.out, "Disk %d %s self-test: %s%s%s\n", disk, extended ? "extended" : "short",
                 outcomeWord.c_str(), outcome.Message.empty() ? "" : ": ",
                 outcome.Message.c_str());
  }
  return status;
}

}  // namespace zel::cli
