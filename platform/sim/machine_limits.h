// Limits that keep a hostile machine file from crashing or misusing the
// programs: how the file is read, how deeply it may nest, and where the
// files a machine writes may go.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/json_util.h"

namespace zel::sim {

// A machine file is a regular file of at most this many bytes.
inline constexpr size_t kMaxMachineFileBytes = 64u << 20;
// Objects and lists nest at most this deep (the machines we write use about
// eight levels; a deeper one would only exhaust the stack when copied).
inline constexpr int kMaxMachineNesting = 100;

// Reads a machine file: only a regular file (never a FIFO, a device or a
// folder) of at most kMaxMachineFileBytes. Returns false with `error` set.
bool ReadMachineFileText(const std::string& path, std::string* text, std::string* error);

// Empty, or an error naming the line where `text` nests deeper than
// kMaxMachineNesting. Texts and comments are skipped as the parser skips them.
std::string CheckNesting(std::string_view text);

// Fails with a FixtureError unless every file the machine would write -
// beside its program path, and its registry file - lies in one of
// `folders` or below it. Relative names count from the current directory.
void CheckWrittenPaths(const Json& root, const std::vector<std::string>& folders);

}  // namespace zel::sim
