// The Diagnostics page's Alert Setting area through the scripted Shell: the
// thresholds shown and stored, "error input", the service box and the
// service-stop worker's notifications, on the simulated machine's registry
// and service manager.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialog/scripted_shell.h"
#include "app/pages/diagnostics_page.h"
#include "device/ata_command.h"
#include "maintenance/alert_settings.h"
#include "platform/platform.h"
#include "platform/sim/machine.h"
#include "platform/worker.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;
using P = CDiagnoticsPage;

std::string MachineWith(const std::string& state, const std::string& values = "") {
  return R"({"drives": [{"index": 0, "model": "QUARN SSD A"}, {"index": 1, "model": "QUARN SSD B"}],
    "registry": {"keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {)" + values + R"(}}},
    "services": {"list": [{"name": "QUARN Zelvane Service", "state": ")" + state +
         R"(", "startType": "demand", "stopMs": 1500}]}})";
}

class DiagnosticsAlerts : public test::SimTest {
 protected:
  std::string MachineJson() const override { return MachineWith("stopped"); }
  void Start() {
    ATACommand ata;
    state_.PhysicalDriveTable.clear();
    ASSERT_GE(ata.UpdatePhysicalDrivesInfo(state_.PhysicalDriveTable), 1);
    state_.SelectedDrive = 0;
    state_.RunningOperationCode = 0;
    Current().Windows().ShowWindowTitle("QUARN SSD Zelvane");
    page_ = std::make_unique<P>(state_, shell_, 1033);
    page_->OnInitDialog();
  }
  const Control& Item(int id) { return *page_->Model().Find(id); }
  std::vector<bool> Enabled() {
    std::vector<bool> e;
    for (int id : {P::kTemperatureEdit, P::kTemperatureApply, P::kLifeEdit, P::kLifeApply})
      e.push_back(Item(id).enabled);
    return e;
  }
  // The stored bytes of a product-key value, or "none".
  std::string Stored(const char* name) {
    Registry& reg = Current().Reg();
    HKEY key = 0;
    if (reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarn\\SSDZelvane", 0, KEY_READ, &key))
      return "none";
    uint8_t data[8];
    uint32_t type = 0, size = sizeof data;
    LSTATUS s = reg.RegQueryValueExW(key, name, &type, data, &size);
    reg.RegCloseKey(key);
    if (s || type != REG_DWORD || size != 4) return "none";
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", data[0], data[1], data[2], data[3]);
    return text;
  }
  void Type(int edit, const std::string& text) { page_->Model().SetText(edit, text); }
  void ClickBox(bool checked) {
    page_->Model().Item(P::kServiceCheck).checked = checked;
    page_->OnBnClickedCheckService();
  }
  // Hands the worker's notifications to the page until the end one.
  std::vector<int> DrainToEnd() {
    std::vector<int> phases;
    MSG m;
    while (Current().Windows().GetMessageW(&m, 5000)) {
      page_->OnProgress(m.wParam, m.lParam);
      phases.push_back(ProgressPhase(m.wParam));
      if (phases.back() == 3) break;
    }
    return phases;
  }
  sim::SimServices::View Service() {
    sim::SimServices::View v;
    EXPECT_TRUE(Machine().ServiceManager().Look("QUARN Zelvane Service", &v));
    return v;
  }
  AppState state_;
  ScriptedShell shell_;
  std::unique_ptr<P> page_;
};

TEST_F(DiagnosticsAlerts, ShowsDefaultsWithoutWritingAndTheServiceStateDecidesWhatIsEditable) {
  struct Case {
    std::string machine;
    bool checked;
  } cases[] = {
      {MachineWith("stopped"), false},
      {MachineWith("running"), true},
      {R"({"drives": [{"index": 0}]})", true},  // no such service: a failed query
  };
  for (const Case& c : cases) {
    UseMachine(c.machine);
    Start();
    EXPECT_EQ(Item(P::kTemperatureEdit).text, "70");
    EXPECT_EQ(Item(P::kLifeEdit).text, "10");
    EXPECT_EQ(Item(P::kServiceCheck).checked, c.checked);
    EXPECT_EQ(Enabled(), std::vector<bool>(4, !c.checked));
    EXPECT_EQ(Stored("ZelvaneSvcTemperature"), "none");
    EXPECT_EQ(Stored("ZelvaneSvcRemainingLife"), "none");
  }
  EXPECT_TRUE(shell_.Texts().empty());
}

TEST_F(DiagnosticsAlerts, AStoredLifeAbove100IsShownAndRewrittenAs100) {
  UseMachine(MachineWith("stopped", R"("ZelvaneSvcTemperature": 55, "ZelvaneSvcRemainingLife": 150)"));
  Start();
  EXPECT_EQ(Item(P::kTemperatureEdit).text, "55");
  EXPECT_EQ(Item(P::kLifeEdit).text, "100");
  EXPECT_EQ(Stored("ZelvaneSvcRemainingLife"), "64 00 00 00");
}

TEST_F(DiagnosticsAlerts, ApplyStoresTheTypedNumberOrSaysErrorInput) {
  Start();
  struct Case {
    int edit;
    void (P::*apply)();
    const char* value;
    const char* typed;
    const char* stored;  // afterwards
    const char* box;     // shown, or empty
  } cases[] = {
      {P::kTemperatureEdit, &P::OnBnClickedButtonTemperatureApply, "ZelvaneSvcTemperature", "65",
       "41 00 00 00", ""},
      {P::kTemperatureEdit, &P::OnBnClickedButtonTemperatureApply, "ZelvaneSvcTemperature", "65C",
       "41 00 00 00", "error input"},
      {P::kTemperatureEdit, &P::OnBnClickedButtonTemperatureApply, "ZelvaneSvcTemperature", "-5",
       "FB FF FF FF", ""},
      {P::kLifeEdit, &P::OnBnClickedButtonLifeApply, "ZelvaneSvcRemainingLife", " 20", "14 00 00 00", ""},
      {P::kLifeEdit, &P::OnBnClickedButtonLifeApply, "ZelvaneSvcRemainingLife", "", "00 00 00 00", ""},
      {P::kLifeEdit, &P::OnBnClickedButtonLifeApply, "ZelvaneSvcRemainingLife", "1 0", "00 00 00 00",
       "error input"},
  };
  for (const Case& c : cases) {
    const size_t before = shell_.Texts().size();
    Type(c.edit, c.typed);
    ((*page_).*c.apply)();
    EXPECT_EQ(Stored(c.value), c.stored) << c.typed;
    std::vector<std::string> texts = shell_.Texts();
    if (*c.box) {
      ASSERT_EQ(texts.size(), before + 1) << c.typed;
      EXPECT_EQ(texts.back(), c.box);
    } else {
      EXPECT_EQ(texts.size(), before) << c.typed;
    }
    EXPECT_EQ(Item(c.edit).text, c.typed);  // the box keeps what was typed
  }

  // While another operation runs, Apply refuses and stores nothing.
  state_.RunningOperationCode = 1;
  Type(P::kTemperatureEdit, "80");
  page_->OnBnClickedButtonTemperatureApply();
  EXPECT_EQ(shell_.Texts().back(), "There is a process running! Any action is not allowed!");
  EXPECT_EQ(Stored("ZelvaneSvcTemperature"), "FB FF FF FF");
}

TEST_F(DiagnosticsAlerts, UncheckingStopsTheServiceOnTheWorkerWithStrings340And341) {
  UseMachine(MachineWith("running"));
  Start();
  ASSERT_TRUE(Item(P::kServiceCheck).checked);
  ClickBox(false);
  EXPECT_FALSE(Item(P::kServiceCheck).checked);
  EXPECT_EQ(Enabled(), std::vector<bool>(4, true));
  EXPECT_EQ(DrainToEnd(), (std::vector<int>{1, 3}));
  EXPECT_EQ(shell_.Texts(),
            (std::vector<std::string>{
                "Stopping Zelvane Service, all operations are not allowed in the mean time!",
                "Zelvane Service is stopped successfully!"}));
  EXPECT_EQ(state_.RunningOperationCode, 0);
  EXPECT_EQ(Service().startType, SERVICE_DEMAND_START);
  EXPECT_EQ(Service().state, SERVICE_STOP_PENDING);  // the worker does not wait
  Machine().Clock().Advance(1500);
  EXPECT_EQ(Service().state, SERVICE_STOPPED);
}

TEST_F(DiagnosticsAlerts, CheckingMakesTheServiceAutomaticAndStartsIt) {
  Start();
  ClickBox(true);
  EXPECT_TRUE(Item(P::kServiceCheck).checked);
  EXPECT_EQ(Enabled(), std::vector<bool>(4, false));
  EXPECT_EQ(Service().state, SERVICE_RUNNING);
  EXPECT_EQ(Service().startType, SERVICE_AUTO_START);
  // The stop came first (and failed: the service was stopped), then the start.
  std::vector<std::string> calls = Machine().ServiceManager().CallLog();
  std::vector<std::string> changes;
  for (const std::string& c : calls)
    if (c.rfind("Change", 0) == 0 || c.rfind("Control", 0) == 0 || c.rfind("Start", 0) == 0)
      changes.push_back(c);
  EXPECT_EQ(changes, (std::vector<std::string>{"ChangeServiceConfig 3", "ControlService 1",
                                               "ChangeServiceConfig 2", "StartService"}));
  EXPECT_TRUE(shell_.Texts().empty());
  EXPECT_EQ(state_.RunningOperationCode, 0);
}

TEST_F(DiagnosticsAlerts, AClickWhileASelfTestRunsIsRefusedAndChangesNothing) {
  UseMachine(MachineWith("running"));
  Start();
  const size_t calls = Machine().ServiceManager().CallLog().size();
  state_.RunningOperationCode = 1;
  ClickBox(false);
  EXPECT_TRUE(Item(P::kServiceCheck).checked);
  EXPECT_EQ(shell_.Texts(),
            (std::vector<std::string>{"There is a process running! Any action is not allowed!"}));
  EXPECT_EQ(Machine().ServiceManager().CallLog().size(), calls);
  EXPECT_EQ(Service().state, SERVICE_RUNNING);
  EXPECT_EQ(state_.RunningOperationCode, 1);
}

TEST_F(DiagnosticsAlerts, WithoutTheServiceAClickStillShows340And341) {
  UseMachine(R"({"drives": [{"index": 0}]})");
  Start();
  ClickBox(false);
  EXPECT_EQ(DrainToEnd(), (std::vector<int>{1, 3}));
  EXPECT_EQ(shell_.Texts().size(), 2u);
  EXPECT_EQ(shell_.Texts().back(), "Zelvane Service is stopped successfully!");
  EXPECT_EQ(state_.RunningOperationCode, 0);
}

TEST_F(DiagnosticsAlerts, SelectingAnotherDriveRereadsThresholdsAndService) {
  Start();
  ASSERT_FALSE(Item(P::kServiceCheck).checked);
  // Meanwhile, behind the page's back: a new threshold and the service on.
  ASSERT_NE(SetAlertTemperature(75), 0u);
  ASSERT_NE(SetServiceRunning("QUARN Zelvane Service", 1, nullptr), 0u);
  state_.SelectedDrive = 1;
  page_->RefreshForSelectedDrive();
  EXPECT_EQ(Item(P::kQuickModel).text, "QUARN SSD B");
  EXPECT_EQ(Item(P::kTemperatureEdit).text, "75");
  EXPECT_TRUE(Item(P::kServiceCheck).checked);
  EXPECT_EQ(Enabled(), std::vector<bool>(4, false));
}

}  // namespace
}  // namespace zel
