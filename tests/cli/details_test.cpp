// zelvane details: the details popup's lists on the command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

using test::OutputLines;

class DetailsCommandTest : public test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    UseFixture("report-mixed.json");
  }
};

TEST_F(DetailsCommandTest, DriveDetailsOfASataDisk) {
  const test::CliResult r = Run({"details", "0"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = OutputLines(r.out);
  ASSERT_EQ(lines.size(), 5u + 256u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
            (std::vector<std::string>{
                "Drive Detail Information: QUARN KD785KK 512GB",
                "HBA: Standard SATA AHCI Controller / AHCI",
                "Driver Version: 10.0.19041.3636 (Microsoft)",
                "",
                "Item      Value   Description",
                "Word 0    0x0040  General configuration",
            }));
  // The model words in the order decoding left them in the record.
  EXPECT_EQ(lines[5 + 27], "Word 27   0x5551  Model number (40 ASCII characters)");
  // The checksum word ends the list, its signature 0xA5 in the low byte.
  EXPECT_EQ(lines.back().substr(0, 12), "Word 255  0x");
  EXPECT_EQ(lines.back().substr(14, 4), "A5  ");
}

TEST_F(DetailsCommandTest, SmartDetailsOfASataDiskAsATable) {
  const test::CliResult r = Run({"details", "0", "--smart"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(OutputLines(r.out),
            (std::vector<std::string>{
                "SMART Detail Information: QUARN KD785KK 512GB",
                "",
                "ID   Hex   Description          Current  Worst  Threshold  Raw",
                "1    0x01  Read Error Rate      100      100    50         0x00000000000000",
                "5    0x05  Retired Block Count  100      99     10         0x00000000002710",
                "9    0x09  Power-on Hours       100      100    0          0x000000000010E1",
                "194  0xC2  Temperature          65       50     0          0x00003200140023",
            }));
}

TEST_F(DetailsCommandTest, NvmeListsAsJson) {
  test::CliResult r = Run({"--json", "details", "3", "--smart"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json health = nlohmann::json::parse(r.out);
  EXPECT_EQ(health["disk"], 3);
  EXPECT_EQ(health["mode"], "smart");
  EXPECT_EQ(health["bus"], "nvme");
  EXPECT_EQ(health["header"], "SMART Detail Information: QUARN NVMe KN900 1TB");
  EXPECT_EQ(health["columns"], nlohmann::json::parse(R"([
      {"key": "id", "header": "ID", "width": 40},
      {"key": "value", "header": "Value", "width": 130},
      {"key": "description", "header": "Description", "width": 430}])"));
  ASSERT_EQ(health["rows"].size(), 15u);
  EXPECT_EQ(health["rows"][7], nlohmann::json::parse(R"(
      {"id": "08h", "value": "0x10000000000000000", "description": "The number of host read commands."})"));

  r = Run({"details", "3", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json identify = nlohmann::json::parse(r.out);
  EXPECT_EQ(identify["mode"], "drive");
  // The NVMe controller is no IDE controller of the inventory: no controller line.
  EXPECT_EQ(identify["header"], "Drive Detail Information: QUARN NVMe KN900 1TB\n");
  ASSERT_EQ(identify["rows"].size(), 502u);
  EXPECT_EQ(identify["rows"][0],
            nlohmann::json::parse(R"({"item": "VID", "value": "0x1E4B", "description": "PCI Vendor ID"})"));
  EXPECT_EQ(identify["columns"][1]["width"], 290);
}

TEST_F(DetailsCommandTest, BadArgumentsAreRefused) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"details", "9"}, "disk 9 is not a usable drive"},
      {{"details", "x"}, "\"x\" is not a disk number"},
      {{"details"}, "expected one disk number"},
      {{"details", "0", "1"}, "expected one disk number"},
      {{"details", "0", "--raw"}, "unknown option \"--raw\""},
  };
  for (const Case& c : cases) {
    const test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.message;
  }
}

}  // namespace
}  // namespace zel
