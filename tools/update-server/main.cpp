// zelvane-update-server --manifest FILE [--listen ADDRESS] [--port N]
//
// Serves the update queries and the files of a manifest until interrupted.
// Prints "listening on ADDRESS:PORT" first (port 0 picks a free port, so a
// test reads the port from that line), then one line per request and one
// "report: ..." line per result report.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/update-server/update_server_core.h"

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) { g_stop.store(true); }

int Usage() {
  std::fprintf(stderr,
               "usage: zelvane-update-server --manifest FILE [--listen ADDRESS] [--port N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifestPath, address = "127.0.0.1";
  long port = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    if (arg == "--manifest") {
      manifestPath = argv[++i];
    } else if (arg == "--listen") {
      address = argv[++i];
    } else if (arg == "--port") {
      char* end = nullptr;
      port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 0 || port > 65535) return Usage();
    } else {
      return Usage();
    }
  }
  if (manifestPath.empty()) return Usage();
  zel::updateserver::Manifest manifest;
  std::string error;
  if (!zel::updateserver::LoadManifest(manifestPath, &manifest, &error)) {
    std::fprintf(stderr, "zelvane-update-server: %s\n", error.c_str());
    return 2;
  }
  zel::updateserver::UpdateServer server(std::move(manifest), stdout);
  if (!server.Listen(address, static_cast<uint16_t>(port), &error)) {
    std::fprintf(stderr, "zelvane-update-server: %s\n", error.c_str());
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("listening on %s:%u\n", address.c_str(), server.Port());
  std::fflush(stdout);
  server.Serve(g_stop);
  return 0;
}
