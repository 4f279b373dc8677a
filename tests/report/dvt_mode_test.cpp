#include "report/dvt_mode.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "report/dvt_test_drive.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

using test::Timed;
using test::Untimed;

constexpr char kReportName[] = "/SSDZelvane_DVT_fail_QKD765KK0001.log";

class DvtModeTest : public test::SimTest {
 protected:
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
    drives_ = {test::DvtTestDrive()};
  }

  // Writes the criteria file (CR LF line ends added to each line).
  void Criteria(std::initializer_list<std::string> lines, const std::string& name = "ZelvaneDvtTest.txt") {
    std::string content;
    for (const std::string& l : lines) content += l + "\r\n";
    test::WriteFile(Dir() + "/" + name, content);
  }

  // A fresh run (the writers forget their files, as a new program start does).
  int Run(uint32_t disk = 0) {
    ResetLogForNewRun();
    SetLogLevel(1);
    counts_ = DvtCounts{};
    return RunDvtMode(disk, drives_, &counts_);
  }

  std::string File(const std::string& suffix) const { return test::ReadFile(Dir() + suffix); }
  bool Exists(const std::string& suffix) const { return fs::exists(Dir() + suffix); }
  std::string Report() const { return File(kReportName); }
  std::string Fail() const { return File("/SSDZelvane_fail.log"); }
  std::string Summary() const { return File("/SSDZelvane_dvt.log"); }
  std::string Pass() const { return File("/SSDZelvane_pass.log"); }
  // The report after the drive's tables: the IDENTIFY findings.
  std::string Findings() const {
    std::string r = Report();
    size_t end = r.find("\r\n\r\n\r\n");
    return end == std::string::npos ? r : r.substr(end + 6);
  }
  void RemoveResults() {
    for (const char* f : {kReportName, "/SSDZelvane_fail.log", "/SSDZelvane_dvt.log", "/SSDZelvane_pass.log"})
      fs::remove(Dir() + f);
  }

  PhysicalDriveTable drives_;
  DvtCounts counts_;
};

std::string SummaryOf(int smart, int identify) {
  return Timed({"Total: " + std::to_string(smart) + " SMART attributes from config file.",
                "Checked SMART attributes from config file.",
                "Total: " + std::to_string(identify) + " Identify Table from config file.",
                "Checked Identify Table from config file."});
}

TEST_F(DvtModeTest, PassingRunWritesReportSummaryPassMarkerAndTrace) {
  Criteria({"#SMART start", "05,64,64,0A,6,0,0,,", "C2,64,1,0,1,46,5,Temperature,",
            "CA,64,0A,0A,1,64,0,Remaining Life,", "F6,64,1,0,6,FFFFFFFFFFFF,0,TBW,*512/1048576",
            "#SMART end", "#Identify start", "23-26,SVMU01", "83,10,1", "#Identify end"});
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_EQ(counts_.smartLines, 4u);
  EXPECT_EQ(counts_.smartPassed, 4u);
  EXPECT_EQ(counts_.identifyLines, 2u);
  EXPECT_EQ(counts_.identifyPassed, 2u);

  std::string identifyRows;
  {
    PhysicalDriveRecord d = test::DvtTestDrive();
    for (int row = 0; row < 16; ++row) {
      char label[8];
      std::snprintf(label, sizeof label, "0%X0", row);
      identifyRows += label;
      for (int k = 0; k < 16; ++k) {
        char w[8];
        std::snprintf(w, sizeof w, " %04X", d.IdentifyWord(16 * row + k));
        identifyRows += w;
      }
      identifyRows += "\r\n";
    }
  }
  EXPECT_EQ(Report(),
            Untimed({"Spec file: ZelvaneDvtTest.txt\n         Physical Drive: 0, Model: QUARN SSD KD765KK 512GB\n",
                     "ID-SMART ID, CV-Current Value, TV-Threshold Value, RV-Reserved Value\n",
                     "ID:Flag:CV:TV:RV:   Raw Value",
                     "05:0033:64:0A:00:000000000000",
                     "09:0032:64:00:01:000000001234",
                     "0C:0032:64:00:00:000000000155",
                     "AB:0032:64:00:00:000000000000",
                     "AC:0032:64:00:00:000000000000",
                     "AD:0032:64:00:00:000000000012",
                     "C2:0022:43:00:00:002D00140021",
                     "CA:0030:62:0A:00:000000000002",
                     "F6:0032:64:00:00:0000499602D2",
                     "\n         Identify Table",
                     "      00   01   02   03   04   05   06   07   08   09   0A   0B   0C   0D   0E   0F"}) +
                identifyRows + "\r\n\r\n");
  // Text words are shown as the words they are: "SV" of the firmware revision as 5653.
  EXPECT_NE(Report().find("\r\n010 2020 2020 2020 2020 0000 0000 0000 5653 "), std::string::npos);

  EXPECT_EQ(Summary(), SummaryOf(4, 2));
  EXPECT_EQ(Pass(), Timed({""}));
  EXPECT_FALSE(Exists("/SSDZelvane_fail.log"));
  EXPECT_EQ(TraceLog(), Timed({"\n\nZelvane DVT Start!!!\n", "Zelvane DVT criteria file :ZelvaneDvtTest.txt",
                               "Temperature:33", "Remaining life:98", "\n\nZelvane DVT Complete!!!\n"}));
}

