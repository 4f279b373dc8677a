// zelvane: the command-line face of SSD Zelvane.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/launch/machine_choice.h"
#include "cli/cli.h"
#include "log/log.h"
#include "platform/format.h"

namespace zel::cli {

void Error(const Context& ctx, const std::string& message) {
  std::fprintf(ctx.err, "zelvane: %s\n", message.c_str());
}

bool ParseDiskNumber(const Context& ctx, const std::string& text, int* number) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
    Error(ctx, "\"" + text + "\" is not a disk number (a decimal number such as 0 or 1 is)");
    return false;
  }
  *number = std::atoi(text.c_str());
  return true;
}

namespace {

constexpr uint64_t kTraceLogCapBytes = 1u << 20;

void Usage(std::FILE* to) {
  std::fprintf(to,
               "usage: zelvane [--machine FILE|demo] [--json] COMMAND [ARGUMENTS]\n\n"
               "commands:\n");
  for (const Command& c : Commands()) std::fprintf(to, "  %s\n", c.synopsis);
  std::fprintf(to,
               "\n--machine FILE  run on the simulated machine FILE describes (\"demo\": the\n"
               "                demo machine built in); also the ZELVANE_MACHINE variable.\n"
               "                Without it the command runs on this machine's drives.\n"
               "--json          print the result as JSON for scripts (see docs/cli.md)\n");
}

}  // namespace
}  // namespace zel::cli

int main(int argc, char** argv) {
  using namespace zel::cli;
  std::vector<std::string> args(argv, argv + argc);
  Context ctx;

  // Global options may stand anywhere; --machine is taken out first.
  zel::MachineChoice machine = zel::ChooseMachine(args);
  if (!machine.platform) {
    Error(ctx, machine.error);
    return kExitCannotRun;
  }
  std::vector<std::string> rest;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") {
      ctx.json = true;
    } else if (args[i] == "--help" || args[i] == "-h") {
      Usage(stdout);
      return kExitOk;
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty()) {
    Usage(stderr);
    return kExitCannotRun;
  }
  const Command* command = nullptr;
  for (const Command& c : Commands())
    if (rest[0] == c.name) command = &c;
  if (!command) {
    Error(ctx, "unknown command \"" + rest[0] + "\" (zelvane --help lists them)");
    return kExitCannotRun;
  }
  ctx.args.assign(rest.begin() + 1, rest.end());
  ctx.machine = machine.description;
  ctx.simulated = machine.simulated;
  zel::platform::ScopedPlatform installed(machine.platform);
  // The trace log goes beside the program (zelvane.log), else to the
  // machine's log folder. Several zelvane runs may go on at once (scripts, the
  // monitor), so they share the file: each appends, and the file is kept to
  // about a mebibyte with one earlier generation (zelvane.log.1).
  zel::TraceLogOptions log;
  log.sharedByRuns = true;
  log.capBytes = kTraceLogCapBytes;
  log.announcePath = zel::TraceLogOptions::Announce::Always;
  zel::SetTraceLogOptions(log);
  zel::SetLogLevel(1);
  int status = command->run(ctx);
  zel::CloseLogFiles();
  return status;
}
