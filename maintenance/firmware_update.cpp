// The firmware update's decisions: the online path (support list, program
// version, firmware offer, confirmation, download, DOWNLOAD MICROCODE and the
// report to the server), the full-package path and the manual path.
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "maintenance/firmware.h"
#include "maintenance/update_server.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {
namespace {

constexpr const char* kHandler = "CUtilityPage::OnBnClickedButtonUpdateFw";

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    fields.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

class Session {
 public:
  Session(const PhysicalDriveRecord& drive, const FirmwareUpdateOptions& options,
          FirmwareUpdateUi& ui)
      : drive_(drive), options_(options), ui_(ui) {}

  FirmwareUpdateOutcome Run();

 private:
  // A string shown with its event ID: "Event ID: nnn\n" before it, in the box and the log.
  void ShowWithEvent(int32_t id, int32_t event) {
    std::string text = Format("Event ID: %03d\n", event) + ui_.String(id);
    LogTrace(text);
    Finish(id, event, text);
  }
  // A string alone in its box; only the log carries the event ID.
  void ShowLoggedEvent(int32_t id, int32_t event) {
    std::string text = ui_.String(id);
    LogTraceF("Event ID: %03d\n%s", event, text.c_str());
    Finish(id, event, text);
  }
  void Show(int32_t id, const std::string& text) { Finish(id, -1, text); }
  void Finish(int32_t id, int32_t event, const std::string& text) {
    ui_.Message(text);
    out_.StringId = id;
    out_.EventId = event;
    out_.Message = text;
  }
  FirmwareUpdateOutcome End(FirmwareUpdateEnd end, bool logExit) {
    out_.End = end;
    if (logExit) LogExit(kHandler);
    return out_;
  }

  FirmwareUpdateOutcome FullPackage(const std::string& solution, const std::string& modelNumber);
  FirmwareUpdateOutcome Manual();

