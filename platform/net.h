// Sockets and HTTP of the seam: one HTTP GET with the answer handed over in
// blocks, plain TCP connections (connect, send, receive with an idle limit,
// close), and opening an address in the user's browser.
//
// Both backends reach the real network: the update-server client talks to a
// real server whether the drives are real or simulated (tests run our own
// server on loopback). A host may carry a port ("127.0.0.1:8080"); without
// one the caller's default port is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zel::platform {

using SOCKET = std::intptr_t;
inline constexpr SOCKET INVALID_SOCKET = -1;

// One GET request. No proxy and no cache are ever used.
struct HttpGetRequest {
  std::string host;  // name or address, optionally ":port"
  uint16_t defaultPort = 80;
  std::string target;  // path and query string
  std::string userAgent;
  // The request fails when no byte arrives for this long (connecting included).
  uint32_t idleTimeoutMs = 30000;
  // The transfer stops (successfully, with what arrived) after this many body bytes.
  size_t maxBytes = 1u << 20;
};

// Receives each block of the answer's body (at most `maxBlock` bytes); a
// false return stops the transfer.
using HttpBlockSink = std::function<bool(const uint8_t* data, size_t size)>;

enum class ConnectResult {
  Connected,
  NotResolved,   // the host name has no address
  NotConnected,  // no socket, or the connection was refused or timed out
};

// Receive results below zero.
inline constexpr int64_t kReceiveError = -1;
inline constexpr int64_t kReceiveTimedOut = -2;

class Net {
 public:
  virtual ~Net() = default;

  // Sends one GET with HTTP/1.1 and hands the body to `sink` in blocks of at
  // most `maxBlock` bytes. False when the request could not be sent or the
  // answer could not be read to its end (blocks already handed over stay).
  virtual bool HttpGet(const HttpGetRequest& request, size_t maxBlock,
                       const HttpBlockSink& sink) = 0;

  // A TCP connection to the first address of `host` (its own port, else
  // `defaultPort`), waiting at most `timeoutMs` for it.
  virtual ConnectResult Connect(const std::string& host, uint16_t defaultPort, uint32_t timeoutMs,
                                SOCKET* socket) = 0;
  // Bytes sent, or -1.
  virtual int64_t Send(SOCKET socket, const uint8_t* data, size_t size) = 0;
  // Bytes received (> 0), 0 when the peer closed, kReceiveError, or
  // kReceiveTimedOut when nothing arrived within `idleTimeoutMs`.
  virtual int64_t Receive(SOCKET socket, uint8_t* buffer, size_t size, uint32_t idleTimeoutMs) = 0;
  virtual void CloseSocket(SOCKET socket) = 0;

  // Opens an address in the user's default browser, the address given as
  // one argument and never interpreted by a shell. False when nothing could
  // be started.
  virtual bool OpenAddress(const std::string& address) = 0;
};

// Splits "host[:port]" into its name and port; `defaultPort` when none is
// given. False for an empty name or a port that is not 1-65535.
bool SplitHostPort(const std::string& hostPort, uint16_t defaultPort, std::string* name,
                   uint16_t* port);

}  // namespace zel::platform
