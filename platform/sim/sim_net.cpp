// The simulated machine's network: real sockets and HTTP (tests run our
// update server on loopback), while opening an address in the browser is
// only recorded, so a test run never starts a browser.
#include "platform/host/host_net.h"
#include "platform/sim/machine.h"

namespace zel::sim {

platform::Net& SimMachine::Net() {
  std::call_once(netOnce_, [this] {
    net_ = host::MakeHostNet([this](const std::string& address) {
      std::lock_guard<std::mutex> lock(openedMutex_);
      openedAddresses_.push_back(address);
      return true;
    });
  });
  return *net_;
}

std::vector<std::string> SimMachine::OpenedAddresses() const {
  std::lock_guard<std::mutex> lock(openedMutex_);
  return openedAddresses_;
}

}  // namespace zel::sim
