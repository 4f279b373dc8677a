// Log decryption: a scrambled log holds UTF-16 little-endian units, each the
// plain text's unit plus 5 (modulo 65,536), with no header. DecryptLogFile
// undoes the shift and writes the text as "Decrypted.log" in the current
// directory, replacing an earlier one. Outcomes are visible in the trace log
// only; the format is described in docs/log-decryption.md.
#pragma once

#include <string>

namespace zel {

void DecryptLogFile(const std::string& path);

}  // namespace zel
