// The files zelvane writes and reads because the user named them: a report
// or Decrypted.log replaces only a regular file, and only once complete; a
// scrambled log is read only from a regular file of bounded size.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "cli/cli_runner.h"

namespace zel {
namespace {

namespace fs = std::filesystem;

class UserNamedFilesTest : public test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    UseFixture("report-mixed.json");
    test::WriteFile(Dir() + "/other.txt", "someone else's file");
  }
  // Targets that are not regular files, made under a name in the folder.
  struct Target {
    const char* what;
    std::function<void(const std::string&)> make;
  };
  std::vector<Target> Targets() const {
    const std::string other = Dir() + "/other.txt";
    return {
        {"a folder", [](const std::string& p) { fs::create_directory(p); }},
        {"a device, FIFO or socket", [](const std::string& p) { ::mkfifo(p.c_str(), 0600); }},
        {"a symbolic link", [other](const std::string& p) { fs::create_symlink(other, p); }},
    };
  }
};

TEST_F(UserNamedFilesTest, ReportIsNeverWrittenOverWhatIsNotARegularFile) {
  int n = 0;
  for (const Target& t : Targets()) {
    const std::string name = "target" + std::to_string(n++);
    t.make(Dir() + "/" + name);
    const fs::file_type before = fs::symlink_status(Dir() + "/" + name).type();
    const test::CliResult r = Run({"report", name});
    EXPECT_EQ(r.status, 1) << t.what;
    EXPECT_EQ(r.out, "") << t.what;
    EXPECT_EQ(r.err, "zelvane: refused to write the report over " + name + ": it is " + t.what +
                         ", not a regular file\n");
    EXPECT_EQ(fs::symlink_status(Dir() + "/" + name).type(), before) << t.what;
  }
  EXPECT_EQ(test::ReadFile(Dir() + "/other.txt"), "someone else's file");
}

TEST_F(UserNamedFilesTest, DecryptedLogIsNeverWrittenOverWhatIsNotARegularFile) {
  test::WriteFile(Dir() + "/in.log", std::string("\x4D\x00\x6E\x00\x0F\x00", 6));  // "Hi\n"
  for (const Target& t : Targets()) {
    fs::remove_all(Dir() + "/Decrypted.log");
    t.make(Dir() + "/Decrypted.log");
    const fs::file_type before = fs::symlink_status(Dir() + "/Decrypted.log").type();
    const test::CliResult r = Run({"decrypt-log", "in.log"});
    EXPECT_EQ(r.status, 1) << t.what;
    EXPECT_EQ(r.err, "zelvane: " + Dir() + "/Decrypted.log cannot be written (it is " + t.what +
                         ", which is never replaced)\n");
    EXPECT_EQ(fs::symlink_status(Dir() + "/Decrypted.log").type(), before) << t.what;
  }
  EXPECT_EQ(test::ReadFile(Dir() + "/other.txt"), "someone else's file");
}

TEST_F(UserNamedFilesTest, ScrambledLogIsReadOnlyFromARegularFileOfBoundedSize) {
  // 64 MiB and one byte, without data on the disk.
  const std::string big = Dir() + "/big.log";
  test::WriteFile(big, "");
  fs::resize_file(big, (64u << 20) + 1);
  fs::create_directory(Dir() + "/folder.log");
  ASSERT_EQ(::mkfifo((Dir() + "/fifo.log").c_str(), 0600), 0);
  struct Case {
    const char* input;
    const char* why;
  } const cases[] = {
      {"big.log", "it is larger than the limit of 64 MiB"},
      {"folder.log", "it is a folder, not a regular file"},
      // Opening a FIFO for reading would wait for a writer forever.
      {"fifo.log", "it is a device, FIFO or socket, not a regular file"},
      {"missing.log", "error 2"},
  };
  for (const Case& c : cases) {
    const test::CliResult r = Run({"decrypt-log", c.input});
    EXPECT_EQ(r.status, 2) << c.input;
    EXPECT_EQ(r.err, std::string("zelvane: ") + c.input + " cannot be read (" + c.why +
                         "); nothing was written\n");
    EXPECT_FALSE(fs::exists(Dir() + "/Decrypted.log")) << c.input;
  }
}

}  // namespace
}  // namespace zel
