// The update-server protocol: the four queries (models that can be updated
// online, the latest program version, the firmware offered for a drive, full
// firmware packages), the report of a firmware update's outcome, and the
// download of a file an answer names, checked against the size and CRC-32
// the answer announces.
//
// Queries are HTTP GET requests through the seam's HTTP call; downloads are
// our own HTTP/1.1 request over a TCP connection of the seam. Everything is
// synchronous and reports through return values and the trace log.
//
// What an answer may do is bounded: a query reads at most
// kMaxQueryAnswerBytes, a download stops at the announced size or at
// kMaxDownloadBytes, nothing waits more than kIdleTimeoutMs for a byte, and a
// file name from an answer is used only when it names a plain file in the
// download folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/drive_record.h"

namespace zel {

// The text every valid answer holds.
inline constexpr const char* kProductMarker = "QUARN SSD Zelvane";
// The user agent of the queries.
inline constexpr const char* kUpdateUserAgent = "QUARN SSD Zelvane";

// Where the update server is: the environment variable, else the product
// key's value, else the default host. Each may carry ":port".
inline constexpr const char* kUpdateServerEnvironment = "ZELVANE_UPDATE_SERVER";
inline constexpr const char* kUpdateServerValue = "UpdateServerHost";
inline constexpr const char* kDefaultUpdateServerHost = "update.ssdzelvane.example";

// Limits of what the server may send.
inline constexpr size_t kQueryBlockBytes = 8191;
inline constexpr size_t kMaxQueryAnswerBytes = 64 * 1024;
inline constexpr uint64_t kMaxDownloadBytes = 64ull * 1024 * 1024;
inline constexpr uint32_t kIdleTimeoutMs = 30000;
inline constexpr size_t kMaxFileNameBytes = 255;

// Download result codes.
inline constexpr int32_t kDownloadOk = 3;
inline constexpr int32_t kDownloadNoAddress = 4;
inline constexpr int32_t kDownloadUnreachable = 100;
inline constexpr int32_t kDownloadBadFile = 101;
inline constexpr int32_t kDownloadLocalFile = 102;

// How long a query or download waits for a byte (kIdleTimeoutMs unless a
// test shortened it).
uint32_t IdleTimeoutMs();
void SetIdleTimeoutMs(uint32_t milliseconds);

// The update server's host (with its port, if one was named).
std::string UpdateServerHost();

// The language tag sent with the queries: "zh-TW" for 1028, "zh-CN" for
// 2052, "en-US" for every other language.
std::string LanguageTag(uint16_t language);

// The standard CRC-32 (reflected 0xEDB88320, initial 0xFFFFFFFF, complemented).
uint32_t Crc32(const uint8_t* bytes, size_t length);

// Replaces space < > # { } | [ ] by their %XX escapes.
std::string EscapeUrl(const std::string& text);

// True when `name` may be created in the download folder: not empty, not
// "." or "..", without "/", "\", ":" or NUL, at most kMaxFileNameBytes bytes.
bool IsSafeDownloadFileName(const std::string& name);

// The parts of a download address "http://HOST/PATH" as the download takes
// them: the host up to the first "/" after "//", the path from that "/" to
// the end, the file name after the last "/" (cut at a following ",").
struct DownloadAddress {
  std::string host;
  std::string path;
  std::string fileName;
};
DownloadAddress SplitDownloadAddress(const std::string& address);

// One GET of `target` from `host`; `answer` receives the text of the last
// block read (each block of at most 8,191 bytes replaces the one before, up to
// kMaxQueryAnswerBytes in all). A failed request leaves `answer` as it was
// when nothing arrived.
void HttpOperation(const std::string& host, const std::string& target, std::string& answer);

int32_t QueryFwUpgradeSupportList(std::string& answer);
int32_t QueryLatestZelvane(uint16_t language, std::string& answer);
// The controller solution and model number rules of the firmware update.
std::string ModelNumberOf(const std::string& modelName, size_t maxChars);
std::string ControllerSolutionOf(const std::string& modelNumber);
int32_t QueryLatestFirmware(const PhysicalDriveRecord& drive, const std::string& configId,
                            uint16_t language, std::string& answer);
// 0 when the answer names a package ("http"), 4 otherwise.
int32_t QueryFullPackageFirmware(const std::string& address, std::string& answer);
// Reports an update's outcome: 1 success, 2 failure.
int32_t UpdateFwVersionRecord(const std::string& recordId, int32_t result);

// Opens an address in the browser after escaping it; the address is logged.
int32_t DownloadLatestZelvane(const std::string& address);
void OpenFullPackageUrl(const std::string& address);

// Where downloads land: a folder (empty for the current directory). A path
// is `folder/name`.
std::string DownloadPath(const std::string& folder, const std::string& fileName);

// Downloads the file an answer names into `folder` and checks its size and
// CRC against the answer. Returns a download result code.
int32_t DownloadRemoteFile(const std::string& answer, const std::string& folder = "");

// The raw transfer: sends `request` to `host` and stores the body in
// `folder`/`fileName` once it has arrived whole. `announcedSize` (0 when
// unknown) bounds what is accepted.
int32_t ReceiveRemoteFile(const std::string& host, const std::string& request,
                          const std::string& fileName, const std::string& folder,
                          uint64_t announcedSize, uint64_t* size, uint32_t* crc);

}  // namespace zel

namespace zel {

// The program's own version check: whether the server answered, and when it
// names a version the running program does not hold, that version and its
// download address.
enum class ProgramVersionState { ServerFailed, Latest, Outdated };
struct ProgramVersionCheck {
  ProgramVersionState State = ProgramVersionState::ServerFailed;
  std::string Answer;
  std::string LatestVersion;  // the second field after "QUARN SSD Zelvane,"
  std::string Address;        // the answer from its first "http" (empty when none)
};
ProgramVersionCheck CheckLatestZelvane(uint16_t language, const std::string& toolVersion);

}  // namespace zel
