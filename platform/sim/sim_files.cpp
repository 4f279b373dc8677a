#include "platform/sim/sim_files.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <mutex>
#include <vector>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/host/host_file_calls.h"
#include "platform/sim/machine.h"
#include "platform/text.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

// Handles of virtual files and listings are numbered apart from those of
// the real folders.
constexpr HANDLE kFirstVirtualHandle = 0x40000000;
constexpr HANDLE kFirstHostHandle = 0x10000;
// No file of a test is given this much content; a write that would give a
// file without content (a filler file) this much is refused.
constexpr uint64_t kMaxContentBytes = 64ull << 20;
constexpr uint32_t kChangeableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

struct Node {
  std::string name;  // the last component as it was created
  bool folder = false;
  uint32_t attributes = 0;  // folders carry FILE_ATTRIBUTE_DIRECTORY too
  uint64_t size = 0;
  bool hasContent = false;
  std::string content;  // the first bytes of the file; the rest reads as zeros
  int64_t created = 0, written = 0, accessed = 0;
};

struct Fault {
  std::string call;  // a call's name, or "any"
  std::string path;  // the end of the paths it takes (without case); empty for every path
  uint32_t error = ERROR_GEN_FAILURE;
  int64_t times = -1;  // how many calls it takes; -1 for all
};

struct Volume {
  char letter = 0;
  std::string fileSystem;
  uint64_t size = 0;
  uint64_t free = 0;
  uint32_t cluster = 4096;
  bool noMedium = false;  // a CD-ROM drive without a disc
  // Nodes by their upper-cased path inside the volume ("TMP\\F0"); the root
  // is not a node.
  std::map<std::string, Node> nodes;
  std::vector<Fault> faults;
};

struct OpenFile {
  Volume* volume = nullptr;
  std::string key;
  uint32_t access = 0, share = 0;
  uint64_t position = 0;
};

