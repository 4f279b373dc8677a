// Fuzz target: the machine-file loader. Any input must give a machine or a
// clear error, never a crash or a hang. It runs in the private work folder,
// the only place a machine may write (its registry file).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zel::fuzz::WorkFolder();  // made once and entered: the current directory
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zel::sim::LoadResult r = zel::sim::LoadMachineText(text, "fuzz input");
  if (!r.machine && r.error.empty()) __builtin_trap();  // a refusal must say why
  return 0;
}
