#include "platform/file_util.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <random>

#include "platform/errors.h"

namespace zel::platform {

namespace {

// Closes a handle of the file calls when it goes out of scope.
class FileHandle {
 public:
  FileHandle(Files& files, HANDLE h) : files_(files), h_(h) {}
  ~FileHandle() {
    if (h_ != INVALID_HANDLE_VALUE) files_.CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }

 private:
  Files& files_;
  HANDLE h_;
};

bool Fail(uint32_t* error) {
  if (error) *error = GetLastError();
  return false;
}

bool WriteAll(Files& files, HANDLE h, std::string_view bytes, uint32_t* error) {
  size_t done = 0;
  while (done < bytes.size()) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(bytes.size() - done, 1u << 30));
    uint32_t written = 0;
    if (!files.WriteFile(h, reinterpret_cast<const uint8_t*>(bytes.data() + done), chunk, &written))
      return Fail(error);
    if (written == 0) {
      if (error) *error = ERROR_WRITE_FAULT;
      return false;
    }
    done += written;
  }
  if (!files.FlushFileBuffers(h)) return Fail(error);
  return true;
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool ReadWholeFile(Files& files, const std::string& path, std::string* bytes, uint32_t* error,
                   bool* opened) {
  // Writers are shared: a log another handle keeps open for appending is
  // read as far as it is written.
  FileHandle h(files, files.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (opened) *opened = h.Valid();
  if (!h.Valid()) return Fail(error);
  uint64_t size = 0;
  if (!files.GetFileSizeEx(h.Get(), &size)) return Fail(error);
  bytes->clear();
  try {
    bytes->reserve(static_cast<size_t>(size));
  } catch (const std::exception&) {
    if (error) *error = ERROR_NOT_ENOUGH_MEMORY;
    return false;
  }
  // Read until the end rather than up to the size: a file may grow or shrink
  // while it is read, and what is there at the end is its content.
  char chunk[65536];
  for (;;) {
    uint32_t got = 0;
    if (!files.ReadFile(h.Get(), reinterpret_cast<uint8_t*>(chunk), sizeof chunk, &got))
      return Fail(error);
    if (got == 0) break;
    bytes->append(chunk, got);
  }
  if (error) *error = ERROR_SUCCESS;
  return true;
}

bool WriteWholeFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error,
                    bool* opened) {
  FileHandle h(files, files.CreateFileW(path, GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  if (opened) *opened = h.Valid();
  if (!h.Valid()) return Fail(error);
  if (!WriteAll(files, h.Get(), bytes, error)) return false;
  if (error) *error = ERROR_SUCCESS;
  return true;
}

std::string NotRegularFileReason(Files& files, const std::string& path) {
  const uint32_t attributes = files.GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a symbolic link";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
  if (attributes & FILE_ATTRIBUTE_DEVICE) return "a device, FIFO or socket";
  return std::string();
}

bool ReplaceFileSafely(Files& files, const std::string& path, std::string_view bytes,
                       uint32_t* error, std::string* refusal, bool* created) {
  if (refusal) refusal->clear();
  if (created) *created = false;
  const std::string reason = NotRegularFileReason(files, path);
  if (!reason.empty()) {
    if (refusal) *refusal = reason;
    if (error) *error = ERROR_BAD_FILE_TYPE;
    return false;
  }
  // The temporary file lies in the target's folder, so the rename stays on
  // one volume; its name is short, so a long target name still leaves room.
  const size_t slash = path.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  static std::atomic<uint32_t> sequence{0};
  std::random_device entropy;
  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, ".zelvane-%08x%04x.tmp", entropy(), sequence++ & 0xFFFFu);
    temp = folder + name;
    // Created new: never an existing file, never through a planted link.
    h = files.CreateFileW(temp, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS &&
        GetLastError() != ERROR_ALREADY_EXISTS)
      break;
  }
  if (h == INVALID_HANDLE_VALUE) return Fail(error);
  if (created) *created = true;
  uint32_t writeError = ERROR_SUCCESS;
  bool written = WriteAll(files, h, bytes, &writeError);
  if (!files.CloseHandle(h) && written) {
    written = false;
    writeError = GetLastError();
  }
  if (written && !files.MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING)) {
    written = false;
    writeError = GetLastError();
  }
  if (!written) {
    files.DeleteFileW(temp);
    if (error) *error = writeError;
    return false;
  }
  if (error) *error = ERROR_SUCCESS;
  return true;
}