bool Reads(uint32_t access) { return (access & GENERIC_READ) != 0; }
bool Writes(uint32_t access) { return (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0; }

bool Shares(const OpenFile& a, uint32_t access, uint32_t share) {
  if (Reads(a.access) && !(share & FILE_SHARE_READ)) return false;
  if (Writes(a.access) && !(share & FILE_SHARE_WRITE)) return false;
  if (Reads(access) && !(a.share & FILE_SHARE_READ)) return false;
  if (Writes(access) && !(a.share & FILE_SHARE_WRITE)) return false;
  return true;
}

std::string Upper(std::string_view s) { return ToUpperAscii(s); }

std::string ParentKey(const std::string& key) {
  size_t at = key.rfind('\\');
  return at == std::string::npos ? std::string() : key.substr(0, at);
}

bool ValidName(const std::string& name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && EqualsNoCaseAscii(text.substr(text.size() - end.size()), end);
}

// Listing order: names without regard to ASCII case, then byte order.
bool ListedBefore(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
  std::string ua = Upper(a.cFileName), ub = Upper(b.cFileName);
  return ua != ub ? ua < ub : a.cFileName < b.cFileName;
}

std::vector<Fault> ReadFaults(const Json& section, const std::string& where) {
  std::vector<Fault> faults;
  if (!section.contains("faults")) return faults;
  const Json& list = section["faults"];
  if (!list.is_array()) throw FixtureError(where + ".faults: expected a list");
  for (size_t i = 0; i < list.size(); ++i) {
    std::string at = where + ".faults[" + std::to_string(i) + "]";
    CheckKeys(list[i], {"call", "path", "error", "times", "comment"}, at);
    Fault f;
    f.call = TextOr(list[i], "call", "", at);
    if (f.call.empty()) throw FixtureError(at + ".call: expected the name of a file call or \"any\"");
    f.path = TextOr(list[i], "path", "", at);
    f.error = static_cast<uint32_t>(NumberOr(list[i], "error", ERROR_GEN_FAILURE, at));
    f.times = list[i].contains("times") ? static_cast<int64_t>(NumberOr(list[i], "times", 0, at)) : -1;
    faults.push_back(std::move(f));
  }
  return faults;
}

// Takes the first fault of the list that matches the call and path.
bool TakeFault(std::vector<Fault>& faults, std::string_view call, const std::string& path) {
  for (Fault& f : faults) {
    if (f.times == 0) continue;
    if (f.call != "any" && f.call != call) continue;
    if (!f.path.empty() && !EndsWithNoCase(path, f.path)) continue;
    if (f.times > 0) --f.times;
    SetLastError(f.error);
    return true;
  }
  return false;
}

class SimFilesImpl final : public SimFiles {
 public:
  explicit SimFilesImpl(SimMachine& machine) : machine_(machine), host_(kFirstHostHandle) {
    const Json& root = machine.Root();
    if (root.contains("files")) {
      const Json& files = root["files"];
      CheckKeys(files, {"faults", "comment"}, "files");
      hostFaults_ = ReadFaults(files, "files");
    }
    for (size_t i = 0; i < machine.Volumes().size(); ++i) LoadVolume(machine.Volumes()[i], i);
  }

  // ---- Handles ---------------------------------------------------------------------

  HANDLE CreateFileW(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "CreateFileW", &v, &key)) {
      case Where::Failed: return INVALID_HANDLE_VALUE;
      case Where::Host: return host_.CreateFile(path, access, share, disposition, flags);
      case Where::Volume: break;
    }
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    auto it = v->nodes.find(key);
    const bool exists = key.empty() || it != v->nodes.end();
    if (exists && (key.empty() || it->second.folder)) {
      SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (!exists && !ParentIsFolder(*v, key)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    const bool truncates = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if (exists) {
      if (disposition == CREATE_NEW) {
        SetLastError(ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
      }
      if ((it->second.attributes & FILE_ATTRIBUTE_READONLY) && (Writes(access) || truncates)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
    } else if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (truncates && !Writes(access)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    for (const auto& [h, other] : open_) {
      if (other.volume == v && other.key == key && !Shares(other, access, share)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
    }
    const int64_t now = machine_.Clock().UnixMs();
    if (!exists) {
      Node n;
      n.name = LastName(path);
      n.attributes = FILE_ATTRIBUTE_ARCHIVE | (flags & kChangeableAttributes);
      n.created = n.written = n.accessed = now;
      it = v->nodes.emplace(key, std::move(n)).first;
    } else if (truncates) {
      Resize(*v, it->second, 0);
      it->second.content.clear();
      it->second.written = now;
    }
    HANDLE h = next_++;
    open_[h] = OpenFile{v, key, access, share, 0};
    SetLastError(exists && (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
                     ? ERROR_ALREADY_EXISTS
                     : ERROR_SUCCESS);
    return h;
  }

  bool ReadFile(HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got) override {
    if (got) *got = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* f = Lookup(h);
    if (!f) return host_.ReadFile(h, buffer, size, got);
    if (!Reads(f->access)) return FailWith(ERROR_ACCESS_DENIED);
    Node& n = f->volume->nodes.at(f->key);
    if (TakeFault(f->volume->faults, "ReadFile", n.name)) return false;
    uint64_t count = f->position >= n.size ? 0 : std::min<uint64_t>(size, n.size - f->position);
    for (uint64_t i = 0; i < count; ++i) {
      uint64_t at = f->position + i;
      buffer[i] = at < n.content.size() ? static_cast<uint8_t>(n.content[at]) : 0;
    }
    f->position += count;
    n.accessed = machine_.Clock().UnixMs();
    if (got) *got = static_cast<uint32_t>(count);
    SetLastError(ERROR_SUCCESS);
    return true;
  }

  bool WriteFile(HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written) override {
    if (written) *written = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* f = Lookup(h);
    if (!f) return host_.WriteFile(h, data, size, written);
    if (!Writes(f->access)) return FailWith(ERROR_ACCESS_DENIED);
    Volume& v = *f->volume;
    Node& n = v.nodes.at(f->key);
    if (TakeFault(v.faults, "WriteFile", n.name)) return false;
    const bool append = (f->access & FILE_APPEND_DATA) && !(f->access & GENERIC_WRITE);
    const uint64_t start = append ? n.size : f->position;
    const uint64_t end = start + size;
    if (end > kMaxContentBytes) return FailWith(ERROR_NOT_ENOUGH_MEMORY);
    // A write the volume has no room for writes nothing.
    if (end > n.size && !Resize(v, n, end)) return FailWith(ERROR_DISK_FULL);
    if (n.content.size() < end) n.content.resize(end, '\0');
    std::copy(data, data + size, n.content.begin() + static_cast<std::ptrdiff_t>(start));
    n.hasContent = true;
    n.written = machine_.Clock().UnixMs();
    f->position = end;
    if (written) *written = size;
    SetLastError(ERROR_SUCCESS);
    return true;
  }

  bool GetFileSizeEx(HANDLE h, uint64_t* size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* f = Lookup(h);
    if (!f) return host_.GetFileSize(h, size);
    if (size) *size = f->volume->nodes.at(f->key).size;
    return true;
  }

  bool GetFileTime(HANDLE h, FILETIME* creation, FILETIME* access, FILETIME* write) override {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* f = Lookup(h);
    if (!f) return host_.GetFileTime(h, creation, access, write);
    const Node& n = f->volume->nodes.at(f->key);
    if (creation) *creation = FileTimeFromUnixMs(n.created);
    if (access) *access = FileTimeFromUnixMs(n.accessed);
    if (write) *write = FileTimeFromUnixMs(n.written);
    return true;
  }

  bool FlushFileBuffers(HANDLE h) override {
    std::lock_guard<std::mutex> lock(mutex_);
    OpenFile* f = Lookup(h);
    if (!f) return host_.Flush(h);
    if (!Writes(f->access)) return FailWith(ERROR_ACCESS_DENIED);
    return true;
  }

  bool CloseHandle(HANDLE h) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_.erase(h) != 0) return true;
    return host_.Close(h);
  }

  // ---- Names -------------------------------------------------------------------------

  uint32_t GetFileAttributesW(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "GetFileAttributesW", &v, &key)) {
      case Where::Failed: return INVALID_FILE_ATTRIBUTES;
      case Where::Host: return host_.GetAttributes(path);
      case Where::Volume: break;
    }
    if (key.empty()) return FILE_ATTRIBUTE_DIRECTORY;
    auto it = v->nodes.find(key);
    if (it == v->nodes.end()) {
      SetLastError(ParentIsFolder(*v, key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      return INVALID_FILE_ATTRIBUTES;
    }
    return it->second.attributes ? it->second.attributes : FILE_ATTRIBUTE_NORMAL;
  }

  bool SetFileAttributesW(const std::string& path, uint32_t attributes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "SetFileAttributesW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return host_.SetAttributes(path, attributes);
      case Where::Volume: break;
    }
    if (key.empty()) return true;
    Node* n = Find(*v, key);
    if (!n) return false;
    n->attributes = (attributes & kChangeableAttributes) | (n->folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
    return true;
  }

  bool DeleteFileW(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "DeleteFileW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return host_.DeleteFile(path);
      case Where::Volume: break;
    }
    if (key.empty()) return FailWith(ERROR_ACCESS_DENIED);
    Node* n = Find(*v, key);
    if (!n) return false;
    if (n->folder || (n->attributes & FILE_ATTRIBUTE_READONLY)) return FailWith(ERROR_ACCESS_DENIED);
    for (const auto& [h, f] : open_)
      if (f.volume == v && f.key == key && !(f.share & FILE_SHARE_DELETE))
        return FailWith(ERROR_SHARING_VIOLATION);
    Resize(*v, *n, 0);
    v->nodes.erase(key);
    return true;
  }

  bool CreateDirectoryW(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "CreateDirectoryW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return host_.CreateFolder(path);
      case Where::Volume: break;
    }
    if (key.empty() || v->nodes.count(key)) return FailWith(ERROR_ALREADY_EXISTS);
    if (!ParentIsFolder(*v, key)) return FailWith(ERROR_PATH_NOT_FOUND);
    Node n;
    n.name = LastName(path);
    n.folder = true;
    n.attributes = FILE_ATTRIBUTE_DIRECTORY;
    n.created = n.written = n.accessed = machine_.Clock().UnixMs();
    v->nodes.emplace(key, std::move(n));
    return true;
  }

  bool RemoveDirectoryW(const std::string& path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "RemoveDirectoryW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return host_.RemoveFolder(path);
      case Where::Volume: break;
    }
    if (key.empty()) return FailWith(ERROR_ACCESS_DENIED);
    Node* n = Find(*v, key);
    if (!n) return false;
    if (!n->folder) return FailWith(ERROR_DIRECTORY);
    if (n->attributes & FILE_ATTRIBUTE_READONLY) return FailWith(ERROR_ACCESS_DENIED);
    auto child = v->nodes.upper_bound(key + "\\");
    if (child != v->nodes.end() && child->first.compare(0, key.size() + 1, key + "\\") == 0)
      return FailWith(ERROR_DIR_NOT_EMPTY);
    v->nodes.erase(key);
    return true;
  }

  // ---- Listings ------------------------------------------------------------------------

  HANDLE FindFirstFileW(const std::string& pattern, WIN32_FIND_DATAW* found) override {
    std::lock_guard<std::mutex> lock(mutex_);
    // The folder is resolved as a path; the last component is the pattern.
    size_t cut = pattern.find_last_of("\\/");
    std::string namePattern = cut == std::string::npos ? pattern : pattern.substr(cut + 1);
    std::string folderPath = cut == std::string::npos ? std::string() : pattern.substr(0, cut + 1);
    Volume* v = nullptr;
    std::string key;
    Where where = folderPath.empty() ? Where::Host : Resolve(folderPath, "FindFirstFileW", &v, &key);
    if (where == Where::Failed) return INVALID_HANDLE_VALUE;
    if (where == Where::Host) {
      if (TakeFault(hostFaults_, "FindFirstFileW", pattern)) return INVALID_HANDLE_VALUE;
      return host_.FindFirst(pattern, false, found);
    }
    if (namePattern.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (!key.empty()) {
      auto it = v->nodes.find(key);
      if (it == v->nodes.end() || !it->second.folder) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
    }
    std::vector<WIN32_FIND_DATAW> entries;
    if (!key.empty()) {
      const Node& self = v->nodes.at(key);
      for (const char* dots : {".", ".."}) {
        if (!MatchesWildcard(namePattern, dots)) continue;
        WIN32_FIND_DATAW d = Record(self);
        d.cFileName = dots;
        entries.push_back(d);
      }
    }
    const std::string prefix = key.empty() ? std::string() : key + "\\";
    for (auto it = v->nodes.lower_bound(prefix); it != v->nodes.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      if (it->first.find('\\', prefix.size()) != std::string::npos) continue;
      if (MatchesWildcard(namePattern, it->second.name)) entries.push_back(Record(it->second));
    }
    if (entries.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    std::sort(entries.begin(), entries.end(), ListedBefore);
    if (found) *found = entries.front();
    HANDLE h = next_++;
    finds_[h] = Listing{std::move(entries), 1};
    SetLastError(ERROR_SUCCESS);
    return h;
  }

  bool FindNextFileW(HANDLE h, WIN32_FIND_DATAW* found) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = finds_.find(h);
    if (it == finds_.end()) return host_.FindNext(h, found);
    if (it->second.next >= it->second.entries.size()) return FailWith(ERROR_NO_MORE_FILES);
    if (found) *found = it->second.entries[it->second.next];
    ++it->second.next;
    SetLastError(ERROR_SUCCESS);
    return true;
  }

  bool FindClose(HANDLE h) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finds_.erase(h) != 0) return true;
    return host_.FindClose(h);
  }

  // ---- Volumes ---------------------------------------------------------------------------

  bool GetDiskFreeSpaceExW(const std::string& directory, uint64_t* toCaller, uint64_t* total,
                           uint64_t* free) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(directory, "GetDiskFreeSpaceExW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return host_.FreeSpace(directory, toCaller, total, free);
      case Where::Volume: break;
    }
    if (!key.empty()) {
      Node* n = Find(*v, key);
      if (!n) return false;
      if (!n->folder) return FailWith(ERROR_DIRECTORY);
    }
    if (toCaller) *toCaller = v->free;
    if (total) *total = v->size;
    if (free) *free = v->free;
    return true;
  }

  bool GetDiskFreeSpaceW(const std::string& rootPath, uint32_t* sectorsPerCluster,
                         uint32_t* bytesPerSector, uint32_t* freeClusters,
                         uint32_t* totalClusters) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(rootPath, "GetDiskFreeSpaceW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host:
        return host_.Geometry(rootPath, sectorsPerCluster, bytesPerSector, freeClusters, totalClusters);
      case Where::Volume: break;
    }
    auto clusters = [&](uint64_t bytes) {
      return static_cast<uint32_t>(std::min<uint64_t>(bytes / v->cluster, 0xFFFFFFFFu));
    };
    if (sectorsPerCluster) *sectorsPerCluster = v->cluster / 512;
    if (bytesPerSector) *bytesPerSector = 512;
    if (freeClusters) *freeClusters = clusters(v->free);
    if (totalClusters) *totalClusters = clusters(v->size);
    return true;
  }

  bool GetVolumePathNameW(const std::string& path, std::string* volumePath,
                          uint32_t bufferLength) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "GetVolumePathNameW", &v, &key)) {
      case Where::Failed: return false;
      // The real folders lie on no volume of the machine file.
      case Where::Host: return FailWith(ERROR_PATH_NOT_FOUND);
      case Where::Volume: break;
    }
    if (bufferLength < 4) return FailWith(ERROR_FILENAME_EXCED_RANGE);
    if (volumePath) *volumePath = std::string(1, v->letter) + ":\\";
    return true;
  }

  uint32_t GetLogicalDriveStringsW(uint32_t bufferLength, char16_t* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::u16string all;
    for (const auto& [letter, v] : volumes_) {
      all += static_cast<char16_t>(letter);
      all += u":\\";
      all += u'\0';
    }
    const uint32_t needed = static_cast<uint32_t>(all.size()) + 1;
    if (!buffer || bufferLength < needed) return needed;
    std::copy(all.begin(), all.end(), buffer);
    buffer[all.size()] = u'\0';
    SetLastError(ERROR_SUCCESS);
    return static_cast<uint32_t>(all.size());
  }

  std::string GetFullPathNameW(const std::string& path) override {
    // A lettered path is full already.
    if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return path;
    return host_.FullPath(path);
  }

  // ---- For the machine's other components and for tests ----------------------------------

  bool VolumeOf(char letter, VolumeState* state) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = volumes_.find(static_cast<char>(ToUpperAscii(std::string(1, letter))[0]));
    if (it == volumes_.end()) return false;
    if (state) *state = VolumeState{it->second.size, it->second.free};
    return true;
  }

  bool CreateSizedFile(const std::string& path, uint64_t size) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Volume* v = nullptr;
    std::string key;
    switch (Resolve(path, "CreateFileW", &v, &key)) {
      case Where::Failed: return false;
      case Where::Host: return FailWith(ERROR_PATH_NOT_FOUND);
      case Where::Volume: break;
    }
    if (key.empty() || v->nodes.count(key)) return FailWith(ERROR_FILE_EXISTS);
    if (!ParentIsFolder(*v, key)) return FailWith(ERROR_PATH_NOT_FOUND);
    Node n;
    n.name = LastName(path);
    n.attributes = FILE_ATTRIBUTE_ARCHIVE;
    n.created = n.written = n.accessed = machine_.Clock().UnixMs();
    if (!Resize(*v, n, size)) return FailWith(ERROR_DISK_FULL);
    v->nodes.emplace(key, std::move(n));
    return true;
  }

 private:
  enum class Where { Failed, Host, Volume };
  static Where Failed(uint32_t error) {
    SetLastError(error);
    return Where::Failed;
  }
  struct Listing {
    std::vector<WIN32_FIND_DATAW> entries;
    size_t next = 0;
  };

  void LoadVolume(const SimVolume& sv, size_t index);
  void AddNode(Volume& v, const Json& entry, const std::string& at);

  // Where a path leads: a volume of the machine file ("C:\..."), or a real
  // path. Takes the faults of the call; false (Failed) with the last error
  // set for a path on no volume, a drive-relative path or a bad name.
  Where Resolve(const std::string& path, std::string_view call, Volume** volume, std::string* key) {
    const bool lettered = path.size() >= 2 && path[1] == ':' &&
                          ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (!lettered) {
      if (path.empty() || StartsWith(path, "\\\\")) return Failed(ERROR_PATH_NOT_FOUND);
      if (TakeFault(hostFaults_, call, path)) return Where::Failed;
      return Where::Host;
    }
    auto it = volumes_.find(static_cast<char>(ToUpperAscii(path.substr(0, 1))[0]));
    if (it == volumes_.end()) return Failed(ERROR_PATH_NOT_FOUND);
    Volume& v = it->second;
    if (v.noMedium) return Failed(ERROR_NOT_READY);
    std::string rest = path.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/')
      return Failed(ERROR_INVALID_NAME);  // "C:name" is relative to a drive
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= rest.size()) {
      size_t end = rest.find_first_of("\\/", start);
      if (end == std::string::npos) end = rest.size();
      std::string part = rest.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
        continue;
      }
      if (!ValidName(part)) return Failed(ERROR_INVALID_NAME);
      parts.push_back(Upper(part));
    }
    std::string k;
    for (const std::string& p : parts) k += (k.empty() ? "" : "\\") + p;
    if (TakeFault(v.faults, call, path)) return Where::Failed;
    *volume = &v;
    *key = std::move(k);
    return Where::Volume;
  }

  static std::string LastName(const std::string& path) {
    std::string p = path;
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.pop_back();
    size_t at = p.find_last_of("\\/:");
    return at == std::string::npos ? p : p.substr(at + 1);
  }

  static bool ParentIsFolder(const Volume& v, const std::string& key) {
    std::string parent = ParentKey(key);
    if (parent.empty()) return true;
    auto it = v.nodes.find(parent);
    return it != v.nodes.end() && it->second.folder;
  }

  // The node of a key, or null with FILE_NOT_FOUND / PATH_NOT_FOUND set.
  static Node* Find(Volume& v, const std::string& key) {
    auto it = v.nodes.find(key);
    if (it != v.nodes.end()) return &it->second;
    SetLastError(ParentIsFolder(v, key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return nullptr;
  }

  // Space a file of this size takes: whole clusters.
  static uint64_t Allocated(const Volume& v, uint64_t size) {
    return (size + v.cluster - 1) / v.cluster * v.cluster;
  }

  // Gives a file a new size, taking or returning the volume's free space;
  // false (nothing changed) when the volume has no room.
  static bool Resize(Volume& v, Node& n, uint64_t size) {
    uint64_t before = Allocated(v, n.size), after = Allocated(v, size);
    if (after > before && after - before > v.free) return false;
    v.free = v.free + before - after;
    n.size = size;
    if (n.content.size() > size) n.content.resize(size);
    return true;
  }

  static WIN32_FIND_DATAW Record(const Node& n) {
    WIN32_FIND_DATAW d;
    d.dwFileAttributes = n.attributes ? n.attributes : FILE_ATTRIBUTE_NORMAL;
    d.ftCreationTime = FileTimeFromUnixMs(n.created);
    d.ftLastAccessTime = FileTimeFromUnixMs(n.accessed);
    d.ftLastWriteTime = FileTimeFromUnixMs(n.written);
    d.nFileSizeHigh = static_cast<uint32_t>(n.size >> 32);
    d.nFileSizeLow = static_cast<uint32_t>(n.size);
    d.cFileName = n.name;
    return d;
  }

  OpenFile* Lookup(HANDLE h) {
    auto it = open_.find(h);
    return it == open_.end() ? nullptr : &it->second;
  }

  SimMachine& machine_;
  mutable std::mutex mutex_;
  hostfs::HostFileCalls host_;
  std::vector<Fault> hostFaults_;
  std::map<char, Volume> volumes_;
  std::map<HANDLE, OpenFile> open_;
  std::map<HANDLE, Listing> finds_;
  HANDLE next_ = kFirstVirtualHandle;
};

uint32_t AttributesFrom(const Json& value, const std::string& at) {
  if (!value.is_array()) return static_cast<uint32_t>(ToNumber(value, at));
  uint32_t bits = 0;
  for (const Json& name : value) {
    std::string n = name.is_string() ? name.get<std::string>() : std::string();
    if (n == "readonly") bits |= FILE_ATTRIBUTE_READONLY;
    else if (n == "hidden") bits |= FILE_ATTRIBUTE_HIDDEN;
    else if (n == "system") bits |= FILE_ATTRIBUTE_SYSTEM;
    else if (n == "archive") bits |= FILE_ATTRIBUTE_ARCHIVE;
    else throw FixtureError(at + ": expected \"readonly\", \"hidden\", \"system\" or \"archive\"");
  }
  return bits;
}

void SimFilesImpl::LoadVolume(const SimVolume& sv, size_t index) {
  const std::string where = "volumes[" + std::to_string(index) + "]";
  const Json& e = sv.entry;
  char letter = static_cast<char>(ToUpperAscii(sv.letter)[0]);
  if (letter < 'A' || letter > 'Z') throw FixtureError(where + ".letter: expected a letter A to Z");
  if (volumes_.count(letter)) return;  // the first volume with a letter holds it
  Volume& v = volumes_[letter];
  v.letter = letter;
  v.fileSystem = sv.fileSystem;
  v.size = sv.sizeBytes;
  v.free = sv.freeBytes;
  v.noMedium = sv.deviceType == FILE_DEVICE_CD_ROM && sv.sizeBytes == 0;
  uint64_t cluster = NumberOr(e, "clusterSize", 4096, where);
  if (cluster < 512 || cluster > (2u << 20) || cluster % 512 != 0)
    throw FixtureError(where + ".clusterSize: expected a multiple of 512 up to 2 MiB");
  v.cluster = static_cast<uint32_t>(cluster);
  v.faults = ReadFaults(e, where);
  if (!e.contains("files")) return;
  const Json& list = e["files"];
  if (!list.is_array()) throw FixtureError(where + ".files: expected a list");
  for (size_t i = 0; i < list.size(); ++i)
    AddNode(v, list[i], where + ".files[" + std::to_string(i) + "]");
}

// One entry of a volume's "files": its parent folders are made as needed;
// the listed files are already counted in the volume's free space.
void SimFilesImpl::AddNode(Volume& v, const Json& entry, const std::string& at) {
  CheckKeys(entry, {"path", "folder", "size", "content", "attributes", "written", "comment"}, at);
  std::string path = TextOr(entry, "path", "", at);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (part == "." || part == ".." || !ValidName(part))
      throw FixtureError(at + ".path: \"" + part + "\" is not a name a file can have");
    parts.push_back(part);
  }
  if (parts.empty()) throw FixtureError(at + ".path: expected a path inside the volume");
  const int64_t now = machine_.Clock().UnixMs();
  std::string key;
  for (size_t i = 0; i < parts.size(); ++i) {
    key += (key.empty() ? "" : "\\") + Upper(parts[i]);
    const bool last = i + 1 == parts.size();
    auto it = v.nodes.find(key);
    if (it != v.nodes.end()) {
      if (last || !it->second.folder)
        throw FixtureError(at + ".path: " + path + " is listed twice or lies below a file");
      continue;
    }
    Node n;
    n.name = parts[i];
    n.folder = !last || BoolOr(entry, "folder", false, at);
    n.attributes = n.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    n.created = n.written = n.accessed = now;
    if (last) {
      if (entry.contains("attributes"))
        n.attributes = (AttributesFrom(entry["attributes"], at + ".attributes") & kChangeableAttributes) |
                       (n.folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
      if (entry.contains("written")) {
        std::string text = TextOr(entry, "written", "", at);
        struct tm tmv {};
        int y, mo, d, h = 0, mi = 0, s = 0;
        if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
          throw FixtureError(at + ".written: expected a UTC time such as \"2026-12-01T09:00:00Z\"");
        tmv.tm_year = y - 1900;
        tmv.tm_mon = mo - 1;
        tmv.tm_mday = d;
        tmv.tm_hour = h;
        tmv.tm_min = mi;
        tmv.tm_sec = s;
        n.created = n.written = n.accessed = static_cast<int64_t>(timegm(&tmv)) * 1000;
      }
      if (!n.folder) {
        n.hasContent = entry.contains("content");
        n.content = TextOr(entry, "content", "", at);
        if (n.content.size() > kMaxContentBytes) throw FixtureError(at + ".content: too long");
        n.size = NumberOr(entry, "size", n.content.size(), at);
        if (n.size < n.content.size()) throw FixtureError(at + ".size: smaller than its content");
      } else if (entry.contains("size") || entry.contains("content")) {
        throw FixtureError(at + ": a folder has no size or content");
      }
    }
    v.nodes.emplace(key, std::move(n));
  }
}

}  // namespace

std::unique_ptr<SimFiles> MakeSimFiles(SimMachine& machine) {
  return std::make_unique<SimFilesImpl>(machine);
}

}  // namespace zel::sim
