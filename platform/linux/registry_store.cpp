#include "platform/linux/registry_store.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/linux/inventory_sources.h"
#include "platform/text.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

// ERROR_KEY_DELETED: the key of an open handle was deleted meanwhile.
constexpr LSTATUS kErrorKeyDeleted = 1018;
constexpr const char* kStoredRoot = "software\\quarn";
constexpr const char* kProcessorKey = "hardware\\description\\system\\centralprocessor";
constexpr uint32_t kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x00010000u /*DELETE*/ |
                                  0x00040000u /*WRITE_DAC*/ | 0x00080000u /*WRITE_OWNER*/;

// "a\\b\" -> "a\b"; empty components are dropped, "WOW6432Node" right
// below SOFTWARE is the same place as SOFTWARE itself.
std::string Normalise(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  if (parts.size() >= 2 && EqualsNoCaseAscii(parts[0], "SOFTWARE") &&
      EqualsNoCaseAscii(parts[1], "WOW6432Node"))
    parts.erase(parts.begin() + 1);
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out += '\\';
    out += p;
  }
  return out;
}

bool IsWithin(const std::string& lower, const std::string& root) {
  return lower == root || StartsWith(lower, root + "\\");
}

std::string LastComponent(const std::string& path) {
  size_t at = path.rfind('\\');
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string ParentOf(const std::string& path) {
  size_t at = path.rfind('\\');
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

bool MakeFolders(const std::string& folder) {
  if (folder.empty()) return true;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t at = folder.rfind('/');
  if (at != std::string::npos && at > 0 && !MakeFolders(folder.substr(0, at))) return false;
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

std::vector<uint8_t> Utf16Sz(const std::string& text) {
  std::string bytes = Utf8ToUtf16LeBytes(text, true);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (db && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  explicit operator bool() const { return stmt_ != nullptr; }
  Statement& Text(int i, const std::string& s) {
    if (stmt_) sqlite3_bind_text(stmt_, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& Int(int i, int64_t v) {
    if (stmt_) sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Statement& Blob(int i, const uint8_t* p, size_t n) {
    if (stmt_) sqlite3_bind_blob(stmt_, i, n ? p : reinterpret_cast<const uint8_t*>(""),
                                 static_cast<int>(n), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  bool Done() { return Step() == SQLITE_DONE; }
  std::string ColumnText(int i) {
    const unsigned char* t = sqlite3_column_text(stmt_, i);
    return t ? reinterpret_cast<const char*>(t) : std::string();
  }
  int64_t ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }
  std::vector<uint8_t> ColumnBlob(int i) {
    const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, i));
    int n = sqlite3_column_bytes(stmt_, i);
    return p && n > 0 ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::string DefaultRegistryDatabasePath() {
  const char* dir = std::getenv("ZELVANE_STATE_DIR");
  std::string folder;
  if (dir && *dir) {
    folder = dir;
  } else if (::geteuid() == 0) {
    folder = "/var/lib/ssdzelvane";
  } else {
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && *state == '/') folder = std::string(state) + "/ssdzelvane";
    else if (home && *home) folder = std::string(home) + "/.local/state/ssdzelvane";
    else folder = "/tmp/ssdzelvane-" + std::to_string(::geteuid());
  }
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/registry.sqlite3";
}

RegistryStore::RegistryStore(std::string databasePath, HostFiles files)
    : path_(std::move(databasePath)), files_(std::move(files)) {}

const RegistryStore::ProcessorKeys& RegistryStore::Processors() const {
  std::call_once(processorsRead_, [this] {
    CpuInfo cpu = ParseCpuInfo(files_.Read("/proc/cpuinfo").value_or(std::string()));
    uint32_t count = std::max<uint32_t>(cpu.logicalProcessors, cpu.modelName.empty() ? 0u : 1u);
    for (uint32_t i = 0; i < count; ++i) {
      processors_.names.push_back(cpu.modelName);
      processors_.vendors.push_back(cpu.vendor);
      processors_.mhz.push_back(cpu.mhz);
    }
  });
  return processors_;
}

RegistryStore::~RegistryStore() {
  if (db_) sqlite3_close(db_);
}

bool RegistryStore::Exec(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool RegistryStore::Open(bool forWriting) {
  if (db_ && (writable_ || !forWriting)) return true;
  if (db_) {
    sqlite3_close(db_);
    db_ = nullptr;
  }
  if (forWriting) {
    size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0) MakeFolders(path_.substr(0, slash));
    if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
        SQLITE_OK) {
      sqlite3_busy_timeout(db_, 5000);
      if (Exec("CREATE TABLE IF NOT EXISTS keys(path TEXT PRIMARY KEY, name TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS vals(key TEXT NOT NULL, name TEXT NOT NULL, "
               "type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, name));")) {
        writable_ = true;
        return true;
      }
    }
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    writable_ = false;
    return false;
  }
  // Reading never creates the file.
  if (::access(path_.c_str(), F_OK) != 0) return false;
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db_, 5000);
  writable_ = false;
  return true;
}

bool RegistryStore::KeyExists(const std::string& lowerPath) {
  Statement s(db_, "SELECT 1 FROM keys WHERE path = ?1");
  s.Text(1, lowerPath);
  return s.Step() == SQLITE_ROW;
}

RegistryStore::Area RegistryStore::AreaOf(const std::string& path) const {
  std::string lower = ToLowerAscii(path);
  if (IsWithin(lower, kStoredRoot)) return Area::Stored;
  if (VirtualExists(path)) return Area::Virtual;
  return Area::Absent;
}

bool RegistryStore::VirtualExists(const std::string& path) const {
  std::string lower = ToLowerAscii(path);
  static const char* const fixed[] = {"",
                                      "software",
                                      "hardware",
                                      "hardware\\description",
                                      "hardware\\description\\system",
                                      kProcessorKey};
  for (const char* f : fixed)
    if (lower == f) return true;
  std::string prefix = std::string(kProcessorKey) + "\\";
  if (!StartsWith(lower, prefix)) return false;
  std::string n = lower.substr(prefix.size());
  if (n.empty() || n.size() > 4 || n.find_first_not_of("0123456789") != std::string::npos) return false;
  return static_cast<size_t>(std::atoi(n.c_str())) < Processors().names.size();
}

std::vector<std::string> RegistryStore::VirtualChildren(const std::string& path) const {
  std::string lower = ToLowerAscii(path);
  if (lower.empty()) return {"HARDWARE", "SOFTWARE"};
  if (lower == "hardware") return {"DESCRIPTION"};
  if (lower == "hardware\\description") return {"System"};
  if (lower == "hardware\\description\\system") return {"CentralProcessor"};
  if (lower == kProcessorKey) {
    std::vector<std::string> out;
    for (size_t i = 0; i < Processors().names.size(); ++i) out.push_back(std::to_string(i));
    return out;
  }
  return {};
}

bool RegistryStore::VirtualValue(const std::string& path, const std::string& name, Value* value) const {
  std::string lower = ToLowerAscii(path);
  std::string prefix = std::string(kProcessorKey) + "\\";
  if (!StartsWith(lower, prefix) || !VirtualExists(path)) return false;
  size_t i = static_cast<size_t>(std::atoi(lower.substr(prefix.size()).c_str()));
  const ProcessorKeys& cpu = Processors();
  if (EqualsNoCaseAscii(name, "ProcessorNameString")) {
    *value = Value{REG_SZ, Utf16Sz(cpu.names[i])};
    return true;
  }
  if (EqualsNoCaseAscii(name, "VendorIdentifier") && !cpu.vendors[i].empty()) {
    *value = Value{REG_SZ, Utf16Sz(cpu.vendors[i])};
    return true;
  }
  if (EqualsNoCaseAscii(name, "~MHz") && cpu.mhz[i] != 0) {
    Value v{REG_DWORD, std::vector<uint8_t>(4)};
    for (int b = 0; b < 4; ++b) v.data[b] = static_cast<uint8_t>(cpu.mhz[i] >> (8 * b));
    *value = v;
    return true;
  }
  return false;
}

bool RegistryStore::ResolvePath(HKEY root, const std::string& subKey, std::string* path) {
  std::string base;
  if (root != HKEY_LOCAL_MACHINE) {
    auto it = handles_.find(root);
    if (it == handles_.end()) return false;
    base = it->second.path;
  }
  *path = Normalise(base.empty() ? subKey : base + "\\" + subKey);
  return true;
}

HKEY RegistryStore::NewHandle(Handle h) {
  HKEY id = next_++;
  handles_[id] = std::move(h);
  return id;
}

bool RegistryStore::LookupHandle(HKEY key, Handle* h) {
  auto it = handles_.find(key);
  if (it == handles_.end()) return false;
  *h = it->second;
  return true;
}

LSTATUS RegistryStore::RegOpenKeyExW(HKEY root, const std::string& subKey, uint32_t /*options*/,
                                     uint32_t sam, HKEY* result) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string path;
  if (!ResolvePath(root, subKey, &path)) return ERROR_INVALID_HANDLE;
  Area area = AreaOf(path);
  bool wantsWrite = (sam & kWriteAccess) != 0;
  if (area == Area::Absent) return ERROR_FILE_NOT_FOUND;
  if (area == Area::Virtual) {
    if (wantsWrite) return ERROR_ACCESS_DENIED;
    *result = NewHandle(Handle{path, sam, area});
    return ERROR_SUCCESS;
  }
  if (!Open(false) || !KeyExists(ToLowerAscii(path))) return ERROR_FILE_NOT_FOUND;
  if (wantsWrite && !Open(true)) return ERROR_ACCESS_DENIED;
  *result = NewHandle(Handle{path, sam, area});
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::RegCreateKeyExW(HKEY root, const std::string& subKey, uint32_t /*options*/,
                                       uint32_t sam, HKEY* result, uint32_t* disposition) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!result) return ERROR_INVALID_PARAMETER;
  std::string path;
  if (!ResolvePath(root, subKey, &path)) return ERROR_INVALID_HANDLE;
  Area area = AreaOf(path);
  if (area == Area::Absent) return ERROR_ACCESS_DENIED;
  if (area == Area::Virtual) {
    if (sam & kWriteAccess) return ERROR_ACCESS_DENIED;
    if (disposition) *disposition = REG_OPENED_EXISTING_KEY;
    *result = NewHandle(Handle{path, sam, area});
    return ERROR_SUCCESS;
  }
  if (!Open(true)) return ERROR_ACCESS_DENIED;
  std::string lower = ToLowerAscii(path);
  bool existed = KeyExists(lower);
  if (!existed) {
    // The key and every missing key above it, down from the stored root.
    if (!Exec("BEGIN IMMEDIATE")) return ERROR_ACCESS_DENIED;
    std::string at = path;
    bool ok = true;
    while (ok && IsWithin(ToLowerAscii(at), kStoredRoot)) {
      Statement s(db_, "INSERT OR IGNORE INTO keys(path, name) VALUES(?1, ?2)");
      s.Text(1, ToLowerAscii(at)).Text(2, LastComponent(at));
      ok = s.Done();
      at = ParentOf(at);
    }
    if (!ok || !Exec("COMMIT")) {
      Exec("ROLLBACK");
      return ERROR_ACCESS_DENIED;
    }
  }
  if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
  *result = NewHandle(Handle{path, sam, area});
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::RegQueryValueExW(HKEY key, const std::string& valueName, uint32_t* type,
                                        uint8_t* data, uint32_t* dataSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle h;
  if (!LookupHandle(key, &h)) return ERROR_INVALID_HANDLE;
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  Value v;
  if (h.area == Area::Virtual) {
    if (!VirtualValue(h.path, valueName, &v)) return ERROR_FILE_NOT_FOUND;
  } else {
    if (!Open(false)) return ERROR_FILE_NOT_FOUND;
    Statement s(db_, "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    s.Text(1, ToLowerAscii(h.path)).Text(2, ToLowerAscii(valueName));
    if (s.Step() != SQLITE_ROW) return ERROR_FILE_NOT_FOUND;
    v.type = static_cast<uint32_t>(s.ColumnInt(0));
    v.data = s.ColumnBlob(1);
  }
  return AnswerValueQuery(v.type, v.data, type, data, dataSize);
}

LSTATUS RegistryStore::RegSetValueExW(HKEY key, const std::string& valueName, uint32_t type,
                                      const uint8_t* data, uint32_t dataSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle h;
  if (!LookupHandle(key, &h)) return ERROR_INVALID_HANDLE;
  if (h.area != Area::Stored || !(h.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (dataSize && !data) return ERROR_INVALID_PARAMETER;
  if (!Open(true)) return ERROR_ACCESS_DENIED;
  if (!KeyExists(ToLowerAscii(h.path))) return kErrorKeyDeleted;
  Statement s(db_, "INSERT OR REPLACE INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4)");
  s.Text(1, ToLowerAscii(h.path)).Text(2, ToLowerAscii(valueName)).Int(3, type).Blob(4, data, dataSize);
  return s.Done() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

LSTATUS RegistryStore::RegDeleteValueW(HKEY key, const std::string& valueName) {
  std::lock_guard<std::mutex> lock(mutex_);
  Handle h;
  if (!LookupHandle(key, &h)) return ERROR_INVALID_HANDLE;
  if (h.area != Area::Stored || !(h.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  if (!Open(true)) return ERROR_ACCESS_DENIED;
  Statement s(db_, "DELETE FROM vals WHERE key = ?1 AND name = ?2");
  s.Text(1, ToLowerAscii(h.path)).Text(2, ToLowerAscii(valueName));
  if (!s.Done()) return ERROR_ACCESS_DENIED;
  return sqlite3_changes(db_) > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegistryStore::RegDeleteKeyExW(HKEY root, const std::string& subKey, uint32_t /*sam*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string path;
  if (!ResolvePath(root, subKey, &path)) return ERROR_INVALID_HANDLE;
  Area area = AreaOf(path);
  if (area == Area::Absent) return ERROR_FILE_NOT_FOUND;
  if (area == Area::Virtual) return ERROR_ACCESS_DENIED;
  std::string lower = ToLowerAscii(path);
  if (!Open(false) || !KeyExists(lower)) return ERROR_FILE_NOT_FOUND;
  if (!Open(true)) return ERROR_ACCESS_DENIED;
  // As on the platform, a key with subkeys is not deleted.
  Statement children(db_, "SELECT 1 FROM keys WHERE path LIKE ?1 ESCAPE '!' LIMIT 1");
  std::string pattern;
  for (char c : lower + "\\") {
    if (c == '%' || c == '_' || c == '!') pattern += '!';
    pattern += c;
  }
  children.Text(1, pattern + "%");
  if (children.Step() == SQLITE_ROW) return ERROR_ACCESS_DENIED;
  if (!Exec("BEGIN IMMEDIATE")) return ERROR_ACCESS_DENIED;
  Statement v(db_, "DELETE FROM vals WHERE key = ?1");
  Statement k(db_, "DELETE FROM keys WHERE path = ?1");
  v.Text(1, lower);
  k.Text(1, lower);
  if (!v.Done() || !k.Done() || !Exec("COMMIT")) {
    Exec("ROLLBACK");
    return ERROR_ACCESS_DENIED;
  }
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::RegEnumKeyExW(HKEY key, uint32_t index, std::string* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string path;
  if (key == HKEY_LOCAL_MACHINE) {
    path.clear();
  } else {
    Handle h;
    if (!LookupHandle(key, &h)) return ERROR_INVALID_HANDLE;
    path = h.path;
  }
  std::vector<std::string> names = VirtualChildren(path);
  std::string lower = ToLowerAscii(path);
  bool storedParent = IsWithin(lower, kStoredRoot) || lower == "software";
  if (storedParent && Open(false)) {
    Statement s(db_, "SELECT path, name FROM keys");
    while (s.Step() == SQLITE_ROW) {
      std::string p = s.ColumnText(0);
      if (ParentOf(p) == lower && std::none_of(names.begin(), names.end(), [&](const std::string& n) {
            return EqualsNoCaseAscii(n, s.ColumnText(1));
          }))
        names.push_back(s.ColumnText(1));
    }
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return ToLowerAscii(a) < ToLowerAscii(b);
  });
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  if (name) *name = names[index];
  return ERROR_SUCCESS;
}

LSTATUS RegistryStore::RegCloseKey(HKEY key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  return handles_.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace zel::linuxbackend
