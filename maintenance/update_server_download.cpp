// The update-server client's downloads: our own HTTP/1.1 request over a TCP
// connection, the header cut off, the body stored in the download folder
// and checked against the size and CRC the answer announced.
//
// The body first goes to a temporary file beside the target; the target
// is written only once the whole body has arrived, so an interrupted or
// oversized transfer never replaces a file that was there.
#include <cinttypes>
#include <new>
#include <vector>

#include "log/log.h"
#include "maintenance/update_server.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr const char* kCreateConnection = "UnderlyingUtil::CreateConnection";
constexpr size_t kReceiveBlock = 8192;

platform::SOCKET CreateConnection(const std::string& host) {
  LogEnter(kCreateConnection);
  platform::SOCKET socket = platform::INVALID_SOCKET;
  switch (platform::Current().Net().Connect(host, 80, IdleTimeoutMs(), &socket)) {
    case platform::ConnectResult::NotResolved:
      LogTrace("gethostbyname() NULL.");
      return platform::INVALID_SOCKET;
    case platform::ConnectResult::NotConnected:
      LogTrace("Could not connect.");
      return platform::INVALID_SOCKET;
    case platform::ConnectResult::Connected:
      break;
  }
  LogTraceF("%s Connected.", host.c_str());
  LogExit(kCreateConnection);
  return socket;
}

// "~NAME.part", or "~NAME.N.part" when that one is taken.
std::string TempNameFor(const std::string& fileName, int attempt) {
  std::string name = "~" + fileName.substr(0, 200);
  if (attempt > 0) name += "." + std::to_string(attempt);
  return name + ".part";
}

bool WriteAll(platform::Files& files, platform::HANDLE file, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    uint32_t written = 0;
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(size - done, 1u << 20));
    if (!files.WriteFile(file, data + done, chunk, &written) || written == 0) return false;
    done += written;
  }
  return true;
}

// Parses a plain decimal number; 0 when the text is not one.
uint64_t PlainDecimal(const std::string& text) {
  if (text.empty() || text.size() > 19) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

int32_t ReceiveRemoteFile(const std::string& host, const std::string& request,
                          const std::string& fileName, const std::string& folder,
                          uint64_t announcedSize, uint64_t* size, uint32_t* crc) {
  *size = 0;
  *crc = 0;
  if (!IsSafeDownloadFileName(fileName)) {
    LogTraceF("Refused file name from the server (%s)", fileName.c_str());
    return kDownloadLocalFile;
  }
  LogTraceF("download file: %s", request.c_str());
  platform::Net& net = platform::Current().Net();
  platform::SOCKET socket = CreateConnection(host);
  if (socket == platform::INVALID_SOCKET) return kDownloadUnreachable;
  if (net.Send(socket, reinterpret_cast<const uint8_t*>(request.data()), request.size()) < 0)
    LogTrace("send() error");

  platform::Files& files = platform::Current().Files();
  const std::string target = DownloadPath(folder, fileName);
  // The temporary file is always a new one: a file of that name already in
  // the folder is someone's, and stays as it is.
  std::string temp;
  platform::HANDLE out = platform::INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 10 && out == platform::INVALID_HANDLE_VALUE; ++attempt) {
    temp = DownloadPath(folder, TempNameFor(fileName, attempt));
    out = files.CreateFileW(temp, platform::GENERIC_WRITE, 0, platform::CREATE_NEW,
                            platform::FILE_ATTRIBUTE_NORMAL);
    if (out == platform::INVALID_HANDLE_VALUE && platform::GetLastError() != platform::ERROR_FILE_EXISTS)
      break;
  }
  if (out == platform::INVALID_HANDLE_VALUE) {
    LogTraceF("Fail to open file (%s) for writing:%d!", target.c_str(),
              static_cast<int>(platform::GetLastError()));
    net.CloseSocket(socket);
    return kDownloadLocalFile;
  }
  const uint64_t limit =
      announcedSize > 0 && announcedSize < kMaxDownloadBytes ? announcedSize : kMaxDownloadBytes;
  auto abandon = [&](int32_t result) {
    files.CloseHandle(out);
    files.DeleteFileW(temp);
    net.CloseSocket(socket);
    return result;
  };
  std::vector<uint8_t> block(kReceiveBlock);
  uint64_t total = 0;
  bool headerSeen = false;
  for (;;) {
    int64_t n = net.Receive(socket, block.data(), block.size(), IdleTimeoutMs());
    if (n == platform::kReceiveTimedOut) {
      LogTraceF("recv() timed out after %u ms", IdleTimeoutMs());
      return abandon(kDownloadUnreachable);
    }
    if (n < 0) {
      LogTrace("recv() error");
      return abandon(kDownloadUnreachable);
    }
    if (n == 0) break;
    const uint8_t* data = block.data();
    size_t length = static_cast<size_t>(n);
    if (!headerSeen) {
      std::string_view text(reinterpret_cast<const char*>(data), length);
      size_t end = text.find("\r\n\r\n");
      if (end != std::string_view::npos) {
        headerSeen = true;
        data += end + 4;
        length -= end + 4;
      }
    }
    if (total + length > limit) {
      LogTraceF("Download larger than %" PRIu64 " bytes, stopped", limit);
      return abandon(kDownloadBadFile);
    }
    if (length > 0 && !WriteAll(files, out, data, length))
      LogTraceF("ERROR writing in file, error code:%d!", static_cast<int>(platform::GetLastError()));
    total += length;
  }
  files.CloseHandle(out);
  net.CloseSocket(socket);

  platform::HANDLE in = files.CreateFileW(temp, platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                          platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
  if (in == platform::INVALID_HANDLE_VALUE) {
    LogTraceF("Fail to open file (%s) for reading, error code:%d!", target.c_str(),
              static_cast<int>(platform::GetLastError()));
    files.DeleteFileW(temp);
    return kDownloadLocalFile;
  }
  std::vector<uint8_t> content;
  try {
    content.resize(total);
  } catch (const std::bad_alloc&) {
    LogTraceF("Fail to allocate buffer for reading, error code:%d!", 8);
    files.CloseHandle(in);
    files.DeleteFileW(temp);
    return kDownloadLocalFile;
  }
  size_t got = 0;
  while (got < content.size()) {
    uint32_t read = 0;
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(content.size() - got, 1u << 20));
    if (!files.ReadFile(in, content.data() + got, chunk, &read) || read == 0) break;
    got += read;
  }
  files.CloseHandle(in);
  files.DeleteFileW(temp);
  content.resize(got);

  // The whole body is here: it becomes the file of that name.
  if (total > 0) {
    platform::HANDLE final = files.CreateFileW(target, platform::GENERIC_WRITE, 0,
                                               platform::CREATE_ALWAYS,
                                               platform::FILE_ATTRIBUTE_NORMAL);
    if (final == platform::INVALID_HANDLE_VALUE) {
      LogTraceF("Fail to open file (%s) for writing:%d!", target.c_str(),
                static_cast<int>(platform::GetLastError()));
      return kDownloadLocalFile;
    }
    bool written = WriteAll(files, final, content.data(), content.size());
    files.CloseHandle(final);
    if (!written) {
      LogTraceF("ERROR writing in file, error code:%d!", static_cast<int>(platform::GetLastError()));
      return kDownloadLocalFile;
    }
  }
  *size = got;
  *crc = Crc32(content.data(), content.size());
  return kDownloadOk;
}

