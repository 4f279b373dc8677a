// The update-server client's queries: HttpOperation and the requests built
// on it, and opening addresses in the browser.
#include "maintenance/update_server.h"

#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr const char* kHttpOperation = "UnderlyingUtil::HttpOperation";

// A block as the text it holds: up to its first NUL, each byte one character.
std::string BlockText(const uint8_t* data, size_t size) {
  std::string_view raw(reinterpret_cast<const char*>(data), size);
  size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  return Latin1ToUtf8(raw);
}

}  // namespace

void HttpOperation(const std::string& host, const std::string& target, std::string& answer) {
  LogEnter(kHttpOperation);
  LogTrace(target);
  platform::HttpGetRequest request;
  request.host = host;
  request.defaultPort = 80;
  request.target = target;
  request.userAgent = kUpdateUserAgent;
  request.idleTimeoutMs = IdleTimeoutMs();
  request.maxBytes = kMaxQueryAnswerBytes;
  platform::Current().Net().HttpGet(request, kQueryBlockBytes,
                                    [&answer](const uint8_t* data, size_t size) {
                                      answer = BlockText(data, size);
                                      LogTrace(answer);
                                      return true;
                                    });
  LogExit(kHttpOperation);
}

int32_t QueryFwUpgradeSupportList(std::string& answer) {
  HttpOperation(UpdateServerHost(), "/ssd_ver.php?action=list", answer);
  return 1;
}

int32_t QueryLatestZelvane(uint16_t language, std::string& answer) {
  HttpOperation(UpdateServerHost(), "/ssd_ver.php?OS_Language=" + LanguageTag(language), answer);
  return 1;
}

int32_t QueryLatestFirmware(const PhysicalDriveRecord& drive, const std::string& configId,
                            uint16_t language, std::string& answer) {
  const std::string modelNumber = ModelNumberOf(drive.ModelName, 37);
  std::string target = Format(
      "/ssd_fw_ver.php?OS_Language=%s&SSD_CTL_Solution=%s&SSD_Config_ID=%s&SSD_Inside_Firmware=%s"
      "&SSD_Serial_Number=0123456789&SSD_Model_Number=%s&SSD_Capacity=%d",
      LanguageTag(language).c_str(), ControllerSolutionOf(modelNumber).c_str(), configId.c_str(),
      drive.FirmwareRevision.c_str(), modelNumber.c_str(),
      static_cast<int32_t>(static_cast<uint32_t>(drive.DiskSizeGB)));
  HttpOperation(UpdateServerHost(), target, answer);
  return 0;
}

int32_t QueryFullPackageFirmware(const std::string& address, std::string& answer) {
  LogTraceF("QueryFullPackageFirmware(): %s", address.c_str());
  size_t start = address.find("//");
  start = start == std::string::npos ? 0 : start + 2;
  size_t slash = address.find('/', start);
  std::string target = slash == std::string::npos ? "/" : address.substr(slash);
  HttpOperation(UpdateServerHost(), target, answer);
  if (Contains(answer, "http")) {
    LogTraceF("Download full package firmware from %s", answer.c_str());
    return 0;
  }
  LogTraceF("There is no full package firmware for this model!\n%s", answer.c_str());
  return 4;
}

int32_t UpdateFwVersionRecord(const std::string& recordId, int32_t result) {
  std::string answer;
  HttpOperation(UpdateServerHost(),
                Format("/ssd_fw_ver_update.php?Record_ID=%s&Download_Result=%d",
                                 recordId.c_str(), result),
                answer);
  return 0;
}

int32_t DownloadLatestZelvane(const std::string& address) {
  const std::string escaped = EscapeUrl(address);
  platform::Current().Net().OpenAddress(escaped);
  LogTrace(escaped);
  return 1;
}

void OpenFullPackageUrl(const std::string& address) {
  const std::string escaped = EscapeUrl(address);
  platform::Current().Net().OpenAddress(escaped);
  LogTrace(escaped);
}

}  // namespace zel

namespace zel {

ProgramVersionCheck CheckLatestZelvane(uint16_t language, const std::string& toolVersion) {
  ProgramVersionCheck check;
  QueryLatestZelvane(language, check.Answer);
  const std::string& answer = check.Answer;
  if (!Contains(answer, kProductMarker)) return check;
  if (Contains(answer, toolVersion)) {
    check.State = ProgramVersionState::Latest;
    return check;
  }
  check.State = ProgramVersionState::Outdated;
  size_t http = answer.find("http");
  if (http != std::string::npos) check.Address = answer.substr(http);
  const std::string lead = std::string(kProductMarker) + ",";
  size_t at = answer.find(lead);
  if (at != std::string::npos) {
    size_t first = answer.find(',', at + lead.size());
    if (first != std::string::npos) {
      size_t second = answer.find(',', first + 1);
      check.LatestVersion = answer.substr(first + 1, second == std::string::npos
                                                         ? std::string::npos
                                                         : second - first - 1);
    }
  }
  return check;
}

}  // namespace zel
