// diskpart as the system starts it: "...\diskpart.exe /s SCRIPT" with a
// script of "select disk N" and "detail disk" lines, its output captured for
// the system report. No backend runs a diskpart program; each reads the
// script and answers it with its own description of the disks. What they
// share is here: recognising the command line, carrying out the script, and
// the layout of the texts diskpart writes. Every line ends in CR LF.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zel::diskpart {

// Whether `commandLine` starts diskpart (any folder, with or without
// ".exe", case ignored).
bool IsDiskpartCommandLine(std::string_view commandLine);

// The script named after "/s" in a diskpart command line, quotes removed;
// nothing when the line names no script.
std::optional<std::string> ScriptPath(std::string_view commandLine);

// A disk number as a script writes it: one to nine decimal digits.
bool ParseDiskNumber(const std::string& text, int32_t* number);

// What a machine answers to the lines of a script.
class ScriptTarget {
 public:
  virtual ~ScriptTarget() = default;
  // Whether "select disk N" finds disk N.
  virtual bool HasDisk(int32_t number) const = 0;
  // The "detail disk" text of a disk that HasDisk found.
  virtual std::string DetailDisk(int32_t number) const = 0;
  // The answer to a line that is not carried out (it ends the script).
  virtual std::string NotCarriedOut(const std::string& line) const = 0;
};

// Carries out a script, one command per line: blank lines and "rem" lines
// are skipped, "select disk N" / "sel disk N" and "detail disk" / "det disk"
// are answered, and the first other line ends the script as diskpart ends
// it at an error. Returns what diskpart writes for the lines.
std::string RunScript(std::string_view content, const ScriptTarget& target);

// A size as diskpart shows it: the largest binary unit that still leaves at
// least 10 of it ("  10 GB", "1023 MB").
std::string SizeText(uint64_t bytes);

// The disk identifier of a disk from its first two logical blocks (zeros
// where the disk is shorter; at least 1,024 bytes): the disk GUID of the GPT
// header behind a protective MBR ("{1A2B...}"), else the MBR disk signature
// in eight hexadecimal digits.
std::string DiskIdText(std::span<const uint8_t> firstBlocks, uint32_t blockSize);

// One row of the volume table of "detail disk", without blanks after its
// last column; the label is cut to 11 characters.
std::string VolumeRow(uint32_t number, const std::string& letter, const std::string& label,
                      const std::string& fileSystem, const char* type, uint64_t sizeBytes,
                      const char* info);
// The volume table of "detail disk": its heading and rows, or the line that
// says there are none.
std::string VolumeTable(const std::vector<std::string>& rows);

}  // namespace zel::diskpart
