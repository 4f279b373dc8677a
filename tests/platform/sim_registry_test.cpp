#include <gtest/gtest.h>

#include <filesystem>

#include "platform/bytes.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_registry.h"
#include "platform/text.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

constexpr const char* kProductKey = "SOFTWARE\\Quarn\\SSDZelvane";

class SimRegistryTest : public test::SimTest {
 protected:
  Registry& Reg() { return Machine().Reg(); }
  sim::SimRegistry& Store() { return sim::RegistryOf(Machine()); }

  HKEY Create(const std::string& path, uint32_t sam = KEY_ALL_ACCESS) {
    HKEY key = 0;
    uint32_t disposition = 0;
    EXPECT_EQ(Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, sam, &key, &disposition),
              static_cast<LSTATUS>(ERROR_SUCCESS))
        << path;
    return key;
  }
  void SetDword(HKEY key, const std::string& name, uint32_t value) {
    uint8_t b[4];
    PutLE32(b, value);
    EXPECT_EQ(Reg().RegSetValueExW(key, name, REG_DWORD, b, 4), static_cast<LSTATUS>(ERROR_SUCCESS));
  }
};

TEST_F(SimRegistryTest, KeysValuesAndStatusCodes) {
  HKEY key = 0;
  uint32_t disposition = 0;
  ASSERT_EQ(Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\A\\B", 0, KEY_ALL_ACCESS, &key,
                                  &disposition),
            0);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  SetDword(key, "Count", 7);
  std::string text = Utf8ToUtf16LeBytes("Zelvane", true);
  ASSERT_EQ(Reg().RegSetValueExW(key, "Name", REG_SZ, reinterpret_cast<const uint8_t*>(text.data()),
                                 static_cast<uint32_t>(text.size())),
            0);
  Reg().RegCloseKey(key);

  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "system\\a\\b", 0, KEY_READ, &key), 0);
  uint32_t type = 0, size = 0;
  // The size alone, then a buffer too small, then the value.
  EXPECT_EQ(Reg().RegQueryValueExW(key, "NAME", &type, nullptr, &size), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 16u);
  uint8_t buffer[16];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  size = 10;
  EXPECT_EQ(Reg().RegQueryValueExW(key, "Name", &type, buffer, &size),
            static_cast<LSTATUS>(ERROR_MORE_DATA));
  EXPECT_EQ(size, 16u);
  EXPECT_EQ(buffer[0], 0xEE);  // untouched
  EXPECT_EQ(Reg().RegQueryValueExW(key, "Name", &type, buffer, &size), 0);
  EXPECT_EQ(Utf16LeBytesToUtf8(buffer, 14), "Zelvane");
  size = 4;
  EXPECT_EQ(Reg().RegQueryValueExW(key, "Count", &type, buffer, &size), 0);
  EXPECT_EQ(GetLE32(buffer), 7u);
  EXPECT_EQ(Reg().RegQueryValueExW(key, "Missing", &type, buffer, &size),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  // A read-only handle cannot write.
  EXPECT_EQ(Reg().RegSetValueExW(key, "Count", REG_DWORD, buffer, 4),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Reg().RegCloseKey(key), 0);
  EXPECT_EQ(Reg().RegCloseKey(key), static_cast<LSTATUS>(ERROR_INVALID_HANDLE));

  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\Nothing", 0, KEY_READ, &key),
            static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\\\A", 0, KEY_READ, &key),
            sim::kErrorBadPathname);

  // Subkeys are listed in name order; a key with subkeys cannot be deleted.
  Reg().RegCloseKey(Create("SYSTEM\\A\\a2"));
  Reg().RegCloseKey(Create("SYSTEM\\A\\A1"));
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\A", 0, KEY_READ, &key), 0);
  std::vector<std::string> names;
  std::string name;
  for (uint32_t i = 0; Reg().RegEnumKeyExW(key, i, &name) == 0; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"A1", "a2", "B"}));
  EXPECT_EQ(Reg().RegEnumKeyExW(key, 3, &name), static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
  Reg().RegCloseKey(key);
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\A", 0),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));

  // A handle to a deleted key answers "key deleted".
  HKEY b = Create("SYSTEM\\A\\B");
  EXPECT_EQ(Reg().RegDeleteKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\A\\B", 0), 0);
  EXPECT_EQ(Reg().RegQueryValueExW(b, "Count", &type, buffer, &size), sim::kErrorKeyDeleted);
  Reg().RegCloseKey(b);
  EXPECT_EQ(Store().OpenHandles(), 0u);
}

TEST_F(SimRegistryTest, ThirtyTwoBitProgramSeesSoftwareThroughWow6432Node) {
  HKEY key = Create(kProductKey);
  SetDword(key, "LogLevel", 1);
  Reg().RegCloseKey(key);
  EXPECT_TRUE(Store().Find("SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane", "LogLevel"));
  EXPECT_FALSE(Store().KeyExists("SOFTWARE\\Quarn"));

  // The 64-bit view is the real SOFTWARE branch.
  key = Create("SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction", KEY_ALL_ACCESS | KEY_WOW64_64KEY);
  Reg().RegCloseKey(key);
  EXPECT_TRUE(Store().KeyExists("SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction"));
  EXPECT_FALSE(Store().KeyExists("SOFTWARE\\WOW6432Node\\Microsoft"));

  // A key opened relative to SOFTWARE is redirected too; SYSTEM never is.
  HKEY software = 0;
  ASSERT_EQ(Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), 0);
  HKEY product = 0;
  EXPECT_EQ(Reg().RegOpenKeyExW(software, "Quarn\\SSDZelvane", 0, KEY_READ, &product), 0);
  Reg().RegCloseKey(product);
  Reg().RegCloseKey(software);
  Reg().RegCloseKey(Create("SYSTEM\\CurrentControlSet\\Control"));
  EXPECT_TRUE(Store().KeyExists("SYSTEM\\CurrentControlSet\\Control"));
}

