// The update-server protocol's pieces: CRC-32, address escaping, the parts
// of a download address, the file-name rule, the language tag, the model
// rules, where the server is, and the queries as the server receives them.
#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/text.h"
#include "update_server_fixture.h"

namespace zel {
namespace {

TEST(UpdateProtocolText, Crc32OfKnownInputs) {
  struct Case {
    std::string bytes;
    uint32_t crc;
  } cases[] = {
      {"123456789", 0xCBF43926u},
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {std::string(1, '\0'), 0xD202EF8Du},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.crc) << c.bytes;
  // Agrees with the server's bit-by-bit CRC over every byte value.
  std::vector<uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(255 - i);
  EXPECT_EQ(Crc32(all.data(), all.size()), updateserver::FileCrc32(all));
}

TEST(UpdateProtocolText, EscapeUrlReplacesTheUnsafeCharacters) {
  EXPECT_EQ(EscapeUrl("http://h/a b{c}.zip"), "http://h/a%20b%7Bc%7D.zip");
  EXPECT_EQ(EscapeUrl("<>#|[]"), "%3C%3E%23%7C%5B%5D");
  EXPECT_EQ(EscapeUrl("a;b|c`d$(e)'\"f"), "a;b%7Cc`d$(e)'\"f");  // the rest is left to the opener
}

TEST(UpdateProtocolText, DownloadAddressParts) {
  struct Case {
    const char* address;
    const char* host;
    const char* path;
    const char* name;
  } cases[] = {
      {"http://H/d/f.bin", "H", "/d/f.bin", "f.bin"},
      {"http://127.0.0.1:8080/f.bin", "127.0.0.1:8080", "/f.bin", "f.bin"},
      {"http://H/d/f.bin,extra", "H", "/d/f.bin,extra", "f.bin"},
      {"http://H/dir/", "H", "/dir/", ""},
      {"http://H", "H", "", ""},
  };
  for (const Case& c : cases) {
    DownloadAddress parts = SplitDownloadAddress(c.address);
    EXPECT_EQ(parts.host, c.host) << c.address;
    EXPECT_EQ(parts.path, c.path) << c.address;
    EXPECT_EQ(parts.fileName, c.name) << c.address;
  }
}

TEST(UpdateProtocolText, FileNamesFromAnswers) {
  for (const std::string& bad : {std::string(), std::string("."), std::string(".."),
                                 std::string("a/b"), std::string("a\\b"), std::string("a\0b", 3),
                                 std::string("C:x"), std::string(256, 'n')})
    EXPECT_FALSE(IsSafeDownloadFileName(bad)) << bad;
  for (const std::string& good : {std::string("f.bin"), std::string("..."), std::string(".hidden"),
                                  std::string(255, 'n'), std::string("a b;c")})
    EXPECT_TRUE(IsSafeDownloadFileName(good)) << good;
}

TEST(UpdateProtocolText, LanguageTagsAndModelRules) {
  EXPECT_EQ(LanguageTag(1028), "zh-TW");
  EXPECT_EQ(LanguageTag(2052), "zh-CN");
  EXPECT_EQ(LanguageTag(1033), "en-US");
  EXPECT_EQ(LanguageTag(1041), "en-US");
  EXPECT_EQ(ModelNumberOf("QUARN KD765KK 256GB", 39), "KD765KK 256GB");
  EXPECT_EQ(ModelNumberOf("QUARN", 39), "");
  EXPECT_EQ(ModelNumberOf("QUARN " + std::string(40, 'M'), 39), std::string(39, 'M'));
  EXPECT_EQ(ModelNumberOf("QUARN " + std::string(40, 'M'), 37), std::string(37, 'M'));
  EXPECT_EQ(ControllerSolutionOf("KD765KK 256GB"), "MRV9189");
  EXPECT_EQ(ControllerSolutionOf("SSD KD765KK 512GB"), "MRV9189");
  EXPECT_EQ(ControllerSolutionOf("kd765kk"), "SF-2000");
  EXPECT_EQ(ControllerSolutionOf("KD785 1TB"), "SF-2000");
}

class UpdateServerHostChoice : public test::UpdateTest {};

TEST_F(UpdateServerHostChoice, EnvironmentThenProductKeyThenDefault) {
  test::ScopedEnv none(kUpdateServerEnvironment, nullptr);
  EXPECT_EQ(UpdateServerHost(), "update.ssdzelvane.example");
  platform::Registry& reg = platform::Current().Reg();
  platform::HKEY key = 0;
  uint32_t disposition = 0;
  ASSERT_EQ(reg.RegCreateKeyExW(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Quarn\\SSDZelvane", 0,
                                platform::KEY_ALL_ACCESS | platform::KEY_WOW64_32KEY, &key, &disposition),
            0);
  std::string value = Utf8ToUtf16LeBytes("updates.lan:8080", true);
  ASSERT_EQ(reg.RegSetValueExW(key, "UpdateServerHost", platform::REG_SZ,
                               reinterpret_cast<const uint8_t*>(value.data()),
                               static_cast<uint32_t>(value.size())),
            0);
  reg.RegCloseKey(key);
  EXPECT_EQ(UpdateServerHost(), "updates.lan:8080");
  test::ScopedEnv set(kUpdateServerEnvironment, "127.0.0.1:9");
  EXPECT_EQ(UpdateServerHost(), "127.0.0.1:9");
}

class Queries : public test::UpdateTest {};

TEST_F(Queries, TargetsAndHeadersAsTheServerReceivesThem) {
  test::RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 21\r\n\r\nQUARN SSD Zelvane,1,2");
  PointAt(server.Host());
  PhysicalDriveRecord drive;
  drive.ModelName = "QUARN KD765KK 256GB";
  drive.FirmwareRevision = "SV1.0A";
  drive.DiskSizeGB = 0x100000100ull;  // the low 32 bits are sent
  std::string answer;
  EXPECT_EQ(QueryFwUpgradeSupportList(answer), 1);
  EXPECT_EQ(answer, "QUARN SSD Zelvane,1,2");
  EXPECT_EQ(QueryLatestZelvane(2052, answer), 1);
  EXPECT_EQ(QueryLatestFirmware(drive, "02", 1028, answer), 0);
  EXPECT_EQ(UpdateFwVersionRecord("77", 2), 0);
  drive.ModelName = "QUARN K#1";
  QueryLatestFirmware(drive, "C#", 1033, answer);
  auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  auto line = [](const std::string& r) { return r.substr(0, r.find("\r\n")); };
  EXPECT_EQ(line(requests[0]), "GET /ssd_ver.php?action=list HTTP/1.1");
  EXPECT_EQ(line(requests[1]), "GET /ssd_ver.php?OS_Language=zh-CN HTTP/1.1");
  // The blank in the model number travels escaped.
  EXPECT_EQ(line(requests[2]),
            "GET /ssd_fw_ver.php?OS_Language=zh-TW&SSD_CTL_Solution=MRV9189&SSD_Config_ID=02"
            "&SSD_Inside_Firmware=SV1.0A&SSD_Serial_Number=0123456789"
            "&SSD_Model_Number=KD765KK%20256GB&SSD_Capacity=256 HTTP/1.1");
  EXPECT_EQ(line(requests[3]), "GET /ssd_fw_ver_update.php?Record_ID=77&Download_Result=2 HTTP/1.1");
  // A "#" in a value is sent, not taken for the start of a fragment.
  EXPECT_NE(line(requests[4]).find("SSD_Config_ID=C%23&"), std::string::npos) << requests[4];
  EXPECT_NE(line(requests[4]).find("SSD_Model_Number=K%231&"), std::string::npos) << requests[4];
  EXPECT_NE(requests[0].find("\r\nUser-Agent: QUARN SSD Zelvane\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nCache-Control: no-cache\r\n"), std::string::npos);
  EXPECT_NE(requests[0].find("\r\nHost: " + server.Host() + "\r\n"), std::string::npos);
  EXPECT_TRUE(Logged("Enter UnderlyingUtil::HttpOperation()"));
  EXPECT_TRUE(Logged("/ssd_ver.php?action=list"));
  EXPECT_TRUE(Logged("Exit UnderlyingUtil::HttpOperation()"));
}

TEST_F(Queries, ProxyFromTheEnvironmentIsNeverUsed) {
  test::RawServer server("HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\nQUARN SSD Zelvane");
  test::ScopedEnv proxy("http_proxy", "http://127.0.0.1:1");
  test::ScopedEnv proxy2("HTTP_PROXY", "http://127.0.0.1:1");
  PointAt(server.Host());
  std::string answer;
  QueryFwUpgradeSupportList(answer);
  EXPECT_EQ(answer, "QUARN SSD Zelvane");
}

TEST_F(Queries, LongAnswerKeepsItsLastBlockAndNeverGrowsPastTheCap) {
  std::string body = std::string(8191, 'a') + "QUARN SSD Zelvane,tail";
  test::RawServer server("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body);
  PointAt(server.Host());
  std::string answer = "before";
  QueryFwUpgradeSupportList(answer);
  EXPECT_EQ(answer, "QUARN SSD Zelvane,tail");

  // An endless answer ends at the cap, keeping a block of it.
  test::RawServer flood("HTTP/1.1 200 OK\r\n\r\n" + std::string(3 * kMaxQueryAnswerBytes, 'z'));
  PointAt(flood.Host());
  QueryFwUpgradeSupportList(answer);
  EXPECT_LE(answer.size(), kQueryBlockBytes);
  EXPECT_EQ(answer.find_first_not_of('z'), std::string::npos);
}

TEST_F(Queries, UnreachableOrSilentServerLeavesTheAnswerWithoutTheMarker) {
  SetIdleTimeoutMs(1000);
  test::RawServer silent("", /*silent=*/true);
  PointAt(silent.Host());
  std::string answer;
  QueryFwUpgradeSupportList(answer);
  EXPECT_EQ(answer, "");
  PointAt("127.0.0.1:1");
  QueryFwUpgradeSupportList(answer);
  EXPECT_EQ(answer, "");
}

TEST_F(Queries, FullPackageAnswers) {
  updateserver::Manifest manifest;
  manifest.fullPackages.push_back({"KD785 1TB", "http://downloads.example/kd785 full{1}.zip"});
  test::RunningUpdateServer server(manifest);
  PointAt(server.Host());
  std::string answer;
  const std::string ask = "http://" + server.Host() +
                          "/ssd_fw_ver.php?OS_Language=en-US&SSD_CTL_Solution=SF-2000&SSD_Config_ID=website"
                          "&SSD_Inside_Firmware=A&SSD_Serial_Number=S&SSD_Model_Number=";
  EXPECT_EQ(QueryFullPackageFirmware(ask + "KD785 1TB&SSD_Capacity=1000", answer), 0);
  EXPECT_EQ(answer, "QUARN SSD Zelvane,http://downloads.example/kd785 full{1}.zip");
  EXPECT_TRUE(Logged("Download full package firmware from " + answer));
  EXPECT_EQ(QueryFullPackageFirmware(ask + "OTHER&SSD_Capacity=1", answer), 4);
  EXPECT_EQ(answer, "QUARN SSD Zelvane,none");
  EXPECT_TRUE(Logged("There is no full package firmware for this model!"));
  EXPECT_EQ(server.Server().Targets()[0].substr(0, 15), "/ssd_fw_ver.php");
}

TEST_F(Queries, OpenedAddressesAreEscaped) {
  OpenFullPackageUrl("http://h/a b{c}.zip");
  EXPECT_EQ(DownloadLatestZelvane("http://h/new setup.exe"), 1);
  std::vector<std::string> opened = Machine().OpenedAddresses();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], "http://h/a%20b%7Bc%7D.zip");
  EXPECT_EQ(opened[1], "http://h/new%20setup.exe");
}

}  // namespace
}  // namespace zel
