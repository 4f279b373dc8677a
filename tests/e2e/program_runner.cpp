#include "e2e/program_runner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

extern char** environ;

namespace zel::e2e {

namespace fs = std::filesystem;

namespace {

std::string TempFile() {
  std::string tmpl = (fs::temp_directory_path() / "zelrun.XXXXXX").string();
  int fd = ::mkstemp(tmpl.data());
  if (fd >= 0) ::close(fd);
  return tmpl;
}

bool Dropped(const std::string& entry) {
  for (const char* name : {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "ZELVANE_MACHINE="})
    if (entry.rfind(name, 0) == 0) return true;
  return false;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (!Dropped(*e)) env.push_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<std::string> argv = {program};
  argv.insert(argv.end(), args.begin(), args.end());

  std::vector<char*> argp, envp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::string outFile = TempFile(), errFile = TempFile();
  ProgramRun run;
  pid_t pid = ::fork();
  if (pid == 0) {
    int out = ::open(outFile.c_str(), O_WRONLY | O_TRUNC);
    int err = ::open(errFile.c_str(), O_WRONLY | O_TRUNC);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::dup2(in, 0) < 0 || ::chdir(cwd.c_str()) != 0)
      ::_exit(127);
    ::execve(program.c_str(), argp.data(), envp.data());
    ::_exit(127);
  }
  if (pid > 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  run.out = test::ReadFile(outFile);
  run.err = test::ReadFile(errFile);
  fs::remove(outFile);
  fs::remove(errFile);
  return run;
}

void ProgramTest::SetUp() {
  std::string tmpl = (fs::temp_directory_path() / "zele2e.XXXXXX").string();
  ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
  dir_ = tmpl;
}

void ProgramTest::TearDown() {
  std::error_code ec;
  if (!std::getenv("ZEL_KEEP_TEST_DIRS")) fs::remove_all(dir_, ec);
}

std::string ProgramTest::WriteMachine(const std::string& name, const nlohmann::json& merge) {
  std::string_view demo = sim::DemoMachineJson();
  nlohmann::json machine = nlohmann::json::parse(demo.begin(), demo.end(), nullptr, true, true);
  machine["program"] = {{"path", Path("SSDZelvane.exe")}};
  machine.merge_patch(merge);
  std::string path = Path(name);
  test::WriteFile(path, machine.dump(2));
  return path;
}

void ProgramTest::CopyFixture(const std::string& fixture, const std::string& as) {
  fs::copy_file(test::FixturePath(fixture), Path(as), fs::copy_options::overwrite_existing);
}

ProgramRun ProgramTest::Desktop(const std::vector<std::string>& args,
                                const std::vector<std::string>& extraEnv) {
  return RunProgram(std::string(ZEL_BIN_DIR) + "/SSDZelvane", args, dir_, extraEnv);
}

ProgramRun ProgramTest::Cli(const std::vector<std::string>& args) {
  return RunProgram(std::string(ZEL_BIN_DIR) + "/zelvane", args, dir_);
}

std::string ProgramTest::Read(const std::string& name) const { return test::ReadFile(Path(name)); }
bool ProgramTest::Exists(const std::string& name) const { return fs::exists(Path(name)); }

}  // namespace zel::e2e
