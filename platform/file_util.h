// Helpers beside the file calls of the seam: the few whole-file operations
// the system does (read a file, replace one, append a line, list a folder),
// written once on top of platform/files.h so no caller keeps a read loop of
// its own. Every failure comes back as the platform's error code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace zel::platform {

// The whole content of a file, byte for byte. False with `*error` set when it
// cannot be opened (a folder: ERROR_ACCESS_DENIED) or read; a file that
// shrinks while it is read gives what was there. `*opened` (when given)
// tells whether the file could be opened at all.
bool ReadWholeFile(Files& files, const std::string& path, std::string* bytes, uint32_t* error,
                   bool* opened = nullptr);

// Replaces a file with `bytes` (created or truncated, written, flushed).
// False with `*error` set when it cannot be created or written; a file that
// could not be written whole is left as far as it got. `*opened` (when
// given) tells whether the file could be created at all.
bool WriteWholeFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error,
                    bool* opened = nullptr);

// Appends `bytes` to a file, creating it when it is missing.
bool AppendToFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error);

// The names a folder listing returns for a pattern ("dir\*.txt"), in the
// listing's order, without "." and "..". Empty with `*error` set when the
// listing cannot start (ERROR_FILE_NOT_FOUND when nothing matches).
std::vector<std::string> ListMatching(Files& files, const std::string& pattern, uint32_t* error);

// Whether a name matches a wild-card pattern: "*" any run of characters,
// "?" one character, letters without regard to ASCII case. For backends.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// The answer of GetLogicalDriveStringsW for the volumes with these letters,
// in the given order: "C:\\", a zero, the next, ..., and a closing zero, when
// it fits in `bufferLength` characters (the count without the closing zero
// returned); else the length the buffer needs, closing zero included. For
// backends.
uint32_t AnswerLogicalDriveStrings(std::string_view letters, uint32_t bufferLength,
                                   char16_t* buffer);

}  // namespace zel::platform