TEST(SimRegistryViews, SixtyFourBitProgramAndThirtyTwoBitSystem) {
  struct Case {
    const char* machine;
    uint32_t sam;
    const char* stored;
  } cases[] = {
      {R"({"registry": {"programBits": 64}})", KEY_ALL_ACCESS, "SOFTWARE\\Quarn\\SSDZelvane"},
      {R"({"registry": {"programBits": 64}})", KEY_ALL_ACCESS | KEY_WOW64_32KEY,
       "SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane"},
      {R"({"system": {"addressWidth": 32}})", KEY_ALL_ACCESS, "SOFTWARE\\Quarn\\SSDZelvane"},
  };
  for (const Case& c : cases) {
    auto m = test::MustLoad(c.machine);
    HKEY key = 0;
    ASSERT_EQ(m->Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, c.sam, &key, nullptr), 0);
    m->Reg().RegCloseKey(key);
    EXPECT_TRUE(sim::RegistryOf(*m).KeyExists(c.stored)) << c.machine;
  }
}

TEST(SimRegistrySeed, ValuesOfEveryTypeAndTheProcessorKey) {
  auto m = test::MustLoad(R"({
    "system": {"processor": "Test CPU @ 1.00GHz"},
    "registry": {"keys": {
      "HKLM\\SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane": {
        "LogLevel": 2, "Name": "text", "TrimStartAt": {"type": "REG_QWORD", "data": "0x1122334455667788"},
        "Blob": {"type": "REG_BINARY", "data": "01 02 03"},
        "List": {"type": "REG_MULTI_SZ", "data": ["a", "bc"]},
        "Odd": {"type": "REG_SZ", "bytes": "41 00 42 00"}},
      "SYSTEM\\Empty": {}}}})");
  sim::SimRegistry& store = sim::RegistryOf(*m);
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"LogLevel", REG_DWORD, {2, 0, 0, 0}},
      {"Name", REG_SZ, {'t', 0, 'e', 0, 'x', 0, 't', 0, 0, 0}},
      {"TrimStartAt", REG_QWORD, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},
      {"Blob", REG_BINARY, {1, 2, 3}},
      {"List", REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 'c', 0, 0, 0, 0, 0}},
      {"Odd", REG_SZ, {'A', 0, 'B', 0}},
  };
  for (const Case& c : cases) {
    auto v = store.Find("SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane", c.name);
    ASSERT_TRUE(v) << c.name;
    EXPECT_EQ(v->type, c.type) << c.name;
    EXPECT_EQ(v->data, c.bytes) << c.name;
  }
  EXPECT_TRUE(store.KeyExists("SYSTEM\\Empty"));
  auto cpu = store.Find("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", "ProcessorNameString");
  ASSERT_TRUE(cpu);
  EXPECT_EQ(Utf16LeBytesToUtf8(cpu->data.data(), cpu->data.size() - 2), "Test CPU @ 1.00GHz");

  // No processor, no processor key.
  auto none = test::MustLoad(R"({"system": {"processors": 0}})");
  EXPECT_FALSE(sim::RegistryOf(*none).KeyExists("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0"));
}

