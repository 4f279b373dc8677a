// zelvane decrypt-log FILE: the Utilities page's hidden "Decrypt Log": undo
// the scrambling of FILE into Decrypted.log in the current directory.
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "platform/platform.h"
#include "report/log_decrypt.h"

namespace zel::cli {

int RunDecryptLog(Context& ctx) {
  if (ctx.args.size() != 1 || ctx.args[0].empty()) {
    Error(ctx, "decrypt-log: expected the scrambled file (decrypt-log FILE)");
    return kExitCannotRun;
  }
  const std::string& input = ctx.args[0];
  std::string reason;
  const DecryptResult result = DecryptLogFile(input, &reason);

  std::string output = platform::Current().Files().GetFullPathNameW("Decrypted.log");
  if (output.empty()) output = "Decrypted.log";
  if (ctx.json) {
    nlohmann::ordered_json doc;
    doc["input"] = input;
    doc["output"] = output;
    doc["written"] = result == DecryptResult::Written;
    std::fprintf(ctx.out, "%s\n",
                 doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
  }
  switch (result) {
    case DecryptResult::Written:
      if (!ctx.json) std::fprintf(ctx.out, "Wrote %s\n", output.c_str());
      return kExitOk;
    case DecryptResult::CannotRead:
      Error(ctx, input + " cannot be read (" + reason + "); nothing was written");
      return kExitCannotRun;
    case DecryptResult::CannotWrite:
      Error(ctx, output + " cannot be written (" + reason + ")");
      return kExitFailed;
  }
  return kExitFailed;
}

}  // namespace zel::cli
