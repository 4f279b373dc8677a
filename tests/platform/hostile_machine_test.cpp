// Machine files made to break the loader: every one is refused with a
// message naming its place in the file, never a crash, a hang or a write
// outside the folders the run chose.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/sim/machine.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

void ExpectRefused(const std::string& json, const std::string& message) {
  sim::LoadResult r = sim::LoadMachineText(json, "m.json");
  EXPECT_FALSE(r.machine) << json;
  EXPECT_NE(r.error.find(message), std::string::npos) << json << "\n" << r.error;
  EXPECT_EQ(r.error.rfind("m.json: ", 0), 0u) << r.error;
}

TEST(HostileMachine, NumbersOutOfRangeAreRefusedNotWrapped) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      // A negative offset used to pass the bounds check by wrapping around.
      {R"({"drives": [{"smart": {"bytes": [{"offset": -1, "hex": "FF"}]}}]})", "smart.bytes[0].offset: -1 lies outside 0 to 511"},
      {R"({"drives": [{"smart": {"bytes": [{"offset": -4096, "text": "abcd"}]}}]})", "smart.bytes[0].offset"},
      {R"({"drives": [{"smart": {"bytes": [{"offset": 18446744073709551615, "hex": "FF"}]}}]})", "smart.bytes[0].offset"},
      {R"({"drives": [{"smart": {"bytes": [{"offset": 510, "hex": "0102"}]}}]})", "smart.bytes[0]: the bytes must lie within bytes 0 to 510"},
      // Keys that read as huge numbers: the bound is checked without adding.
      {R"({"drives": [{"vendor": {"words32": {"-1": 1}}}]})", "vendor.words32.-1: outside the 8192 bytes"},
      {R"({"drives": [{"vendor": {"words32": {"-4": 1}}}]})", "vendor.words32.-4: outside the 8192 bytes"},
      {R"({"drives": [{"vendor": {"words32": {"8189": 1}}}]})", "vendor.words32.8189: outside the 8192 bytes"},
      {R"({"clock": {"time": "-2147483648-01-01T00:00:00Z"}})", "clock.time: \"-2147483648-01-01T00:00:00Z\" is not a time between"},
      {R"({"clock": {"time": "2026-13-01T00:00:00Z"}})", "clock.time"},
      {R"({"drives": [{"index": 2147483647}]})", "drives[0].index: 2147483647 lies outside 0 to 9999"},
      {R"({"drives": [{"index": -1}]})", "drives[0].index: -1 lies outside 0 to 9999"},
      {R"({"drives": [{"index": 1000000000}]})", "drives[0].index: 1000000000 lies outside"},
      // Would have been cut to 32 bits: disk 1.
      {R"({"drives": [{"index": 4294967297}]})", "drives[0].index: 4294967297 lies outside"},
      {R"({"drives": [{"index": "4294967297"}]})", "drives[0].index"},
      {R"({"drives": [{"scsiPort": 256}]})", "drives[0].scsiPort"},
      {R"({"drives": [{"faults": [{"form": "ata", "command": 256}]}]})", "drives[0].faults[0].command"},
      {R"({"drives": [{"faults": [{"form": "ata", "times": -2}]}]})", "drives[0].faults[0].times: -2 lies outside -1"},
      {R"({"drives": [{"selfTest": {"shortSeconds": 4294968}}]})", "drives[0].selfTest.shortSeconds"},
      {R"({"drives": [{"controller": -1}], "controllers": [{"deviceId": "PCI\\X"}]})", "drives[0].controller: -1 lies outside"},
      {R"({"system": {"processors": 4294967297}})", "system.processors: 4294967297 lies outside 0 to 64"},
      {R"({"volumes": [{"letter": "C", "disk": -2}]})", "volumes[0].disk: -2 lies outside -1"},
      {R"({"registry": {"faults": [{"op": "set", "skip": -1}]}})", "registry.faults[0].skip"},
  };
  for (const Case& c : cases) ExpectRefused(c.json, c.message);
}

TEST(HostileMachine, DeepNestingIsRefusedBeforeItIsParsed) {
  // 100,000 levels overflowed the stack when the parsed tree was copied.
  std::string deep = "{\"comment\": " + std::string(100000, '[') + std::string(100000, ']') + "}";
  ExpectRefused(deep, "line 1: nested deeper than 100 levels");
  // Brackets in texts and comments are not nesting.
  std::string quoted = "// " + std::string(200, '[') + "\n{\"name\": \"" + std::string(200, '{') + "\"}";
  sim::LoadResult r = sim::LoadMachineText(quoted, "m.json");
  EXPECT_TRUE(r.machine) << r.error;
  std::string second = "{\"comment\": \"a\\\"[\",\n \"drives\": " + std::string(101, '[') + "}";
  ExpectRefused(second, "line 2: nested deeper");
}