TEST_F(DvtModeTest, ExampleCriteriaFilesPassAndFailOnTheDriveTheyDescribe) {
  // The examples describe disk 0 of the demo machine, as discovery reads it.
  UseMachine(sim::DemoMachineJson());
  drives_.clear();
  ATACommand().UpdatePhysicalDrivesInfo(drives_);
  fs::copy_file(test::FixturePath("dvt/ZelvaneDvtPass.txt"), Dir() + "/ZelvaneDvtPass.txt");
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_EQ(counts_.smartLines, 7u);
  EXPECT_EQ(counts_.identifyLines, 9u);
  EXPECT_FALSE(Exists("/SSDZelvane_fail.log"));

  fs::remove(Dir() + "/ZelvaneDvtPass.txt");
  fs::copy_file(test::FixturePath("dvt/ZelvaneDvtFailures.txt"), Dir() + "/ZelvaneDvtFailures.txt");
  EXPECT_EQ(Run(), kDvtFailed);
  EXPECT_EQ(counts_.smartPassed, 0u);
  EXPECT_EQ(counts_.identifyPassed, 0u);
  std::string all = Fail() + File("/SSDZelvane_DVT_fail_QKK7650000000001.log");
  for (const char* kind :
       {"SAMRT info format error.", "SAMRT ID:0G format error.", "not exist!", "Threshold format error.",
        "Threshold value not match.", "Current MAX format error.", "Current value bigger than MAX.",
        "MAX value format error.", "MIN value format error.", "smaller than MIN(0x65)", "MAX(16) < MIN(32).",
        "Raw Bytes format error.", "Raw MAX format error.", "Raw value is bigger than MAX.", "Raw MIN format error.",
        "Raw value(0x10E1) smaller than MIN(0x2000).", "Raw MAX(16) < Raw MIN(32).", "Temperature(1179680) mis-match(32).",
        "Remaining Life(100) mis-match(97).", "formula format error.", "does not match to Zelvane.",
        "Word 23 to Word 26:", "Word 27 to Word 46:", "Word 103 to Word 100:", "Word 60 to Word 61:",
        "1. Identify format error", "2. Identify format error", "3. Identify format error",
        "4. Identify format error", "5. Identify format error", "6. Identify format error",
        "7. Identify format error", "Bit value not match.", "Identify Table Error!!!"})
    EXPECT_NE(all.find(kind), std::string::npos) << kind;
}

struct SmartCase {
  const char* line;
  std::vector<std::string> fails;  // the failure list, in order
  bool passed;                     // counted as checked without error
};

