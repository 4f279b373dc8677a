// The processes and windows components of the simulated machine: the named
// objects that processes on one machine share (window titles, mutexes;
// platform/named_objects.h) and the command lines the system starts.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/diskpart_script.h"
#include "platform/format.h"
#include "platform/named_objects.h"
#include "platform/titled_windows.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_processes_diskpart.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

// ---------------------------------------------------------------------------
// Command lines
//
// diskpart is answered by its own component (sim_processes_diskpart.cpp);
// any other command line fails to start as a program that is not there would.
// ---------------------------------------------------------------------------

bool RunCommandLine(SimDiskpart& diskpart, const std::string& commandLine, std::string* output) {
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
      : diskpart_(machine), objects_(std::move(objects)) {}

  bool RunAndCapture(const std::string& commandLine, std::string* output) override {
    return RunCommandLine(diskpart_, commandLine, output);
  }

  // The mutex exists while any process holds a handle to it.
  std::intptr_t CreateMutexW(const std::string& name) override { return Objects().Create("mutex", name); }

 private:
  NamedObjects& Objects() { return objects_->Get(); }

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
