// Test support for the inventory operations: a simulated machine with the
// trace log on and the process-wide inventory lists emptied, the trace lines
// without their time stamps, and the statements the machine received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "platform/wql/model_com.h"
#include "report/log.h"
#include "support/sim_fixture.h"

namespace zel::test {

class InventoryTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
    SystemInfo() = SystemInformation{};
    HbaList().clear();
    WmiDiskTable().clear();
  }

  wql::ModelCom& Com() { return dynamic_cast<wql::ModelCom&>(Machine().Wmi()); }
  std::vector<std::string> Statements() { return Com().Statements(); }

  // The trace log as lines, each without its "%08d " time stamp.
  std::vector<std::string> Lines() const {
    std::string log = TraceLog();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
      size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      std::string line = log.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() >= 9 && line[8] == ' ' &&
          std::all_of(line.begin(), line.begin() + 8, [](char c) { return c >= '0' && c <= '9'; }))
        line = line.substr(9);
      lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
  bool Logged(const std::string& line) const {
    std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The lines that contain `part`, in order.
  std::vector<std::string> LinesWith(const std::string& part) const {
    std::vector<std::string> out;
    for (const std::string& l : Lines())
      if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }

  // Every connection released and COM uninitialised as often as initialised.
  void ExpectComBalanced() {
    wql::ModelCom::Usage u = Com().ComUsage();
    EXPECT_EQ(u.openApartments, 0);
    EXPECT_EQ(u.unbalancedUninitializeCalls, 0);
  }
};

}  // namespace zel::test