TEST_F(DvtModeTest, SmartLineFindings) {
  const SmartCase cases[] = {
      // Fields missing: after field 1, 4, 7 or 8 silently; after 2, 3, 5 or 6 with a message.
      {"05", {}, true},
      {"05 ,64", {"SAMRT info format error. SMART ID:0x05 "}, false},
      {"05,64,0", {"SAMRT info format error. SMART ID:0x05"}, false},
      {"05,64,0,0A", {}, true},
      {"05,64,0,0A,6", {"SAMRT info format error. SMART ID:0x05"}, false},
      {"05,64,0,0A,6,0", {"SAMRT info format error. SMART ID:0x05"}, false},
      {"05,64,0,0A,6,0,0", {}, true},
      {"05,64,65,0A,6,0,0,Remaining Life", {}, true},  // eight fields: nothing is checked
      // The identifier.
      {"0G,64,0,0A,6,0,0,,", {"SAMRT ID:0G format error."}, false},
      {"100,64,0,0A,6,0,0,,", {"SAMRT ID:100 format error."}, false},
      {"0000000005,64,0,0A,6,0,0,,", {"SAMRT ID:0000000005 format error."}, false},
      {"05\t ,64,0,0A,6,0,0,,", {}, true},
      {"AB,63,0,0,6,0,0,,", {"SMART attribute ID:0xAB error. Current value bigger than MAX.",
                             "Current value(0x64)", "MAX(0x63).\n"}, false},
      {"EE,64,0,0,6,0,0,,", {"SMART ID 0xee not exist!"}, false},
      {"BB,64,0,0,6,0,0,,", {"SMART ID 0xbb not exist!"}, false},
      // Threshold.
      {"05,64,0,0Az,6,0,0,,", {"SMART attribute ID:0x05. Threshold format error."}, false},
      {"05,64,0,10A,6,0,0,,", {"SMART attribute ID:0x05 Threshold value not match. Threshold:0x0a"}, false},
      // Current value against MAX and MIN.
      {"05,64,64,0A,6,0,0,,", {}, true},
      {"05,FF,65,0A,6,0,0,,", {"SMART attribute ID:0x05 error. Current value(0x64) smaller than MIN(0x65)."}, false},
      {"05,10,20,0A,6,0,0,,", {"SMART attribute ID:0x05 format error. MAX(16) < MIN(32)."}, false},
      {"05,64x,0,0A,6,0,0,,", {"SMART attribute ID:0x05. MAX value format error."}, false},
      {"05,6x,0,0A,6,0,0,,", {"SMART attribute ID:0x05. MAX value format error.",
                              "SMART attribute ID:0x05 error. Current value bigger than MAX.",
                              "Current value(0x64)", "MAX(0x6).\n"}, false},
      {"05,64,1z,0A,6,0,0,,", {"SMART attribute ID:0x05. MIN value format error."}, false},
      {"05,64,0 ,0A,6,0,0,,", {}, true},  // Current MIN loses its trailing blank
      // Nine digits are a 33-bit MAX, not cut to 32 bits (0 < MIN would be a format error).
      {"05,100000000,FFFFFFFF,0A,6,0,0,,",
       {"SMART attribute ID:0x05 error. Current value(0x64) smaller than MIN(0xFFFFFFFF)."}, false},
      {"05,1FFFFFFFF,0,0A,6,0,0,,", {}, true},
      {"05,FFFFFFFFFFFFFFFF,0,0A,6,0,0,,", {}, true},
      {"05,00000000000000064,0,0A,6,0,0,,", {"SMART attribute ID:0x05. Current MAX format error.",
                                             "SMART attribute ID:0x05 error. Current value bigger than MAX.",
                                             "Current value(0x64)", "MAX(0x0).\n"}, false},
      // Raw bytes and the raw value.
      {"09,64,0,0,2,1234,1234,,", {}, true},
      {"09,64,0,0,1,34,34,,", {}, true},
      {"09,64,0,0,0,34,34,,", {}, true},
      {"09,64,0,0,7,0,0,,", {"SMART attribute ID:0x09. Raw Bytes format error."}, false},
      {"09,64,0,0,2x,0,0,,", {"SMART attribute ID:0x09. Raw Bytes format error."}, false},
      {"09,64,0,0,0000000002,0,0,,", {"SMART attribute ID:0x09. Raw Bytes format error."}, false},
      {"09,64,0,0,2,1000,0,,", {"SMART attribute ID:0x09 error: Raw value is bigger than MAX.", "Raw value(0x1234)",
                                "MAX Raw value(0x1000).\n"}, false},
      {"09,64,0,0,2,FFFF,2000,,", {"SMART attribute ID:0x09 error. Raw value(0x1234) smaller than MIN(0x2000)."}, false},
      {"09,64,0,0,2,10,20,,", {"SMART attribute ID:0x09 format error. Raw MAX(16) < Raw MIN(32)."}, false},
      {"09,64,0,0,2,00000000000001234,0,,", {"SMART attribute ID:0x09. Raw MAX format error.",
                                             "SMART attribute ID:0x09 error: Raw value is bigger than MAX.",
                                             "Raw value(0x1234)", "MAX Raw value(0x0).\n"}, false},
      {"09,64,0,0,2,   1234zz  ,0,,", {}, true},  // Raw MAX is trimmed and has no stray check
      {"09,64,0,0,2,FFFF,0 ,,", {"SMART attribute ID:0x09. Raw MIN format error."}, false},
      {"09,64,0,0,2,FFFF, 0,,", {}, true},
      // Keywords.
      {"C2,64,0,0,1,FF,0,Temperature,", {}, true},
      {"C2,64,0,0,1,FF,0,  Temperature,", {}, true},
      {"C2,64,0,0,3,FFFFFF,0,Temperature,", {"SMART attribute ID:0xC2 error. Temperature(1310753) mis-match(33)."}, false},
      {"C2,64,0,0,3,FFFFFF,0,temperature,", {}, true},
      {"C2,64,0,0,3,FFFFFF,0,Temperature ,", {}, true},
      {"05,64,0,0A,6,0,0,Remaining Life,", {"SMART attribute ID:0x05 error. Remaining Life(100) mis-match(98)."}, false},
      {"CA,64,0,0A,1,FF,0,Remaining Life,anything, even commas", {}, true},
      {"F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,  *512/1048576  ", {}, true},
      {"F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,*32/250000", {"SAMRT ID:F6 TBW(0x9A) does not match to Zelvane.",
                                                      "TBW of Zelvane is 0x24C"}, false},
      {"F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,", {"SAMRT ID:F6 TBW(0x126580) does not match to Zelvane.",
                                           "TBW of Zelvane is 0x24C"}, false},
      {"F6 ,64,0,0,6,FFFFFFFFFFFF,0,TBW,*512 /1048576", {"SAMRT ID:F6 formula format error."}, false},
      {"F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,512/1048576", {"SAMRT ID:F6 formula format error."}, false},
      {"F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,*512x", {"SAMRT ID:F6 formula format error."}, false},
      // A raw byte count that fails skips the keyword's check.
      {"C2,64,0,0,9,FFFFFF,0,Temperature,", {"SMART attribute ID:0xC2. Raw Bytes format error."}, false},
  };
  for (const SmartCase& c : cases) {
    RemoveResults();
    Criteria({"#SMART start", c.line, "#SMART end"});
    int status = Run();
    std::string expected;
    for (const std::string& f : c.fails) expected += Timed({f});
    EXPECT_EQ(Exists("/SSDZelvane_fail.log") ? Fail() : "", expected) << c.line;
    EXPECT_EQ(counts_.smartLines, 1u) << c.line;
    EXPECT_EQ(counts_.smartPassed, c.passed ? 1u : 0u) << c.line;
    EXPECT_EQ(status, c.passed ? kDvtPassed : kDvtFailed) << c.line;
    EXPECT_EQ(Exists("/SSDZelvane_pass.log"), c.passed) << c.line;
    EXPECT_EQ(Findings(), "") << c.line;
  }
}

