// Drive discovery on simulated machines of 1, 8 and 80 drives, built in
// memory: the time of one UpdatePhysicalDrivesInfo, and the time per drive,
// which stays flat when the cost grows linearly with the number of drives.
//
// The management instrumentation answers a condition or an association from
// an index, so those queries cost the same on any machine. What still grows
// is the class-code lookup of one disk: it reads and matches every
// controller-device association of the machine (one per drive), so the
// whole discovery has a small part that grows with the square of the drive
// count. BM_DiskMode shows that part alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "device/ata_command.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"

namespace {

// A machine of `count` drives: SATA drives of the maker with a full SMART
// page and thresholds, every eighth an NVMe drive on its own controller
// (which takes the longer path through the management instrumentation and
// the NVMe request forms), and one volume per drive.
std::string MachineOf(int count) {
  std::string drives, volumes;
  for (int i = 0; i < count; ++i) {
    if (!drives.empty()) drives += ",\n";
    if (i % 8 == 7) {
      drives += "{\"kind\": \"nvme\", \"index\": " + std::to_string(i) +
                ", \"model\": \"QUARN NVMe KN900 1TB\", \"serial\": \"QN" + std::to_string(i) +
                "\", \"health\": {\"temperature\": 311, \"percentageUsed\": 7}}";
    } else {
      drives += "{\"index\": " + std::to_string(i) +
                ", \"model\": \"QUARN SSD K986 256GB\", \"serial\": \"QK" + std::to_string(i) +
                "\", \"smart\": {\"attributes\": ["
                "{\"id\": 5, \"current\": 100, \"raw\": 0, \"threshold\": 10},"
                "{\"id\": 9, \"current\": 100, \"raw\": 1500, \"threshold\": 0},"
                "{\"id\": 12, \"current\": 100, \"raw\": 210, \"threshold\": 0},"
                "{\"id\": 194, \"current\": 70, \"raw\": 31, \"threshold\": 0},"
                "{\"id\": 231, \"current\": 88, \"raw\": 0, \"threshold\": 5},"
                "{\"id\": 241, \"current\": 100, \"raw\": 4294967296, \"threshold\": 0}]}}";
    }
    if (i < 26) {
      if (!volumes.empty()) volumes += ",\n";
      volumes += "{\"letter\": \"" + std::string(1, static_cast<char>('A' + i)) +
                 "\", \"size\": 200000000000, \"free\": 100000000000, \"disk\": " +
                 std::to_string(i) + "}";
    }
  }
  return "{\"drives\": [" + drives + "], \"volumes\": [" + volumes + "]}";
}

void BM_Discovery(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  zel::sim::LoadResult loaded = zel::sim::LoadMachineText(MachineOf(count), "benchmark machine");
  if (!loaded.machine) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  zel::ResetLogForNewRun();  // the trace log off, as in a run without logging
  zel::platform::ScopedPlatform installed(loaded.machine);

  int32_t found = 0;
  for (auto _ : state) {
    zel::PhysicalDriveTable table;
    zel::ATACommand ata;
    found = ata.UpdatePhysicalDrivesInfo(table);
    benchmark::DoNotOptimize(table.data());
    loaded.machine->ClearRequestLog();
  }
  if (found != count) {
    state.SkipWithError(("discovery found " + std::to_string(found) + " of " +
                         std::to_string(count) + " drives").c_str());
    return;
  }
  state.counters["drives"] = count;
  // Time per drive: constant when discovery is linear in the drive count.
  state.counters["per_drive"] = benchmark::Counter(
      static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate |
                                      benchmark::Counter::kInvert);
}

// One class-code lookup (of disk 0, a SATA disk) on a machine of N drives.
void BM_DiskMode(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  zel::sim::LoadResult loaded = zel::sim::LoadMachineText(MachineOf(count), "benchmark machine");
  if (!loaded.machine) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  zel::ResetLogForNewRun();
  zel::platform::ScopedPlatform installed(loaded.machine);
  zel::UnderlyingUtil util;
  for (auto _ : state) {
    std::string code = util.GetDiskMode(0);
    benchmark::DoNotOptimize(code.data());
  }
}

BENCHMARK(BM_Discovery)->Arg(1)->Arg(8)->Arg(80)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DiskMode)->Arg(1)->Arg(8)->Arg(80)->Unit(benchmark::kMicrosecond);

}  // namespace
