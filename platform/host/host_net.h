// The real network under the seam's socket and HTTP calls, shared by both
// backends: HTTP GET through libcurl, TCP through the system's sockets. Only
// opening an address in the browser differs, so the backend hands it in.
#pragma once

#include <functional>
#include <memory>

#include "platform/net.h"

namespace zel::host {

using AddressOpener = std::function<bool(const std::string& address)>;

std::unique_ptr<platform::Net> MakeHostNet(AddressOpener opener);

}  // namespace zel::host
