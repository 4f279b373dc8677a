#include "cli/cli.h"

namespace zel::cli {

int RunDvt(Context& ctx) {
  Error(ctx, "this command is not available yet");
  return kExitCannotRun;
}

}  // namespace zel::cli
