// Processes and named objects of the real machine.
#include "platform/errors.h"
#include "platform/linux/linux_machine.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

class LinuxProcesses final : public Processes {
 public:
  bool RunAndCapture(const std::string&, std::string*) override {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  bool FindWindowTitle(const std::string&) override { return false; }
  std::intptr_t ShowWindowTitle(const std::string&) override { return 0; }
  void HideWindowTitle(std::intptr_t) override {}
  std::intptr_t CreateMutexW(const std::string&) override { return 0; }
};

class LinuxCom final : public Com {
 public:
  HRESULT CoInitializeEx(uint32_t) override { return S_OK; }
  void CoUninitialize() override {}
  HRESULT CreateWbemLocator(std::shared_ptr<WbemLocator>*) override { return REGDB_E_CLASSNOTREG; }
  HRESULT CoSetProxyBlanket(WbemServices&, uint32_t, uint32_t, uint32_t, uint32_t) override {
    return E_FAIL;
  }
};

}  // namespace

std::unique_ptr<Processes> MakeLinuxProcesses(std::shared_ptr<LinuxMachine>) {
  return std::make_unique<LinuxProcesses>();
}

std::unique_ptr<Com> MakeLinuxCom(std::shared_ptr<LinuxMachine>) { return std::make_unique<LinuxCom>(); }

}  // namespace zel::linuxbackend
