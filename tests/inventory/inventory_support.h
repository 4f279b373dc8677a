// Test support for the inventory operations: a simulated machine with the
// trace log on and the process-wide inventory lists emptied, the trace lines
// that contain a text, and the statements the machine received.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "inventory/system_info.h"
#include "inventory/underlying_util.h"
#include "log/log.h"
#include "platform/wql/model_com.h"
#include "support/sim_fixture.h"

namespace zel::test {

class InventoryTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
    WmiDiskTable().clear();
  }

  // The records the inventory fills, owned by the test as a program's
  // application state owns them.
  SystemInformation& SystemInfo() { return systemInfo_; }
  std::vector<HbaEntry>& HbaList() { return hbaList_; }

  wql::ModelCom& Com() { return dynamic_cast<wql::ModelCom&>(Machine().Wmi()); }
  std::vector<std::string> Statements() { return Com().Statements(); }

  // The lines that contain `part`, in order.
  std::vector<std::string> LinesWith(const std::string& part) const {
    std::vector<std::string> out;
    for (const std::string& l : TraceLines())
      if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }

  // Every connection released and COM uninitialised as often as initialised.
  void ExpectComBalanced() {
    wql::ModelCom::Usage u = Com().ComUsage();
    EXPECT_EQ(u.openApartments, 0);
    EXPECT_EQ(u.unbalancedUninitializeCalls, 0);
  }

 private:
  SystemInformation systemInfo_;
  std::vector<HbaEntry> hbaList_;
};

}  // namespace zel::test
