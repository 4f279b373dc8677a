#include "cli/cli.h"

namespace zel::cli {

int RunDetails(Context& ctx) {
  Error(ctx, "this command is not available yet");
  return kExitCannotRun;
}

}  // namespace zel::cli