int32_t DownloadRemoteFile(const std::string& answer, const std::string& folder) {
  if (answer.find("http://") == std::string::npos) {
    LogTrace("File not found in server");
    return kDownloadNoAddress;
  }
  const size_t at = answer.find("http");
  const std::string address = answer.substr(at);
  LogTraceF("Download Firmware URL:%s", address.c_str());
  platform::Sys().Sleep(100);
  const DownloadAddress parts = SplitDownloadAddress(address);

  // The fields before the address: ..., CRC, size, address.
  const size_t colon = answer.find("http:");
  std::string before = answer.substr(0, colon > 0 ? colon - 1 : 0);
  std::string sizeText, crcText;
  size_t comma = before.rfind(',');
  sizeText = comma == std::string::npos ? before : before.substr(comma + 1);
  if (comma != std::string::npos) {
    std::string rest = before.substr(0, comma);
    size_t previous = rest.rfind(',');
    crcText = previous == std::string::npos ? rest : rest.substr(previous + 1);
  }
  LogTraceF("File size/CRC:%s/%s", sizeText.c_str(), crcText.c_str());

  const std::string request = Format("GET %s HTTP/1.1\r\nHost: %s\r\nConnection: Close\r\n\r\n",
                                               parts.path.c_str(), parts.host.c_str());
  uint64_t size = 0;
  uint32_t crc = 0;
  int32_t result = ReceiveRemoteFile(parts.host, request, parts.fileName, folder,
                                     PlainDecimal(sizeText), &size, &crc);
  if (result != kDownloadOk) {
    LogTraceF("DownloadRemoteFile() fail: %d)", result);
    return result;
  }
  if (size == 0) {
    LogTraceF("Download File Size <= 0 (%s)", sizeText.c_str());
    return kDownloadBadFile;
  }
  const std::string sizeSeen = Format("%d", static_cast<int32_t>(size));
  if (sizeText != sizeSeen) {
    LogTraceF("Download File Size error(%s:%s)", sizeText.c_str(), sizeSeen.c_str());
    return kDownloadBadFile;
  }
  const std::string crcSeen = Format("%d", static_cast<int32_t>(crc));
  if (crcText != crcSeen) {
    LogTraceF("Download File CRC error (%s:%s)", crcText.c_str(), crcSeen.c_str());
    return kDownloadBadFile;
  }
  LogTrace("Download File Successfully");
  return kDownloadOk;
}

}  // namespace zel
