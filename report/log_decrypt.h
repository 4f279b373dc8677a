// Log decryption: a scrambled log holds UTF-16 little-endian units, each the
// plain text's unit plus 5 (modulo 65,536), with no header. DecryptLogFile
// undoes the shift and writes the text as "Decrypted.log" in the current
// directory, replacing an earlier one. Outcomes are visible in the trace log
// only; the format is described in docs/log-decryption.md.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// What became of a decryption. The desktop program ignores it (it always
// says it is done); the command line reports it.
enum class DecryptResult {
  Written,      // "Decrypted.log" holds the plain text
  CannotRead,   // the chosen file could not be read; nothing was written
  CannotWrite,  // "Decrypted.log" could not be created
};

// The largest scrambled file read (64 MiB, far beyond any trace log): a
// larger one, or anything that is not a regular file (a folder, a FIFO,
// /dev/zero), is not read at all.
inline constexpr uint64_t kMaxScrambledLogBytes = 64ull << 20;

// `*reason` (when given) says why a decryption failed, for a message.
// "Decrypted.log" is replaced whole or not at all, and never when it is not
// a regular file.
DecryptResult DecryptLogFile(const std::string& path, std::string* reason = nullptr);

}  // namespace zel
