#include "tools/update-server/update_server_core.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace zel::updateserver {
namespace {

using Json = nlohmann::json;
constexpr const char* kMarker = "QUARN SSD Zelvane";
constexpr size_t kMaxRequestBytes = 16 * 1024;
constexpr int kRequestWaitMs = 10000;

bool PlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string Text(const Json& j, const char* key, const std::string& where) {
  if (!j.contains(key)) return {};
  if (!j[key].is_string()) throw std::runtime_error(where + "." + key + ": expected a text");
  return j[key].get<std::string>();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

bool SendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

uint32_t FileCrc32(const std::vector<uint8_t>& data) {
  // Bit by bit, on purpose: the client uses a table, so the two check each other.
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string CrcText(uint32_t crc) { return std::to_string(static_cast<int32_t>(crc)); }

std::string QueryValue(const std::string& target, const std::string& key) {
  size_t q = target.find('?');
  if (q == std::string::npos) return {};
  std::string query = target.substr(q + 1);
  size_t start = 0;
  while (start <= query.size()) {
    size_t amp = query.find('&', start);
    std::string pair = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = pair.find('=');
    if (eq != std::string::npos && pair.substr(0, eq) == key) {
      std::string raw = pair.substr(eq + 1), out;
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size() &&
            std::isxdigit(static_cast<unsigned char>(raw[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
          out += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
          i += 2;
        } else {
          out += raw[i];
        }
      }
      return out;
    }
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return {};
}

bool LoadManifest(const std::string& path, Manifest* manifest, std::string* error) {
  try {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    Json root = Json::parse(in);
    if (!root.is_object()) throw std::runtime_error("the manifest must be a JSON object");
    Manifest m;
    const std::string folder = FolderOf(path);
    auto addFile = [&](const std::string& name, const std::string& where) {
      if (!PlainName(name)) throw std::runtime_error(where + ": \"" + name + "\" is not a plain file name");
      if (m.files.count(name)) return;
      std::ifstream f(folder + "/" + name, std::ios::binary);
      if (!f) throw std::runtime_error(where + ": cannot read " + folder + "/" + name);
      ServedFile served;
      served.name = name;
      served.data.assign(std::istreambuf_iterator<char>(f), {});
      served.crc = FileCrc32(served.data);
      m.files[name] = std::move(served);
    };
    if (root.contains("supportList"))
      for (const Json& model : root["supportList"]) m.supportList.push_back(model.get<std::string>());
    if (root.contains("program")) {
      m.programVersion = Text(root["program"], "version", "program");
      m.programFile = Text(root["program"], "file", "program");
      if (!m.programFile.empty()) addFile(m.programFile, "program.file");
    }
    if (root.contains("firmware")) {
      int i = 0;
      for (const Json& f : root["firmware"]) {
        std::string where = "firmware[" + std::to_string(i++) + "]";
        FirmwareOffer offer;
        offer.model = Text(f, "model", where);
        offer.solution = Text(f, "solution", where);
        offer.configId = Text(f, "configId", where);
        offer.recordId = Text(f, "recordId", where);
        offer.revision = Text(f, "revision", where);
        offer.file = Text(f, "file", where);
        if (f.contains("from"))
          for (const Json& r : f["from"]) offer.from.push_back(r.get<std::string>());
        if (offer.model.empty() || offer.revision.empty() || offer.file.empty())
          throw std::runtime_error(where + ": needs model, revision and file");
        addFile(offer.file, where + ".file");
        m.firmware.push_back(offer);
      }
    }
    if (root.contains("fullPackages"))
      for (const Json& p : root["fullPackages"])
        m.fullPackages.push_back({Text(p, "model", "fullPackages"), Text(p, "address", "fullPackages")});
    if (root.contains("answers"))
      for (auto& [target, text] : root["answers"].items()) m.answers[target] = text.get<std::string>();
    if (root.contains("files"))
      for (const Json& name : root["files"]) addFile(name.get<std::string>(), "files");
    *manifest = std::move(m);
    return true;
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
}

UpdateServer::UpdateServer(Manifest manifest, std::FILE* log)
    : manifest_(std::move(manifest)), log_(log) {}

UpdateServer::~UpdateServer() {
  if (listener_ >= 0) ::close(listener_);
}

bool UpdateServer::Listen(const std::string& address, uint16_t port, std::string* error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return false;
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_, 16) != 0) {
    *error = std::string("cannot listen: ") + std::strerror(errno);
    return false;
  }
  socklen_t length = sizeof sa;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &length);
  port_ = ntohs(sa.sin_port);
  address_ = address;
  return true;
}

void UpdateServer::Serve(const std::atomic<bool>& stop) {
  while (!stop.load()) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Handle(fd);
    ::close(fd);
  }
}

void UpdateServer::Handle(int fd) {
  std::string request;
  char block[2048];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequestBytes) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kRequestWaitMs) <= 0) return;
    ssize_t n = ::recv(fd, block, sizeof block, 0);
    if (n <= 0) return;
    request.append(block, static_cast<size_t>(n));
  }
  // "GET TARGET HTTP/1.x"
  size_t lineEnd = request.find("\r\n");
  std::string line = request.substr(0, lineEnd);
  size_t s1 = line.find(' '), s2 = line.rfind(' ');
  if (line.compare(0, 4, "GET ") != 0 || s1 == s2) {
    const char* bad = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    SendAll(fd, bad, std::strlen(bad));
    return;
  }
  std::string target = line.substr(s1 + 1, s2 - s1 - 1);
  std::string host = address_ + ":" + std::to_string(port_);
  Response r = Answer(target, host);
  const std::string& body = r.file ? std::string() : r.body;
  size_t length = r.file ? r.file->data.size() : body.size();
  std::string head = "HTTP/1.1 " + std::to_string(r.status) +
                     (r.status == 200 ? " OK" : " Not Found") +
                     "\r\nContent-Type: " + (r.file ? "application/octet-stream" : "text/plain") +
                     "\r\nContent-Length: " + std::to_string(length) +
                     "\r\nConnection: close\r\n\r\n";
  if (!SendAll(fd, head.data(), head.size())) return;
  if (r.file)
    SendAll(fd, reinterpret_cast<const char*>(r.file->data.data()), r.file->data.size());
  else
    SendAll(fd, body.data(), body.size());
}

