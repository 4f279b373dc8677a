// Opening an address in the desktop's browser on Linux.
#pragma once

#include <string>

namespace zel::linuxbackend {

// Runs `xdg-open ADDRESS` with the address as its one argument (no shell),
// waits for it and returns whether it succeeded. An address that starts with
// "-" or holds a control character is refused, so it can never be taken for
// an option or split into lines.
bool OpenAddressWithDesktop(const std::string& address);

}  // namespace zel::linuxbackend
