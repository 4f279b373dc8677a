// Placeholder component of the simulated machine until the real one lands:
// it behaves like a machine where the facility exists but holds nothing.
#include "platform/sim/machine.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class EmptyRegistry final : public Registry {
 public:
  LSTATUS RegOpenKeyExW(HKEY, const std::string&, uint32_t, uint32_t, HKEY*) override {
    return ERROR_FILE_NOT_FOUND;
  }
  LSTATUS RegCreateKeyExW(HKEY, const std::string&, uint32_t, uint32_t, HKEY*,
                          uint32_t*) override {
    return ERROR_ACCESS_DENIED;
  }
  LSTATUS RegQueryValueExW(HKEY, const std::string&, uint32_t*, uint8_t*, uint32_t*) override {
    return ERROR_INVALID_HANDLE;
  }
  LSTATUS RegSetValueExW(HKEY, const std::string&, uint32_t, const uint8_t*, uint32_t) override {
    return ERROR_INVALID_HANDLE;
  }
  LSTATUS RegDeleteValueW(HKEY, const std::string&) override { return ERROR_INVALID_HANDLE; }
  LSTATUS RegDeleteKeyExW(HKEY, const std::string&, uint32_t) override {
    return ERROR_FILE_NOT_FOUND;
  }
  LSTATUS RegEnumKeyExW(HKEY, uint32_t, std::string*) override { return ERROR_INVALID_HANDLE; }
  LSTATUS RegCloseKey(HKEY) override { return ERROR_INVALID_HANDLE; }
};

}  // namespace

std::unique_ptr<Registry> MakeSimRegistry(SimMachine&) { return std::make_unique<EmptyRegistry>(); }

}  // namespace zel::sim
