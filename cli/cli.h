// The zelvane command: one function per subcommand, each in its own file.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace zel::cli {

// Exit statuses of the command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;     // the command ran and its result is negative
inline constexpr int kExitCannotRun = 2;  // bad usage, bad machine file, nothing to work on

struct Context {
  std::vector<std::string> args;  // the subcommand's own arguments (after its name)
  bool json = false;              // --json
  std::string machine;            // description of the machine in use
  bool simulated = false;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// Prints "zelvane: <message>" on standard error.
void Error(const Context& ctx, const std::string& message);
// Parses a disk number argument; prints an error and returns false for
// anything but a decimal number.
bool ParseDiskNumber(const Context& ctx, const std::string& text, int* number);

using CommandFn = int (*)(Context&);
struct Command {
  const char* name;
  const char* synopsis;  // for the usage text
  CommandFn run;
};
// Every subcommand, in the order the usage text lists them.
const std::vector<Command>& Commands();

}  // namespace zel::cli
