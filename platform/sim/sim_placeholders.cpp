// Components of the simulated machine that are not built yet: each behaves
// like a machine where the facility exists but holds nothing.
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

class NoWmi final : public Com {
 public:
  HRESULT CoInitializeEx(uint32_t) override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT CreateWbemLocator(std::shared_ptr<WbemLocator>*) override { return REGDB_E_CLASSNOTREG; }
  HRESULT CoSetProxyBlanket(WbemServices&, uint32_t, uint32_t, uint32_t, uint32_t) override {
    return E_FAIL;
  }
};

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

class NoProcesses final : public Processes {
 public:
  bool RunAndCapture(const std::string&, std::string*) override {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  bool FindWindowTitle(const std::string&) override { return false; }
  std::intptr_t ShowWindowTitle(const std::string&) override { return 1; }
  void HideWindowTitle(std::intptr_t) override {}
  std::intptr_t CreateMutexW(const std::string&) override { return 1; }
};

}  // namespace

std::unique_ptr<DeviceTree> MakeSimDeviceTree(SimMachine&) { return std::make_unique<EmptyTree>(); }
std::unique_ptr<Com> MakeSimCom(SimMachine&) { return std::make_unique<NoWmi>(); }
std::unique_ptr<Registry> MakeSimRegistry(SimMachine&) { return std::make_unique<EmptyRegistry>(); }
std::unique_ptr<Processes> MakeSimProcesses(SimMachine&) { return std::make_unique<NoProcesses>(); }

}  // namespace zel::sim
