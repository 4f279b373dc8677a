// zelvane trim and zelvane schedule: the volumes trimmed and skipped, the
// run state kept in the registry, the refusals, and the drive's schedule as
// stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

// The machine's clock: 2026-12-11T12:00:00Z.
constexpr long long kNow = 1796990400;

class TrimCommandTest : public test::CliTest {
 protected:
  // A machine with the maker's drive 0 and another maker's drive 1; its
  // registry is written to reg.json when a run ends.
  void Machine(const std::string& volumes, const std::string& keys = "{}") {
    test::WriteFile(Dir() + "/machine.json",
                    R"({"program": {"path": ")" + Dir() + R"(/zelvane"},
                        "clock": {"time": "2026-12-11T12:00:00Z"},
                        "drives": [{"index": 0, "model": "QUARN KD785KK 512GB"},
                                   {"index": 1, "model": "OTHER SSD 256GB"}],
                        "volumes": )" + volumes + R"(,
                        "registry": {"file": "reg.json", "keys": )" + keys + "}}");
  }
  nlohmann::json Registry() { return nlohmann::json::parse(test::ReadFile(Dir() + "/reg.json"))["keys"]; }
  nlohmann::json ProductKey() { return Registry()["SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane"]; }
};

const char* kVolumes = R"([
  {"letter": "C", "disk": 0, "size": 107374182400, "free": 12884901888},
  {"letter": "D", "disk": 0, "fileSystem": "FAT32", "size": 107374182400, "free": 53687091200},
  {"letter": "E", "disk": 0, "fileSystem": "ext4", "trimOnRequest": true, "size": 107374182400, "free": 6442450944},
  {"letter": "F", "disk": 0, "size": 107374182400, "free": 5368709120}])";

TEST_F(TrimCommandTest, TrimsTheDrivesVolumesAndEndsTheRunState) {
  Machine(kVolumes);
  test::CliResult r = Run({"trim", "0"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::OutputLines(r.out),
            (std::vector<std::string>{"C: NTFS: 4 filler files",
                                      "D: FAT32: skipped, its file system does not turn freed space into TRIM",
                                      "E: ext4: 1 filler file, 6442450944 bytes trimmed",
                                      "F: NTFS: skipped, not more than 5 GiB free",
                                      "SSD Optimization is done!"}));
  EXPECT_EQ(r.err, "trim: C:: 4 filler files\ntrim: E:: 1 filler file\n");
  nlohmann::json product = ProductKey();
  EXPECT_EQ(product["TrimInProgress"]["data"], 0);
  EXPECT_EQ(product["TrimStartAt"]["type"], "REG_QWORD");
  EXPECT_EQ(product["TrimStartAt"]["data"], kNow);
}

TEST_F(TrimCommandTest, RefusesWhileARunIsActiveAndRunsOnceItIsStale) {
  struct Case {
    long long startAt;
    int status;
  } cases[] = {{kNow - 3599, 1}, {kNow + 1, 1}, {kNow - 3600, 0}};
  for (const Case& c : cases) {
    Machine(kVolumes, R"({"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {"TrimInProgress": 1,
                          "TrimStartAt": {"type": "REG_QWORD", "data": )" + std::to_string(c.startAt) + "}}}");
    test::CliResult r = Run({"trim", "0"});
    EXPECT_EQ(r.status, c.status) << c.startAt - kNow << r.err;
    if (c.status == 1) {
      EXPECT_NE(r.err.find("Trim is in progress."), std::string::npos) << r.err;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(ProductKey()["TrimInProgress"]["data"], 1);
    } else {
      EXPECT_EQ(ProductKey()["TrimInProgress"]["data"], 0);
    }
  }
}

TEST_F(TrimCommandTest, ListShowsWhatARunWouldDoAndChangesNothing) {
  Machine(kVolumes);
  test::CliResult r = Run({"trim", "0", "--list", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc["volumes"].size(), 4u);
  EXPECT_EQ(doc["volumes"][0]["volume"], "C:");
  EXPECT_EQ(doc["volumes"][0]["trims"], true);
  EXPECT_EQ(doc["volumes"][0]["fillerFiles"], 4);
  EXPECT_EQ(doc["volumes"][1]["trims"], false);
  EXPECT_EQ(doc["volumes"][1]["fillerFiles"], 0);
  EXPECT_EQ(doc["volumes"][2]["trims"], true);
  EXPECT_EQ(doc["volumes"][3]["freeBytes"], 5368709120ull);
  EXPECT_EQ(doc["volumes"][3]["fillerFiles"], 0);
  EXPECT_FALSE(ProductKey().contains("TrimInProgress"));
}

TEST_F(TrimCommandTest, CannotRunWithoutVolumesOrWithBadUsage) {
  Machine("[]");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"trim", "0"}, "zelvane: trim: There is no recognized partition.\n"},
      {{"trim"}, nullptr},
      {{"trim", "0", "--now"}, nullptr},
      {{"trim", "7"}, nullptr},
  };
  for (const Case& c : cases) {
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 2) << r.err;
    if (c.message) {
      EXPECT_EQ(r.err, c.message);
    }
  }
}

TEST_F(TrimCommandTest, ScheduleStoresTheDrivesSettingsAndShowsThem) {
  Machine("[]");
  test::CliResult r = Run({"schedule", "0", "--days", "14"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Disk 0 scheduled TRIM: on, every 14 days\n");
  nlohmann::json keys = Registry();
  nlohmann::json drive;
  for (auto& [name, values] : keys.items())
    if (name.rfind("SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane\\", 0) == 0) drive = values;
  ASSERT_TRUE(drive.is_object()) << keys.dump();
  EXPECT_EQ(drive["ScheduledTrimInterval"], (nlohmann::json{{"type", "REG_DWORD"}, {"data", 1209600}}));
  EXPECT_EQ(drive["ScheduledTrimEnable"]["data"], 1);
  EXPECT_EQ(drive["PhysicalDriveIndex"]["data"], 0);

  // Switched off on the same registry: the interval stays.
  Machine("[]", keys.dump());
  r = Run({"schedule", "0", "--off", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["enabled"], false);
  EXPECT_EQ(doc["days"], 14);
  EXPECT_EQ(doc["intervalSeconds"], 1209600);
}

TEST_F(TrimCommandTest, ScheduleRefusesDaysOutsideThePagesRangeAndOtherMakersDrives) {
  Machine("[]");
  struct Case {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"schedule", "0", "--days", "6"}, 2},   {{"schedule", "0", "--days", "31"}, 2},
      {{"schedule", "0", "--days", "x"}, 2},   {{"schedule", "0", "--days"}, 2},
      {{"schedule", "0", "--days", "7", "--off"}, 2},
      {{"schedule", "1", "--days", "7"}, 2},   {{"schedule", "0", "--days", "4294967303"}, 2},
      {{"schedule", "0", "--days", "7"}, 0},   {{"schedule", "0", "--days", "30"}, 0},
  };
  for (const Case& c : cases) {
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
  }
  test::CliResult other = Run({"schedule", "1", "--off"});
  EXPECT_EQ(other.err, "zelvane: schedule: This is not an QUARN product!\n");
  // Without an option it only shows: a drive without a subkey shows 7 days, off.
  test::CliResult shown = Run({"schedule", "0"});
  EXPECT_EQ(shown.out, "Disk 0 scheduled TRIM: off, every 7 days\n");
}

}  // namespace
}  // namespace zel
