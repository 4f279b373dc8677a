// Placeholder component of the simulated machine until the real one lands:
// it behaves like a machine where the facility exists but holds nothing.
#include "platform/sim/machine.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class NoWmi final : public Com {
 public:
  HRESULT CoInitializeEx(uint32_t) override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT CreateWbemLocator(std::shared_ptr<WbemLocator>*) override { return REGDB_E_CLASSNOTREG; }
  HRESULT CoSetProxyBlanket(WbemServices&, uint32_t, uint32_t, uint32_t, uint32_t) override {
    return E_FAIL;
  }
};

}  // namespace

std::unique_ptr<Com> MakeSimCom(SimMachine&) { return std::make_unique<NoWmi>(); }

}  // namespace zel::sim
