// Test support: a simulated machine installed as the current platform for
// the duration of a test, in a fresh temporary folder that also holds the
// program path (so the trace log and result files land there).
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace zel::test {

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view content);
// A fixture file of fixtures/ by name ("demo.json").
std::string FixturePath(const std::string& name);
// The lines of a trace log, each without its "%08d " time field and its CR LF
// (a text that ends in "\n" gives its line and an empty one).
std::vector<std::string> TraceLogLines(std::string_view log);
// Lines as the log and result writers store them: each text and a line end,
// every line feed as CR LF; timed writers put "%08d " before each text (the
// simulated machine's clock stands still, so the time is always 0).
std::string Stored(std::initializer_list<std::string> texts, bool timed);
inline std::string Timed(std::initializer_list<std::string> texts) { return Stored(texts, true); }
inline std::string Untimed(std::initializer_list<std::string> texts) { return Stored(texts, false); }
// Parses a machine and fails the test with the loader's message if it is bad.
std::shared_ptr<sim::SimMachine> MustLoad(std::string_view json);

// An environment variable set (or, for a null value, removed) for the life
// of the object; what was there before, or its absence, comes back after.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

class SimTest : public ::testing::Test {
 protected:
  // The machine a test starts with; override for another one.
  virtual std::string MachineJson() const { return "{}"; }

  void SetUp() override;
  void TearDown() override;

  // Replaces the installed machine (same temporary folder and program path).
  void UseMachine(std::string_view json);
  void UseMachine(std::shared_ptr<sim::SimMachine> machine);

  sim::SimMachine& Machine() { return *machine_; }
  const std::string& Dir() const { return dir_; }
  // The trace log written so far, as it is and as lines (TraceLogLines).
  std::string TraceLog() const;
  std::vector<std::string> TraceLines() const;
  // Whether the trace log has `line` (without its time field).
  bool Logged(const std::string& line) const;

 private:
  std::string dir_;
  std::string previousCwd_;
  std::shared_ptr<sim::SimMachine> machine_;
  std::unique_ptr<platform::ScopedPlatform> installed_;
};

}  // namespace zel::test
