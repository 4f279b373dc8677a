#include "log/log_file.h"

#include <vector>

#include "platform/errors.h"
#include "platform/file_util.h"

namespace zel::logfile {

using namespace zel::platform;

namespace {

constexpr uint32_t kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
// How long a run waits for another run's rotation: 50 times 20 ms.
constexpr int kLockAttempts = 50;
constexpr uint32_t kLockRetryMs = 20;

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates a folder and the folders above it that are missing.
void CreateFolders(Files& files, const std::string& folder) {
  std::vector<std::string> missing;
  std::string at = folder;
  while (!at.empty() && at != "/" && files.GetFileAttributesW(at) == INVALID_FILE_ATTRIBUTES) {
    missing.push_back(at);
    size_t slash = at.find_last_of('/');
    if (slash == std::string::npos) break;
    at.resize(slash);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) files.CreateDirectoryW(*it);
}

// Copies the file at `from` to `to` (replaced), reading through a handle that
// shares writing, since the caller's own log handle stays open.
bool CopyFile(Files& files, const std::string& from, const std::string& to) {
  HANDLE in = files.CreateFileW(from, GENERIC_READ, kShareAll, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (in == INVALID_HANDLE_VALUE) return false;
  std::string bytes;
  uint8_t chunk[65536];
  uint32_t got = 0;
  bool ok = true;
  while ((ok = files.ReadFile(in, chunk, sizeof chunk, &got)) && got > 0)
    bytes.append(reinterpret_cast<const char*>(chunk), got);
  files.CloseHandle(in);
  return ok && WriteWholeFile(files, to, bytes, nullptr);
}

}  // namespace

void LogFile::Begin(std::string besideProgram, Sharing sharing, uint64_t capBytes,
                    bool mayFallBack) {
  Reset();
  besideProgram_ = std::move(besideProgram);
  path_ = besideProgram_;
  sharing_ = sharing;
  capBytes_ = capBytes;
  mayFallBack_ = mayFallBack;
  // No old file, or one another program holds: ignored.
  if (sharing_ == Sharing::OwnRun) Current().Files().DeleteFileW(path_);
}

bool LogFile::Append(std::string_view bytes) {
  std::shared_ptr<Platform> current = Hold();
  if (handle_ != INVALID_HANDLE_VALUE) {
    std::shared_ptr<Platform> owner = owner_.lock();
    if (owner != current) {
      // Opened on another machine (a test's earlier one): closed there, if
      // that machine still exists, and opened again on this one.
      if (owner) owner->Files().CloseHandle(handle_);
      handle_ = INVALID_HANDLE_VALUE;
    }
  }
  if (handle_ == INVALID_HANDLE_VALUE) {
    if (failed_ || path_.empty()) return false;
    if (!Open(*current)) {
      failed_ = true;
      return false;
    }
    owner_ = current;
  }
  // One write per line: the line is in the kernel before the caller's next
  // step, and a write to a file opened for appending lands whole at its end,
  // whatever other handles (threads, processes) append meanwhile.
  uint32_t written = 0;
  return current->Files().WriteFile(handle_, reinterpret_cast<const uint8_t*>(bytes.data()),
                                    static_cast<uint32_t>(bytes.size()), &written) &&
         written == bytes.size();
}

bool LogFile::EnsureOpen() {
  if (handle_ != INVALID_HANDLE_VALUE && owner_.lock() == Hold()) return true;
  return Append({});
}

void LogFile::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    if (std::shared_ptr<Platform> owner = owner_.lock()) owner->Files().CloseHandle(handle_);
  }
  handle_ = INVALID_HANDLE_VALUE;
  owner_.reset();
}

void LogFile::Reset() {
  Close();
  path_.clear();
  besideProgram_.clear();
  unwritableFolder_.clear();
  failed_ = false;
  everOpened_ = false;
}

bool LogFile::Open(Platform& p) {
  Files& files = p.Files();
  HANDLE h = OpenAt(files, path_, false);
  if (h == INVALID_HANDLE_VALUE && mayFallBack_ && !everOpened_ && path_ == besideProgram_) {
    // The program's folder cannot be written: the machine's log folder takes
    // the file, with the same name and the same rule for an old file.
    std::string folder = p.Sys().GetLogFolder();
    if (!folder.empty()) {
      CreateFolders(files, folder);
      std::string fallback = folder + "/" + NameOf(besideProgram_);
      h = OpenAt(files, fallback, sharing_ == Sharing::OwnRun);
      if (h != INVALID_HANDLE_VALUE) {
        unwritableFolder_ = FolderOf(besideProgram_);
        path_ = fallback;
      }
    }
  }
  if (h == INVALID_HANDLE_VALUE) return false;
  if (sharing_ == Sharing::Shared) RotateIfFull(files, h);
  handle_ = h;
  everOpened_ = true;
  return true;
}

HANDLE LogFile::OpenAt(Files& files, const std::string& path, bool deleteFirst) {
  if (deleteFirst) files.DeleteFileW(path);
  return files.CreateFileW(path, FILE_APPEND_DATA, kShareAll, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

void LogFile::RotateIfFull(Files& files, HANDLE h) {
  // Every run holds a shared lock while it has the file open, so an
  // exclusive lock that is granted at once means no other run is writing:
  // only then may the file's lines move. Otherwise the run waits for a
  // rotation in progress to end and appends.
  if (files.LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
    uint64_t size = 0;
    if (capBytes_ > 0 && files.GetFileSizeEx(h, &size) && size >= capBytes_ &&
        CopyFile(files, path_, path_ + ".1")) {
      HANDLE t = files.CreateFileW(path_, GENERIC_WRITE, kShareAll, TRUNCATE_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL);
      if (t != INVALID_HANDLE_VALUE) files.CloseHandle(t);
    }
    files.UnlockFileEx(h);
  }
  // A rotation takes milliseconds; a lock held far longer (someone else's
  // tool) does not stop the run, which then appends unlocked, as it does to
  // a file that cannot be locked at all (a virtual volume).
  System& sys = Current().Sys();
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (files.LockFileEx(h, LOCKFILE_FAIL_IMMEDIATELY) || GetLastError() != ERROR_LOCK_VIOLATION) return;
    sys.Sleep(kLockRetryMs);
  }
}

}  // namespace zel::logfile