TEST_F(DvtModeTest, FormulaTooLongIsMalformed) {
  const std::string line = "F6,64,0,0,6,FFFFFFFFFFFF,0,TBW,*512/1048576";  // a formula of 12 characters
  std::string ones;
  for (int i = 0; i < 94; ++i) ones += "*1";
  Criteria({"#SMART start", line + ones.substr(0, 186), line + ones, "#SMART end"});  // 198 and 200
  EXPECT_EQ(Run(), kDvtFailed);
  EXPECT_EQ(counts_.smartPassed, 1u);
  EXPECT_EQ(Fail(), Timed({"SAMRT ID:F6 formula format error."}));
}

TEST_F(DvtModeTest, NvmeDriveHasNoSmartEntries) {
  PhysicalDriveRecord nvme;
  nvme.PhysicalDriveIndex = 3;
  nvme.BusType = kBusNvme;
  nvme.SerialNumber = "NV1";
  drives_.push_back(nvme);
  Criteria({"#SMART start", "C2,64,0,0,1,FF,0,,", "00,0,0,0,1,0,0,,", "#SMART end"});
  EXPECT_EQ(Run(3), kDvtFailed);
  EXPECT_EQ(Fail(), Timed({"SMART ID 0xc2 not exist!"}));
  EXPECT_EQ(counts_.smartPassed, 1u);  // identifier 0 matches an empty entry
  EXPECT_TRUE(Exists("/SSDZelvane_DVT_fail_NV1.log"));
}