bool ReadRegularFile(Files& files, const std::string& path, uint64_t limit, std::string* bytes,
                     uint32_t* error, std::string* refusal, bool* opened) {
  if (refusal) refusal->clear();
  if (opened) *opened = false;
  const uint32_t attributes = files.GetFileAttributesW(path);
  // A link to a regular file reads as that file.
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
    if (refusal)
      *refusal = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "a folder" : "a device, FIFO or socket";
    if (error) *error = ERROR_BAD_FILE_TYPE;
    return false;
  }
  FileHandle h(files, files.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL));
  if (opened) *opened = h.Valid();
  if (!h.Valid()) return Fail(error);
  uint64_t size = 0;
  if (!files.GetFileSizeEx(h.Get(), &size)) return Fail(error);
  if (size > limit) {
    if (error) *error = ERROR_FILE_TOO_LARGE;
    return false;
  }
  bytes->clear();
  bytes->reserve(static_cast<size_t>(size));
  char chunk[65536];
  for (;;) {
    uint32_t got = 0;
    if (!files.ReadFile(h.Get(), reinterpret_cast<uint8_t*>(chunk), sizeof chunk, &got))
      return Fail(error);
    if (got == 0) break;
    if (got > limit - bytes->size()) {
      bytes->clear();
      if (error) *error = ERROR_FILE_TOO_LARGE;
      return false;
    }
    bytes->append(chunk, got);
  }
  if (error) *error = ERROR_SUCCESS;
  return true;
}

bool WriteNewFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error,
                  bool* opened) {
  if (opened) *opened = false;
  if (files.GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES && !files.DeleteFileW(path))
    return Fail(error);
  FileHandle h(files, files.CreateFileW(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
  if (opened) *opened = h.Valid();
  if (!h.Valid()) return Fail(error);
  if (!WriteAll(files, h.Get(), bytes, error)) return false;
  if (error) *error = ERROR_SUCCESS;
  return true;
}

bool AppendToFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error) {
  FileHandle h(files, files.CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
  if (!h.Valid()) return Fail(error);
  if (!WriteAll(files, h.Get(), bytes, error)) return false;
  if (error) *error = ERROR_SUCCESS;
  return true;
}

std::vector<std::string> ListMatching(Files& files, const std::string& pattern, uint32_t* error) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE find = files.FindFirstFileW(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) {
    Fail(error);
    return names;
  }
  uint32_t last = ERROR_SUCCESS;
  do {
    if (found.cFileName != "." && found.cFileName != "..") names.push_back(found.cFileName);
  } while (files.FindNextFileW(find, &found));
  last = GetLastError();
  files.FindClose(find);
  if (error) *error = last == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : last;
  return names;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  // Iterative match with one back-track point for the last "*".
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || UpperAscii(pattern[p]) == UpperAscii(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  // "name.*" also matches a name without a dot, as the platform's "*.*" does.
  if (p + 2 == pattern.size() && pattern[p] == '.' && pattern[p + 1] == '*') return true;
  return p == pattern.size();
}

FILETIME FileTimeFromUnixMs(int64_t unixMs) {
  // 11644473600 s lie between 1601-01-01 and 1970-01-01.
  int64_t ticks = (unixMs + 11644473600000LL) * 10000;
  if (ticks < 0) ticks = 0;
  FILETIME t;
  t.dwLowDateTime = static_cast<uint32_t>(static_cast<uint64_t>(ticks));
  t.dwHighDateTime = static_cast<uint32_t>(static_cast<uint64_t>(ticks) >> 32);
  return t;
}

int64_t UnixMsFromFileTime(const FILETIME& time) {
  uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000) - 11644473600000LL;
}

uint32_t AnswerLogicalDriveStrings(std::string_view letters, uint32_t bufferLength,
                                   char16_t* buffer) {
  std::u16string all;
  for (char letter : letters) {
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

}  // namespace zel::platform
