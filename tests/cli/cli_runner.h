// Running the built zelvane program in a test's folder: on a copy of a
// machine file whose program path points into the folder (so the trace log
// and the build number come from there), with the user's locale given.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/sim_fixture.h"

namespace zel::test {

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

class CliTest : public SimTest {
 protected:
  // The machine file the program runs on: a fixture of fixtures/.
  void UseFixture(const std::string& name) {
    nlohmann::json machine = nlohmann::json::parse(ReadFile(FixturePath(name)));
    machine["program"] = {{"path", Dir() + "/zelvane"}};
    WriteFile(Dir() + "/machine.json", machine.dump());
  }

  CliResult Run(const std::vector<std::string>& args) {
    std::string command = "cd '" + Dir() + "' && LC_ALL=C.UTF-8 '" + std::string(ZEL_BIN_DIR) +
                          "/zelvane' --machine machine.json";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " > out.txt 2> err.txt";
    int raw = std::system(command.c_str());
    CliResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(Dir() + "/out.txt");
    r.err = ReadFile(Dir() + "/err.txt");
    return r;
  }
};

// The lines of a program's output.
inline std::vector<std::string> OutputLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace zel::test