struct IdentifyCase {
  const char* line;
  std::vector<std::string> report;  // findings after the drive's tables
  std::vector<std::string> fails;
  bool passed;
};

TEST_F(DvtModeTest, IdentifyLineFindings) {
  const std::string err = "Identify Table Error!!!";
  const IdentifyCase cases[] = {
      // Text words: trailing blanks of both sides are ignored, the expected text
      // is cut to the words' length, case counts.
      {"23-26,SVMU01", {}, {}, true},
      {"23-26,SVMU01  \t", {}, {}, true},
      {"23-26,SVMU01  XYZ", {}, {}, true},
      {"23-26,SVMU02",
       {"Identify data error!!! Word 23 to Word 26:SVMU01  ; expected:SVMU02"},
       {"Identify data error!!! Word 23 to Word 26:SVMU01  ; expected:SVMU02", err}, false},
      {"27-46,QUARN SSD KD765KK 512GB", {}, {}, true},
      {"27-46,QUARN SSD KD765KK 512gb",
       {"Identify data error!!! Word 27 to Word 46:QUARN SSD KD765KK 512GB                 ; expected:QUARN SSD KD765KK 512gb"},
       {"Identify data error!!! Word 27 to Word 46:QUARN SSD KD765KK 512GB                 ; expected:QUARN SSD KD765KK 512gb", err},
       false},
      // World wide name: words 103 down to 100, a first "0x" (or "0X") dropped.
      {"100-103,0x50020C0F12345678", {}, {}, true},
      {"100-103,0X50020C0F12345678", {}, {}, true},
      {"100-103,50020C0F12345678", {}, {}, true},
      {"100-103,50020C0F0x12345678", {}, {}, true},
      {"100-103,0x50020c0f12345678",
       {"Identify data error!!! Word 103 to Word 100: 0x50020C0F12345678; expected: 0x50020c0f12345678"}, {err}, false},
      // Other ranges: the words in hexadecimal, first word first.
      {"60-61,12B03B9E", {}, {}, true},
      {"83-83,7400", {}, {}, true},
      {"60-61,0x12B03B9E", {"Identify data error!!! Word 60 to Word 61: 0x12B03B9E; expected: 0x0x12B03B9E"}, {err}, false},
      // Format errors of the range form.
      {"23x-26,SVMU01", {"1. Identify format error:23x-26,SVMU01"}, {err}, false},
      {"256-256,0000", {"1. Identify format error:256-256,0000", "2. Identify format error:256-256,0000"}, {err}, false},
      {"0000000060-61,12B03B9E", {"1. Identify format error:0000000060-61,12B03B9E"}, {err}, false},
      {"60-61 12B03B9E", {"4. Identify format error:60-61 12B03B9E"}, {err}, false},
      {"60,61-12B03B9E", {"1. Identify format error:60,61-12B03B9E", "3. Identify format error:60,61-12B03B9E"},
       {err}, false},
      {"60-61x,12B03B9E", {"2. Identify format error:60-61x,12B03B9E"}, {err}, false},
      {"61-60,3B9E12B0", {"2. Identify format error:61-60,3B9E12B0"}, {err}, false},
      {"0-256,00", {"2. Identify format error:0-256,00"}, {err}, false},
      // Bit form.
      {"83,10,1", {}, {}, true},
      {"83,0,0", {}, {}, true},
      {"0,6,1", {}, {}, true},
      {"83,10,0",
       {"Bit value not match. Word:83, Bit:10, real value:1, expected value:0\nIdentify word:0x7400, Bit number:10"},
       {err}, false},
      {"83,10,2",
       {"Bit value not match. Word:83, Bit:10, real value:1, expected value:2\nIdentify word:0x7400, Bit number:10"},
       {err}, false},
      {"255,15,1", {}, {}, true},
      // Format errors of the bit form end the line at once: no table error line.
      {"83x,10,1", {"5. Identify format error:83x,10,1"}, {}, false},
      {"256,0,0", {"5. Identify format error:256,0,0"}, {}, false},
      {"83,16,0", {"6. Identify format error:83,16,0"}, {}, false},
      {"83,1x,0", {"6. Identify format error:83,1x,0"}, {}, false},
      {"83,10,1x", {"7. Identify format error:83,10,1x"}, {}, false},
      {"83,10,0000000001", {"7. Identify format error:83,10,0000000001"}, {}, false},
      {"83", {"6. Identify format error:83"}, {}, false},
      {"83,10", {"7. Identify format error:83,10"}, {}, false},
  };
  for (const IdentifyCase& c : cases) {
    RemoveResults();
    Criteria({"#Identify start", c.line, "#Identify end"});
    int status = Run();
    std::string report, fails;
    for (const std::string& r : c.report) report += Untimed({r});
    for (const std::string& f : c.fails) fails += Timed({f});
    EXPECT_EQ(Findings(), report) << c.line;
    EXPECT_EQ(Exists("/SSDZelvane_fail.log") ? Fail() : "", fails) << c.line;
    EXPECT_EQ(counts_.identifyLines, 1u) << c.line;
    EXPECT_EQ(counts_.identifyPassed, c.passed ? 1u : 0u) << c.line;
    EXPECT_EQ(status, c.passed ? kDvtPassed : kDvtFailed) << c.line;
  }
}

