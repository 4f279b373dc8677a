// The registry of the real machine: the product key in a shared SQLite
// store, one view for every program, the processor keys read-only from
// /proc/cpuinfo, and the operating system's keys absent.
#include "platform/linux/registry_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "linux/tree.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;
using namespace zel::platform;

constexpr const char* kProduct = "SOFTWARE\\Quarn\\SSDZelvane";

class LinuxRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.File("/proc/cpuinfo",
               "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Xeon(R) CPU E5-2680\n"
               "cpu MHz\t\t: 2700.000\n\nprocessor\t: 1\nmodel name\t: Intel(R) Xeon(R) CPU E5-2680\n");
    db_ = tree_.Root() + "/state/registry.sqlite3";
  }
  std::unique_ptr<RegistryStore> Store() { return std::make_unique<RegistryStore>(db_, HostFiles(tree_.Root())); }

  static uint32_t Dword(Registry& r, HKEY key, const char* name, LSTATUS* status) {
    uint32_t value = 0xDEADBEEF, size = 4, type = 0;
    *status = r.RegQueryValueExW(key, name, &type, reinterpret_cast<uint8_t*>(&value), &size);
    return value;
  }

  test::TempTree tree_;
  std::string db_;
};

TEST_F(LinuxRegistry, ProductKeyValuesPersistAndAreSharedBetweenPrograms) {
  {
    auto desktop = Store();
    HKEY key = 0;
    uint32_t disposition = 0;
    ASSERT_EQ(desktop->RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_ALL_ACCESS, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    uint32_t one = 1;
    uint64_t at = 1767225600;
    EXPECT_EQ(desktop->RegSetValueExW(key, "TrimInProgress", REG_DWORD, reinterpret_cast<uint8_t*>(&one), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(desktop->RegSetValueExW(key, "TrimStartAt", REG_QWORD, reinterpret_cast<uint8_t*>(&at), 8),
              ERROR_SUCCESS);
    std::string sz = Utf8ToUtf16LeBytes("on", true);
    EXPECT_EQ(desktop->RegSetValueExW(key, "Enable", REG_SZ, reinterpret_cast<const uint8_t*>(sz.data()),
                                      static_cast<uint32_t>(sz.size())),
              ERROR_SUCCESS);
    EXPECT_EQ(desktop->RegCloseKey(key), ERROR_SUCCESS);
  }
  // Another program (here the tray program, opening the 32-bit view, and a
  // 64-bit service naming the redirected path) finds the same key.
  auto tray = Store();
  for (const std::pair<const char*, uint32_t>& open :
       {std::pair<const char*, uint32_t>{kProduct, KEY_READ | KEY_WOW64_32KEY},
        {kProduct, KEY_READ | KEY_WOW64_64KEY},
        {"SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane", KEY_READ},
        {"software\\quarn\\ssdzelvane\\", KEY_READ}}) {
    HKEY key = 0;
    ASSERT_EQ(tray->RegOpenKeyExW(HKEY_LOCAL_MACHINE, open.first, 0, open.second, &key), ERROR_SUCCESS)
        << open.first;
    LSTATUS status;
    EXPECT_EQ(Dword(*tray, key, "trimINPROGRESS", &status), 1u);
    EXPECT_EQ(status, ERROR_SUCCESS);
    uint8_t buf[8] = {};
    uint32_t size = 8, type = 0;
    EXPECT_EQ(tray->RegQueryValueExW(key, "TrimStartAt", &type, buf, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_EQ(size, 8u);
    tray->RegCloseKey(key);
  }
}

TEST_F(LinuxRegistry, ValueSizesFollowThePlatform) {
  auto r = Store();
  HKEY key = 0;
  ASSERT_EQ(r->RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  std::string sz = Utf8ToUtf16LeBytes("Completed", true);
  r->RegSetValueExW(key, "OptimizeComplete", REG_SZ, reinterpret_cast<const uint8_t*>(sz.data()),
                    static_cast<uint32_t>(sz.size()));
  uint32_t type = 0, size = 0;
  EXPECT_EQ(r->RegQueryValueExW(key, "OptimizeComplete", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 20u);  // nine characters and the NUL, two bytes each
  uint8_t small[4];
  size = sizeof small;
  EXPECT_EQ(r->RegQueryValueExW(key, "OptimizeComplete", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 20u);
  uint8_t data[64];
  size = sizeof data;
  EXPECT_EQ(r->RegQueryValueExW(key, "OptimizeComplete", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(Utf16LeBytesToUtf8(data, size - 2), "Completed");
  LSTATUS status;
  Dword(*r, key, "Missing", &status);
  EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r->RegDeleteValueW(key, "OptimizeComplete"), ERROR_SUCCESS);
  EXPECT_EQ(r->RegDeleteValueW(key, "OptimizeComplete"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r->RegQueryValueExW(0x4242, "x", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
  r->RegCloseKey(key);
}

TEST_F(LinuxRegistry, DriveSubkeysEnumerateAndDeleteAsOnThePlatform) {
  auto r = Store();
  const std::string drive = std::string(kProduct) + "\\ide#diskquarn_ssd#1&0000001f2&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  HKEY key = 0;
  ASSERT_EQ(r->RegCreateKeyExW(HKEY_LOCAL_MACHINE, drive, 0, KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
  r->RegCloseKey(key);
  HKEY b = 0;
  ASSERT_EQ(r->RegCreateKeyExW(HKEY_LOCAL_MACHINE, std::string(kProduct) + "\\Another", 0, KEY_ALL_ACCESS, &b, nullptr),
            ERROR_SUCCESS);
  r->RegCloseKey(b);
  HKEY product = 0;
  ASSERT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_READ, &product), ERROR_SUCCESS);
  std::string name;
  EXPECT_EQ(r->RegEnumKeyExW(product, 0, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, "Another");
  EXPECT_EQ(r->RegEnumKeyExW(product, 1, &name), ERROR_SUCCESS);
  EXPECT_EQ(name, drive.substr(std::string(kProduct).size() + 1));
  EXPECT_EQ(r->RegEnumKeyExW(product, 2, &name), ERROR_NO_MORE_ITEMS);
  r->RegCloseKey(product);
  // A key with subkeys stays; its subkeys go first.
  EXPECT_EQ(r->RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0), ERROR_ACCESS_DENIED);
  EXPECT_EQ(r->RegDeleteKeyExW(HKEY_LOCAL_MACHINE, std::string(kProduct) + "\\Another", 0), ERROR_SUCCESS);
  EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, std::string(kProduct) + "\\Another", 0, KEY_READ, &b),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxRegistry, ProcessorKeysAreReadOnlyFromCpuinfo) {
  auto r = Store();
  HKEY key = 0;
  ASSERT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                             &key),
            ERROR_SUCCESS);
  uint8_t data[260];
  uint32_t size = sizeof data, type = 0;
  ASSERT_EQ(r->RegQueryValueExW(key, "ProcessorNameString", &type, data, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Utf16LeBytesToUtf8(data, size - 2), "Intel(R) Xeon(R) CPU E5-2680");
  uint32_t one = 1;
  EXPECT_EQ(r->RegSetValueExW(key, "ProcessorNameString", REG_DWORD, reinterpret_cast<uint8_t*>(&one), 4),
            ERROR_ACCESS_DENIED);
  r->RegCloseKey(key);
  HKEY w = 0;
  EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                             KEY_ALL_ACCESS, &w),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1", 0, KEY_READ, &w),
            ERROR_SUCCESS);
  r->RegCloseKey(w);
  EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\2", 0, KEY_READ, &w),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(LinuxRegistry, KeysTheOperatingSystemHasElsewhereAreAbsent) {
  auto r = Store();
  for (const char* k : {"SYSTEM\\CurrentControlSet\\Services\\WSearch",
                        "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management",
                        "SOFTWARE\\Microsoft\\Dfrg\\BootOptimizeFunction"}) {
    HKEY key = 0;
    EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, k, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND) << k;
    // Creating one would let a setting look applied that never was.
    EXPECT_EQ(r->RegCreateKeyExW(HKEY_LOCAL_MACHINE, k, 0, KEY_ALL_ACCESS, &key, nullptr), ERROR_ACCESS_DENIED) << k;
  }
}

TEST_F(LinuxRegistry, AStoreThatCannotBeWrittenRefusesWritesAndReadsGiveDefaults) {
  // No database yet: reads fail quietly and create nothing.
  {
    auto r = Store();
    HKEY key = 0;
    EXPECT_EQ(r->RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  }
  EXPECT_FALSE(std::ifstream(db_).good());
  // A place where no file can be made.
  RegistryStore nowhere("/proc/no-such-folder/registry.sqlite3", HostFiles(tree_.Root()));
  HKEY key = 0;
  EXPECT_EQ(nowhere.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_ALL_ACCESS, &key, nullptr),
            ERROR_ACCESS_DENIED);
  // A file that is no database is refused and left as it was.
  tree_.File("/state/registry.sqlite3", "not a database");
  auto broken = Store();
  EXPECT_EQ(broken->RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProduct, 0, KEY_ALL_ACCESS, &key, nullptr),
            ERROR_ACCESS_DENIED);
  std::ifstream in(db_);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "not a database\n");
}

TEST(LinuxRegistryPath, EnvironmentChoosesTheFolder) {
  {
    test::ScopedEnv state("ZELVANE_STATE_DIR", "/srv/zelvane/");
    EXPECT_EQ(DefaultRegistryDatabasePath(), "/srv/zelvane/registry.sqlite3");
  }
  test::ScopedEnv none("ZELVANE_STATE_DIR", nullptr);
  if (::geteuid() == 0) {
    EXPECT_EQ(DefaultRegistryDatabasePath(), "/var/lib/ssdzelvane/registry.sqlite3");
  }
}

}  // namespace
}  // namespace zel
