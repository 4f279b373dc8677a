// The simulated machine's files: attributes, deletion, folders and listings.
#include <algorithm>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_files_impl.h"
#include "platform/text.h"

namespace zel::sim::simfs {

uint32_t SimFilesImpl::GetFileAttributesW(const std::string& path) {
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

bool SimFilesImpl::SetFileAttributesW(const std::string& path, uint32_t attributes) {
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

bool SimFilesImpl::DeleteFileW(const std::string& path) {
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

bool SimFilesImpl::MoveFileExW(const std::string& existingPath, const std::string& newPath,
                               uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Volume* from = nullptr;
  Volume* to = nullptr;
  std::string fromKey, toKey;
  Where fromWhere = Resolve(existingPath, "MoveFileExW", &from, &fromKey);
  if (fromWhere == Where::Failed) return false;
  Where toWhere = Resolve(newPath, "MoveFileExW", &to, &toKey);
  if (toWhere == Where::Failed) return false;
  if (fromWhere != toWhere || from != to) return FailWith(ERROR_NOT_SAME_DEVICE);
  if (fromWhere == Where::Host) return host_.Move(existingPath, newPath, flags);

  if (fromKey.empty() || toKey.empty()) return FailWith(ERROR_ACCESS_DENIED);
  Node* n = Find(*from, fromKey);
  if (!n) return false;
  if (n->folder) return FailWith(ERROR_ACCESS_DENIED);  // files only
  if (fromKey == toKey) return true;
  if (!ParentIsFolder(*to, toKey)) return FailWith(ERROR_PATH_NOT_FOUND);
  for (const auto& [h, f] : open_)
    if (f.volume == from && (f.key == fromKey || f.key == toKey))
      return FailWith(ERROR_SHARING_VIOLATION);
  auto existing = to->nodes.find(toKey);
  if (existing != to->nodes.end()) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return FailWith(ERROR_ALREADY_EXISTS);
    if (existing->second.folder || (existing->second.attributes & FILE_ATTRIBUTE_READONLY))
      return FailWith(ERROR_ACCESS_DENIED);
    Resize(*to, existing->second, 0);
    to->nodes.erase(existing);
  }
  Node moved = std::move(*n);
  from->nodes.erase(fromKey);
  moved.name = LastName(newPath);
  to->nodes.emplace(toKey, std::move(moved));
  return true;
}

bool SimFilesImpl::CreateDirectoryW(const std::string& path) {
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

bool SimFilesImpl::RemoveDirectoryW(const std::string& path) {
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

HANDLE SimFilesImpl::FindFirstFileW(const std::string& pattern, WIN32_FIND_DATAW* found) {
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

bool SimFilesImpl::FindNextFileW(HANDLE h, WIN32_FIND_DATAW* found) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = finds_.find(h);
  if (it == finds_.end()) return host_.FindNext(h, found);
  if (it->second.next >= it->second.entries.size()) return FailWith(ERROR_NO_MORE_FILES);
  if (found) *found = it->second.entries[it->second.next];
  ++it->second.next;
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool SimFilesImpl::FindClose(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (finds_.erase(h) != 0) return true;
  return host_.FindClose(h);
}

}  // namespace zel::sim::simfs