TEST(SimRegistrySeed, NoAdministratorRightsReadOnlyKeysAndFaults) {
  auto m = test::MustLoad(R"({"registry": {"admin": false}})");
  HKEY key = 0;
  EXPECT_EQ(m->Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key, nullptr),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(m->Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System", 0,
                                   KEY_ALL_ACCESS, &key),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(m->Reg().RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System", 0, KEY_READ, &key), 0);
  m->Reg().RegCloseKey(key);

  auto f = test::MustLoad(R"({"registry": {
      "readOnly": ["SYSTEM\\Locked"],
      "keys": {"SYSTEM\\Locked\\Inner": {"V": 1}},
      "faults": [{"op": "set", "value": "Second", "error": 5},
                 {"op": "close", "key": "SYSTEM\\Locked\\Inner", "error": 6, "skip": 1, "times": 1}]}})");
  Registry& reg = f->Reg();
  EXPECT_EQ(reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked\\Inner", 0, KEY_WRITE, &key),
            static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
  HKEY other = 0;
  ASSERT_EQ(reg.RegCreateKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\Free", 0, KEY_ALL_ACCESS, &other, nullptr), 0);
  uint8_t one[4] = {1, 0, 0, 0};
  EXPECT_EQ(reg.RegSetValueExW(other, "First", REG_DWORD, one, 4), 0);
  EXPECT_EQ(reg.RegSetValueExW(other, "Second", REG_DWORD, one, 4), 5);
  reg.RegCloseKey(other);
  // The second close of the key fails, and still ends the handle.
  for (LSTATUS expected : {0, 6, 0}) {
    ASSERT_EQ(reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\Locked\\Inner", 0, KEY_READ, &key), 0);
    EXPECT_EQ(reg.RegCloseKey(key), expected);
  }
  EXPECT_EQ(sim::RegistryOf(*f).OpenHandles(), 0u);
}

TEST_F(SimRegistryTest, WrittenBackWhenTheMachineEndsAndReadableAsASeed) {
  std::string file = Dir() + "/registry-out.json";
  {
    auto m = test::MustLoad(R"({"registry": {"file": "registry-out.json",
                                "keys": {"SYSTEM\\Keep": {"Old": "x"}}}})");
    HKEY key = 0;
    ASSERT_EQ(m->Reg().RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_ALL_ACCESS, &key, nullptr), 0);
    uint8_t q[8] = {0x10, 0x27, 0, 0, 0, 0, 0, 0};
    m->Reg().RegSetValueExW(key, "TrimStartAt", REG_QWORD, q, 8);
    uint8_t d[4] = {1, 0, 0, 0};
    m->Reg().RegSetValueExW(key, "TrimInProgress", REG_DWORD, d, 4);
    uint8_t odd[3] = {'A', 0, 'B'};  // a text without its NUL keeps its bytes
    m->Reg().RegSetValueExW(key, "Odd", REG_SZ, odd, 3);
    m->Reg().RegCloseKey(key);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
  ASSERT_TRUE(std::filesystem::exists(file));
  sim::Json written = sim::Json::parse(test::ReadFile(file));
  const sim::Json& product = written["keys"]["SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane"];
  EXPECT_EQ(product["TrimStartAt"], sim::Json::parse(R"({"type": "REG_QWORD", "data": 10000})"));
  EXPECT_EQ(product["TrimInProgress"], sim::Json::parse(R"({"type": "REG_DWORD", "data": 1})"));
  EXPECT_EQ(product["Odd"], sim::Json::parse(R"({"type": "REG_SZ", "bytes": "41 00 42"})"));
  EXPECT_EQ(written["keys"]["SYSTEM\\Keep"]["Old"]["data"], "x");

  // What a run wrote seeds the next run unchanged.
  sim::Json next = {{"registry", written}};
  auto again = test::MustLoad(next.dump());
  EXPECT_EQ(sim::RegistryOf(*again).ToJson(), written);
}

TEST_F(SimRegistryTest, WrittenBackNeverThroughALinkNorOverWhatIsNotAFile) {
  const std::string victim = Dir() + "/victim.txt";
  test::WriteFile(victim, "precious");
  // A link planted under the temporary file's name is not written through.
  std::filesystem::create_symlink(victim, Dir() + "/out.json.tmp");
  auto m = test::MustLoad(R"({"registry": {"file": "out.json", "keys": {"SYSTEM\\K": {"V": "x"}}}})");
  ASSERT_TRUE(sim::RegistryOf(*m).Save());
  EXPECT_EQ(test::ReadFile(victim), "precious");
  EXPECT_EQ(sim::Json::parse(test::ReadFile(Dir() + "/out.json"))["keys"]["SYSTEM\\K"]["V"]["data"], "x");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Dir() + "/out.json.tmp")));

  // A target that is a folder or a link is refused and left as it was.
  std::filesystem::create_directory(Dir() + "/folder.json");
  std::filesystem::create_symlink(victim, Dir() + "/link.json");
  for (const char* name : {"folder.json", "link.json"}) {
    sim::RegistryOf(*m).SetOutputFile(name);
    EXPECT_FALSE(sim::RegistryOf(*m).Save()) << name;
  }
  EXPECT_TRUE(std::filesystem::is_directory(Dir() + "/folder.json"));
  EXPECT_TRUE(std::filesystem::is_symlink(Dir() + "/link.json"));
  EXPECT_EQ(test::ReadFile(victim), "precious");
  sim::RegistryOf(*m).SetOutputFile("");
}

TEST(SimRegistrySeed, MistakesNameTheirField) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"registry": {"programBits": 48}})", "registry.programBits"},
      {R"({"registry": {"faults": [{"op": "rename"}]}})", "registry.faults[0].op"},
      {R"({"registry": {"keys": {"SYSTEM\\X": {"V": {"type": "REG_SZ", "data": 5}}}}})",
       "registry.keys[\"SYSTEM\\X\"].V.data: expected a text"},
      {R"({"registry": {"keys": {"SYSTEM\\X": {"V": {"type": "REG_DWORD", "data": 1, "bytes": "00"}}}}})",
       "either \"data\" or \"bytes\""},
      {R"({"registry": {"keys": {"SYSTEM\\\\X": {}}}})", "not a valid key path"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "m.json");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
  }
}

}  // namespace
}  // namespace zel
