// Our update server: a small HTTP server that answers the update queries and
// serves files from a folder described by a manifest. It stands in for the
// maker's server in tests and on the demo machine; it is a test double, not
// a product. The manifest format is in docs/update-server.md.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zel::updateserver {

struct ServedFile {
  std::string name;           // as it appears in addresses ("/files/NAME")
  std::vector<uint8_t> data;  // read once at start
  uint32_t crc = 0;           // computed here, not taken from the manifest
};

struct FirmwareOffer {
  std::string model;           // the model number sent (exact match)
  std::string solution;        // empty: any controller solution
  std::string configId;        // empty: any config ID
  std::vector<std::string> from;  // revisions it replaces; empty: any other revision
  std::string recordId;
  std::string revision;
  std::string file;
};

struct FullPackage {
  std::string model;
  std::string address;
};

struct Manifest {
  std::vector<std::string> supportList;
  std::string programVersion;
  std::string programFile;
  std::vector<FirmwareOffer> firmware;
  std::vector<FullPackage> fullPackages;
  // Answers given verbatim for a request target (path and query as sent),
  // for answers no well-behaved server would give.
  std::map<std::string, std::string> answers;
  std::map<std::string, ServedFile> files;
};

// Reads a manifest and the files it names (beside it). False with `error`
// saying what is wrong.
bool LoadManifest(const std::string& path, Manifest* manifest, std::string* error);

// The CRC-32 of a file as the answers announce it (signed decimal).
std::string CrcText(uint32_t crc);
uint32_t FileCrc32(const std::vector<uint8_t>& data);

// The value of `key` in the query string of `target` (%XX decoded).
std::string QueryValue(const std::string& target, const std::string& key);

struct Response {
  int status = 200;
  std::string body;
  const ServedFile* file = nullptr;  // body taken from the file when set
};

class UpdateServer {
 public:
  // `log` receives one line per request and per result report.
  UpdateServer(Manifest manifest, std::FILE* log);
  ~UpdateServer();

  // Listens on `address`:`port` (port 0 picks a free one).
  bool Listen(const std::string& address, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }
  // Serves requests one after another until `stop` is set.
  void Serve(const std::atomic<bool>& stop);

  // The answer to one request target; `host` is the "HOST[:PORT]" that
  // download addresses name.
  Response Answer(const std::string& target, const std::string& host);

  // The result reports received so far ("Record_ID=77 Download_Result=1").
  std::vector<std::string> Reports() const;
  std::vector<std::string> Targets() const;

 private:
  void Handle(int fd);

  Manifest manifest_;
  std::FILE* log_;
  int listener_ = -1;
  uint16_t port_ = 0;
  std::string address_;
  mutable std::mutex mutex_;
  std::vector<std::string> reports_;
  std::vector<std::string> targets_;
};

}  // namespace zel::updateserver
