#include "report/log_decrypt.h"

#include <clocale>

#include "log/log.h"
#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {

namespace {

constexpr char kOutputName[] = "Decrypted.log";
constexpr char16_t kShift = 5;

// UTF-16 text of a unit buffer: up to its first zero unit or its end.
std::string TextOf(const std::u16string& units) {
  size_t end = units.find(u'\0');
  return Utf16ToUtf8(std::u16string_view(units).substr(0, end));
}

}  // namespace

DecryptResult DecryptLogFile(const std::string& path, std::string* reason) {
  std::setlocale(LC_ALL, "");
  if (reason) reason->clear();

  std::string bytes;
  uint32_t error = 0;
  std::string refusal;
  // Read byte for byte (no line-end or end-of-file translation, so every
  // 16-bit unit arrives as it was stored), from a regular file of bounded
  // size only.
  platform::Files& files = platform::Current().Files();
  if (!platform::ReadRegularFile(files, path, kMaxScrambledLogBytes, &bytes, &error, &refusal)) {
    // Nothing was read: an earlier "Decrypted.log" stays as it is.
    LogTraceF("Decrypted Log fail, can't read file: 0x%x", error);
    if (reason) {
      if (!refusal.empty())
        *reason = "it is " + refusal + ", not a regular file";
      else if (error == platform::ERROR_FILE_TOO_LARGE)
        *reason = "it is larger than the limit of 64 MiB";
      else
        *reason = Format("error %u", error);
    }
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
  // The earlier file is replaced only by a complete one.
  bool created = false;
  if (!platform::ReplaceFileSafely(files, kOutputName, lines, &error, &refusal, &created)) {
    LogTrace(created ? "Decrypted Log fail, can't write file" : "Decrypted Log fail, can't open file");
    if (reason)
      *reason = !refusal.empty() ? "it is " + refusal + ", which is never replaced"
                                 : Format("error %u", error);
    return DecryptResult::CannotWrite;
  }
  return DecryptResult::Written;
}

}  // namespace zel
