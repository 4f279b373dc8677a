// The checks before a security erase: each refusal in its order, its text
// and log lines, and that a refusing check sends the drive nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "maintenance/security_erase.h"
#include "security_erase_fixture.h"

namespace zel {
namespace {

class SecurityEraseChecks : public test::SecurityEraseFixture {};

struct MachineCase {
  const char* name;
  std::string machine;
  int step;
  int stringId;
  std::string fixedText;
};

TEST_F(SecurityEraseChecks, MachineAndDriveRefusalsComeInOrderAndSendNothing) {
  const std::string ok = R"("security": {"supported": true, "eraseTime": 1})";
  const MachineCase cases[] = {
      {"windows 8", R"({"os": {"major": 6, "minor": 2}, "drives": [{"index": 0, "model": "QUARN SSD"}]})",
       2, 306, ""},
      {"not the maker's", EraseMachine(ok, "", "OTHER SSD 256GB"), 4, 307, ""},
      {"old KD785 firmware", EraseMachine(R"("firmware": "1.07", )" + ok, "", "QUARN SSD KD785"),
       5, 0, "This model does not support security erase."},
      {"KD785 firmware 1.08", EraseMachine(R"("firmware": "1.08", )" + ok, "", "QUARN SSD KD785"),
       0, 0, ""},
      {"KD785 firmware 2.1", EraseMachine(R"("firmware": "2.1", )" + ok, "", "QUARN SSD KD785"),
       0, 0, ""},
      {"system drive", EraseMachine(ok, R"("environment": {"SystemDrive": "C:"},
           "volumes": [{"letter": "C", "disk": 0}])"),
       6, 308, ""},
      {"second partition lettered", EraseMachine(ok, R"("environment": {"SystemDrive": "C:"},
           "volumes": [{"letter": "C", "disk": 5}, {"letter": "E", "disk": 0, "partition": 2}])"),
       7, 309, ""},
      {"swap without a letter", EraseMachine(ok + R"(, "inUse": {"swap": ["/dev/sda3"]})"), 7, 309, ""},
      {"holder", EraseMachine(ok + R"(, "inUse": {"holders": ["dm-0"]})"), 7, 309, ""},
      {"no security feature set", EraseMachine(R"("security": {"supported": false})"), 8, 325, ""},
      {"frozen", EraseMachine(R"("security": {"supported": true, "frozen": true})"), 9, 310, ""},
      {"enabled", EraseMachine(R"("security": {"supported": true, "userPassword": "ABCDE"})"),
       10, 331, ""},
      {"ready", EraseMachine(ok), 0, 0, ""},
  };
  for (const MachineCase& c : cases) {
    UseMachine(c.machine);
    PhysicalDriveRecord drive = Drive();
    SecurityEraseRefusal r = CheckSecurityErase(drive, 0);
    EXPECT_EQ(r.step, c.step) << c.name;
    EXPECT_EQ(r.message.stringId, c.stringId) << c.name;
    EXPECT_EQ(r.message.text, c.fixedText) << c.name;
    EXPECT_TRUE(Commands().empty()) << c.name;
  }
}

TEST_F(SecurityEraseChecks, AnotherOperationRunningRefusesFirst) {
  UseMachine(R"({"os": {"major": 6, "minor": 2}, "drives": [{"index": 0, "model": "OTHER"}]})");
  SecurityEraseRefusal r = CheckSecurityErase(Drive(), 1);
  EXPECT_EQ(r.step, 1);
  EXPECT_EQ(r.message.stringId, 247);
}

TEST_F(SecurityEraseChecks, SecurityWordBitsRefuseInTheirOrder) {
  struct Case {
    uint16_t word128;
    int step, stringId;
  } cases[] = {
      {0x0000, 8, 325}, {0x0009, 9, 310}, {0x000F, 9, 310}, {0x0003, 10, 331},
      {0x0007, 10, 331}, {0x0005, 11, 311}, {0x0001, 0, 0},  {0x0021, 0, 0},
  };
  PhysicalDriveRecord drive = Drive();
  for (const Case& c : cases) {
    drive.IdentifyData[256] = static_cast<uint8_t>(c.word128);
    drive.IdentifyData[257] = static_cast<uint8_t>(c.word128 >> 8);
    SecurityEraseRefusal r = CheckSecurityErase(drive, 0);
    EXPECT_EQ(r.step, c.step) << std::hex << c.word128;
    EXPECT_EQ(r.message.stringId, c.stringId) << std::hex << c.word128;
  }
  EXPECT_TRUE(Commands().empty());
}

TEST_F(SecurityEraseChecks, EraseTimesAreLogged) {
  PhysicalDriveRecord drive = Drive();
  auto setWord = [&](int word, uint16_t value) {
    drive.IdentifyData[2 * word] = static_cast<uint8_t>(value);
    drive.IdentifyData[2 * word + 1] = static_cast<uint8_t>(value >> 8);
  };
  setWord(128, 0x0021);
  setWord(89, 3);
  setWord(90, 255);
  CheckSecurityErase(drive, 0);
  setWord(90, 7);
  setWord(89, 255);
  CheckSecurityErase(drive, 0);
  setWord(128, 0x0001);
  setWord(89, 0);
  CheckSecurityErase(drive, 0);
  std::vector<std::string> times;
  for (const std::string& line : TraceLines())
    if (line.rfind("Time For", 0) == 0) times.push_back(line);
  EXPECT_EQ(times, (std::vector<std::string>{
                       "Time For Enhanced Security Erase: more than 508 minutes on QUARN SSD KD765KK 512GB",
                       "Time For Security Erase:6 minutes on QUARN SSD KD765KK 512GB",
                       "Time For Enhanced Security Erase:14 minutes on QUARN SSD KD765KK 512GB",
                       "Time For Security Erase: more than 508 minutes on QUARN SSD KD765KK 512GB",
                       "Time For Security Erase:0 minutes on QUARN SSD KD765KK 512GB"}));
}

TEST_F(SecurityEraseChecks, VolumeRefusalsLogWhatTheyFound) {
  UseMachine(EraseMachine(R"("security": {"supported": true},
      "inUse": {"swap": ["/dev/sda3"], "mounts": ["/srv/data"], "holders": ["md127"]})",
                          R"("environment": {"SystemDrive": "C:"},
      "volumes": [{"letter": "C", "disk": 7}])"));
  EXPECT_EQ(CheckSecurityErase(Drive(), 0).step, 7);
  EXPECT_TRUE(Logged("CUtilityPage::OnBnClickedButtonUtilityRun()-system drive \\\\.\\C:"));
  EXPECT_TRUE(Logged("CUtilityPage::OnBnClickedButtonUtilityRun()-mounted drive map:0x4"));
  for (const char* line : {"swap /dev/sda3", "mount /srv/data", "holder md127"})
    EXPECT_TRUE(Logged(std::string("CUtilityPage::OnBnClickedButtonUtilityRun()-Disk in use can't "
                                   "do security erase.:0x0 ") + line))
        << line;

  UseMachine(EraseMachine(R"("security": {"supported": true})",
                          R"("volumes": [{"letter": "C", "disk": 7}, {"letter": "D", "disk": 0}])"));
  EXPECT_EQ(CheckSecurityErase(Drive(), 0).step, 7);
  EXPECT_TRUE(Logged("CUtilityPage::OnBnClickedButtonUtilityRun()-mounted drive map:0x8"));
  EXPECT_TRUE(Logged("CUtilityPage::OnBnClickedButtonUtilityRun()-Mounted drive can't do security erase.:0x0"));
}

}  // namespace
}  // namespace zel
