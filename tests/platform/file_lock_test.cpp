// Whole-file locks of the file calls: shared locks go together, an exclusive
// one stands alone, across handles of one process as across processes.
#include <gtest/gtest.h>

#include "platform/errors.h"
#include "platform/platform.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

class FileLockTest : public test::SimTest {
 protected:
  std::string MachineJson() const override {
    return R"({"volumes": [{"letter": "C", "disk": 0, "size": 1048576, "free": 1048576}]})";
  }
  HANDLE Open(const std::string& path) {
    return Machine().Files().CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_ALWAYS, 0);
  }
};

TEST_F(FileLockTest, SharedLocksGoTogetherAndAnExclusiveOneStandsAlone) {
  Files& f = Machine().Files();
  const std::string path = Dir() + "/locked.log";
  HANDLE a = Open(path), b = Open(path);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  ASSERT_NE(b, INVALID_HANDLE_VALUE);
  const uint32_t exclusiveNow = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;

  EXPECT_TRUE(f.LockFileEx(a, 0));
  EXPECT_TRUE(f.LockFileEx(b, LOCKFILE_FAIL_IMMEDIATELY));
  EXPECT_TRUE(f.UnlockFileEx(b));
  EXPECT_FALSE(f.LockFileEx(b, exclusiveNow));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  EXPECT_TRUE(f.UnlockFileEx(a));
  EXPECT_TRUE(f.LockFileEx(b, exclusiveNow));
  EXPECT_FALSE(f.LockFileEx(a, LOCKFILE_FAIL_IMMEDIATELY));
  EXPECT_EQ(GetLastError(), ERROR_LOCK_VIOLATION);
  // Closing a handle lets its lock go.
  EXPECT_TRUE(f.CloseHandle(b));
  EXPECT_TRUE(f.LockFileEx(a, exclusiveNow));
  EXPECT_TRUE(f.CloseHandle(a));

  EXPECT_FALSE(f.LockFileEx(a, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // A file of a virtual volume cannot be locked.
  HANDLE v = Open("C:\\virtual.log");
  ASSERT_NE(v, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(f.LockFileEx(v, 0));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  f.CloseHandle(v);
}

}  // namespace
}  // namespace zel
