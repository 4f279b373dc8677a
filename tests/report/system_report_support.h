// Shared ground of the system report tests: the report machine installed, a
// fresh process-wide inventory, the user's locale chosen through LC_ALL (the
// report selects the user's locale itself) and helpers to cut the report
// into lines and blocks.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "report/system_report.h"
#include "support/sim_fixture.h"

namespace zel::test {

class ReportTest : public SimTest {
 protected:
  std::string MachineJson() const override { return ReadFile(FixturePath("report-mixed.json")); }

  void SetUp() override {
    SimTest::SetUp();
    savedLocale_ = std::setlocale(LC_ALL, nullptr);
    UserLocale("C.UTF-8");
    BuildNumber() = "Q91B102E";
    SetLogLevel(1);
  }
  void TearDown() override {
    lcAll_.reset();
    std::setlocale(LC_ALL, savedLocale_.c_str());
    SimTest::TearDown();
  }

  // What a program's application state holds for the report; a new one for
  // every test, as for a new run of the program.
  std::string& BuildNumber() { return buildNumber_; }
  SystemInformation& SystemInfo() { return systemInfo_; }
  std::vector<HbaEntry>& HbaList() { return hbaList_; }
  bool WriteReport(const std::string& path, const PhysicalDriveTable& table) {
    return WriteSystemReport(path, table, buildNumber_, systemInfo_, hbaList_);
  }

  // The user's locale: LC_ALL, put back as it was when the test ends.
  void UserLocale(const char* name) {
    lcAll_.reset();
    lcAll_.emplace("LC_ALL", name);
  }

  // The start-up pass: inventory, then discovery.
  PhysicalDriveTable Discover() {
    UnderlyingUtil util;
    util.GetSystemInfo(systemInfo_, hbaList_);
    PhysicalDriveTable table;
    ATACommand ata;
    ata.UpdatePhysicalDrivesInfo(table);
    return table;
  }

  // Discovery and an export to `name` in the test folder; the file's bytes.
  std::string Export(const std::string& name = "report.log") {
    PhysicalDriveTable table = Discover();
    EXPECT_TRUE(WriteReport(Dir() + "/" + name, table));
    return ReadFile(Dir() + "/" + name);
  }

 private:
  std::string buildNumber_;
  SystemInformation systemInfo_;
  std::vector<HbaEntry> hbaList_;
  std::string savedLocale_;
  std::optional<ScopedEnv> lcAll_;
};

// The lines of a file whose lines end in CR LF (the last one included).
inline std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// Index of the first line equal to `text` at or after `from`; -1 if none.
inline int FindLine(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
  for (int i = from; i < static_cast<int>(lines.size()); ++i)
    if (lines[static_cast<size_t>(i)] == text) return i;
  return -1;
}

// `count` lines from `from` (fewer at the end of the list).
inline std::vector<std::string> Slice(const std::vector<std::string>& lines, int from, int count) {
  std::vector<std::string> out;
  for (int i = from; i >= 0 && i < from + count && i < static_cast<int>(lines.size()); ++i)
    out.push_back(lines[static_cast<size_t>(i)]);
  return out;
}

}  // namespace zel::test
