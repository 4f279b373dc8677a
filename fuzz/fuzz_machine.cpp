// Fuzz target: the machine-file loader. Any input must give a machine or a
// clear error, never a crash, a hang or a write.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/sim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zel::sim::LoadResult r = zel::sim::LoadMachineText(text, "fuzz input");
  if (!r.machine && r.error.empty()) __builtin_trap();  // a refusal must say why
  return 0;
}
