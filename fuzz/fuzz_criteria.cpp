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

Bench& TheBench() {
  // Never destroyed: the platform's per-thread share of the main thread is
  // gone before static objects are destroyed at exit.
  static Bench& bench = *[] {
    auto* made = new Bench;
    Bench& b = *made;
    const std::string& dir = zel::fuzz::WorkFolder();
    zel::sim::LoadResult r = zel::sim::LoadMachineText(zel::sim::DemoMachineJson(), "demo");
    if (!r.machine) __builtin_trap();
    b.machine = r.machine;
    b.machine->SetProgramPath(dir + "/SSDZelvane.exe");
    b.installed = std::make_unique<zel::platform::ScopedPlatform>(b.machine);
    zel::ATACommand().UpdatePhysicalDrivesInfo(b.drives);
    return made;
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
