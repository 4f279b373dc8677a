// Fuzz target: the update-server answers. An input is an answer text, a
// line feed, and the bytes a server replies with. The answer ("{HOST}"
// stands for a loopback server that sends the reply) goes to the download,
// the reply also to a query. Whatever they hold: the download returns one
// of its result codes, success means the file is there with exactly the
// announced size and CRC, and the download folder holds nothing but plain
// files of allowed names (no temporary file, no folder, nothing elsewhere).
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "fuzz/fuzz_support.h"
#include "maintenance/update_server.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace {

// Answers every connection with the current reply, then closes it.
class ReplyServer {
 public:
  ReplyServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 8) != 0)
      std::abort();
    socklen_t length = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length);
    host_ = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));
    std::thread([this] { Run(); }).detach();
  }
  const std::string& Host() const { return host_; }
  void SetReply(std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
  }

 private:
  void Run() {
    for (;;) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      char block[4096];
      std::string request;
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd p{c, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0) break;
        ssize_t n = ::recv(c, block, sizeof block, 0);
        if (n <= 0) break;
        request.append(block, static_cast<size_t>(n));
      }
      std::string reply;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        reply = reply_;
      }
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      ::close(c);
    }
  }
  int fd_ = -1;
  std::string host_;
  std::mutex mutex_;
  std::string reply_;
};

ReplyServer& Server() {
  static ReplyServer* server = [] {
    const std::string& dir = zel::fuzz::WorkFolder();
    zel::sim::LoadResult r = zel::sim::LoadMachineText("{}", "empty machine");
    if (!r.machine) __builtin_trap();
    r.machine->SetProgramPath(dir + "/SSDZelvane.exe");
    new zel::platform::ScopedPlatform(r.machine);  // never uninstalled, as in the other targets
    ::mkdir((dir + "/dl").c_str(), 0755);
    zel::SetIdleTimeoutMs(100);
    auto* s = new ReplyServer();
    ::setenv(zel::kUpdateServerEnvironment, s->Host().c_str(), 1);
    return s;
  }();
  return *server;
}

std::string ReplaceHost(std::string text, const std::string& host) {
  for (size_t at = text.find("{HOST}"); at != std::string::npos; at = text.find("{HOST}", at + host.size()))
    text.replace(at, 6, host);
  return text;
}

// The announced field `fromEnd` places before the address (1 size, 2 CRC).
std::string FieldBeforeAddress(const std::string& answer, int fromEnd) {
  std::string before = answer.substr(0, answer.find("http:") == 0 ? 0 : answer.find("http:") - 1);
  for (int i = 1; i < fromEnd; ++i) {
    size_t comma = before.rfind(',');
    before = comma == std::string::npos ? std::string() : before.substr(0, comma);
  }
  size_t comma = before.rfind(',');
  return comma == std::string::npos ? before : before.substr(comma + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReplyServer& server = Server();
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\n');
  std::string answer = ReplaceHost(input.substr(0, split), server.Host());
  std::string reply = split == std::string::npos ? std::string() : input.substr(split + 1);
  server.SetReply(reply);

  std::string queried;
  zel::QueryFwUpgradeSupportList(queried);
  if (queried.size() > zel::kQueryBlockBytes * 2) __builtin_trap();  // Latin-1 to UTF-8 at most doubles

  const std::string folder = zel::fuzz::WorkFolder() + "/dl";
  int32_t result = zel::DownloadRemoteFile(answer, folder);
  if (result != 3 && result != 4 && result != 100 && result != 101 && result != 102) __builtin_trap();
  if (result == 3) {
    const std::string name = zel::SplitDownloadAddress(answer.substr(answer.find("http"))).fileName;
    if (!zel::IsSafeDownloadFileName(name)) __builtin_trap();
    FILE* f = std::fopen((folder + "/" + name).c_str(), "rb");
    if (!f) __builtin_trap();
    std::string stored;
    char block[8192];
    size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) stored.append(block, n);
    std::fclose(f);
    uint32_t crc = zel::Crc32(reinterpret_cast<const uint8_t*>(stored.data()), stored.size());
    if (std::to_string(stored.size()) != FieldBeforeAddress(answer, 1)) __builtin_trap();
    if (std::to_string(static_cast<int32_t>(crc)) != FieldBeforeAddress(answer, 2)) __builtin_trap();
  }
  // At most the answer's own file, a plain one (never a temporary file left
  // behind); then the folder is emptied for the next input.
  const size_t http = answer.find("http");
  const std::string own =
      http == std::string::npos ? std::string() : zel::SplitDownloadAddress(answer.substr(http)).fileName;
  DIR* d = ::opendir(folder.c_str());
  if (!d) __builtin_trap();
  while (dirent* e = ::readdir(d)) {
    std::string entry = e->d_name;
    if (entry == "." || entry == "..") continue;
    struct stat st {};
    if (!zel::IsSafeDownloadFileName(entry) || entry != own ||
        ::stat((folder + "/" + entry).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      __builtin_trap();
    ::unlink((folder + "/" + entry).c_str());
  }
  ::closedir(d);
  return 0;
}