TEST_F(DvtModeTest, LongRangeMessageIsCutAndOverlongExpectedIsRejected) {
  Criteria({"#Identify start", "0-255,00", "0-1," + std::string(511, '0'), "0-1," + std::string(512, '0'),
            "#Identify end"});
  EXPECT_EQ(Run(), kDvtFailed);
  std::string findings = Findings();
  std::string first = findings.substr(0, findings.find("\r\n"));
  EXPECT_EQ(first.size(), 300u);
  const std::string start = "Identify data error!!! Word 0 to Word 255: 0x00403FFF000000000000";
  EXPECT_EQ(first.substr(0, start.size()), start);
  std::string overlong = "0-1," + std::string(512, '0');
  EXPECT_NE(findings.find("4. Identify format error:" + overlong + "\r\n"), std::string::npos);
  EXPECT_EQ(Fail(), Timed({"Identify Table Error!!!", "Identify Table Error!!!", "Identify Table Error!!!"}));
}

TEST_F(DvtModeTest, SectionsCommentsAndLineEnds) {
  // Markers open and close sections; "#SMART end " (trailing blank) is a
  // comment, so the SMART section stays open for the line in both sections.
  std::string content =
      "C2,64,0,0,1,0,0,,\r\n"  // outside both sections: ignored
      "   #SMART start\r\n"
      "\r\n"
      "     \r\n"
      "05,64,0,0A,6,0,0,, # not a data line\r\n"
      "# a comment\r\n"
      "   05,64,0,0A,6,0,0,,\r\n"
      "#SMART end \r\n"
      "#Identify start\r\n"
      "83,10,1\r\n"  // both sections: a SMART line (fields missing) and an IDENTIFY line
      "#smart end\r\n"
      "#SMART end\r\n"
      "23-26,SVMU01\n05,10,20,0A,6,0,0,,\r\n"  // a lone LF stays inside the line
      "#Identify end\r\n"
      "83,10,0\r\n"
      "#Identify start\r\n"
      "83,10,0";  // no CR LF: not read
  test::WriteFile(Dir() + "/ZelvaneDvtTest.txt", content);
  EXPECT_EQ(Run(), kDvtFailed);
  EXPECT_EQ(Summary(), SummaryOf(2, 2));
  const std::string finding = "Identify data error!!! Word 23 to Word 26:SVMU01  ; expected:SVMU01\n0";
  EXPECT_EQ(Fail(), Timed({"SAMRT info format error. SMART ID:0x83", finding, "Identify Table Error!!!"}));
  EXPECT_EQ(Findings(), Untimed({finding}));
}

