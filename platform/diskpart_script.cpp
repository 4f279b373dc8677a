#include "platform/diskpart_script.h"

#include <algorithm>
#include <sstream>

#include "platform/bytes.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel::diskpart {

namespace {

constexpr const char* kCrLf = "\r\n";

// The words of a script line, lower-cased.
std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  std::istringstream in(ToLowerAscii(line));
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

}  // namespace

bool ParseDiskNumber(const std::string& text, int32_t* number) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *number = static_cast<int32_t>(std::stol(text));
  return true;
}

bool IsDiskpartCommandLine(std::string_view commandLine) {
  std::string lower = ToLowerAscii(TrimBlanks(commandLine));
  std::string program = lower.substr(0, lower.find(' '));
  size_t slash = program.find_last_of("\\/");
  std::string name = slash == std::string::npos ? program : program.substr(slash + 1);
  return name == "diskpart.exe" || name == "diskpart";
}

std::optional<std::string> ScriptPath(std::string_view commandLine) {
  // "... /s SCRIPT": the script is the rest of the line.
  std::string rest = TrimBlanks(commandLine);
  rest = TrimBlanks(rest.substr(std::min(rest.size(), rest.find(' '))));
  if (rest.size() < 2 || ToLowerAscii(rest.substr(0, 2)) != "/s") return std::nullopt;
  std::string script = TrimBlanks(rest.substr(2));
  if (script.size() >= 2 && script.front() == '"' && script.back() == '"')
    script = script.substr(1, script.size() - 2);
  return script;
}

std::string RunScript(std::string_view content, const ScriptTarget& target) {
  std::string out;
  bool selected = false;
  int32_t disk = 0;
  std::istringstream lines{std::string(content)};
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> w = Words(line);
    if (w.empty() || w[0] == "rem") continue;
    if (w.size() == 3 && (w[0] == "select" || w[0] == "sel") && w[1] == "disk") {
      int32_t number = 0;
      selected = ParseDiskNumber(w[2], &number) && target.HasDisk(number);
      if (selected) {
        disk = number;
        out += Format("Disk %d is now the selected disk.\r\n\r\n", number);
      } else {
        out += "The disk you specified is not valid.\r\n\r\n";
      }
    } else if (w.size() == 2 && (w[0] == "detail" || w[0] == "det") && w[1] == "disk") {
      out += selected ? target.DetailDisk(disk) + kCrLf
                      : std::string("There is no disk selected.\r\nPlease select a disk and try again.\r\n\r\n");
    } else {
      // Diskpart leaves a script at its first error.
      out += target.NotCarriedOut(TrimBlanks(line));
      break;
    }
  }
  return out;
}

std::string SizeText(uint64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  uint64_t value = bytes;
  while (unit < 4 && value / 1024 >= 10) {
    value /= 1024;
    ++unit;
  }
  return Format("%4llu %s", static_cast<unsigned long long>(value), kUnits[unit]);
}

std::string DiskIdText(std::span<const uint8_t> firstBlocks, uint32_t blockSize) {
  if (firstBlocks[450] == 0xEE) {
    // A protective MBR: the disk GUID of the GPT header in the next block.
    const uint8_t* g = firstBlocks.data() + blockSize + 56;
    return Format("{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", GetLE32(g), GetLE16(g + 4),
                  GetLE16(g + 6), g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  }
  return Format("%08X", GetLE32(firstBlocks.data() + 440));
}

std::string VolumeRow(uint32_t number, const std::string& letter, const std::string& label,
                      const std::string& fileSystem, const char* type, uint64_t sizeBytes,
                      const char* info) {
  std::string row = Format("  Volume %-3u   %-1s   %-11s  %-5s  %-10s  %7s  %-9s  %s", number, letter.c_str(),
                           TruncateUtf16(label, 11).c_str(), fileSystem.c_str(), type,
                           SizeText(sizeBytes).c_str(), "Healthy", info);
  return row.substr(0, row.find_last_not_of(' ') + 1);
}

std::string VolumeTable(const std::vector<std::string>& rows) {
  if (rows.empty()) return "There are no volumes.\r\n";
  std::string out =
      "  Volume ###  Ltr  Label        Fs     Type        Size     Status     Info\r\n"
      "  ----------  ---  -----------  -----  ----------  -------  ---------  --------\r\n";
  for (const std::string& row : rows) out += row + kCrLf;
  return out;
}

}  // namespace zel::diskpart
