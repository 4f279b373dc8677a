// Fuzz target: the verification mode's criteria file, checked for real
// against the demo machine's first drive. The parser, every line check, the
// formula evaluator and the result writers see the input; the result files
// land in the private work folder.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "device/ata_command.h"
#include "fuzz/fuzz_support.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "report/dvt_mode.h"

namespace {

struct Bench {
  std::shared_ptr<zel::sim::SimMachine> machine;
  std::unique_ptr<zel::platform::ScopedPlatform> installed;
  zel::PhysicalDriveTable drives{};
};

// Made once and never destroyed: the platform it installs is held in
// thread-local storage, which ends before objects of static storage, so a
// static bench would give the platform back after its holder is gone.
Bench& TheBench() {
  static Bench& bench = *[] {
    auto* b = new Bench;
    const std::string& dir = zel::fuzz::WorkFolder();
    zel::sim::LoadResult r = zel::sim::LoadMachineText(zel::sim::DemoMachineJson(), "demo");
    if (!r.machine) __builtin_trap();
    b->machine = r.machine;
    b->machine->SetProgramPath(dir + "/SSDZelvane.exe");
    b->installed = std::make_unique<zel::platform::ScopedPlatform>(b->machine);
    zel::ATACommand().UpdatePhysicalDrivesInfo(b->drives);
    return b;
  }();
  return bench;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bench& bench = TheBench();
  std::string_view text(reinterpret_cast<const char*>(data), size);
  zel::ParseDvtCriteria(text);
  std::string path = zel::fuzz::WriteInput("ZelvaneDvtFuzz.txt", data, size);
  zel::RunDvtModeWithCriteria(0, bench.drives, path);
  // The formula evaluator alone, with the first line as a formula.
  uint64_t result = 0;
  std::string_view formula = text.substr(0, text.find('\n'));
  zel::EvaluateDvtFormula(formula, 0xFFFFFFFFFFFFull, &result);
  return 0;
}
