// Our update server (the test double): its manifest, the answers it builds
// from it with sizes and CRCs of its own, the files it will and will not
// serve, and the reports it keeps.
#include <gtest/gtest.h>

#include "update_server_fixture.h"

namespace zel {
namespace {

class UpdateServerManifest : public test::UpdateTest {
 protected:
  bool Load(const std::string& json, updateserver::Manifest* m, std::string* error) {
    test::WriteFile(InDir("manifest.json"), json);
    return updateserver::LoadManifest(InDir("manifest.json"), m, error);
  }
};

TEST_F(UpdateServerManifest, AnswersCarryTheFilesOwnSizeAndSignedCrc) {
  test::WriteFile(InDir("fw.vic"), "123456789");
  test::WriteFile(InDir("setup.exe"), "setup");
  updateserver::Manifest m;
  std::string error;
  ASSERT_TRUE(Load(R"({"supportList": ["A 1", "B"], "program": {"version": "2.0.0", "file": "setup.exe"},
                       "firmware": [{"model": "A 1", "configId": "02", "from": ["R1"], "recordId": "9",
                                     "revision": "R2", "file": "fw.vic"}],
                       "answers": {"/raw": "x {HOST} y"}})", &m, &error)) << error;
  updateserver::UpdateServer server(m, nullptr);
  const std::string host = "h:1";
  EXPECT_EQ(server.Answer("/ssd_ver.php?action=list", host).body, "QUARN SSD Zelvane,A 1,B");
  EXPECT_EQ(server.Answer("/ssd_ver.php?OS_Language=en-US", host).body,
            "QUARN SSD Zelvane,1,2.0.0,622679600,5,http://h:1/files/setup.exe");
  const std::string ask = "/ssd_fw_ver.php?OS_Language=en-US&SSD_CTL_Solution=MRV9189&SSD_Config_ID=02"
                          "&SSD_Inside_Firmware=R1&SSD_Serial_Number=0123456789&SSD_Model_Number=A%201&SSD_Capacity=1";
  EXPECT_EQ(server.Answer(ask, host).body, "QUARN SSD Zelvane,9,R2,-873187034,9,http://h:1/files/fw.vic");
  // Another revision, config ID or model: nothing newer.
  std::string other = ask;
  other.replace(other.find("R1"), 2, "R0");
  EXPECT_EQ(server.Answer(other, host).body, "QUARN SSD Zelvane,0,R0,0,0,none");
  EXPECT_EQ(server.Answer("/raw", host).body, "x h:1 y");
  EXPECT_EQ(server.Answer("/files/fw.vic", host).file->data.size(), 9u);
  for (const char* target : {"/files/../manifest.json", "/files/manifest.json", "/files/", "/nothing"})
    EXPECT_EQ(server.Answer(target, host).status, 404) << target;
  server.Answer("/ssd_fw_ver_update.php?Record_ID=9&Download_Result=2", host);
  EXPECT_EQ(server.Reports(), (std::vector<std::string>{"Record_ID=9 Download_Result=2"}));
}

TEST_F(UpdateServerManifest, BadManifestsAreRefusedWithAReason) {
  struct Case {
    const char* json;
    const char* error;
  } cases[] = {
      {"[1]", "must be a JSON object"},
      {"{", "parse"},
      {R"({"files": ["../secret"]})", "is not a plain file name"},
      {R"({"files": ["missing.bin"]})", "cannot read"},
      {R"({"firmware": [{"model": "A"}]})", "needs model, revision and file"},
      {R"({"program": {"version": 3}})", "expected a text"},
  };
  for (const Case& c : cases) {
    updateserver::Manifest m;
    std::string error;
    EXPECT_FALSE(Load(c.json, &m, &error)) << c.json;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.json << ": " << error;
  }
}

TEST_F(UpdateServerManifest, QueryValuesAreDecoded) {
  EXPECT_EQ(updateserver::QueryValue("/p?a=1&b=x%20y&c=", "b"), "x y");
  EXPECT_EQ(updateserver::QueryValue("/p?a=1&b=x%20y&c=", "c"), "");
  EXPECT_EQ(updateserver::QueryValue("/p?a=1", "z"), "");
  EXPECT_EQ(updateserver::QueryValue("/p?a=%2", "a"), "%2");
}

}  // namespace
}  // namespace zel
