// End-to-end tests of the built zelvane program: list and info on the demo
// machine in text and JSON, the same values in both, and the error exits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/sim_fixture.h"

namespace zel {
namespace {

using nlohmann::json;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class ZelvaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zelcli.XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    if (!std::getenv("ZEL_KEEP_TEST_DIRS")) std::filesystem::remove_all(dir_, ec);
  }

  // Runs zelvane with `args` (each quoted for the shell) in the test folder.
  Result Zelvane(const std::vector<std::string>& args) {
    std::string command = "cd '" + dir_ + "' && '" ZEL_BIN_DIR "/zelvane'";
    for (const std::string& a : args) command += " '" + a + "'";
    command += " > out.txt 2> err.txt";
    Result r;
    int raw = std::system(command.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = test::ReadFile(dir_ + "/out.txt");
    r.err = test::ReadFile(dir_ + "/err.txt");
    return r;
  }
  // A machine file in the test folder whose program (and so the trace log)
  // lives there too.
  std::string MachineFile(const std::string& name, const std::string& body) {
    std::string path = dir_ + "/" + name;
    test::WriteFile(path, "{\"program\": {\"path\": \"" + dir_ + "/zelvane\"}, " + body + "}");
    return path;
  }

  std::string dir_;
};

TEST_F(ZelvaneTest, ListOnTheDemoMachine) {
  Result r = Zelvane({"--machine", "demo", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "Disk  Bus   Model                     Firmware  Serial                Size  Health   Temperature  Life  Written\n"
            "0     SATA  QUARN SSD KD765KK 512GB   SV1.0A    QKK7650000000001    512 GB  Good           32 °C   97%   6.00TB\n"
            "1     SATA  QUARN SSD K986 256GB      K9860110  QK98600000000002    256 GB  Good           29 °C   88%   2.00TB\n"
            "2     SATA  QUARN SSD KD785 1TB       KD785A12  QKD78500000000003  1024 GB  Good           75 °C   76%  41.02TB\n"
            "3     SATA  QUARN SSD KD755 480GB     KD755B03  QKD75500000000004   480 GB  Warning        30 °C   31%  12.21TB\n"
            "4     NVMe  QUARN NVMe KN900 1TB      KN900E1   QKN90000000000005  1000 GB  Good           38 °C   93%  10.24TB\n"
            "5     SATA  OTHERCO SSD 860 500GB     RVT04B6Q  OC860000000006      500 GB  Good           34 °C  100%      N/A\n"
            "7     SATA  QUARN SSD KW4555LD 240GB  KW45LD07  QKW45550000000008   240 GB  Good             N/A   55%   5.00TB\n"
            "8     SATA  QUARN SSD K385 128GB      K385C2    QK38500000000009    128 GB  Good           22 °C  100%   1.00TB\n");
}

// Splits a text line at runs of two or more blanks.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::string cell;
  size_t blanks = 0;
  for (char c : line) {
    if (c == ' ') {
      ++blanks;
      continue;
    }
    if (blanks >= 2 && !cell.empty()) {
      cells.push_back(cell);
      cell.clear();
    } else if (blanks == 1 && !cell.empty()) {
      cell += ' ';
    }
    blanks = 0;
    cell += c;
  }
  if (!cell.empty()) cells.push_back(cell);
  return cells;
}

TEST_F(ZelvaneTest, ListInJsonHoldsTheValuesOfTheTextLines) {
  Result text = Zelvane({"--machine", "demo", "list"});
  Result r = Zelvane({"--machine", "demo", "--json", "list"});
  ASSERT_EQ(r.status, 0) << r.err;
  json doc = json::parse(r.out);
  const json& drives = doc.at("drives");
  ASSERT_EQ(drives.size(), 8u);

  struct Expect {
    int disk;
    const char* bus;
    int status;
    const char* health;
    json temperature;
    int life;
    json writtenGB;
  } expect[] = {
      {0, "SATA", 1, "Good", 32, 97, 6144},  {1, "SATA", 1, "Good", 29, 88, 2048},
      {2, "SATA", 1, "Good", 75, 76, 42000}, {3, "SATA", 3, "Warning", 30, 31, 12500},
      {4, "NVMe", 1, "Good", 38, 93, 10485}, {5, "SATA", 1, "Good", 34, 100, nullptr},
      {7, "SATA", 3, "Good", nullptr, 55, 5120}, {8, "SATA", 1, "Good", 22, 100, 1024},
  };
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(text.out.substr(at, end - at));
  ASSERT_EQ(lines.size(), drives.size() + 1);
  for (size_t i = 0; i < drives.size(); ++i) {
    const json& d = drives[i];
    SCOPED_TRACE(expect[i].disk);
    EXPECT_EQ(d.at("disk"), expect[i].disk);
    EXPECT_EQ(d.at("bus"), expect[i].bus);
    EXPECT_EQ(d.at("diskStatus"), expect[i].status);
    EXPECT_EQ(d.at("health"), expect[i].health);
    EXPECT_EQ(d.at("temperatureC"), expect[i].temperature);
    EXPECT_EQ(d.at("remainingLifePercent"), expect[i].life);
    EXPECT_EQ(d.at("totalWrittenGB"), expect[i].writtenGB);
    // The text line shows the same values.
    std::vector<std::string> cells = Cells(lines[i + 1]);
    ASSERT_EQ(cells.size(), 10u);
    EXPECT_EQ(cells[0], std::to_string(d.at("disk").get<int>()));
    EXPECT_EQ(cells[1], d.at("bus"));
    EXPECT_EQ(cells[2], d.at("model"));
    EXPECT_EQ(cells[3], d.at("firmware"));
    EXPECT_EQ(cells[4], d.at("serial"));
    EXPECT_EQ(cells[5], std::to_string(d.at("sizeGB").get<uint64_t>()) + " GB");
    EXPECT_EQ(cells[6], d.at("health"));
    EXPECT_EQ(cells[7], d.at("temperatureText"));
    EXPECT_EQ(cells[8], d.at("remainingLifeText"));
    EXPECT_EQ(cells[9], d.at("totalWrittenText"));
  }
}

TEST_F(ZelvaneTest, InfoOfAnNvmeDriveWithTwoLogicalDrives) {
  Result r = Zelvane({"--machine", "demo", "info", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Disk 4: QUARN NVMe KN900 1TB (NVMe, 1000 GB)\n"
            "Model: QUARN NVMe KN900 1TB\n"
            "Firmware version: KN900E1\n"
            "Serial number: QKN90000000000005\n"
            "WWN: 0000000000000000\n"
            "Connection speed: PCIe Gen3 x4\n"
            "\n"
            "Logical Drive Info\n"
            "  E:  NTFS   Total: 558.8 GB  Free: 139.7 GB  Free: 25.0 %\n"
            "  F:  exFAT  Total: 372.5 GB  Free: 371.6 GB  Free: 99.8 %\n"
            "\n"
            "Total Bytes Written: 10.24TB\n"
            "Current Temperature: 38 °C (normal)\n"
            "Drive Health: Good\n"
            "Estimated Life Remaining: 93%\n");
}

TEST_F(ZelvaneTest, InfoFollowsThePageRulesInTextAndJson) {
  struct Expect {
    const char* disk;
    const char* connection;
    const char* written;
    const char* temperatureLine;
    const char* band;
    const char* health;
    int status;
    const char* life;
    std::vector<std::string> partitions;  // names
    const char* partitionLine;            // first line under "Logical Drive Info"
  } expect[] = {
      {"0", "SATA 6.0 Gb/s", "6.00TB", "32 °C (normal)", "normal", "Good", 1, "97%", {"C:"},
       "  C:  NTFS  Total: 475.9 GB  Free: 268.2 GB  Free: 56.4 %"},
      {"2", "SATA 6.0 Gb/s", "41.02TB", "75 °C (hot)", "hot", "Good", 1, "76%", {}, "  There is no recognized partition."},
      {"3", "SATA 6.0 Gb/s", "12.21TB", "30 °C (cool)", "cool", "Warning", 3, "31%", {}, "  There is no recognized partition."},
      // Another maker: no bytes written, a full life gauge.
      {"5", "SATA 6.0 Gb/s", "N/A", "34 °C (normal)", "normal", "Good", 1, "100%", {"G:"},
       "  G:  NTFS  Total: 465.7 GB  Free: 116.4 GB  Free: 25.0 %"},
      // KW4555LD: the good icon whatever the status; no temperature is hot.
      {"7", "SATA 6.0 Gb/s", "5.00TB", "N/A", "hot", "Good", 3, "55%", {}, "  There is no recognized partition."},
      // K385: life shown as 100 although the drive reports 42.
      {"8", "SATA 6.0 Gb/s", "1.00TB", "22 °C (cool)", "cool", "Good", 1, "100%", {}, "  There is no recognized partition."},
  };
  for (const Expect& e : expect) {
    SCOPED_TRACE(e.disk);
    Result text = Zelvane({"--machine", "demo", "info", e.disk});
    Result r = Zelvane({"--machine", "demo", "--json", "info", e.disk});
    ASSERT_EQ(text.status, 0) << text.err;
    ASSERT_EQ(r.status, 0) << r.err;
    auto has = [&](const std::string& line) { return text.out.find("\n" + line + "\n") != std::string::npos; };
    EXPECT_TRUE(has(std::string("Connection speed: ") + e.connection)) << text.out;
    EXPECT_TRUE(has(std::string("Total Bytes Written: ") + e.written)) << text.out;
    EXPECT_TRUE(has(std::string("Current Temperature: ") + e.temperatureLine)) << text.out;
    EXPECT_TRUE(has(std::string("Drive Health: ") + e.health)) << text.out;
    EXPECT_TRUE(has(std::string("Estimated Life Remaining: ") + e.life)) << text.out;
    EXPECT_TRUE(has(std::string("Logical Drive Info\n") + e.partitionLine)) << text.out;

    json j = json::parse(r.out);
    EXPECT_EQ(j.at("disk"), std::stoi(e.disk));
    EXPECT_EQ(j.at("connectionSpeed"), e.connection);
    EXPECT_EQ(j.at("pcieLink"), nullptr);
    EXPECT_EQ(j.at("totalWrittenText"), e.written);
    EXPECT_EQ(j.at("temperatureBand"), e.band);
    EXPECT_EQ(j.at("health"), e.health);
    EXPECT_EQ(j.at("diskStatus"), e.status);
    EXPECT_EQ(j.at("remainingLifeText"), e.life);
    std::vector<std::string> names;
    for (const json& d : j.at("logicalDrives")) names.push_back(d.at("name"));
    EXPECT_EQ(names, e.partitions);
    EXPECT_EQ(j.at("partitionText"), e.partitions.empty() ? "There is no recognized partition." : e.partitions[0]);
    EXPECT_EQ(j.at("pciClassCode"), "010601");  // every SATA drive of the demo hangs on an AHCI controller
  }
}

TEST_F(ZelvaneTest, InfoJsonOfAnNvmeDrive) {
  Result r = Zelvane({"--machine", "demo", "--json", "info", "4"});
  ASSERT_EQ(r.status, 0) << r.err;
  json j = json::parse(r.out);
  EXPECT_EQ(j.at("connectionSpeed"), "PCIe Gen3 x4");
  EXPECT_EQ(j.at("pciClassCode"), "010802");
  EXPECT_EQ(j.at("pcieLink"), json::parse(R"({"maxWidth": 4, "maxSpeed": 3, "currentWidth": 4, "currentSpeed": 3})"));
  EXPECT_EQ(j.at("makersDrive"), true);
  EXPECT_EQ(j.at("wwn"), "0000000000000000");
  const json& e = j.at("logicalDrives").at(0);
  EXPECT_EQ(e.at("sizeMB"), 572204);
  EXPECT_EQ(e.at("freeMB"), 143051);
  EXPECT_EQ(e.at("usagePercent"), 75);
  EXPECT_EQ(e.at("totalText"), "Total: 558.8 GB");
  EXPECT_EQ(e.at("freePercentText"), "Free: 25.0 %");
}

TEST_F(ZelvaneTest, ErrorsEndWithStatusTwoAndAMessage) {
  std::string usbOnly = MachineFile("usb.json", R"("drives": [{"index": 0, "bus": "usb"}])");
  std::string broken = MachineFile("broken.json", R"("drives": [{"index": 0, "sise": 1}])");
  std::string zeroSize = MachineFile("volume.json",
                                     R"("drives": [{"index": 0}], "volumes": [{"letter": "C", "disk": 0}])");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;  // a part of standard error; empty when there is none
  } cases[] = {
      {{"--machine", "demo", "info", "6"}, 2, "zelvane: disk 6 is not a usable drive"},
      {{"--machine", "demo", "--json", "info", "42"}, 2, "zelvane: disk 42 is not a usable drive"},
      {{"--machine", "demo", "info", "-1"}, 2, "is not a disk number"},
      {{"--machine", "demo", "info"}, 2, "info needs a disk number"},
      {{"--machine", "demo", "info", "0", "1"}, 2, "info takes one disk number"},
      {{"--machine", "demo", "list", "extra"}, 2, "list takes no arguments"},
      {{"--machine", usbOnly, "list"}, 2, "zelvane: no usable drive"},
      {{"--machine", usbOnly, "--json", "info", "0"}, 2, "zelvane: no usable drive"},
      {{"--machine", broken, "list"}, 2, "drives[0]: unknown field \"sise\""},
      {{"--machine", dir_ + "/missing.json", "list"}, 2, "cannot be read"},
      // A volume of size 0 is shown, not divided by.
      {{"--machine", zeroSize, "info", "0"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    SCOPED_TRACE(shown);
    Result r = Zelvane(c.args);
    EXPECT_EQ(r.status, c.status);
    if (c.status != 0) {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_NE(r.out.find("C:  NTFS  Total: 0.0 GB  Free: 0.0 GB  Free: N/A"), std::string::npos) << r.out;
    }
  }
  // The trace log of a run on a machine file lies beside its program.
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/zelvane.log"));
}

TEST_F(ZelvaneTest, HostileMachineFilesAreRefusedWithoutHarm) {
  // The run happens in run/; victim/ holds files the user may write but
  // this run did not choose.
  namespace fs = std::filesystem;
  fs::create_directories(dir_ + "/run");
  fs::create_directories(dir_ + "/victim");
  test::WriteFile(dir_ + "/victim/prog.log", "keep");
  test::WriteFile(dir_ + "/victim/settings.txt", "keep");
  test::WriteFile(dir_ + "/run/hostile.json",
                  "{\"program\": {\"path\": \"" + dir_ + "/victim/prog.exe\"}, "
                  "\"registry\": {\"file\": \"../victim/settings.txt\"}}");
  test::WriteFile(dir_ + "/run/registry.json",
                  R"({"registry": {"file": "../victim/settings.txt"}})");
  ASSERT_EQ(::mkfifo((dir_ + "/run/fifo.json").c_str(), 0600), 0);
  struct Case {
    std::string machine;
    const char* message;
  } cases[] = {
      {"hostile.json", "hostile.json: program.path: the trace log and result files beside the program would be written in"},
      {"registry.json", "registry.json: registry.file: the registry would be written in ../victim, outside"},
      // Used to wait for a writer for ever, and to read without end.
      {"fifo.json", "fifo.json: not a regular file"},
      {"/dev/zero", "/dev/zero: not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine);
    std::string command = "cd '" + dir_ + "/run' && timeout 20 '" ZEL_BIN_DIR "/zelvane' --machine '" +
                          c.machine + "' list > out.txt 2> err.txt";
    int raw = std::system(command.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
    EXPECT_EQ(test::ReadFile(dir_ + "/run/out.txt"), "");
    EXPECT_NE(test::ReadFile(dir_ + "/run/err.txt").find(c.message), std::string::npos)
        << test::ReadFile(dir_ + "/run/err.txt");
  }
  EXPECT_EQ(test::ReadFile(dir_ + "/victim/prog.log"), "keep");
  EXPECT_EQ(test::ReadFile(dir_ + "/victim/settings.txt"), "keep");
  EXPECT_FALSE(fs::exists(dir_ + "/victim/settings.txt.tmp"));
}

}  // namespace
}  // namespace zel
