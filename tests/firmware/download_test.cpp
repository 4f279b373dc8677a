// Downloads named by an answer: the request text, the header cut off, the
// size and CRC checks with their exact text comparison, and the hostile
// answers (bad file names, oversized or endless transfers, a header without
// its blank line) that must never leave a wrong file or report success.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "update_server_fixture.h"

namespace zel {
namespace {

using test::RawServer;

std::string Http200(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

class Download : public test::UpdateTest {};

TEST_F(Download, NineBytesWithTheirSizeAndSignedCrcArriveAndPass) {
  RawServer server(Http200("123456789"));
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/d/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer), 3);
  EXPECT_EQ(test::ReadFile(InDir("f.bin")), "123456789");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /d/f.bin HTTP/1.1\r\nHost: " + server.Host() + "\r\nConnection: Close\r\n\r\n");
  EXPECT_TRUE(Logged("Download Firmware URL:http://" + server.Host() + "/d/f.bin"));
  EXPECT_TRUE(Logged("File size/CRC:9/-873187034"));
  EXPECT_NE(TraceLog().find("download file: GET /d/f.bin HTTP/1.1\r"), std::string::npos);
  EXPECT_TRUE(Logged(server.Host() + " Connected."));
  EXPECT_TRUE(Logged("Download File Successfully"));
  EXPECT_FALSE(Exists("~f.bin.part"));
}

TEST_F(Download, AnnouncedSizeAndCrcMustMatchAsPrintedText) {
  struct Case {
    const char* crc;
    const char* size;
    const char* line;
  } cases[] = {
      {"-873187034", "009", "Download File Size error(009:9)"},
      {"-873187034", "+9", "Download File Size error(+9:9)"},
      {"3421780262", "9", "Download File CRC error (3421780262:-873187034)"},
      {"-873187035", "9", "Download File CRC error (-873187035:-873187034)"},
  };
  RawServer server(Http200("123456789"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::string answer = std::string("QUARN SSD Zelvane,77,2.1,") + c.crc + "," + c.size +
                         ",http://" + server.Host() + "/f.bin";
    EXPECT_EQ(DownloadRemoteFile(answer), 101);
    EXPECT_TRUE(Logged(c.line));
    // The file that arrived whole stays, as a failed check leaves it.
    EXPECT_EQ(test::ReadFile(InDir("f.bin")), "123456789");
  }
}

TEST_F(Download, AnswerWithoutAddressSendsNothing) {
  RawServer server(Http200("123456789"));
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,77,2.1,-873187034,9,ftp://" + server.Host() + "/f.bin"), 4);
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,77,2.1,-873187034,9,HTTP://x/f.bin"), 4);
  EXPECT_TRUE(Logged("File not found in server"));
  EXPECT_TRUE(server.Requests().empty());
}

TEST_F(Download, HeaderWithoutBlankLineIsStoredAndFailsTheSizeCheck) {
  // The first block carries no "\r\n\r\n": it is written whole.
  RawServer server("HTTP/1.1 200 OK\r\nX: y\r\n123456789");
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer), 101);
  EXPECT_FALSE(Exists("f.bin"));  // more than announced: never becomes the file
}

TEST_F(Download, EmptyBodyIsRefused) {
  RawServer server(Http200(""));
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,1,2,0,0,http://" + server.Host() + "/f.bin"), 101);
  EXPECT_TRUE(Logged("Download File Size <= 0 (0)"));
}

TEST_F(Download, HostileFileNamesAreRefusedBeforeAnyTraffic) {
  RawServer server(Http200("123456789"));
  const std::string longName(256, 'a');
  const std::string names[] = {"", ".", "..", "a\\b", "C:x", longName};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/d/" + name;
    EXPECT_EQ(DownloadRemoteFile(answer), 102);
    EXPECT_TRUE(Logged("Refused file name from the server (" + name + ")"));
  }
  // A name of 255 bytes is fine.
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/" +
                       std::string(255, 'b');
  EXPECT_EQ(DownloadRemoteFile(answer), 3);
  EXPECT_EQ(server.Requests().size(), 1u);
  // "/../x" ends in the plain name "x": the path goes to the server, the file stays here.
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,7,2,-873187034,9,http://" + server.Host() +
                               "/../../x"),
            3);
  EXPECT_TRUE(Exists("x"));
}

TEST_F(Download, NulInsideTheNameIsRefused) {
  std::string answer("QUARN SSD Zelvane,77,2.1,1,9,http://127.0.0.1:1/a\0b", 50);
  EXPECT_EQ(DownloadRemoteFile(answer), 102);
}

TEST_F(Download, OversizedTransferStopsAndKeepsTheOldFile) {
  test::WriteFile(InDir("f.bin"), "old");
  RawServer server(Http200(std::string(20000, 'x')));
  std::string answer = "QUARN SSD Zelvane,77,2.1,5,9,http://" + server.Host() + "/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer), 101);
  EXPECT_TRUE(Logged("Download larger than 9 bytes, stopped"));
  EXPECT_EQ(test::ReadFile(InDir("f.bin")), "old");
  EXPECT_FALSE(Exists("~f.bin.part"));
}

TEST_F(Download, TemporaryFileNeverTakesAnExistingFile) {
  test::WriteFile(InDir("~f.bin.part"), "mine");
  RawServer server(Http200("123456789"));
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer), 3);
  EXPECT_EQ(test::ReadFile(InDir("~f.bin.part")), "mine");
  EXPECT_EQ(test::ReadFile(InDir("f.bin")), "123456789");
  EXPECT_FALSE(Exists("~f.bin.1.part"));
}

TEST_F(Download, SilentServerTimesOutAsUnreachableAndKeepsTheOldFile) {
  SetIdleTimeoutMs(300);
  test::WriteFile(InDir("f.bin"), "old");
  RawServer server("", /*silent=*/true);
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer), 100);
  EXPECT_TRUE(Logged("recv() timed out after 300 ms"));
  EXPECT_TRUE(Logged("DownloadRemoteFile() fail: 100)"));
  EXPECT_EQ(test::ReadFile(InDir("f.bin")), "old");
}

TEST_F(Download, UnreachableOrUnknownHostsGive100) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t length = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  const std::string closed = "127.0.0.1:" + std::to_string(ntohs(sa.sin_port));  // bound, not listening
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,1,2,3,9,http://" + closed + "/f.bin"), 100);
  EXPECT_TRUE(Logged("Could not connect."));
  ::close(fd);
  EXPECT_EQ(DownloadRemoteFile("QUARN SSD Zelvane,1,2,3,9,http://no host/f.bin"), 100);
  EXPECT_TRUE(Logged("gethostbyname() NULL."));
  EXPECT_FALSE(Exists("f.bin"));
}

TEST_F(Download, DownloadFolderHoldsTheFile) {
  RawServer server(Http200("123456789"));
  const std::string folder = InDir("dl");
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  std::string answer = "QUARN SSD Zelvane,77,2.1,-873187034,9,http://" + server.Host() + "/f.bin";
  EXPECT_EQ(DownloadRemoteFile(answer, folder), 3);
  EXPECT_EQ(test::ReadFile(folder + "/f.bin"), "123456789");
  EXPECT_FALSE(Exists("f.bin"));
}

}  // namespace
}  // namespace zel
