#include "report/log_decrypt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <filesystem>

#include "log/log.h"
#include "platform/errors.h"
#include "platform/text.h"

namespace zel {

namespace {

constexpr char kOutputName[] = "Decrypted.log";
constexpr char16_t kShift = 5;

uint32_t PlatformError(int err) {
  switch (err) {
    case ENOENT: return platform::ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ENAMETOOLONG: return platform::ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return platform::ERROR_ACCESS_DENIED;
    case ENOMEM: return platform::ERROR_NOT_ENOUGH_MEMORY;
    case EIO: return platform::ERROR_READ_FAULT;
    default: return platform::ERROR_GEN_FAILURE;
  }
}

// The whole file, byte for byte (no line-end or end-of-file translation, so
// every 16-bit unit arrives as it was stored).
bool ReadWholeFile(const std::string& path, std::string* bytes, uint32_t* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = PlatformError(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? platform::ERROR_ACCESS_DENIED : PlatformError(errno);
    ::close(fd);
    return false;
  }
  bytes->clear();
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = PlatformError(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

// UTF-16 text of a unit buffer: up to its first zero unit or its end.
std::string TextOf(const std::u16string& units) {
  size_t end = units.find(u'\0');
  return Utf16ToUtf8(std::u16string_view(units).substr(0, end));
}

}  // namespace

DecryptResult DecryptLogFile(const std::string& path) {
  std::setlocale(LC_ALL, "");

  std::string bytes;
  uint32_t error = 0;
  if (!ReadWholeFile(path, &bytes, &error)) {
    // Nothing was read: an earlier "Decrypted.log" stays as it is.
    LogTraceF("Decrypted Log fail, can't read file: 0x%x", error);
    return DecryptResult::CannotRead;
  }

  // An odd last byte is no whole unit and is left out.
  std::u16string units(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                     (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  LogTraceF("read from log:%d\n%s", static_cast<int>(bytes.size()), TextOf(units).c_str());

  for (char16_t& u : units) u = static_cast<char16_t>(u - kShift);
  std::string text = TextOf(units);
  LogTraceF("Decrypted Log:\n%s", text.c_str());

  std::error_code ec;
  std::filesystem::remove(kOutputName, ec);
  FILE* out = std::fopen(kOutputName, "ab");
  if (!out) {
    LogTrace("Decrypted Log fail, can't open file");
    return DecryptResult::CannotWrite;
  }
  // Text mode of the platform: characters in the user's code page, each line
  // feed written as CR LF. A character the code page lacks is written as
  // "?"; the text after it is not lost.
  std::string encoded = ToLocaleMultibyteReplacing(text);
  std::string lines;
  lines.reserve(encoded.size() + encoded.size() / 16);
  for (char c : encoded) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  bool ok = std::fwrite(lines.data(), 1, lines.size(), out) == lines.size();
  ok = std::fflush(out) == 0 && ok;
  ok = ::fsync(::fileno(out)) == 0 && ok;
  ok = std::fclose(out) == 0 && ok;
  if (!ok) {
    LogTrace("Decrypted Log fail, can't write file");
    return DecryptResult::CannotWrite;
  }
  return DecryptResult::Written;
}

}  // namespace zel
