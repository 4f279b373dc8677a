// zelvane report: the system report written where the user says.
#include <sys/time.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

class ReportCommandTest : public test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    UseFixture("report-mixed.json");
  }
};

TEST_F(ReportCommandTest, WritesThePathAsTypedAndReplacesAnEarlierReport) {
  // The program file, last written on 27 September 2017 at 16:46 UTC.
  test::WriteFile(Dir() + "/zelvane", "");
  std::tm when{};
  when.tm_year = 117;
  when.tm_mon = 8;
  when.tm_mday = 27;
  when.tm_hour = 16;
  when.tm_min = 46;
  when.tm_sec = 58;
  const timeval times[2] = {{timegm(&when), 0}, {timegm(&when), 0}};
  ASSERT_EQ(::utimes((Dir() + "/zelvane").c_str(), times), 0);

  test::CliResult r = Run({"report", "support-report"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Wrote the system report (4 drives) to support-report\n");
  EXPECT_FALSE(std::filesystem::exists(Dir() + "/support-report.log"));
  const std::string first = test::ReadFile(Dir() + "/support-report");
  EXPECT_NE(first.find("\r\nBuild Number:Q91B102E\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\nThere are 4 disk drives attached.\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\nMaximum LBA: 1D1C0BEB0 (7814037168)\r\n"), std::string::npos);

  // Over a longer file: the same report again, nothing of the old file.
  test::WriteFile(Dir() + "/support-report", first + std::string(5000, 'x'));
  r = Run({"report", "support-report"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadFile(Dir() + "/support-report"), first);
}

TEST_F(ReportCommandTest, JsonAndFailures) {
  test::CliResult r = Run({"report", "r.log", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(nlohmann::json::parse(r.out),
            nlohmann::json::parse(R"({"path": "r.log", "written": true, "drives": 4})"));
  // Without a program file to date, the build number is empty.
  EXPECT_NE(test::ReadFile(Dir() + "/r.log").find("\r\nBuild Number:\r\n"), std::string::npos);

  r = Run({"report", "no-such-folder/r.log"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("the report could not be written to no-such-folder/r.log"), std::string::npos);

  r = Run({"report"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("expected the path of the report file"), std::string::npos);
}

TEST_F(ReportCommandTest, NoUsableDriveWritesTheReportAndSaysWhy) {
  // Only a USB disk: the report is written (it holds the system's details),
  // but a report without drives is not what the command is for.
  nlohmann::json machine = nlohmann::json::parse(test::ReadFile(Dir() + "/machine.json"));
  machine["drives"] = nlohmann::json::parse(R"([{"index": 0, "bus": "usb"}])");
  machine.erase("controllers");
  test::WriteFile(Dir() + "/machine.json", machine.dump());
  test::CliResult r = Run({"report", "r.log"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("zelvane: no usable drive"), std::string::npos) << r.err;
  EXPECT_NE(test::ReadFile(Dir() + "/r.log").find("There are 0 disk drives attached.\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace zel