Response UpdateServer::Answer(const std::string& target, const std::string& host) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.push_back(target);
  }
  if (log_) {
    std::fprintf(log_, "GET %s\n", target.c_str());
    std::fflush(log_);
  }
  Response r;
  auto address = [&](const std::string& file) { return "http://" + host + "/files/" + file; };
  auto described = [&](const std::string& file) {
    const ServedFile& f = manifest_.files.at(file);
    return CrcText(f.crc) + "," + std::to_string(f.data.size()) + "," + address(file);
  };
  auto it = manifest_.answers.find(target);
  if (it != manifest_.answers.end()) {
    r.body = ReplaceAll(it->second, "{HOST}", host);
    return r;
  }
  const std::string path = target.substr(0, target.find('?'));
  if (path == "/ssd_ver.php" && QueryValue(target, "action") == "list") {
    r.body = kMarker;
    for (const std::string& model : manifest_.supportList) r.body += "," + model;
  } else if (path == "/ssd_ver.php") {
    if (manifest_.programFile.empty()) {
      r.body = std::string(kMarker) + ",1," + manifest_.programVersion + ",0,0,none";
    } else {
      r.body = std::string(kMarker) + ",1," + manifest_.programVersion + "," +
               described(manifest_.programFile);
    }
  } else if (path == "/ssd_fw_ver.php" && QueryValue(target, "SSD_Config_ID") == "website") {
    const std::string model = QueryValue(target, "SSD_Model_Number");
    r.body = std::string(kMarker) + ",none";
    for (const FullPackage& p : manifest_.fullPackages)
      if (p.model == model) r.body = std::string(kMarker) + "," + p.address;
  } else if (path == "/ssd_fw_ver.php") {
    const std::string model = QueryValue(target, "SSD_Model_Number");
    const std::string solution = QueryValue(target, "SSD_CTL_Solution");
    const std::string configId = QueryValue(target, "SSD_Config_ID");
    const std::string current = QueryValue(target, "SSD_Inside_Firmware");
    r.body = std::string(kMarker) + ",0," + current + ",0,0,none";
    for (const FirmwareOffer& o : manifest_.firmware) {
      bool fromOk = o.from.empty() ? o.revision != current
                                   : std::find(o.from.begin(), o.from.end(), current) != o.from.end();
      if (o.model == model && (o.solution.empty() || o.solution == solution) &&
          (o.configId.empty() || o.configId == configId) && fromOk) {
        r.body = std::string(kMarker) + "," + o.recordId + "," + o.revision + "," + described(o.file);
        break;
      }
    }
  } else if (path == "/ssd_fw_ver_update.php") {
    std::string report = "Record_ID=" + QueryValue(target, "Record_ID") +
                         " Download_Result=" + QueryValue(target, "Download_Result");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reports_.push_back(report);
    }
    if (log_) {
      std::fprintf(log_, "report: %s\n", report.c_str());
      std::fflush(log_);
    }
    r.body = std::string(kMarker) + ",OK";
  } else if (path.compare(0, 7, "/files/") == 0 && manifest_.files.count(path.substr(7))) {
    r.file = &manifest_.files.at(path.substr(7));
  } else {
    r.status = 404;
    r.body = "not found";
  }
  return r;
}

std::vector<std::string> UpdateServer::Reports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::vector<std::string> UpdateServer::Targets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return targets_;
}

}  // namespace zel::updateserver
