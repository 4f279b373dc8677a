#include "platform/host/host_net.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include <curl/curl.h>

namespace zel::host {
namespace {

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TransferState {
  size_t maxBlock = 0;
  size_t maxBytes = 0;
  size_t total = 0;
  bool capped = false;
  bool stopped = false;
  const platform::HttpBlockSink* sink = nullptr;
};

size_t OnData(char* data, size_t size, size_t count, void* user) {
  auto* state = static_cast<TransferState*>(user);
  size_t length = size * count;
  size_t take = length;
  if (state->total + take > state->maxBytes) {
    take = state->maxBytes - state->total;
    state->capped = true;
  }
  size_t done = 0;
  while (done < take) {
    size_t piece = std::min(state->maxBlock, take - done);
    if (!(*state->sink)(reinterpret_cast<const uint8_t*>(data) + done, piece)) {
      state->stopped = true;
      return 0;
    }
    done += piece;
  }
  state->total += take;
  // Returning less than given ends the transfer; a capped answer keeps what it got.
  return state->capped ? 0 : length;
}

// Waits until `fd` is ready for `events`; false on time-out or error.
bool WaitFor(int fd, short events, uint32_t timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = ::poll(&p, 1, static_cast<int>(timeoutMs));
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

// The target as a URL may carry it: bytes a URL cannot hold (blanks,
// control bytes, non-ASCII, quotes and brackets) as %XX, and "#" too, so a
// value that holds one is sent whole instead of being cut off as a fragment.
std::string EncodeTarget(const std::string& target) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : target) {
    bool plain = c > 0x20 && c < 0x7F && c != '"' && c != '<' && c != '>' && c != '\\' && c != '#' &&
                 c != '^' && c != '`' && c != '{' && c != '|' && c != '}';
    if (plain) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

class HostNet final : public platform::Net {
 public:
  explicit HostNet(AddressOpener opener) : opener_(std::move(opener)) {}

  bool HttpGet(const platform::HttpGetRequest& request, size_t maxBlock,
               const platform::HttpBlockSink& sink) override {
    std::string name;
    uint16_t port = 0;
    if (maxBlock == 0 || !platform::SplitHostPort(request.host, request.defaultPort, &name, &port))
      return false;
    InitCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    std::string url = "http://" + name + ":" + std::to_string(port) + EncodeTarget(request.target);
    TransferState state;
    state.maxBlock = maxBlock;
    state.maxBytes = request.maxBytes;
    state.sink = &sink;
    const long idleSeconds = static_cast<long>((request.idleTimeoutMs + 999) / 1000);
    curl_slist* headers = curl_slist_append(nullptr, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");  // never a proxy, whatever the environment says
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.idleTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idleSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &state);
    CURLcode code = curl_easy_perform(curl);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    if (code == CURLE_OK) return true;
    return code == CURLE_WRITE_ERROR && state.capped && !state.stopped;
  }

  platform::ConnectResult Connect(const std::string& host, uint16_t defaultPort,
                                  uint32_t timeoutMs, platform::SOCKET* socketOut) override {
    *socketOut = platform::INVALID_SOCKET;
    std::string name;
    uint16_t port = 0;
    if (!platform::SplitHostPort(host, defaultPort, &name, &port))
      return platform::ConnectResult::NotResolved;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
      return platform::ConnectResult::NotResolved;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof address);
    ::freeaddrinfo(found);
    address.sin_port = htons(port);
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return platform::ConnectResult::NotConnected;
    int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    bool ok = r == 0;
    if (!ok && errno == EINPROGRESS && WaitFor(fd, POLLOUT, timeoutMs)) {
      int error = 0;
      socklen_t length = sizeof error;
      ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    if (!ok) {
      ::close(fd);
      return platform::ConnectResult::NotConnected;
    }
    *socketOut = fd;
    return platform::ConnectResult::Connected;
  }

  int64_t Send(platform::SOCKET socket, const uint8_t* data, size_t size) override {
    size_t sent = 0;
    while (sent < size) {
      if (!WaitFor(static_cast<int>(socket), POLLOUT, 30000)) return -1;
      ssize_t n = ::send(static_cast<int>(socket), data + sent, size - sent, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return -1;
      }
      sent += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(sent);
  }

  int64_t Receive(platform::SOCKET socket, uint8_t* buffer, size_t size,
                  uint32_t idleTimeoutMs) override {
    for (;;) {
      if (!WaitFor(static_cast<int>(socket), POLLIN, idleTimeoutMs)) return platform::kReceiveTimedOut;
      ssize_t n = ::recv(static_cast<int>(socket), buffer, size, 0);
      if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        return platform::kReceiveError;
      }
      return n;
    }
  }

  void CloseSocket(platform::SOCKET socket) override {
    if (socket != platform::INVALID_SOCKET) ::close(static_cast<int>(socket));
  }

  bool OpenAddress(const std::string& address) override { return opener_ && opener_(address); }

 private:
  AddressOpener opener_;
};

}  // namespace

std::unique_ptr<platform::Net> MakeHostNet(AddressOpener opener) {
  return std::make_unique<HostNet>(std::move(opener));
}

}  // namespace zel::host
