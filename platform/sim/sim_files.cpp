// The simulated machine's files: handles (open, read, write, sizes, times,
// close), the resolution of paths to volumes or real folders, and the
// helpers the other parts share.
#include "platform/sim/sim_files.h"

#include <algorithm>

#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_files_impl.h"
#include "platform/text.h"

namespace zel::sim {

namespace simfs {

namespace {

bool EndsWithNoCase(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && EqualsNoCaseAscii(text.substr(text.size() - end.size()), end);
}

}  // namespace

bool Shares(const OpenFile& a, uint32_t access, uint32_t share) {
  if (Reads(a.access) && !(share & FILE_SHARE_READ)) return false;
  if (Writes(a.access) && !(share & FILE_SHARE_WRITE)) return false;
  if (Reads(access) && !(a.share & FILE_SHARE_READ)) return false;
  if (Writes(access) && !(a.share & FILE_SHARE_WRITE)) return false;
  return true;
}

bool ListedBefore(const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
  std::string ua = Upper(a.cFileName), ub = Upper(b.cFileName);
  return ua != ub ? ua < ub : a.cFileName < b.cFileName;
}

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

SimFilesImpl::SimFilesImpl(SimMachine& machine) : machine_(machine), host_(kFirstHostHandle) {
  const Json& root = machine.Root();
  if (root.contains("files")) {
    const Json& files = root["files"];
    CheckKeys(files, {"faults", "comment"}, "files");
    hostFaults_ = ReadFaults(files, "files");
  }
  const int64_t now = machine.Clock().UnixMs();
  for (size_t i = 0; i < machine.Volumes().size(); ++i) {
    Volume v = LoadVolume(machine.Volumes()[i], "volumes[" + std::to_string(i) + "]", now);
    volumes_.emplace(v.letter, std::move(v));  // the first volume with a letter holds it
  }
}

HANDLE SimFilesImpl::CreateFileW(const std::string& path, uint32_t access, uint32_t share,
                                 uint32_t disposition, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Volume* v = nullptr;
  std::string key;
  switch (Resolve(path, "CreateFileW", &v, &key)) {
    case Where::Failed: return INVALID_HANDLE_VALUE;
    case Where::Host: {
      // The name is kept so the real folders' faults can take reads and
      // writes of the file too.
      HANDLE h = host_.CreateFile(path, access, share, disposition, flags);
      if (h != INVALID_HANDLE_VALUE) hostNames_[h] = LastName(path);
      return h;
    }
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

bool SimFilesImpl::ReadFile(HANDLE h, uint8_t* buffer, uint32_t size, uint32_t* got) {
  if (got) *got = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  OpenFile* f = Lookup(h);
  if (!f) {
    auto name = hostNames_.find(h);
    if (name != hostNames_.end() && TakeFault(hostFaults_, "ReadFile", name->second)) return false;
    return host_.ReadFile(h, buffer, size, got);
  }
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

bool SimFilesImpl::WriteFile(HANDLE h, const uint8_t* data, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  std::lock_guard<std::mutex> lock(mutex_);
  OpenFile* f = Lookup(h);
  if (!f) {
    auto name = hostNames_.find(h);
    if (name != hostNames_.end() && TakeFault(hostFaults_, "WriteFile", name->second)) return false;
    return host_.WriteFile(h, data, size, written);
  }
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

bool SimFilesImpl::GetFileSizeEx(HANDLE h, uint64_t* size) {
  std::lock_guard<std::mutex> lock(mutex_);
  OpenFile* f = Lookup(h);
  if (!f) return host_.GetFileSize(h, size);
  if (size) *size = f->volume->nodes.at(f->key).size;
  return true;
}

bool SimFilesImpl::GetFileTime(HANDLE h, FILETIME* creation, FILETIME* access, FILETIME* write) {
  std::lock_guard<std::mutex> lock(mutex_);
  OpenFile* f = Lookup(h);
  if (!f) return host_.GetFileTime(h, creation, access, write);
  const Node& n = f->volume->nodes.at(f->key);
  if (creation) *creation = FileTimeFromUnixMs(n.created);
  if (access) *access = FileTimeFromUnixMs(n.accessed);
  if (write) *write = FileTimeFromUnixMs(n.written);
  return true;
}

bool SimFilesImpl::FlushFileBuffers(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  OpenFile* f = Lookup(h);
  if (!f) return host_.Flush(h);
  if (!Writes(f->access)) return FailWith(ERROR_ACCESS_DENIED);
  return true;
}

bool SimFilesImpl::LockFileEx(HANDLE h, uint32_t flags) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Lookup(h)) return FailWith(ERROR_NOT_SUPPORTED);
  }
  return host_.Lock(h, flags);
}

bool SimFilesImpl::UnlockFileEx(HANDLE h) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Lookup(h)) return FailWith(ERROR_NOT_SUPPORTED);
  }
  return host_.Unlock(h);
}

bool SimFilesImpl::CloseHandle(HANDLE h) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_.erase(h) != 0) return true;
  hostNames_.erase(h);
  return host_.Close(h);
}

}  // namespace simfs

std::unique_ptr<SimFiles> MakeSimFiles(SimMachine& machine) {
  return std::make_unique<simfs::SimFilesImpl>(machine);
}

}  // namespace zel::sim