  PhysicalDriveRecord drive_;
  FirmwareUpdateOptions options_;
  FirmwareUpdateUi& ui_;
  FirmwareUpdateOutcome out_;
};

FirmwareUpdateOutcome Session::Run() {
  if (options_.RunningOperationCode != 0) {
    Show(247, ui_.String(247));
    return End(FirmwareUpdateEnd::Busy, false);
  }
  LogEnter(kHandler);
  Show(362, ui_.String(362));
  LogTraceF("Device File:%s", drive_.DevicePath.c_str());
  out_.FromRevision = drive_.FirmwareRevision;
  if (options_.UpgradeFwSwitch) return Manual();

  if (!Contains(drive_.ModelName, "QUARN")) {
    Show(357, ui_.String(357));
    return End(FirmwareUpdateEnd::NotOurs, true);
  }
  if (drive_.BusType == kBusNvme) {
    platform::Current().Net().OpenAddress(kProductPageAddress);
    return End(FirmwareUpdateEnd::ProductPage, false);
  }

  const std::string modelNumber = ModelNumberOf(drive_.ModelName, 39);
  const std::string solution = ControllerSolutionOf(modelNumber);
  std::string list;
  QueryFwUpgradeSupportList(list);
  LogTraceF("Support list:%s", list.c_str());
  if (!Contains(list, kProductMarker)) {
    ShowWithEvent(365, 100);
    return End(FirmwareUpdateEnd::ServerFailed, false);
  }
  if (!Contains(list, modelNumber)) return FullPackage(solution, modelNumber);

  platform::Sys().Sleep(100);
  const ProgramVersionCheck version = CheckLatestZelvane(options_.Language, options_.ToolVersion);
  if (version.State == ProgramVersionState::ServerFailed) {
    LogTraceF("QueryLatestZelvane():%s", version.Answer.c_str());
    ShowWithEvent(351, 1);
    return End(FirmwareUpdateEnd::ServerFailed, false);
  }
  if (version.State == ProgramVersionState::Outdated) {
    LogTraceF("Download Zelvane URL:%s", version.Address.c_str());
    LogTraceF("Download Zelvane cmd:%s", version.Address.c_str());
    if (!version.Address.empty()) DownloadLatestZelvane(version.Address);
    LogTraceF("Current Zelvane Version: %s", options_.ToolVersion.c_str());
    LogTraceF("The latest version: %s", version.LatestVersion.c_str());
    ShowWithEvent(348, 1);
    return End(FirmwareUpdateEnd::ProgramOutdated, false);
  }

  std::string configId;
  if (Contains(modelNumber, "KD765KK")) {
    configId = "02";
  } else if (!ReadConfigId(drive_.DevicePath, &configId)) {
    configId.clear();
  }
  std::string answer;
  QueryLatestFirmware(drive_, configId, options_.Language, answer);
  if (!Contains(answer, kProductMarker)) {
    ShowWithEvent(351, 0);
    return End(FirmwareUpdateEnd::ServerFailed, false);
  }
  std::vector<std::string> fields = Fields(answer);
  const std::string latest = fields.size() >= 4 ? fields[fields.size() - 4] : std::string();
  out_.ToRevision = latest;
  if (latest == drive_.FirmwareRevision) {
    ShowLoggedEvent(354, 201);
    return End(FirmwareUpdateEnd::AlreadyLatest, false);
  }
  if (answer.find("http://") == std::string::npos) {
    ShowLoggedEvent(352, 4);
    return End(FirmwareUpdateEnd::AlreadyLatest, false);
  }
  const std::string question = Format("Are you sure to upgrade firmware from %s to %s?",
                                                drive_.FirmwareRevision.c_str(), latest.c_str());
  if (!ui_.Confirm(question)) return End(FirmwareUpdateEnd::Declined, false);

  out_.DownloadResult = DownloadRemoteFile(answer, options_.DownloadFolder);
  if (out_.DownloadResult != kDownloadOk) {
    ShowWithEvent(355, out_.DownloadResult);
    return End(FirmwareUpdateEnd::DownloadFailed, false);
  }
  const std::string recordId = fields.size() > 1 ? fields[1] : std::string();
  const std::string fileName = SplitDownloadAddress(answer.substr(answer.find("http"))).fileName;
  LogTraceF("FileName: %s", fileName.c_str());
  out_.ImagePath = DownloadPath(options_.DownloadFolder, fileName);
  auto progress = [this](int32_t piece, uint64_t sent, uint64_t total) {
    ui_.Progress(piece, sent, total);
  };
  if (!DownloadMicrocode(out_.ImagePath, drive_.DevicePath, 0, kMicrocodeModeSaveWithOffsets,
                         kMicrocodeBlockCount, progress, &out_.Detail)) {
    UpdateFwVersionRecord(recordId, 2);
    ShowWithEvent(350, 300);
    return End(FirmwareUpdateEnd::DriveFailed, false);
  }
  UpdateFwVersionRecord(recordId, 1);
  LogTraceF("Upgrade Firmware Successfully! RecordId: %s", recordId.c_str());
  ShowLoggedEvent(349, 2);
  return End(FirmwareUpdateEnd::Updated, true);
}

FirmwareUpdateOutcome Session::FullPackage(const std::string& solution,
                                           const std::string& modelNumber) {
  const std::string address = Format(
      "http://%s/ssd_fw_ver.php?OS_Language=%s&SSD_CTL_Solution=%s&SSD_Config_ID=website"
      "&SSD_Inside_Firmware=%s&SSD_Serial_Number=%s&SSD_Model_Number=%s&SSD_Capacity=%d",
      UpdateServerHost().c_str(), LanguageTag(options_.Language).c_str(), solution.c_str(),
      drive_.FirmwareRevision.c_str(), drive_.SerialNumber.c_str(), modelNumber.c_str(),
      static_cast<int32_t>(static_cast<uint32_t>(drive_.DiskSizeGB)));
  LogTraceF("Check full pakage cmd:%s", address.c_str());
  std::string answer;
  if (QueryFullPackageFirmware(address, answer) == 4) {
    ShowLoggedEvent(359, 402);
    return End(FirmwareUpdateEnd::AlreadyLatest, true);
  }
  ShowLoggedEvent(358, 401);
  size_t http = answer.find("http://");
  if (http != std::string::npos) {
    OpenFullPackageUrl(answer.substr(http));
  } else {
    ShowWithEvent(351, 401);
  }
  return End(FirmwareUpdateEnd::FullPackage, true);
}

FirmwareUpdateOutcome Session::Manual() {
  std::string path;
  if (!ui_.ChooseImageFile(kFirmwareFileFilter, &path)) return End(FirmwareUpdateEnd::Declined, true);
  out_.ImagePath = path;
  auto progress = [this](int32_t piece, uint64_t sent, uint64_t total) {
    ui_.Progress(piece, sent, total);
  };
  if (!DownloadMicrocode(path, drive_.DevicePath, 0, kMicrocodeModeSaveWithOffsets,
                         kMicrocodeBlockCount, progress, &out_.Detail)) {
    Show(0, "Download firmware fail!");
    return End(FirmwareUpdateEnd::DriveFailed, true);
  }
  PhysicalDriveRecord fresh;
  fresh.PhysicalDriveIndex = drive_.PhysicalDriveIndex;
  fresh.DiskSizeGB = drive_.DiskSizeGB;
  fresh.DevicePath = drive_.DevicePath;
  ATACommand ata;
  bool reread = ata.GetPhysicalDriveIdentifySmart(drive_.PhysicalDriveIndex, drive_.DevicePath,
                                                  fresh) != 0;
  if (reread && fresh.FirmwareRevision != drive_.FirmwareRevision) {
    out_.Refreshed = true;
    out_.Fresh = fresh;
    out_.ToRevision = fresh.FirmwareRevision;
    Show(0, "Updagrade firmware is done.");
    return End(FirmwareUpdateEnd::Updated, true);
  }
  Show(0, "Updagrade firmware fail!");
  return End(FirmwareUpdateEnd::NotUpdated, true);
}

}  // namespace

FirmwareUpdateOutcome UpdateFirmware(const PhysicalDriveRecord& drive,
                                     const FirmwareUpdateOptions& options, FirmwareUpdateUi& ui) {
  Session session(drive, options, ui);
  return session.Run();
}

}  // namespace zel
