// The firmware update's manual path on the rig's emulated SATA disk, which
// aborts DOWNLOAD MICROCODE: zelvane must report the failure with the
// drive's abort (the ABRT bit of its error register), never success.
// hdparm, given the same image, is shown beside it for the record.
#include <gtest/gtest.h>

#include "rig_sections.h"

using namespace rig;

namespace {

TEST(RigFirmware, AnAbortedDownloadMicrocodeIsAFailure) {
  ProgramRun run = Program("zelvane-firmware-0");
  EXPECT_EQ(run.exit, 1) << run.stderrText;
  EXPECT_EQ(run.json.value("path", ""), "manual");
  EXPECT_EQ(run.json.value("outcome", ""), "drive-refused") << run.json.dump();
  EXPECT_EQ(run.json.value("message", ""), "Download firmware fail!");
  const std::string detail = run.json.value("detail", "");
  EXPECT_EQ(detail.rfind("the drive aborted piece 0 (block offset 0): status 0x", 0), 0u) << detail;
  EXPECT_NE(detail.find("error 0x04"), std::string::npos) << detail;
  EXPECT_NE(run.stderrText.find("Download firmware fail!"), std::string::npos);
  EXPECT_EQ(run.stderrText.find("accepted"), std::string::npos) << run.stderrText;

  // hdparm on the same disk and image, for the record (it reads the
  // drive's IDENTIFY data first and may refuse before sending anything).
  const std::string hdparm = SectionText("hdparm-fwdownload");
  std::printf("hdparm --fwdownload on the same disk:\n%s", hdparm.c_str());
}

}  // namespace
