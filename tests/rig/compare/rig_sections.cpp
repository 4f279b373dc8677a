#include "rig_sections.h"

#include <gtest/gtest.h>

#include <sstream>

namespace rig {

std::map<std::string, std::string>& Sections() {
  static std::map<std::string, std::string> sections;
  return sections;
}

std::map<std::string, std::string> ParseSections(const std::string& text) {
  std::map<std::string, std::string> out;
  std::istringstream in(text);
  std::string line, name, body;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("=====SECTION ", 0) == 0 && line.size() > 18) {
      name = line.substr(13, line.size() - 18);
      body.clear();
      inside = true;
    } else if (line == "=====END=====" && inside) {
      out[name] = body;
      inside = false;
    } else if (inside) {
      body += line + "\n";
    }
  }
  return out;
}

std::string SectionText(const std::string& name) {
  auto it = Sections().find(name);
  if (it == Sections().end()) {
    ADD_FAILURE() << "the guest printed no section \"" << name << "\"";
    return "";
  }
  return it->second;
}

Json Section(const std::string& name) {
  auto it = Sections().find(name);
  if (it == Sections().end()) {
    ADD_FAILURE() << "the guest printed no section \"" << name << "\"";
    return Json::object();
  }
  Json j = Json::parse(it->second, nullptr, false);
  if (j.is_discarded()) {
    ADD_FAILURE() << "section \"" << name << "\" is not JSON:\n" << it->second.substr(0, 2000);
    return Json::object();
  }
  return j;
}

std::map<std::string, std::string> KeyValues(const std::string& name) {
  std::map<std::string, std::string> out;
  std::istringstream in(Sections()[name]);
  std::string line;
  while (std::getline(in, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

ProgramRun Program(const std::string& name) {
  ProgramRun run;
  std::istringstream in(SectionText(name));
  std::string line, out;
  while (std::getline(in, line)) {
    if (line.rfind("exit=", 0) == 0) {
      run.exit = std::stoi(line.substr(5));
    } else if (line.rfind("stderr: ", 0) == 0) {
      run.stderrText += line.substr(8) + "\n";
    } else {
      out += line + "\n";
    }
  }
  run.json = Json::parse(out, nullptr, false);
  if (run.json.is_discarded() || !run.json.is_object()) {
    ADD_FAILURE() << name << " printed no JSON object:\n" << out.substr(0, 2000) << run.stderrText;
    run.json = Json::object();
  }
  return run;
}

std::vector<uint8_t> Unhex(const std::string& s) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < s.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

std::string AtaString(const std::vector<uint8_t>& page, int firstWord, int words) {
  std::string out;
  for (int w = firstWord; w < firstWord + words; ++w) {
    out += static_cast<char>(page[2 * w + 1]);
    out += static_cast<char>(page[2 * w]);
  }
  return Trim(out);
}

uint16_t Word(const std::vector<uint8_t>& page, int w) {
  return static_cast<uint16_t>(page[2 * w] | (page[2 * w + 1] << 8));
}

uint64_t Le(const std::vector<uint8_t>& p, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[at + i];
  return v;
}

uint64_t Number(const Json& j) {
  if (j.is_string()) return std::stoull(j.get<std::string>());
  return j.get<uint64_t>();
}

uint32_t Generation(const std::string& text) {
  static const char* const kSpeeds[] = {"2.5 GT/s", "5.0 GT/s", "8.0 GT/s", "16.0 GT/s", "32.0 GT/s", "64.0 GT/s"};
  for (uint32_t g = 0; g < 6; ++g)
    if (text.rfind(kSpeeds[g], 0) == 0) return g + 1;
  return 0;
}

std::vector<int> DumpBytes(const std::string& text) {
  std::istringstream in(text);
  std::vector<int> bytes;
  std::string hex;
  while (in >> hex) bytes.push_back(std::stoi(hex, nullptr, 16));
  return bytes;
}

}  // namespace rig
