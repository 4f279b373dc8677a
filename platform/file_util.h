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

// What a path the user named is, when it is not a regular file: "a folder",
// "a symbolic link", "a device, FIFO or socket"; empty for a regular file or
// a path that names nothing. Files the user names are only ever replaced or
// read when this is empty.
std::string NotRegularFileReason(Files& files, const std::string& path);

// Writes `bytes` as the whole new content of `path`, for every file written
// on a user's say-so (reports, decrypted logs, result files, downloads): the
// bytes go to a new file beside the target, are flushed, and only a complete
// file is renamed over the target in one step, so a failure (a full disk)
// leaves an earlier file as it was and no part-written one. A target that
// exists and is not a regular file is refused untouched: false with
// ERROR_BAD_FILE_TYPE and `*refusal` (when given) saying what it is. Other
// failures give the platform's error; the temporary file is removed.
// `*created` (when given) tells whether the temporary file could be created.
bool ReplaceFileSafely(Files& files, const std::string& path, std::string_view bytes,
                       uint32_t* error, std::string* refusal = nullptr, bool* created = nullptr);

// The whole content of a regular file the user named, of at most `limit`
// bytes. What is not a regular file is refused before it is opened
// (ERROR_BAD_FILE_TYPE, `*refusal` saying what it is), so a FIFO never
// blocks; a longer file, or one that grows past the limit while it is read
// (a device swapped in), fails with ERROR_FILE_TOO_LARGE. `*opened` as for
// ReadWholeFile.
bool ReadRegularFile(Files& files, const std::string& path, uint64_t limit, std::string* bytes,
                     uint32_t* error, std::string* refusal = nullptr, bool* opened = nullptr);

// Writes `bytes` to a file this call creates itself: CREATE_NEW never opens
// an existing file and never follows a symbolic link planted under the name.
// An earlier entry of that name (a script left by a crashed run, or a planted
// link) is removed first, which unlinks a link, never its target; when one
// appears again before the creation the call fails (ERROR_FILE_EXISTS).
// `*opened` as for WriteWholeFile.
bool WriteNewFile(Files& files, const std::string& path, std::string_view bytes, uint32_t* error,
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
