// The built programs on this machine itself, with no machine file: when no
// drive is usable (a machine whose disks are virtio, or a user who is not
// root) they say so and why, and end with a failure status.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/strings.h"
#include "linux/tree.h"
#include "platform/linux/linux_platform.h"
#include "platform/text.h"

namespace zel {
namespace {

using namespace zel::linuxbackend;

struct ProgramRun {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool CanRunAsNobody() {
  return ::geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
}

class ThisMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder every user may work in.
    ::chmod(tree_.Root().c_str(), 0777);
  }

  // Runs a built program in the test's folder on this machine (no machine
  // file), as this user or as "nobody" (no capabilities, no groups).
  ProgramRun Run(const std::string& program, const std::string& args, bool asNobody) {
    std::string command = "cd '" + tree_.Root() + "' && env -u ZELVANE_MACHINE LC_ALL=C.UTF-8 ";
    if (asNobody) command += "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    command += "'" + std::string(ZEL_BIN_DIR) + "/" + program + "' " + args + " > out.txt 2> err.txt";
    int raw = std::system(command.c_str());
    ProgramRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(tree_.Root() + "/out.txt");
    r.err = Slurp(tree_.Root() + "/err.txt");
    return r;
  }

  // What zelvane must say when no drive is usable: the message, then every
  // block device that is not merely virtual, by its device node.
  void ExpectNoUsableDrive(const ProgramRun& r, const std::vector<DiskSurveyEntry>& survey) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(StartsWith(r.err, "zelvane: no usable drive: ")) << r.err;
    for (const DiskSurveyEntry& e : survey) {
      if (e.kind == "virtual" || e.kind == "hidden") continue;
      std::string named = "\n  " + e.devNode + (e.number >= 0 ? " (disk " + std::to_string(e.number) + "): " : ": ");
      EXPECT_TRUE(Contains(r.err, named)) << e.devNode << " is not named:\n" << r.err;
    }
  }

  test::TempTree tree_;
};

TEST_F(ThisMachineTest, WithoutAUsableDriveEveryCommandSaysWhy) {
  const std::vector<DiskSurveyEntry> survey = SurveyDisks();
  for (const DiskSurveyEntry& e : survey)
    if (e.usable) GTEST_SKIP() << e.devNode << " is a usable drive on this machine";
  for (const char* args : {"list", "--json list", "info 0", "details 0 --smart", "dvt 0"}) {
    SCOPED_TRACE(args);
    ProgramRun r = Run("zelvane", args, false);
    ExpectNoUsableDrive(r, survey);
    // Exactly the backend's lines, each on its own indented line.
    for (const std::string& line : SurveyReport(survey))
      EXPECT_TRUE(Contains(r.err, "\n  " + line + "\n")) << line << "\n" << r.err;
  }
  ProgramRun desktop = Run("SSDZelvane", "", false);
  EXPECT_EQ(desktop.status, 2);
  EXPECT_TRUE(Contains(desktop.err, LoadStringText(360))) << desktop.err;
  // The desktop program gives the same reasons after its message.
  for (const std::string& line : SurveyReport(survey))
    EXPECT_TRUE(Contains(desktop.err, "\n  " + line + "\n")) << line << "\n" << desktop.err;
}

TEST_F(ThisMachineTest, ANormalUserIsToldWhyNoDriveIsUsable) {
  if (!CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to run as another user";
  // Whatever the disks are, a user without root reaches none of them.
  const std::vector<DiskSurveyEntry> survey = SurveyDisks();
  ExpectNoUsableDrive(Run("zelvane", "list", true), survey);
  ProgramRun desktop = Run("SSDZelvane", "", true);
  EXPECT_EQ(desktop.status, 2);
  EXPECT_TRUE(Contains(desktop.err, LoadStringText(360))) << desktop.err;
}

}  // namespace
}  // namespace zel
