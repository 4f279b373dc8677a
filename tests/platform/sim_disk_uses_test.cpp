// The simulated machine's disks in use without a drive letter: the drive's
// "inUse" lists as the platform reports them, and lists the loader refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using platform::DiskUse;
using platform::DiskUseKind;

TEST(SimDiskUses, ADrivesListsComeBackInTheOrderSwapMountsHolders) {
  auto machine = test::MustLoad(R"({"drives": [
      {"index": 0, "inUse": {"holders": ["dm-0", "md127"], "swap": ["/dev/sda3"], "mounts": ["/srv/a b"]}},
      {"index": 3}]})");
  ASSERT_TRUE(machine);
  EXPECT_EQ(machine->Uses().UnletteredUses(0),
            (std::vector<DiskUse>{{DiskUseKind::Swap, "/dev/sda3"},
                                  {DiskUseKind::Mount, "/srv/a b"},
                                  {DiskUseKind::Holder, "dm-0"},
                                  {DiskUseKind::Holder, "md127"}}));
  EXPECT_TRUE(machine->Uses().UnletteredUses(3).empty());
  EXPECT_TRUE(machine->Uses().UnletteredUses(7).empty());
}

TEST(SimDiskUses, MalformedListsAreRefusedWithTheirPlace) {
  const std::string longName(256, 'x');
  struct Case {
    std::string json;
    const char* message;
  } cases[] = {
      {R"({"drives": [{"inUse": ["/dev/sda3"]}]})", "drives[0].inUse: expected an object"},
      {R"({"drives": [{"inUse": {"swaps": []}}]})", "drives[0].inUse: unknown field \"swaps\""},
      {R"({"drives": [{"inUse": {"swap": "/dev/sda3"}}]})", "drives[0].inUse.swap: expected a list of names"},
      {R"({"drives": [{"inUse": {"mounts": [7]}}]})", "drives[0].inUse.mounts[0]: expected a name"},
      {R"({"drives": [{"inUse": {"holders": [""]}}]})", "drives[0].inUse.holders[0]: expected a name of 1 to 255 bytes"},
      {R"({"drives": [{"inUse": {"holders": [")" + longName + R"("]}}]})", "drives[0].inUse.holders[0]"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "m.json");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
  std::string many = R"({"drives": [{"inUse": {"swap": [)";
  for (int i = 0; i < 65; ++i) many += std::string(i ? "," : "") + "\"s\"";
  sim::LoadResult r = sim::LoadMachineText(many + "]}}]}", "m.json");
  EXPECT_FALSE(r.machine);
  EXPECT_NE(r.error.find("drives[0].inUse.swap: at most 64 names"), std::string::npos) << r.error;
}

}  // namespace
}  // namespace zel