TEST_F(DvtModeTest, ParseKeepsOnlyLinesInsideSections) {
  std::string content = std::string("#SMART start\r\nA\r\n#Identify start\r\nB\r\n#SMART end\r\n") +
                        "C\r\nD\rE\r\n" + std::string("F\r\n\0G\r\n", 7) + "H\r\n";
  std::vector<DvtCriteriaLine> lines = ParseDvtCriteria(content);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0].text, "A");
  EXPECT_TRUE(lines[0].smart && !lines[0].identify);
  EXPECT_EQ(lines[1].text, "B");
  EXPECT_TRUE(lines[1].smart && lines[1].identify);
  EXPECT_EQ(lines[2].text, "C");
  EXPECT_TRUE(!lines[2].smart && lines[2].identify);
  EXPECT_EQ(lines[3].text, "D\rE");
  EXPECT_EQ(lines[4].text, "F");  // the zero byte ends the content
}

TEST_F(DvtModeTest, LineFeedOnlyFileChecksNothingAndPasses) {
  test::WriteFile(Dir() + "/ZelvaneDvtTest.txt", "#SMART start\nEE,0,0,0,1,0,0,,\n#SMART end\n");
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_EQ(Summary(), SummaryOf(0, 0));
  EXPECT_EQ(Pass(), Timed({""}));
}

struct EarlyCase {
  const char* name;
  void (*setup)(const std::string& dir);
  uint32_t disk;
  std::vector<std::string> trace;  // after the start mark
  const char* out;                 // standard output
};

TEST_F(DvtModeTest, EarlyEndsWriteOnlyTheTraceLog) {
  const EarlyCase cases[] = {
      {"no criteria file",
       [](const std::string& dir) { test::WriteFile(dir + "/ZelvaneDvt.txt.bak", "x\r\n"); }, 0,
       {"Zelvane DVT criteria file :", "DVT tool usage error!!!"}, "Invalid file handle. Error is 2.\n"},
      // A folder of a matching name is no criteria file: it is passed over.
      {"criteria name is a folder", [](const std::string& dir) { fs::create_directory(dir + "/ZelvaneDvtDir.txt"); },
       0, {"Zelvane DVT criteria file :", "DVT tool usage error!!!"}, "Invalid file handle. Error is 2.\n"},
      {"no such disk",
       [](const std::string& dir) { test::WriteFile(dir + "/ZelvaneDvt1.txt", "#SMART start\r\n05,64,0,0A,6,0,0,,\r\n"); },
       7, {"Zelvane DVT criteria file :ZelvaneDvt1.txt", "Physical drive 7 not found!!!", "\n\nZelvane DVT Complete!!!\n"},
       ""},
  };
  for (const EarlyCase& c : cases) {
    for (const auto& e : fs::directory_iterator(Dir()))
      if (e.path().filename() != "SSDZelvane.log") fs::remove_all(e.path());
    c.setup(Dir());
    testing::internal::CaptureStdout();
    int status = Run(c.disk);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.name;
    EXPECT_EQ(status, kDvtCouldNotRun) << c.name;
    std::string expected = Timed({"\n\nZelvane DVT Start!!!\n"});
    for (const std::string& t : c.trace) expected += Timed({t});
    EXPECT_EQ(TraceLog(), expected) << c.name;
    for (const char* f : {kReportName, "/SSDZelvane_fail.log", "/SSDZelvane_dvt.log", "/SSDZelvane_pass.log"})
      EXPECT_FALSE(Exists(f)) << c.name << " " << f;
  }
}

TEST_F(DvtModeTest, FirstMatchingFileInNameOrderIsUsed) {
  Criteria({"#Identify start", "83,10,0", "#Identify end"}, "ZelvaneDvtB.txt");
  Criteria({"#Identify start", "83,10,1", "#Identify end"}, "ZelvaneDvtA.txt");
  Criteria({"#Identify start", "83,10,0", "#Identify end"}, "zelvanedvtC.TXT");
  Criteria({"#Identify start", "83,10,0", "#Identify end"}, "AZelvaneDvt.txt");
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_NE(TraceLog().find("criteria file :ZelvaneDvtA.txt\r\n"), std::string::npos);

  fs::remove(Dir() + "/ZelvaneDvtA.txt");
  fs::remove(Dir() + "/ZelvaneDvtB.txt");
  EXPECT_EQ(Run(), kDvtFailed);  // the platform's search ignores the case of letters
  EXPECT_NE(TraceLog().find("criteria file :zelvanedvtC.TXT\r\n"), std::string::npos);
}

