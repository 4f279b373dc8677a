// Generated answers and server replies, thousands of them, against the
// download: whatever the server sends, the result is one of the download
// codes, success means the file is there with exactly the announced size
// and CRC, and nothing but plain files of refused-or-accepted names ever
// appears in the download folder (no temporary file stays, no folder is
// made, nothing lands outside).
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <random>
#include <cstdio>
#include <set>

#include "update_server_fixture.h"

namespace zel {
namespace {

std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  ::closedir(d);
  return names;
}

class HostileAnswers : public test::UpdateTest {};

TEST_F(HostileAnswers, GeneratedAnswersNeverSucceedWronglyOrWriteElsewhere) {
  SetIdleTimeoutMs(200);
  SetLogLevel(0);  // thousands of downloads: the trace log would only slow them down
  std::mt19937 rng(20261211);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  const std::string folder = InDir("dl");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  test::RawServer server("");
  const std::vector<std::string> names = {"f.bin", "", ".", "..", "a\\b", "C:x", std::string(256, 'n'),
                                          "ok.vic", "x,y", "sp ace", "..."};
  const std::vector<std::string> bodies = {"123456789", "", std::string(9000, 'q'), "\r\n\r\n",
                                           std::string("\0\1\2", 3)};
  std::set<std::string> accepted, named;
  int counts[5] = {};
  const int kRuns = 2000;
  for (int run = 0; run < kRuns; ++run) {
    std::string body = bodies[pick(bodies.size())];
    if (pick(3) == 0) body += std::string(pick(5000), static_cast<char>(pick(256)));
    std::string reply;
    switch (pick(4)) {
      case 0: reply = "HTTP/1.1 200 OK\r\n\r\n" + body; break;
      case 1: reply = "HTTP/1.1 200 OK\r\nX: y\r\n" + body; break;  // no blank line
      case 2: reply = body; break;
      default: reply = "HTTP/1.1 404 Not Found\r\nContent-Length: 3\r\n\r\nno!"; break;
    }
    server.SetReply(reply);
    const std::vector<uint8_t> bytes(body.begin(), body.end());
    const int32_t crc = static_cast<int32_t>(Crc32(bytes.data(), bytes.size()));
    const std::string sizeTexts[] = {std::to_string(body.size()), "0" + std::to_string(body.size()),
                                     "-1", "", "99999999999999999999"};
    const std::string crcTexts[] = {std::to_string(crc), std::to_string(static_cast<uint32_t>(crc)), "0", "x"};
    const std::string& name = names[pick(names.size())];
    const std::string crcText = crcTexts[pick(4)];
    const std::string sizeText = sizeTexts[pick(5)];
    std::string answer = "QUARN SSD Zelvane," + std::to_string(run) + ",R," + crcText + "," + sizeText +
                         "," + (pick(10) ? "http://" : "htp://") + server.Host() +
                         (pick(2) ? "/d/" : "/") + name;
    const int32_t result = DownloadRemoteFile(answer, folder);
    ASSERT_TRUE(result == 3 || result == 4 || result == 100 || result == 101 || result == 102)
        << result << " for " << answer;
    counts[result == 3 ? 0 : result == 4 ? 1 : result == 100 ? 2 : result == 101 ? 3 : 4]++;
    if (result == 3) {
      // Accepted: the file is there with exactly the size and CRC the answer announced.
      const std::string fileName = SplitDownloadAddress(answer.substr(answer.find("http"))).fileName;
      ASSERT_TRUE(IsSafeDownloadFileName(fileName)) << answer;
      const std::string stored = test::ReadFile(folder + "/" + fileName);
      std::vector<uint8_t> got(stored.begin(), stored.end());
      EXPECT_EQ(std::to_string(got.size()), sizeText) << answer;
      EXPECT_EQ(std::to_string(static_cast<int32_t>(Crc32(got.data(), got.size()))), crcText) << answer;
      accepted.insert(fileName);
    }
    // Only plain files of names the rule allows, each the file of an
    // answer: never a temporary file left behind.
    const size_t http = answer.find("http");
    if (http != std::string::npos) named.insert(SplitDownloadAddress(answer.substr(http)).fileName);
    for (const std::string& entry : Entries(folder)) {
      EXPECT_TRUE(IsSafeDownloadFileName(entry)) << entry;
      EXPECT_TRUE(named.count(entry)) << entry;
      struct stat st {};
      ASSERT_EQ(::stat((folder + "/" + entry).c_str(), &st), 0);
      EXPECT_TRUE(S_ISREG(st.st_mode)) << entry;
    }
  }
  // The test folder holds only the download folder and the run's own files.
  for (const std::string& entry : Entries(Dir()))
    EXPECT_TRUE(entry == "dl" || entry.find(".log") != std::string::npos) << entry;
  std::printf("generated answers: %d; accepted %d, no address %d, unreachable %d, bad file %d, refused name %d\n",
              kRuns, counts[0], counts[1], counts[2], counts[3], counts[4]);
  EXPECT_GT(counts[0], 0);
  EXPECT_GT(counts[3], 0);
  EXPECT_GT(counts[4], 0);
}

}  // namespace
}  // namespace zel
