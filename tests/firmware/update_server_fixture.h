// Test support of the firmware and update-server tests: our update server
// running in-process on loopback, a raw server that answers whatever bytes a
// test gives it (or nothing at all), and a simulated machine whose update
// server is the one running.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "maintenance/update_server.h"
#include "support/sim_fixture.h"
#include "tools/update-server/update_server_core.h"

namespace zel::test {

// Answers every connection with `reply` (after reading the request) and
// closes it; with `silent`, holds the connection open without a byte until
// the client gives up. Records each request it read.
class RawServer {
 public:
  explicit RawServer(std::string reply, bool silent = false)
      : reply_(std::move(reply)), silent_(silent) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(fd_, 8);
    socklen_t length = sizeof sa;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length);
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~RawServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // What the next connections get.
  void SetReply(std::string reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_ = std::move(reply);
  }

 private:
  void Run() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) continue;
      std::string request;
      char block[4096];
      while (request.find("\r\n\r\n") == std::string::npos) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 2000) <= 0) break;
        ssize_t n = ::recv(c, block, sizeof block, 0);
        if (n <= 0) break;
        request.append(block, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      if (silent_) {
        // Hold the connection until the client closes it or the test ends.
        while (!stop_) {
          pollfd q{c, POLLIN, 0};
          if (::poll(&q, 1, 20) > 0 && ::recv(c, block, sizeof block, 0) <= 0) break;
        }
      } else {
        std::string reply;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          reply = reply_;
        }
        size_t sent = 0;
        while (sent < reply.size()) {
          ssize_t n = ::send(c, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
      }
      ::close(c);
    }
  }

  std::string reply_;
  bool silent_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// Our update server on a free loopback port, serving `manifest` until the
// object ends.
class RunningUpdateServer {
 public:
  explicit RunningUpdateServer(updateserver::Manifest manifest)
      : server_(std::move(manifest), nullptr) {
    std::string error;
    EXPECT_TRUE(server_.Listen("127.0.0.1", 0, &error)) << error;
    thread_ = std::thread([this] { server_.Serve(stop_); });
  }
  ~RunningUpdateServer() {
    stop_ = true;
    thread_.join();
  }
  std::string Host() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  updateserver::UpdateServer& Server() { return server_; }

 private:
  updateserver::UpdateServer server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A file served by the test's update server.
inline updateserver::ServedFile Served(const std::string& name, std::vector<uint8_t> data) {
  updateserver::ServedFile f;
  f.name = name;
  f.data = std::move(data);
  f.crc = updateserver::FileCrc32(f.data);
  return f;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// A simulated machine with the log on, whose update server is `host`; the
// current directory is the test's folder, so downloads land there.
class UpdateTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
  }
  void TearDown() override {
    SetIdleTimeoutMs(kIdleTimeoutMs);
    SimTest::TearDown();
  }
  void PointAt(const std::string& host) {
    env_.reset();  // the earlier setting goes back first, so the new one is not undone by it
    env_ = std::make_unique<ScopedEnv>(kUpdateServerEnvironment, host.c_str());
  }
  std::string InDir(const std::string& name) const { return Dir() + "/" + name; }
  bool Exists(const std::string& name) const { return ::access(InDir(name).c_str(), F_OK) == 0; }

 private:
  std::unique_ptr<ScopedEnv> env_;
};

}  // namespace zel::test
