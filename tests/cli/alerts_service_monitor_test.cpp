// zelvane alerts, service and monitor on a simulated machine: what they
// show, what they store (read back from the registry file the machine
// writes at its end), their refusals and their exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli_runner.h"

namespace zel {
namespace {

class AlertCommands : public test::CliTest {
 protected:
  // A machine with one drive, the service in `service` (a list entry, or
  // empty for none), the product key's `values` and a registry file.
  void Machine(const std::string& service, const std::string& values = "",
               const std::string& registryExtra = "") {
    std::string json = "{\"program\": {\"path\": \"" + Dir() + "/zelvane\"}, " +
                       R"("drives": [{"index": 0, "model": "QUARN SSD A", "serial": "S-A"}],)" +
                       R"("registry": {"file": "registry-after.json", )" + registryExtra +
                       R"("keys": {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {)" + values + "}}}";
    if (!service.empty()) json += R"(, "services": {"list": [)" + service + "]}";
    test::WriteFile(Dir() + "/machine.json", json + "}");
  }
  // The stored DWORD `name` of the product key as the machine wrote it.
  nlohmann::json StoredValue(const char* name) {
    nlohmann::json reg = nlohmann::json::parse(test::ReadFile(Dir() + "/registry-after.json"));
    const nlohmann::json& key = reg["keys"]["SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane"];
    return key.contains(name) ? key[name] : nlohmann::json();
  }
};

constexpr const char* kStopped =
    R"({"name": "QUARN Zelvane Service", "state": "stopped", "startType": "demand", "startMs": 800, "stopMs": 600})";
constexpr const char* kRunning =
    R"({"name": "QUARN Zelvane Service", "state": "running", "startType": "auto", "stopMs": 600})";

TEST_F(AlertCommands, AlertsShowsTheThresholdsAndStoresValidatedValues) {
  Machine(kStopped, R"("ZelvaneSvcRemainingLife": 150)");
  test::CliResult shown = Run({"alerts"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_EQ(shown.out, "Temperature over      70 \xC2\xB0" "C (default)\nEstimated life under  100 %\n");
  // Showing writes nothing.
  EXPECT_EQ(StoredValue("ZelvaneSvcRemainingLife"), nlohmann::json::parse(R"({"type": "REG_DWORD", "data": 150})"));

  test::CliResult set = Run({"alerts", "--temperature", "-5", "--remaining-life=20", "--json"});
  EXPECT_EQ(set.status, 0) << set.err;
  EXPECT_EQ(nlohmann::json::parse(set.out),
            nlohmann::json::parse(R"({"temperature": -5, "temperatureStored": true,
                                      "remainingLife": 20, "remainingLifeStored": true})"));
  EXPECT_EQ(StoredValue("ZelvaneSvcTemperature"), nlohmann::json::parse(R"({"type": "REG_DWORD", "data": 4294967291})"));
  EXPECT_EQ(StoredValue("ZelvaneSvcRemainingLife"), nlohmann::json::parse(R"({"type": "REG_DWORD", "data": 20})"));

  struct Case {
    std::vector<std::string> args;
    int status;
    const char* error;
  } refusals[] = {
      {{"alerts", "--temperature", "65C"}, 2, "error input"},
      {{"alerts", "--remaining-life"}, 2, "needs a value"},
      {{"alerts", "65"}, 2, "unexpected argument"},
  };
  for (const Case& c : refusals) {
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args.back();
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
    EXPECT_TRUE(StoredValue("ZelvaneSvcTemperature").is_null()) << "nothing stored";
  }

  Machine(kStopped, "", R"("admin": false, )");
  test::CliResult refused = Run({"alerts", "--temperature", "60"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("could not be stored"), std::string::npos) << refused.err;
}

TEST_F(AlertCommands, ServiceSwitchesAndReportsWhereItEnded) {
  struct Case {
    const char* service;
    std::vector<std::string> args;
    int status;
    const char* out;
  } cases[] = {
      {kStopped, {"service", "status"}, 0, "QUARN Zelvane Service: stopped, start on demand\n"},
      {kStopped, {"service", "on"}, 0, "QUARN Zelvane Service: running, start automatic\n"},
      {kRunning, {"service", "on"}, 0, "QUARN Zelvane Service: running, start automatic\n"},
      {kRunning, {"service", "off"}, 0, "QUARN Zelvane Service: stopped, start on demand\n"},
      {kStopped, {"service", "off"}, 0, "QUARN Zelvane Service: stopped, start on demand\n"},
      {"", {"service", "status"}, 1, "QUARN Zelvane Service: not available (error 1060)\n"},
      {"", {"service", "on"}, 1, "QUARN Zelvane Service: not available (error 1060)\n"},
      {R"({"name": "QUARN Zelvane Service", "startType": "disabled"})", {"service", "status"}, 0,
       "QUARN Zelvane Service: stopped, start disabled\n"},
  };
  for (const Case& c : cases) {
    Machine(c.service);
    test::CliResult r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.service << " " << c.args.back() << r.err;
    EXPECT_EQ(r.out, c.out) << c.service << " " << c.args.back();
  }
  Machine("");
  test::CliResult missing = Run({"service", "off"});
  EXPECT_NE(missing.err.find("OpenService failed w/err 0x00000424"), std::string::npos) << missing.err;

  Machine(kRunning);
  test::CliResult json = Run({"service", "status", "--json"});
  EXPECT_EQ(nlohmann::json::parse(json.out),
            nlohmann::json::parse(R"({"service": "QUARN Zelvane Service", "installed": true,
                                      "state": "running", "startType": "automatic"})"));
  for (const char* bad : {"restart", ""}) {
    test::CliResult r = Run({"service", bad});
    EXPECT_EQ(r.status, 2) << bad;
  }
}

TEST_F(AlertCommands, MonitorOnceSaysWhatItSeesWithTheJournalsPriorities) {
  Machine(kRunning, R"("ZelvaneSvcTemperature": 30)");
  test::CliResult plain = Run({"monitor", "--once"});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, "");
  EXPECT_EQ(test::OutputLines(plain.err),
            (std::vector<std::string>{
                "Alert thresholds: temperature above 30 \xC2\xB0" "C, remaining life below 10%",
                "Disk 0 (QUARN SSD A, serial S-A): temperature 35 \xC2\xB0" "C is above the alert "
                "threshold of 30 \xC2\xB0" "C"}));
  // The runner's shell passes JOURNAL_STREAM on when the test sets it.
  setenv("JOURNAL_STREAM", "8:1234", 1);
  test::CliResult journal = Run({"monitor", "--once"});
  unsetenv("JOURNAL_STREAM");
  EXPECT_EQ(journal.err.substr(0, 3), "<6>");
  EXPECT_NE(journal.err.find("\n<4>Disk 0"), std::string::npos) << journal.err;

  for (const char* bad : {"0", "ten", "99999999"}) {
    test::CliResult r = Run({"monitor", "--interval", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--interval"), std::string::npos);
  }
}

}  // namespace
}  // namespace zel