TEST_F(DvtModeTest, NamedCriteriaFileAndDiskNumberChooseWhatIsChecked) {
  PhysicalDriveRecord second = test::DvtTestDrive();
  second.PhysicalDriveIndex = 2;
  second.SerialNumber = "SECOND";
  second.ModelName = "OTHER MODEL";
  drives_.push_back(second);
  drives_.push_back(test::DvtTestDrive());  // a later record with a used number is never chosen
  drives_.back().PhysicalDriveIndex = 2;
  test::WriteFile(Dir() + "/elsewhere.txt", "#Identify start\r\n83,10,1\r\n");
  ResetLogForNewRun();
  SetLogLevel(1);
  EXPECT_EQ(RunDvtModeWithCriteria(2, drives_, Dir() + "/elsewhere.txt"), kDvtPassed);
  std::string report = File("/SSDZelvane_DVT_fail_SECOND.log");
  EXPECT_EQ(report.substr(0, report.find("\r\n\r\n")),
            "Spec file: " + Dir() + "/elsewhere.txt\r\n         Physical Drive: 2, Model: OTHER MODEL");
  ResetLogForNewRun();
  SetLogLevel(1);
  EXPECT_EQ(RunDvtModeWithCriteria(2, drives_, ""), kDvtCouldNotRun);
  EXPECT_NE(TraceLog().find("DVT tool usage error!!!"), std::string::npos);
}

TEST_F(DvtModeTest, SerialNumberCannotLeadTheReportOutOfTheFolder) {
  drives_[0].SerialNumber = "../x/y:z";
  Criteria({"#Identify start", "83,10,1", "#Identify end"});
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_TRUE(Exists("/SSDZelvane_DVT_fail_.._x_y_z.log"));
}

TEST_F(DvtModeTest, OldResultFilesStayWhereARunDoesNotWrite) {
  Criteria({"#Identify start", "83,10,0", "#Identify end"});
  test::WriteFile(Dir() + "/SSDZelvane_pass.log", "old pass\r\n");
  EXPECT_EQ(Run(), kDvtFailed);
  EXPECT_EQ(Pass(), "old pass\r\n");  // a failing run leaves an earlier pass marker

  Criteria({"#Identify start", "83,10,1", "#Identify end"});
  EXPECT_EQ(Run(), kDvtPassed);
  EXPECT_EQ(Fail(), Timed({"Identify Table Error!!!"}));  // and a passing run the failure list
  EXPECT_EQ(Pass(), Timed({""}));
}

TEST(DvtFormula, Evaluation) {
  struct Case {
    const char* formula;
    uint64_t raw;
    bool wellFormed;
    uint64_t result;
  } cases[] = {
      {"*32/1000", 5000000, true, 156},
      {"", 5000, true, 4},
      {"*32", 5000000, true, 156250},
      {"* 32", 5000000, true, 156250},  // blanks before a number are skipped
      {"/3*3", 10240, true, 9},         // each step is truncated
      {"*1.0000001", 10000000000000ull, true, 9765626164ull},  // numbers are single precision
      {"*", 99999, true, 0},            // no number reads as 0
      {"**2", 99999, true, 0},
      {"/0", 5, true, UINT64_MAX / 1024},
      {"*-1", 5000, true, 0},
      {"32", 5000, false, 0},           // a formula starts with an operator
      {"*32 ", 5000, false, 0},
      {"*32 /1000", 5000, false, 0},
      {"*32x", 5000, false, 0},
      {"*32,5", 5000, false, 0},
  };
  for (const Case& c : cases) {
    uint64_t result = 0;
    EXPECT_EQ(EvaluateDvtFormula(c.formula, c.raw, &result), c.wellFormed) << c.formula;
    if (c.wellFormed) {
      EXPECT_EQ(result, c.result) << c.formula;
    }
  }
}

}  // namespace
}  // namespace zel
