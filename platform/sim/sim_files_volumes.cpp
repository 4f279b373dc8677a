// The simulated machine's files: free space, volume roots, drive strings,
// and what the machine's other components and tests ask of a volume.
#include <algorithm>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_files_impl.h"
#include "platform/text.h"

namespace zel::sim::simfs {

bool SimFilesImpl::GetDiskFreeSpaceExW(const std::string& directory, uint64_t* toCaller,
                                       uint64_t* total, uint64_t* free) {
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

bool SimFilesImpl::GetDiskFreeSpaceW(const std::string& rootPath, uint32_t* sectorsPerCluster,
                                     uint32_t* bytesPerSector, uint32_t* freeClusters,
                                     uint32_t* totalClusters) {
  std::lock_guard<std::mutex> lock(mutex_);
  Volume* v = nullptr;
  std::string key;
  switch (Resolve(rootPath, "GetDiskFreeSpaceW", &v, &key)) {
    case Where::Failed: return false;
    case Where::Host:
      return host_.Geometry(rootPath, sectorsPerCluster, bytesPerSector, freeClusters,
                            totalClusters);
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

bool SimFilesImpl::GetVolumePathNameW(const std::string& path, std::string* volumePath,
                                      uint32_t bufferLength) {
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

uint32_t SimFilesImpl::GetLogicalDriveStringsW(uint32_t bufferLength, char16_t* buffer) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string letters;
  for (const auto& [letter, v] : volumes_) letters += static_cast<char>(letter);
  return AnswerLogicalDriveStrings(letters, bufferLength, buffer);
}

std::string SimFilesImpl::GetFullPathNameW(const std::string& path) {
  // A lettered path is full already.
  if (path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return path;
  return host_.FullPath(path);
}

bool SimFilesImpl::VolumeOf(char letter, VolumeState* state) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = volumes_.find(static_cast<char>(ToUpperAscii(std::string(1, letter))[0]));
  if (it == volumes_.end()) return false;
  if (state) *state = VolumeState{it->second.size, it->second.free};
  return true;
}

bool SimFilesImpl::CreateSizedFile(const std::string& path, uint64_t size) {
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

bool SimFilesImpl::PlaceFile(const std::string& path, Placement* placement) {
  std::lock_guard<std::mutex> lock(mutex_);
  Volume* v = nullptr;
  std::string key;
  switch (Resolve(path, "CreateFileW", &v, &key)) {
    case Where::Failed: return false;
    case Where::Host: return FailWith(ERROR_INVALID_FUNCTION);
    case Where::Volume: break;
  }
  auto it = key.empty() ? v->nodes.end() : v->nodes.find(key);
  if (it == v->nodes.end()) return FailWith(ParentIsFolder(*v, key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
  if (it->second.folder) return FailWith(ERROR_ACCESS_DENIED);
  // The files before it in key order come first on the volume.
  uint64_t first = 0;
  for (auto other = v->nodes.begin(); other != it; ++other)
    if (!other->second.folder) first += Allocated(*v, other->second.size) / v->cluster;
  placement->firstCluster = first;
  placement->clusters = Allocated(*v, it->second.size) / v->cluster;
  placement->clusterBytes = v->cluster;
  SetLastError(ERROR_SUCCESS);
  return true;
}

}  // namespace zel::sim::simfs
