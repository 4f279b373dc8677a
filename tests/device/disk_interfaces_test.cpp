// The device-tree helpers of discovery: disk interface enumeration with its
// limits, and the rescan.
#include "device/disk_interfaces.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "log/log.h"
#include "platform/platform.h"
#include "platform/sim/sim_tree.h"
#include "platform/text.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

const std::string kGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// A machine whose device tree lists exactly `paths` (as extra interfaces),
// plus the top-level fields in `more`.
std::string TreeMachine(const std::vector<std::string>& paths, const std::string& more = "") {
  std::string list;
  for (const std::string& p : paths) {
    if (!list.empty()) list += ", ";
    list += "\"" + ReplaceAll(p, "\\", "\\\\") + "\"";
  }
  return R"({"deviceTree": {"interfaces": [)" + list + "]}" + (more.empty() ? "" : ", " + more) + "}";
}

class DiskInterfaces : public test::SimTest {
 protected:
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
  }
  sim::SimDeviceTree& SimTree() { return dynamic_cast<sim::SimDeviceTree&>(Machine().Tree()); }
  // The "SetupDiGetInterfaceDeviceDetail-DevicePath:" lines of the trace log.
  std::vector<std::string> DetailLines() {
    std::vector<std::string> out;
    std::string log = TraceLog();
    const std::string tag = "SetupDiGetInterfaceDeviceDetail-DevicePath:";
    for (size_t at = log.find(tag); at != std::string::npos; at = log.find(tag, at + 1))
      out.push_back(log.substr(at + tag.size(), log.find("\r\n", at) - at - tag.size()));
    return out;
  }
  // The highest member index the enumeration asked the tree about.
  uint32_t LastMemberAsked() {
    uint32_t last = 0;
    for (const auto& c : SimTree().Calls())
      if (c.function == "SetupDiEnumDeviceInterfaces") last = std::max(last, c.argument);
    return last;
  }
};

TEST_F(DiskInterfaces, PresentDisksLowerCasedInOrder) {
  UseMachine(R"({"drives": [
      {"index": 0, "interfacePath": "\\\\?\\IDE#DiskQUARN_SSD#5&1&0&0.0.0)" + kGuid + R"("},
      {"index": 1, "present": false},
      {"index": 2, "kind": "nvme", "interfacePath": "\\\\?\\SCSI#Disk&Ven_NVMe#5&2&0&000000)" + kGuid + R"("}],
      "deviceTree": {"interfaces": ["\\\\?\\USBSTOR#Disk&Ven_X#1#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}"]}})");
  std::vector<std::string> paths = {"stale"};
  EXPECT_EQ(EnumerateDiskInterfaces(paths), 3);
  const std::vector<std::string> expected = {
      "\\\\?\\ide#diskquarn_ssd#5&1&0&0.0.0" + kGuid, "\\\\?\\scsi#disk&ven_nvme#5&2&0&000000" + kGuid,
      "\\\\?\\usbstor#disk&ven_x#1" + kGuid};
  EXPECT_EQ(paths, expected);
  EXPECT_EQ(DetailLines(), expected);
  EXPECT_EQ(SimTree().OpenSets(), 0u);
}

TEST_F(DiskInterfaces, The81stInterfaceIsNotExamined) {
  std::vector<std::string> many;
  for (int i = 0; i < 81; ++i) many.push_back("\\\\?\\scsi#disk" + std::to_string(i) + kGuid);
  UseMachine(TreeMachine(many));
  std::vector<std::string> paths;
  EXPECT_EQ(EnumerateDiskInterfaces(paths), 80);
  ASSERT_EQ(paths.size(), 80u);
  EXPECT_EQ(paths.back(), many[79]);
  EXPECT_EQ(LastMemberAsked(), 79u);
  EXPECT_EQ(DetailLines().size(), 80u);
  EXPECT_EQ(SimTree().OpenSets(), 0u);
}

TEST_F(DiskInterfaces, PathLengthsAgainstTheDetailBufferAndThePathLimit) {
  // The 1,024-byte detail block holds the 4-byte size field and 510 UTF-16
  // characters, the terminator included.
  auto pathOf = [](size_t chars) { return "\\\\?\\" + std::string(chars - 4, 'a'); };
  struct Case {
    size_t chars;
    int32_t count;       // interfaces returned (of three, the long one in the middle)
    size_t storedChars;  // what the long one keeps
  } cases[] = {
      {255, 3, 255},
      {256, 3, 255},  // cut to the path limit: 256 characters with the NUL
      {257, 3, 255},
      {509, 3, 255},  // the longest detail that fits
      {510, 1, 0},    // does not fit: the enumeration ends there
  };
  for (const Case& c : cases) {
    UseMachine(TreeMachine({"\\\\?\\one", pathOf(c.chars), "\\\\?\\three"}));
    std::vector<std::string> paths;
    EXPECT_EQ(EnumerateDiskInterfaces(paths), c.count) << c.chars;
    if (c.count == 3) {
      EXPECT_EQ(paths[1], pathOf(c.chars).substr(0, c.storedChars)) << c.chars;
    } else {
      EXPECT_EQ(paths, (std::vector<std::string>{"\\\\?\\one"})) << c.chars;
    }
    EXPECT_EQ(SimTree().OpenSets(), 0u) << c.chars;
  }
}

TEST_F(DiskInterfaces, NoSetNoInterfaces) {
  UseMachine(R"({"drives": [{"index": 0}], "deviceTree": {"classDevsFails": true}})");
  std::vector<std::string> paths = {"stale"};
  EXPECT_EQ(EnumerateDiskInterfaces(paths), 0);
  EXPECT_TRUE(paths.empty());
}

TEST_F(DiskInterfaces, RescanNeedsTheLibraryAndBothCalls) {
  struct Case {
    std::string more;
    uint32_t result;
    std::vector<std::string> calls;
  } cases[] = {
      {"", 1, {"CM_Locate_DevNodeW", "CM_Reenumerate_DevNode"}},
      {R"("libraries": {"cfgmgr32.dll": null})", 0, {}},
      {R"("libraries": {"cfgmgr32.dll": ["CM_Locate_DevNodeW"]})", 0, {}},
      {R"("deviceTree": {"rescan": {"locate": "0x0D"}})", 0, {"CM_Locate_DevNodeW"}},
      {R"("deviceTree": {"rescan": {"reenumerate": "0x13"}})", 0,
       {"CM_Locate_DevNodeW", "CM_Reenumerate_DevNode"}},
  };
  for (const Case& c : cases) {
    UseMachine("{" + c.more + "}");
    EXPECT_EQ(RescanDevices(), c.result) << c.more;
    std::vector<std::string> calls;
    for (const auto& call : SimTree().Calls()) {
      calls.push_back(call.function);
      EXPECT_EQ(call.flags, 0u) << call.function;
      if (call.function == "CM_Locate_DevNodeW") {
        EXPECT_EQ(call.argument, 0u) << "the root node, asked for without an identifier";
      }
      if (call.function == "CM_Reenumerate_DevNode") {
        EXPECT_EQ(call.argument, sim::SimDeviceTree::kRootDevInst);
      }
    }
    EXPECT_EQ(calls, c.calls) << c.more;
  }
}

}  // namespace
}  // namespace zel
