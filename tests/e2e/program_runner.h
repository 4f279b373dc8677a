// Running the built programs in a folder of their own, as a script would,
// and reading what they wrote.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <string>
#include <vector>

namespace zel::e2e {

struct ProgramRun {
  int status = -1;  // the exit status; -1 when the program did not end normally
  std::string out, err;
};

// Runs a program of the build (ZEL_BIN_DIR) with the arguments, in `cwd`,
// with the environment of the tests minus every variable that would choose
// a display or a machine (DISPLAY, WAYLAND_DISPLAY, QT_QPA_PLATFORM,
// ZELVANE_MACHINE), plus `extraEnv` ("NAME=value").
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::vector<std::string>& extraEnv = {});

// A fresh folder for each test: the programs run in it, their machine file
// puts the program path in it, so every result file lands in it.
class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The demo machine with its program in this folder and `merge` merged into
  // it (a JSON merge patch), written to `name`; returns the file's path.
  std::string WriteMachine(const std::string& name = "machine.json",
                           const nlohmann::json& merge = nlohmann::json::object());
  void CopyFixture(const std::string& fixture, const std::string& as);

  ProgramRun Desktop(const std::vector<std::string>& args,
                     const std::vector<std::string>& extraEnv = {});
  ProgramRun Cli(const std::vector<std::string>& args);

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace zel::e2e
