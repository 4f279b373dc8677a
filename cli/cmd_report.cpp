#include "cli/cli.h"

namespace zel::cli {

int RunReport(Context& ctx) {
  Error(ctx, "this command is not available yet");
  return kExitCannotRun;
}

}  // namespace zel::cli
