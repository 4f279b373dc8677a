// Fuzz target: log decryption of an arbitrary scrambled file. It must write
// "Decrypted.log" in the current directory or report why not, and nothing else.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "report/log_decrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string path = zel::fuzz::WriteInput("scrambled.log", data, size);
  zel::DecryptLogFile(path);
  return 0;
}
