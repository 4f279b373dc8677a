// The host side of the rig: the sections the guest printed, and helpers for
// reading the oracles' and the programs' answers in them.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rig {

using Json = nlohmann::json;

// Every section of the guest's output by name ("=====SECTION name=====" up
// to "=====END=====").
std::map<std::string, std::string>& Sections();
std::map<std::string, std::string> ParseSections(const std::string& text);

// A section's text (empty, and a test failure, when the guest printed none).
std::string SectionText(const std::string& name);
// A section that holds one JSON document.
Json Section(const std::string& name);
// "key=value" lines of a section.
std::map<std::string, std::string> KeyValues(const std::string& name);

// A program's run as the guest script's program() prints it: standard
// output, then "exit=N" and each line of standard error as "stderr: ...".
struct ProgramRun {
  Json json;  // standard output as JSON (an object, empty when it is not JSON)
  int exit = -1;
  std::string stderrText;
};
ProgramRun Program(const std::string& name);

std::vector<uint8_t> Unhex(const std::string& s);
// Without trailing blanks and NULs and leading blanks.
std::string Trim(std::string s);
// An ATA string of IDENTIFY words: two characters per word, high byte first.
std::string AtaString(const std::vector<uint8_t>& page, int firstWord, int words);
uint16_t Word(const std::vector<uint8_t>& page, int w);
uint64_t Le(const std::vector<uint8_t>& p, size_t at, int bytes);
// A JSON number that nvme-cli may print as a text.
uint64_t Number(const Json& j);
// The PCI Express generation of a sysfs link speed ("8.0 GT/s PCIe" is 3).
uint32_t Generation(const std::string& text);
// The bytes of an "od -An -v -tx1" dump.
std::vector<int> DumpBytes(const std::string& text);

}  // namespace rig
