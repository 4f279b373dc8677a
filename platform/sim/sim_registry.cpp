// The registry store of the simulated machine.
#include "platform/sim/sim_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/bytes.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_wmi.h"
#include "platform/text.h"

namespace zel::sim {

using namespace zel::platform;

struct SimRegistry::Node {
  std::string name;
  Node* parent = nullptr;
  std::vector<std::shared_ptr<Node>> children;  // sorted without case, as the platform lists them
  std::vector<std::pair<std::string, Value>> values;
  bool deleted = false;

  std::shared_ptr<Node> Child(std::string_view n) const {
    for (const auto& c : children)
      if (EqualsNoCaseAscii(c->name, n)) return c;
    return nullptr;
  }
  Value* FindValue(std::string_view n) {
    for (auto& [k, v] : values)
      if (EqualsNoCaseAscii(k, n)) return &v;
    return nullptr;
  }
};

namespace {

constexpr size_t kMaxKeyNameLength = 255;
// Access rights that change a key or its values.
constexpr uint32_t kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x0020 /*KEY_CREATE_LINK*/ |
                                  0x00010000 /*DELETE*/ | 0x00040000 /*WRITE_DAC*/ |
                                  0x00080000 /*WRITE_OWNER*/;

struct TypeName {
  const char* name;
  uint32_t type;
};
constexpr TypeName kTypes[] = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                               {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                               {"REG_DWORD", REG_DWORD},         {"REG_MULTI_SZ", REG_MULTI_SZ},
                               {"REG_QWORD", REG_QWORD}};

std::string TypeText(uint32_t type) {
  for (const TypeName& t : kTypes)
    if (t.type == type) return t.name;
  return std::to_string(type);
}

uint32_t ParseType(const Json& value, const std::string& where) {
  if (value.is_string())
    for (const TypeName& t : kTypes)
      if (EqualsNoCaseAscii(value.get<std::string>(), t.name)) return t.type;
  return static_cast<uint32_t>(ToNumber(value, where));
}

std::vector<std::string> SplitPath(std::string_view path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i)
    if (i == path.size() || path[i] == '\\') {
      parts.emplace_back(path.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '\\';
    out += parts[i];
  }
  return out;
}

// A key path from the machine file: "HKLM\" / "HKEY_LOCAL_MACHINE\" in
// front are allowed.
std::string StripRoot(std::string path) {
  for (const char* prefix : {"HKEY_LOCAL_MACHINE\\", "HKLM\\"})
    if (StartsWith(ToUpperAscii(path), prefix)) return path.substr(std::string(prefix).size());
  return path;
}

std::vector<uint8_t> Le(uint64_t v, size_t n) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
  return out;
}

std::vector<uint8_t> Utf16Z(const std::string& text) {
  std::string bytes = Utf8ToUtf16LeBytes(text, true);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// A value from the machine file: "text" (REG_SZ), 12 (REG_DWORD), or
// {"type": ..., "data": ...} / {"type": ..., "bytes": "hex"}.
SimRegistry::Value ReadValue(const Json& v, const std::string& where) {
  SimRegistry::Value out;
  if (v.is_string()) {
    out.type = REG_SZ;
    out.data = Utf16Z(v.get<std::string>());
    return out;
  }
  if (v.is_number_integer()) {
    out.type = REG_DWORD;
    out.data = Le(ToNumber(v, where), 4);
    return out;
  }
  if (!v.is_object()) throw FixtureError(where + ": expected a text, a number or an object");
  CheckKeys(v, {"type", "data", "bytes", "comment"}, where);
  if (!v.contains("type")) throw FixtureError(where + ".type: required");
  out.type = ParseType(v["type"], where + ".type");
  if (v.contains("bytes")) {
    if (v.contains("data")) throw FixtureError(where + ": give either \"data\" or \"bytes\"");
    out.data = ToBytes(v["bytes"], where + ".bytes");
    return out;
  }
  if (!v.contains("data")) return out;
  const Json& d = v["data"];
  std::string w = where + ".data";
  switch (out.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (!d.is_string()) throw FixtureError(w + ": expected a text");
      out.data = Utf16Z(d.get<std::string>());
      break;
    case REG_DWORD:
      out.data = Le(ToNumber(d, w), 4);
      break;
    case REG_QWORD:
      out.data = Le(ToNumber(d, w), 8);
      break;
    case REG_MULTI_SZ: {
      if (!d.is_array()) throw FixtureError(w + ": expected a list of texts");
      std::string bytes;
      for (const Json& s : d) {
        if (!s.is_string()) throw FixtureError(w + ": expected a list of texts");
        bytes += Utf8ToUtf16LeBytes(s.get<std::string>(), true);
      }
      bytes += std::string(2, '\0');
      out.data.assign(bytes.begin(), bytes.end());
      break;
    }
    default:
      out.data = ToBytes(d, w);
      break;
  }
  return out;
}

std::string Hex(const std::vector<uint8_t>& data) {
  std::string out;
  char buf[4];
  for (size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", data[i]);
    out += buf;
  }
  return out;
}

// A UTF-16LE text with exactly one terminating NUL at its end, or nothing.
std::optional<std::string> CleanText(const std::vector<uint8_t>& d) {
  if (d.size() < 2 || d.size() % 2 || d[d.size() - 1] || d[d.size() - 2]) return std::nullopt;
  for (size_t i = 0; i + 2 < d.size(); i += 2)
    if (!d[i] && !d[i + 1]) return std::nullopt;
  return Utf16LeBytesToUtf8(d.data(), d.size() - 2);
}

Json WriteValue(const SimRegistry::Value& v) {
  Json out = Json::object();
  out["type"] = TypeText(v.type);
  const auto& d = v.data;
  switch (v.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
      if (auto text = CleanText(d)) {
        out["data"] = *text;
        return out;
      }
      break;
    case REG_DWORD:
      if (d.size() == 4) {
        out["data"] = GetLE32(d.data());
        return out;
      }
      break;
    case REG_QWORD:
      if (d.size() == 8) {
        uint64_t q = 0;
        for (size_t i = 0; i < 8; ++i) q |= static_cast<uint64_t>(d[i]) << (8 * i);
        out["data"] = q;
        return out;
      }
      break;
    case REG_MULTI_SZ: {
      // Texts each ended by NUL, then one more NUL.
      if (d.size() >= 2 && d.size() % 2 == 0 && !d[d.size() - 1] && !d[d.size() - 2]) {
        Json list = Json::array();
        size_t start = 0;
        bool ok = true;
        for (size_t i = 0; i + 2 <= d.size() - 2; i += 2)
          if (!d[i] && !d[i + 1]) {
            if (i == start) {
              ok = false;
              break;
            }
            list.push_back(Utf16LeBytesToUtf8(d.data() + start, i - start));
            start = i + 2;
          }
        if (ok && start == d.size() - 2) {
          out["data"] = list;
          return out;
        }
      }
      break;
    }
    default:
      break;
  }
  out["bytes"] = Hex(d);
  return out;
}

}  // namespace

SimRegistry::SimRegistry(const Json& root) : root_(std::make_shared<Node>()) { Seed(root); }

SimRegistry::~SimRegistry() {
  if (!outputFile_.empty()) Save();
}

void SimRegistry::Seed(const Json& root) {
  SimSystemInfo system = ReadSystemSection(root);
  system64_ = system.addressWidth == 64;

  Json section = root.value("registry", Json::object());
  const std::string where = "registry";
  CheckKeys(section, {"file", "programBits", "admin", "readOnly", "faults", "keys", "comment"},
            where);
  uint64_t bits = NumberOr(section, "programBits", 32, where);
  if (bits != 32 && bits != 64) throw FixtureError(where + ".programBits: expected 32 or 64");
  program32_ = bits == 32;
  admin_ = BoolOr(section, "admin", true, where);
  std::string file = TextOr(section, "file", "", where);
  if (!file.empty()) SetOutputFile(file);

  if (section.contains("readOnly")) {
    const Json& list = section["readOnly"];
    if (!list.is_array()) throw FixtureError(where + ".readOnly: expected a list of key paths");
    for (const Json& p : list) {
      if (!p.is_string()) throw FixtureError(where + ".readOnly: expected a list of key paths");
      readOnly_.push_back(SplitPath(StripRoot(p.get<std::string>())));
    }
  }
  if (section.contains("faults")) {
    const Json& list = section["faults"];
    if (!list.is_array()) throw FixtureError(where + ".faults: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = where + ".faults[" + std::to_string(i) + "]";
      const Json& f = list[i];
      CheckKeys(f, {"op", "key", "value", "error", "skip", "times", "comment"}, w);
      Fault fault;
      fault.op = TextOr(f, "op", "", w);
      static const char* kOps[] = {"open", "create", "query", "set", "deleteValue",
                                   "deleteKey", "enum", "close"};
      if (std::none_of(std::begin(kOps), std::end(kOps),
                       [&](const char* op) { return fault.op == op; }))
        throw FixtureError(w + ".op: expected one of open, create, query, set, deleteValue, "
                               "deleteKey, enum, close");
      fault.key = StripRoot(TextOr(f, "key", "", w));
      fault.value = TextOr(f, "value", "", w);
      fault.error = static_cast<LSTATUS>(NumberOr(f, "error", ERROR_ACCESS_DENIED, w));
      if (fault.error == 0) throw FixtureError(w + ".error: expected a failing status");
      fault.skip = static_cast<int>(IntegerOr(f, "skip", 0, 0, INT32_MAX, w));
      fault.times = static_cast<int>(IntegerOr(f, "times", -1, -1, INT32_MAX, w));
      faults_.push_back(fault);
    }
  }

  // The keys every machine has, and the processor keys the system reports.
  bool created = false;
  for (const char* k : {"HARDWARE\\DESCRIPTION\\System", "SOFTWARE", "SYSTEM"})
    WalkCreate(SplitPath(k), &created);
  if (system64_) WalkCreate(SplitPath("SOFTWARE\\WOW6432Node"), &created);
  for (int i = 0; i < system.processors; ++i) {
    auto cpu = WalkCreate(
        SplitPath("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\" + std::to_string(i)),
        &created);
    cpu->values.push_back({"ProcessorNameString", Value{REG_SZ, Utf16Z(system.processor)}});
    cpu->values.push_back(
        {"VendorIdentifier",
         Value{REG_SZ, Utf16Z(Contains(system.processor, "AMD") ? "AuthenticAMD" : "GenuineIntel")}});
    cpu->values.push_back({"~MHz", Value{REG_DWORD, Le(3192, 4)}});
  }

  if (section.contains("keys")) {
    const Json& keys = section["keys"];
    if (!keys.is_object()) throw FixtureError(where + ".keys: expected an object of key paths");
    for (auto it = keys.begin(); it != keys.end(); ++it) {
      std::string w = where + ".keys[\"" + it.key() + "\"]";
      std::vector<std::string> parts = SplitPath(StripRoot(it.key()));
      for (const std::string& p : parts)
        if (p.empty() || p.size() > kMaxKeyNameLength)
          throw FixtureError(w + ": not a valid key path");
      auto node = WalkCreate(parts, &created);
      if (!it->is_object()) throw FixtureError(w + ": expected an object of values");
      for (auto v = it->begin(); v != it->end(); ++v) {
        if (v.key() == "comment") continue;
        Value value = ReadValue(*v, w + "." + v.key());
        if (Value* existing = node->FindValue(v.key())) {
          *existing = std::move(value);
        } else {
          node->values.push_back({v.key(), std::move(value)});
        }
      }
    }
  }
}

void SimRegistry::SetOutputFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (path.empty()) {
    outputFile_.clear();
    return;
  }
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  outputFile_ = ec ? path : p.string();
}

bool SimRegistry::Save() const {
  std::string file;
  Json content;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    file = outputFile_;
  }
  if (file.empty()) return false;
  content = ToJson();
  // Never over a folder, device, FIFO or symbolic link the name may lead to.
  struct stat target {};
  if (::lstat(file.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return false;
  // Written beside the target and renamed over it, so a reader never sees
  // half a file. The temporary file is created new, never through a link
  // planted under its name (an entry of that name is removed first).
  const std::string temp = file + ".tmp";
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(temp.c_str(), flags, 0644);
  if (fd < 0 && errno == EEXIST && ::unlink(temp.c_str()) == 0) fd = ::open(temp.c_str(), flags, 0644);
  if (fd < 0) return false;
  const std::string text = content.dump(2) + '\n';
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == text.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

Json SimRegistry::ToJson() const {
  std::lock_guard<std::mutex> lock(mutex_);
  Json keys = Json::object();
  // Depth first, in the order the platform lists subkeys.
  std::vector<std::pair<std::string, const Node*>> stack;
  for (auto it = root_->children.rbegin(); it != root_->children.rend(); ++it)
    stack.push_back({(*it)->name, it->get()});
  while (!stack.empty()) {
    auto [path, node] = stack.back();
    stack.pop_back();
    Json values = Json::object();
    for (const auto& [name, v] : node->values) values[name] = WriteValue(v);
    keys[path] = values;
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
      stack.push_back({path + "\\" + (*it)->name, it->get()});
  }
  Json out = Json::object();
  out["keys"] = keys;
  return out;
}

std::shared_ptr<SimRegistry::Node> SimRegistry::Walk(const std::vector<std::string>& stored) const {
  std::shared_ptr<Node> n = root_;
  for (const std::string& part : stored) {
    n = n->Child(part);
    if (!n) return nullptr;
  }
  return n;
}

std::shared_ptr<SimRegistry::Node> SimRegistry::WalkCreate(const std::vector<std::string>& stored,
                                                           bool* created) {
  *created = false;
  std::shared_ptr<Node> n = root_;
  for (const std::string& part : stored) {
    std::shared_ptr<Node> c = n->Child(part);
    if (!c) {
      c = std::make_shared<Node>();
      c->name = part;
      c->parent = n.get();
      auto at = std::lower_bound(n->children.begin(), n->children.end(), c,
                                 [](const std::shared_ptr<Node>& a, const std::shared_ptr<Node>& b) {
                                   return ToLowerAscii(a->name) < ToLowerAscii(b->name);
                                 });
      n->children.insert(at, c);
      *created = true;
    }
    n = c;
  }
  return n;
}

std::string SimRegistry::PathOf(const Node& node) const {
  std::vector<std::string> parts;
  for (const Node* n = &node; n && n != root_.get(); n = n->parent) parts.push_back(n->name);
  std::reverse(parts.begin(), parts.end());
  return JoinPath(parts);
}

bool SimRegistry::WriteAllowed(const std::vector<std::string>& stored) const {
  if (!admin_) return false;
  for (const auto& ro : readOnly_) {
    if (ro.size() > stored.size()) continue;
    bool under = true;
    for (size_t i = 0; i < ro.size(); ++i)
      if (!EqualsNoCaseAscii(ro[i], stored[i])) under = false;
    if (under) return false;
  }
  return true;
}

LSTATUS SimRegistry::FaultFor(const std::string& op, const std::string& keyPath,
                              const std::string& valueName) {
  for (Fault& f : faults_) {
    if (f.op != op) continue;
    if (!f.key.empty() && !EqualsNoCaseAscii(f.key, keyPath)) continue;
    if (!f.value.empty() && !EqualsNoCaseAscii(f.value, valueName)) continue;
    int n = ++f.seen;
    if (n <= f.skip) continue;
    if (f.times >= 0 && n - f.skip > f.times) continue;
    return f.error;
  }
  return ERROR_SUCCESS;
}

SimRegistry::Handle* SimRegistry::Lookup(HKEY key) {
  auto it = handles_.find(key);
  return it == handles_.end() ? nullptr : &it->second;
}

HKEY SimRegistry::NewHandle(Handle h) {
  HKEY id = nextHandle_;
  nextHandle_ += 4;
  handles_[id] = std::move(h);
  return id;
}

// The path a call names, as the program sees it (`logical`) and as it is
// stored (`stored`): a 32-bit view on a 64-bit system finds the subkeys of
// SOFTWARE under SOFTWARE\WOW6432Node.
LSTATUS SimRegistry::Resolve(HKEY root, const std::string& subKey, uint32_t sam,
                             std::vector<std::string>* logical, std::vector<std::string>* stored,
                             bool* view32) {
  logical->clear();
  if (root != HKEY_LOCAL_MACHINE) {
    Handle* h = Lookup(root);
    if (!h) return ERROR_INVALID_HANDLE;
    if (h->node->deleted) return kErrorKeyDeleted;
    *logical = h->logical;
  }
  std::string sub = subKey;
  if (!sub.empty() && sub.back() == '\\') sub.pop_back();
  if (!sub.empty()) {
    for (std::string& part : SplitPath(sub)) {
      if (part.empty()) return kErrorBadPathname;
      if (Utf16Length(part) > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
      logical->push_back(std::move(part));
    }
  }
  if (sam & KEY_WOW64_64KEY) {
    *view32 = false;
  } else if (sam & KEY_WOW64_32KEY) {
    *view32 = true;
  } else {
    *view32 = program32_;
  }
  *stored = *logical;
  if (*view32 && system64_ && stored->size() >= 2 && EqualsNoCaseAscii((*stored)[0], "SOFTWARE") &&
      !EqualsNoCaseAscii((*stored)[1], "WOW6432Node"))
    stored->insert(stored->begin() + 1, "WOW6432Node");
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegOpenKeyExW(HKEY root, const std::string& subKey, uint32_t /*options*/,
                                   uint32_t samDesired, HKEY* result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::vector<std::string> logical, stored;
  bool view32 = false;
  if (LSTATUS s = Resolve(root, subKey, samDesired, &logical, &stored, &view32)) return s;
  std::string path = JoinPath(stored);
  if (LSTATUS f = FaultFor("open", path, "")) return f;
  std::shared_ptr<Node> node = Walk(stored);
  if (!node) return ERROR_FILE_NOT_FOUND;
  if ((samDesired & kWriteRights) && !WriteAllowed(stored)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(Handle{node, logical, view32, samDesired});
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegCreateKeyExW(HKEY root, const std::string& subKey, uint32_t /*options*/,
                                     uint32_t samDesired, HKEY* result, uint32_t* disposition) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = 0;
  std::vector<std::string> logical, stored;
  bool view32 = false;
  if (LSTATUS s = Resolve(root, subKey, samDesired, &logical, &stored, &view32)) return s;
  std::string path = JoinPath(stored);
  if (LSTATUS f = FaultFor("create", path, "")) return f;
  std::shared_ptr<Node> node = Walk(stored);
  if (!node) {
    if (!WriteAllowed(stored)) return ERROR_ACCESS_DENIED;
    if (root != HKEY_LOCAL_MACHINE && !(Lookup(root)->access & KEY_CREATE_SUB_KEY))
      return ERROR_ACCESS_DENIED;
  } else if ((samDesired & kWriteRights) && !WriteAllowed(stored)) {
    return ERROR_ACCESS_DENIED;
  }
  bool created = false;
  if (!node) node = WalkCreate(stored, &created);
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = NewHandle(Handle{node, logical, view32, samDesired});
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegQueryValueExW(HKEY key, const std::string& valueName, uint32_t* type,
                                      uint8_t* data, uint32_t* dataSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* h = Lookup(key);
  if (!h) return ERROR_INVALID_HANDLE;
  if (h->node->deleted) return kErrorKeyDeleted;
  if (!(h->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  if (LSTATUS f = FaultFor("query", PathOf(*h->node), valueName)) return f;
  Value* v = h->node->FindValue(valueName);
  if (!v) return ERROR_FILE_NOT_FOUND;
  return AnswerValueQuery(v->type, v->data, type, data, dataSize);
}

LSTATUS SimRegistry::RegSetValueExW(HKEY key, const std::string& valueName, uint32_t type,
                                    const uint8_t* data, uint32_t dataSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* h = Lookup(key);
  if (!h) return ERROR_INVALID_HANDLE;
  if (h->node->deleted) return kErrorKeyDeleted;
  if (!(h->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (dataSize && !data) return ERROR_INVALID_PARAMETER;
  if (LSTATUS f = FaultFor("set", PathOf(*h->node), valueName)) return f;
  Value value{type, std::vector<uint8_t>(data, data + dataSize)};
  if (Value* existing = h->node->FindValue(valueName)) {
    *existing = std::move(value);
  } else {
    h->node->values.push_back({valueName, std::move(value)});
  }
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegDeleteValueW(HKEY key, const std::string& valueName) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle* h = Lookup(key);
  if (!h) return ERROR_INVALID_HANDLE;
  if (h->node->deleted) return kErrorKeyDeleted;
  if (!(h->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (LSTATUS f = FaultFor("deleteValue", PathOf(*h->node), valueName)) return f;
  auto& values = h->node->values;
  auto it = std::find_if(values.begin(), values.end(),
                         [&](const auto& p) { return EqualsNoCaseAscii(p.first, valueName); });
  if (it == values.end()) return ERROR_FILE_NOT_FOUND;
  values.erase(it);
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegDeleteKeyExW(HKEY root, const std::string& subKey, uint32_t samDesired) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> logical, stored;
  bool view32 = false;
  if (LSTATUS s = Resolve(root, subKey, samDesired, &logical, &stored, &view32)) return s;
  if (LSTATUS f = FaultFor("deleteKey", JoinPath(stored), "")) return f;
  std::shared_ptr<Node> node = Walk(stored);
  if (!node) return ERROR_FILE_NOT_FOUND;
  // The root, a key with subkeys, or a key the program may not change.
  if (node == root_ || !node->children.empty() || !WriteAllowed(stored)) return ERROR_ACCESS_DENIED;
  auto& siblings = node->parent->children;
  siblings.erase(std::find(siblings.begin(), siblings.end(), node));
  node->deleted = true;
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegEnumKeyExW(HKEY key, uint32_t index, std::string* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<Node> node;
  if (key == HKEY_LOCAL_MACHINE) {
    node = root_;
  } else {
    Handle* h = Lookup(key);
    if (!h) return ERROR_INVALID_HANDLE;
    if (h->node->deleted) return kErrorKeyDeleted;
    if (!(h->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    node = h->node;
  }
  if (LSTATUS f = FaultFor("enum", PathOf(*node), "")) return f;
  if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
  if (name) *name = node->children[index]->name;
  return ERROR_SUCCESS;
}

LSTATUS SimRegistry::RegCloseKey(HKEY key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  Handle* h = Lookup(key);
  if (!h) return ERROR_INVALID_HANDLE;
  std::string path = PathOf(*h->node);
  handles_.erase(key);  // a failing close still ends the handle
  return FaultFor("close", path, "");
}

std::optional<SimRegistry::Value> SimRegistry::Find(const std::string& keyPath,
                                                    const std::string& valueName) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::shared_ptr<Node> node = Walk(SplitPath(StripRoot(keyPath)));
  if (!node) return std::nullopt;
  if (Value* v = node->FindValue(valueName)) return *v;
  return std::nullopt;
}

bool SimRegistry::KeyExists(const std::string& keyPath) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Walk(SplitPath(StripRoot(keyPath))) != nullptr;
}

size_t SimRegistry::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

SimRegistry& RegistryOf(SimMachine& machine) { return dynamic_cast<SimRegistry&>(machine.Reg()); }

std::unique_ptr<Registry> MakeSimRegistry(SimMachine& machine) {
  return std::make_unique<SimRegistry>(machine.Root());
}

}  // namespace zel::sim
