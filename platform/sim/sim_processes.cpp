// The processes and windows components of the simulated machine: the named
// objects that processes on one machine share (window titles, mutexes;
// platform/named_objects.h) and the command lines the system starts.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "platform/diskpart_script.h"
#include "platform/format.h"
#include "platform/named_objects.h"
#include "platform/titled_windows.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_processes_diskpart.h"
#include "platform/text.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

// ---------------------------------------------------------------------------
// Command lines
//
// diskpart is answered by its own component (sim_processes_diskpart.cpp);
// "fsutil file createnew PATH SIZE" makes a file of SIZE bytes without
// content on a volume of the machine, so its free space falls; any other
// command line fails to start as a program that is not there would.
// ---------------------------------------------------------------------------

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < line.size()) {
    size_t end = line.find(' ', start);
    if (end == std::string::npos) end = line.size();
    if (end > start) words.push_back(line.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

bool CreateNew(SimMachine& machine, const std::string& path, const std::string& sizeText,
               std::string* output) {
  if (sizeText.empty() || sizeText.size() > 19 ||
      sizeText.find_first_not_of("0123456789") != std::string::npos)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (!machine.FileSystem().CreateSizedFile(path, std::stoull(sizeText))) return false;
  if (output) *output = "File " + path + " is created\r\n";
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool RunCommandLine(SimMachine& machine, SimDiskpart& diskpart, const std::string& commandLine,
                    std::string* output) {
  std::vector<std::string> w = Words(commandLine);
  if (w.size() == 5 && (EqualsNoCaseAscii(w[0], "fsutil") || EqualsNoCaseAscii(w[0], "fsutil.exe")) &&
      EqualsNoCaseAscii(w[1], "file") && EqualsNoCaseAscii(w[2], "createnew"))
    return CreateNew(machine, w[3], w[4], output);
  if (diskpart::IsDiskpartCommandLine(commandLine)) return diskpart.Run(commandLine, output);
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

// ---------------------------------------------------------------------------

// The named objects of the machine: files of "zelvane-sim-<uid>" in the
// temporary directory, their names led by a hash of the machine's source
// (processes started on the same machine file share them); a machine
// without a source gets a key of its own process, so its objects are
// private to it. The source is known only once loading has finished,
// after the components were made, so the objects are set up on first use.
class MachineObjects {
 public:
  explicit MachineObjects(SimMachine& machine) : machine_(machine) {}
  NamedObjects& Get() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!objects_) {
      std::error_code ec;
      std::filesystem::path base = std::filesystem::temp_directory_path(ec);
      if (ec) base = "/tmp";
      std::string folder = (base / Format("zelvane-sim-%u", static_cast<unsigned>(::geteuid()))).string();
      const std::string& source = machine_.Source();
      std::string key = source.empty()
                            ? Format("process %d machine %p", static_cast<int>(::getpid()), &machine_)
                            : source;
      objects_ = std::make_unique<NamedObjects>(folder, NamedObjects::HashText(key) + "-");
    }
    return *objects_;
  }

 private:
  SimMachine& machine_;
  std::mutex mutex_;
  std::unique_ptr<NamedObjects> objects_;
};

class SimProcesses final : public Processes {
 public:
  SimProcesses(SimMachine& machine, std::shared_ptr<MachineObjects> objects)
      : machine_(machine), diskpart_(machine), objects_(std::move(objects)) {}

  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    return RunCommandLine(machine_, diskpart_, commandLine, output);
  }

  // The mutex exists while any process holds a handle to it.
  std::intptr_t CreateMutexW(const std::string& name) override { return Objects().Create("mutex", name); }

 private:
  NamedObjects& Objects() { return objects_->Get(); }

  SimMachine& machine_;
  SimDiskpart diskpart_;
  std::shared_ptr<MachineObjects> objects_;
};

}  // namespace

SimProcessesAndWindows MakeSimProcesses(SimMachine& machine) {
  // One set of named objects for both, as one process holds one.
  auto objects = std::make_shared<MachineObjects>(machine);
  SimProcessesAndWindows made;
  made.processes = std::make_unique<SimProcesses>(machine, objects);
  made.windows =
      std::make_unique<TitledWindows>([objects]() -> NamedObjects& { return objects->Get(); });
  return made;
}

}  // namespace zel::sim
