// Placeholder component of the simulated machine until the real one lands:
// it behaves like a machine where the facility exists but holds nothing.
#include "platform/sim/machine.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

class EmptyTree final : public DeviceTree {
 public:
  HDEVINFO SetupDiGetClassDevsW(const GUID&, uint32_t) override { return 1; }
  bool SetupDiDestroyDeviceInfoList(HDEVINFO) override { return true; }
  bool SetupDiEnumDeviceInterfaces(HDEVINFO, const GUID&, uint32_t) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  bool SetupDiGetDeviceInterfaceDetailW(HDEVINFO, uint32_t, uint8_t*, uint32_t,
                                        uint32_t*) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  bool SetupDiEnumDeviceInfo(HDEVINFO, uint32_t, uint32_t*) override {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  uint32_t CM_Get_Device_IDW(uint32_t, char16_t*, uint32_t) override { return CR_NO_SUCH_DEVNODE; }
  bool SetupDiGetDevicePropertyW(HDEVINFO, uint32_t, const DEVPROPKEY&, uint32_t*, uint8_t*,
                                 uint32_t, uint32_t*) override {
    SetLastError(ERROR_NOT_FOUND);
    return false;
  }
  bool HasLibraryFunction(const std::string&, const std::string&) override { return true; }
  uint32_t CM_Locate_DevNodeW(uint32_t* devInst, const char16_t*, uint32_t) override {
    *devInst = 1;
    return CR_SUCCESS;
  }
  uint32_t CM_Reenumerate_DevNode(uint32_t, uint32_t) override { return CR_SUCCESS; }
};

}  // namespace

std::unique_ptr<DeviceTree> MakeSimDeviceTree(SimMachine&) { return std::make_unique<EmptyTree>(); }

}  // namespace zel::sim