TEST(HostileMachine, AtMostEightyDrives) {
  auto machine = [](int drives) {
    std::string list;
    for (int i = 0; i < drives; ++i) list += (i ? ", " : "") + ("{\"index\": " + std::to_string(i) + "}");
    return "{\"drives\": [" + list + "]}";
  };
  sim::LoadResult r = sim::LoadMachineText(machine(80), "m.json");
  EXPECT_TRUE(r.machine) << r.error;
  ExpectRefused(machine(81), "drives: 81 drives, but the platform shows at most 80 disk interfaces");
}

class HostileMachineFiles : public test::SimTest {};

TEST_F(HostileMachineFiles, WrittenFilesStayInTheFoldersOfTheRun) {
  // The current directory (the test's folder) and the machine file's folder
  // may be written; anything else is refused before the machine exists.
  fs::create_directories(Dir() + "/machines/sub");
  fs::create_directories(Dir() + "/elsewhere");
  struct Case {
    std::string program;   // program.path, or empty
    std::string registry;  // registry.file, or empty
    const char* refused;   // the message, or null when accepted
  } cases[] = {
      {"prog.exe", "", nullptr},
      {"C:\\Tools\\SSDZelvane.exe", "registry-out.json", nullptr},
      {Dir() + "/SSDZelvane.exe", Dir() + "/sub-reg.json", nullptr},
      {Dir() + "/machines/sub/SSDZelvane.exe", "machines/reg.json", nullptr},
      {"/etc/SSDZelvane.exe", "", "program.path: the trace log and result files beside the program would be written in /etc, outside"},
      {Dir() + "/../prog.exe", "", "program.path"},
      {"", "../registry.json", "registry.file: the registry would be written in .., outside"},
      {"", "/nonexistent-zelvane-folder/settings.txt", "registry.file"},
  };
  for (const Case& c : cases) {
    nlohmann::json m = nlohmann::json::object();
    if (!c.program.empty()) m["program"]["path"] = c.program;
    if (!c.registry.empty()) m["registry"]["file"] = c.registry;
    test::WriteFile(Dir() + "/machines/m.json", m.dump());
    sim::LoadResult r = sim::LoadMachineFile(Dir() + "/machines/m.json");
    std::string what = c.program + " | " + c.registry;
    if (c.refused) {
      EXPECT_FALSE(r.machine) << what;
      EXPECT_NE(r.error.find(c.refused), std::string::npos) << what << "\n" << r.error;
    } else {
      EXPECT_TRUE(r.machine) << what << "\n" << r.error;
    }
  }
  // A link in the current directory that leads out does not lead around the rule.
  std::string outside = (fs::temp_directory_path() / "zeloutside.XXXXXX").string();
  ASSERT_NE(::mkdtemp(outside.data()), nullptr);
  fs::create_directory_symlink(outside, Dir() + "/up");
  ExpectRefused(R"({"registry": {"file": "up/settings.txt"}})", "registry.file");
  EXPECT_FALSE(fs::exists(outside + "/settings.txt"));
  fs::remove_all(outside);
}

TEST_F(HostileMachineFiles, OnlyRegularFilesOfBoundedSize) {
  ASSERT_EQ(::mkfifo((Dir() + "/fifo").c_str(), 0600), 0);
  fs::create_directory(Dir() + "/folder.json");
  {
    // Sparse: larger than the limit without using the disk.
    int fd = ::open((Dir() + "/huge.json").c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, (64 << 20) + 1), 0);
    ::close(fd);
  }
  struct Case {
    std::string path;
    const char* message;
  } cases[] = {
      {Dir() + "/fifo", "not a regular file"},  // used to wait for a writer forever
      {"/dev/zero", "not a regular file"},      // used to read without end
      {Dir() + "/folder.json", "not a regular file"},
      {Dir() + "/huge.json", "larger than 64 MiB"},
      {Dir() + "/missing.json", "cannot be read"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineFile(c.path);
    EXPECT_FALSE(r.machine) << c.path;
    EXPECT_EQ(r.error.rfind(c.path + ": ", 0), 0u) << r.error;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
