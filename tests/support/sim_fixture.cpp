#include "support/sim_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/log.h"

namespace zel::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

std::string FixturePath(const std::string& name) { return std::string(ZEL_FIXTURES_DIR) + "/" + name; }

std::vector<std::string> TraceLogLines(std::string_view log) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find("\r\n", at);
    if (end == std::string_view::npos) end = log.size();
    std::string line(log.substr(at, end - at));
    if (line.size() >= 9 && line[8] == ' ' &&
        std::all_of(line.begin(), line.begin() + 8, [](char c) { return c >= '0' && c <= '9'; }))
      line.erase(0, 9);
    lines.push_back(std::move(line));
    at = end + 2;
  }
  return lines;
}

std::string Stored(std::initializer_list<std::string> texts, bool timed) {
  std::string out;
  for (const std::string& t : texts) {
    std::string line = (timed ? "00000000 " : "") + t + "\n";
    for (char c : line) {
      if (c == '\n') out += '\r';
      out += c;
    }
  }
  return out;
}

std::shared_ptr<sim::SimMachine> MustLoad(std::string_view json) {
  sim::LoadResult r = sim::LoadMachineText(json, "test machine");
  EXPECT_TRUE(r.machine) << r.error;
  if (!r.machine) r = sim::LoadMachineText("{}", "empty machine");
  return r.machine;
}

ScopedEnv::ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
  if (const char* v = std::getenv(name_.c_str())) saved_ = v;
  if (value) {
    ::setenv(name_.c_str(), value, 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

void SimTest::SetUp() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zeltest.XXXXXX").string();
  char* made = ::mkdtemp(tmpl.data());
  ASSERT_NE(made, nullptr);
  dir_ = made;
  previousCwd_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_);
  ResetLogForNewRun();
  UseMachine(MachineJson());
}

void SimTest::TearDown() {
  installed_.reset();
  machine_.reset();
  ResetLogForNewRun();
  std::filesystem::current_path(previousCwd_);
  std::error_code ec;
  if (!std::getenv("ZEL_KEEP_TEST_DIRS")) std::filesystem::remove_all(dir_, ec);
}

void SimTest::UseMachine(std::string_view json) { UseMachine(MustLoad(json)); }

void SimTest::UseMachine(std::shared_ptr<sim::SimMachine> machine) {
  installed_.reset();
  machine_ = std::move(machine);
  machine_->SetProgramPath(dir_ + "/SSDZelvane.exe");
  installed_ = std::make_unique<platform::ScopedPlatform>(machine_);
}

std::string SimTest::TraceLog() const { return ReadFile(dir_ + "/SSDZelvane.log"); }

std::vector<std::string> SimTest::TraceLines() const { return TraceLogLines(TraceLog()); }

bool SimTest::Logged(const std::string& line) const {
  std::vector<std::string> lines = TraceLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

}  // namespace zel::test
