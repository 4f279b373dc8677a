// Where the programs' logs go when a program's own folder cannot be written.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/host/host_file_calls.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

TEST(LogFolderTest, ChosenFromTheEnvironmentAndTheUser) {
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* stateDir;
    const char* xdgState;
    const char* home;
    const char* user;  // expected for a user who is not root
    const char* admin; // expected for root
  } cases[] = {
      {"/srv/zel/", "/x", "/home/ann", "/srv/zel", "/srv/zel"},
      {nullptr, "/home/ann/st", "/home/ann", "/home/ann/st/ssdzelvane", "/var/log/ssdzelvane"},
      {nullptr, "relative", "/home/ann", "/home/ann/.local/state/ssdzelvane", "/var/log/ssdzelvane"},
      {nullptr, nullptr, "/home/ann", "/home/ann/.local/state/ssdzelvane", "/var/log/ssdzelvane"},
      {nullptr, nullptr, nullptr, "", "/var/log/ssdzelvane"},
  };
  for (const Case& c : cases) {
    test::ScopedEnv state("ZELVANE_STATE_DIR", c.stateDir);
    test::ScopedEnv xdg("XDG_STATE_HOME", c.xdgState);
    test::ScopedEnv home("HOME", c.home);
    EXPECT_EQ(hostfs::DefaultLogFolder(), root ? c.admin : c.user)
        << (c.stateDir ? c.stateDir : "-") << " " << (c.xdgState ? c.xdgState : "-");
  }
}

}  // namespace
}  // namespace zel
