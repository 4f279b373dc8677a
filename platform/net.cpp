#include "platform/net.h"

namespace zel::platform {

bool SplitHostPort(const std::string& hostPort, uint16_t defaultPort, std::string* name,
                   uint16_t* port) {
  std::string host = hostPort;
  uint16_t chosen = defaultPort;
  size_t colon = host.find(':');
  if (colon != std::string::npos) {
    // One colon only: an IPv6 literal would need brackets, which we do not take.
    if (host.find(':', colon + 1) != std::string::npos) return false;
    std::string digits = host.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    uint32_t value = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    chosen = static_cast<uint16_t>(value);
    host.resize(colon);
  }
  if (host.empty()) return false;
  for (char c : host) {
    // Host names and addresses only: letters, digits, '-', '.', '_'.
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.' || c == '_';
    if (!ok) return false;
  }
  *name = host;
  *port = chosen;
  return true;
}

}  // namespace zel::platform
