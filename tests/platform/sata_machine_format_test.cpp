// The examples of the machine-file document load: every complete JSON
// example of the sections on the top level, drives, SATA drives, faults,
// volumes and controllers is put into a machine and loaded.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

struct Example {
  std::string section;
  std::string json;
};

std::vector<Example> Examples(const std::string& doc, const std::vector<std::string>& sections) {
  std::vector<Example> out;
  std::string section;
  size_t at = 0;
  while (at < doc.size()) {
    size_t end = doc.find('\n', at);
    if (end == std::string::npos) end = doc.size();
    std::string line = doc.substr(at, end - at);
    at = end + 1;
    if (line.rfind("## ", 0) == 0) section = line.substr(3);
    if (line != "```json") continue;
    std::string block;
    while (at < doc.size()) {
      end = doc.find('\n', at);
      if (end == std::string::npos) end = doc.size();
      std::string l = doc.substr(at, end - at);
      at = end + 1;
      if (l == "```") break;
      block += l + "\n";
    }
    bool wanted = false;
    for (const auto& s : sections) wanted = wanted || section == s;
    if (wanted && block.find("...") == std::string::npos) out.push_back({section, block});
  }
  return out;
}

// Puts an example into a whole machine, by what it starts with.
std::string AsMachine(const std::string& json) {
  size_t first = json.find_first_not_of(" \n");
  std::string body = json.substr(first);
  for (const char* top : {"\"os\"", "\"clock\"", "\"drives\"", "\"volumes\"", "\"controllers\""})
    if (body.rfind(top, 0) == 0) return "{" + body + "}";
  if (body.rfind("{\"index\"", 0) == 0) return "{\"drives\": [" + body + "]}";
  return "{\"drives\": [{\"index\": 0, " + body + "}]}";
}

TEST(MachineFormatDocument, ExamplesLoad) {
  std::string doc = test::ReadFile(std::string(ZEL_FIXTURES_DIR) + "/../docs/machine-format.md");
  ASSERT_FALSE(doc.empty());
  auto examples = Examples(doc, {"The top level", "Drives: the fields every drive has",
                                 "SATA drives", "Faults", "Volumes", "Controllers"});
  EXPECT_GE(examples.size(), 10u);
  for (const Example& e : examples) {
    std::string machine = AsMachine(e.json);
    sim::LoadResult r = sim::LoadMachineText(machine, e.section);
    EXPECT_TRUE(r.machine) << r.error << "\n" << machine;
  }
}

}  // namespace
}  // namespace zel
