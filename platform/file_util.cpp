#include "platform/file_util.h"

#include <algorithm>
#include <exception>

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
