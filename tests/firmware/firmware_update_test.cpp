// The firmware update on the simulated machine against our update server:
// every ending of the online path with its message, event ID and log line,
// the DOWNLOAD MICROCODE pieces the drive received, the report back to the
// server, the full-package path and the manual path.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "device/ata_command.h"
#include "maintenance/firmware.h"
#include "platform/bytes.h"
#include "update_server_fixture.h"

namespace zel {
namespace {

// A user who answers as told and remembers what was shown.
class ScriptedUi final : public FirmwareUpdateUi {
 public:
  std::string String(int32_t id) override { return "S" + std::to_string(id); }
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Confirm(const std::string& text) override {
    questions.push_back(text);
    return yes;
  }
  bool ChooseImageFile(const std::string& filter, std::string* path) override {
    filters.push_back(filter);
    *path = file;
    return !file.empty();
  }
  void Progress(int32_t piece, uint64_t sent, uint64_t total) override {
    progress.push_back(std::to_string(piece) + ":" + std::to_string(sent) + "/" + std::to_string(total));
  }
  bool yes = true;
  std::string file;
  std::vector<std::string> messages, questions, filters, progress;
};

// One DOWNLOAD MICROCODE request as the drive received it.
struct Piece {
  uint8_t features, count, lbaLow, lbaMid, lbaHigh;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> Image(size_t size) {
  std::vector<uint8_t> image(size);
  for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(1 + i % 251);
  const char tag[] = "QUARNFW";
  std::copy(tag, tag + 7, image.begin());
  return image;
}

class FirmwareUpdate : public test::UpdateTest {
 protected:
  std::string MachineJson() const override {
    return R"({"drives": [
      {"index": 0, "model": "QUARN KD765KK 256GB", "firmware": "SV1.0A", "serial": "S0",
       "size": 256060514304,
       "microcode": {"firmware": "SV1.0B", "size": 98304, "contains": "QUARNFW"},
       "sct": {"configId": "XX", "busyReads": 0}},
      {"index": 1, "model": "QUARN SSD KD785 1TB", "firmware": "KD785A12", "serial": "S1",
       "size": 1024209543168, "sct": {"configId": "C7", "busyReads": 2},
       "microcode": {"firmware": "KD785A13", "size": 32768}},
      {"index": 2, "model": "OTHERCO SSD 860", "firmware": "RVT", "serial": "S2"},
      {"index": 3, "kind": "nvme", "model": "QUARN NVMe KN900 1TB", "firmware": "KN1", "scsiPort": 2}
    ]})";
  }

  void SetUp() override {
    test::UpdateTest::SetUp();
    ATACommand ata;
    ASSERT_EQ(ata.UpdatePhysicalDrivesInfo(table_), 4);
  }

  PhysicalDriveRecord Disk(int index) {
    for (const auto& r : table_)
      if (r.PhysicalDriveIndex == index) return r;
    ADD_FAILURE() << "no disk " << index;
    return {};
  }

  updateserver::Manifest Manifest(std::vector<uint8_t> image, const std::string& revision = "SV1.0B") {
    updateserver::Manifest m;
    m.supportList = {"KD765KK 256GB", "SSD KD785 1TB"};
    m.programVersion = "1.0.0";
    m.firmware.push_back({"KD765KK 256GB", "MRV9189", "02", {}, "77", revision, "SV10B.vic"});
    m.files["SV10B.vic"] = test::Served("SV10B.vic", std::move(image));
    return m;
  }

  FirmwareUpdateOutcome Run(const PhysicalDriveRecord& drive, ScriptedUi& ui,
                            FirmwareUpdateOptions options = {}) {
    if (options.ToolVersion.empty()) options.ToolVersion = "1.0.0";
    Machine().ClearRequestLog();
    return UpdateFirmware(drive, options, ui);
  }

  // The DOWNLOAD MICROCODE requests the drives received (command 0x92 in
  // byte 38 of the pass-through header, data from byte 44 in the buffered
  // form or in the pointed buffer of the direct one).
  std::vector<Piece> Pieces() {
    std::vector<Piece> out;
    for (const auto& r : Machine().RequestLog()) {
      if (r.in.size() < 40 || r.in[38] != 0x92) continue;
      Piece p{r.in[32], r.in[33], r.in[34], r.in[35], r.in[36], {}};
      if (r.in.size() > 44)
        p.data.assign(r.in.begin() + 44, r.in.end());
      else
        p.data = r.pointedIn;
      out.push_back(p);
    }
    return out;
  }
  // Requests that reached any drive at all.
  size_t DriveRequests() { return Machine().RequestLog().size(); }

  PhysicalDriveTable table_;
};

// The firmware query disk 0 of these tests sends, as the server sees it.
const std::string kDisk0FirmwareQuery =
    "/ssd_fw_ver.php?OS_Language=en-US&SSD_CTL_Solution=MRV9189&SSD_Config_ID=02&SSD_Inside_Firmware=SV1.0A"
    "&SSD_Serial_Number=0123456789&SSD_Model_Number=KD765KK%20256GB&SSD_Capacity=256";

TEST_F(FirmwareUpdate, OnlineUpdateSendsPiecesReportsAndLogs) {
  const std::vector<uint8_t> image = Image(70000);
  test::RunningUpdateServer server(Manifest(image));
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(0), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::Updated);
  EXPECT_EQ(out.StringId, 349);
  EXPECT_EQ(out.EventId, 2);
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"S362", "S349"}));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Are you sure to upgrade firmware from SV1.0A to SV1.0B?"}));
  EXPECT_EQ(ui.progress, (std::vector<std::string>{"1:32768/70000", "2:65536/70000", "3:70000/70000"}));

  std::vector<Piece> pieces = Pieces();
  ASSERT_EQ(pieces.size(), 3u);
  const uint8_t offsets[3][2] = {{0x00, 0x00}, {0x40, 0x00}, {0x80, 0x00}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(pieces[i].features, 0x03);
    EXPECT_EQ(pieces[i].count, 0x40);
    EXPECT_EQ(pieces[i].lbaLow, 0x00);
    EXPECT_EQ(pieces[i].lbaMid, offsets[i][0]);
    EXPECT_EQ(pieces[i].lbaHigh, offsets[i][1]);
    ASSERT_EQ(pieces[i].data.size(), 32768u);
  }
  // The third piece: 4,464 bytes of the file, then zeros.
  EXPECT_TRUE(std::equal(image.begin() + 65536, image.end(), pieces[2].data.begin()));
  EXPECT_TRUE(std::all_of(pieces[2].data.begin() + 4464, pieces[2].data.end(), [](uint8_t b) { return b == 0; }));

  EXPECT_EQ(server.Server().Reports(), (std::vector<std::string>{"Record_ID=77 Download_Result=1"}));
  // The KD765KK model sends the fixed config ID "02" and never asks the drive for one.
  const auto targets = server.Server().Targets();
  ASSERT_GE(targets.size(), 3u);
  EXPECT_NE(targets[2].find("SSD_CTL_Solution=MRV9189&SSD_Config_ID=02&SSD_Inside_Firmware=SV1.0A"), std::string::npos);
  EXPECT_FALSE(Logged("Config ID--0x58 0x58 0x00 0x00 0x00 0x00 0x00 0x00"));
  for (const char* line : {"Enter CUtilityPage::OnBnClickedButtonUpdateFw()", "FileName: SV10B.vic",
                           "0 DownloadMicrocode--read 32768 bytes", "2 DownloadMicrocode--read 4464 bytes",
                           "Upgrade Firmware Successfully! RecordId: 77", "Event ID: 002",
                           "Exit CUtilityPage::OnBnClickedButtonUpdateFw()"})
    EXPECT_TRUE(Logged(line)) << line;
  EXPECT_TRUE(Logged("Device File:" + Disk(0).DevicePath));
  EXPECT_EQ(test::ReadFile(InDir("SV10B.vic")).size(), 70000u);
}

TEST_F(FirmwareUpdate, ImageSizesAtThePieceBoundary) {
  struct Case {
    size_t size;
    size_t pieces;
  } cases[] = {{32768, 1}, {32769, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::vector<uint8_t> image = Image(c.size);
    test::WriteFile(InDir("img.vic"), std::string(image.begin(), image.end()));
    Machine().ClearRequestLog();
    EXPECT_EQ(DownloadMicrocode("img.vic", Disk(1).DevicePath, 0, 3, 64), 1u);
    std::vector<Piece> pieces = Pieces();
    ASSERT_EQ(pieces.size(), c.pieces);
    EXPECT_EQ(pieces[0].lbaMid, 0);
    if (c.pieces == 2) {
      EXPECT_EQ(pieces[1].lbaMid, 0x40);
      EXPECT_EQ(pieces[1].data[0], image[32768]);
      EXPECT_EQ(pieces[1].data[1], 0);
    }
  }
}

TEST_F(FirmwareUpdate, UnusableImagesSendNothing) {
  test::WriteFile(InDir("empty.vic"), "");
  EXPECT_EQ(DownloadMicrocode("empty.vic", Disk(1).DevicePath, 0, 3, 64), 0u);
  EXPECT_EQ(DownloadMicrocode("missing.vic", Disk(1).DevicePath, 0, 3, 64), 0u);
  EXPECT_TRUE(Logged("Open firmware file error:missing.vic"));
  EXPECT_TRUE(Pieces().empty());
}

TEST_F(FirmwareUpdate, DriveRefusingAPieceFailsAndReportsTwo) {
  // The image lacks the drive's tag: the drive refuses the piece that completes it.
  std::vector<uint8_t> image(70000, 0x11);
  test::RunningUpdateServer server(Manifest(image));
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(0), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::DriveFailed);
  EXPECT_EQ(ui.messages.back(), "Event ID: 300\nS350");
  EXPECT_EQ(out.Detail, "the drive aborted piece 2 (block offset 128): status 0x51, error 0x04");
  EXPECT_TRUE(Logged("Event ID: 300"));
  EXPECT_EQ(server.Server().Reports(), (std::vector<std::string>{"Record_ID=77 Download_Result=2"}));
  EXPECT_FALSE(Logged("Exit CUtilityPage::OnBnClickedButtonUpdateFw()"));
}

TEST_F(FirmwareUpdate, EndingsBeforeAnyDownload) {
  struct Case {
    const char* name;
    int disk;
    std::function<void(updateserver::Manifest&)> change;
    bool yes;
    FirmwareUpdateEnd end;
    std::string lastMessage;
    const char* logged;
  } cases[] = {
      {"not the maker's", 2, nullptr, true, FirmwareUpdateEnd::NotOurs, "S357", "Exit CUtilityPage::OnBnClickedButtonUpdateFw()"},
      {"support list without marker", 0,
       [](updateserver::Manifest& m) { m.answers["/ssd_ver.php?action=list"] = "KD765KK 256GB"; }, true,
       FirmwareUpdateEnd::ServerFailed, "Event ID: 100\nS365", "Support list:KD765KK 256GB"},
      {"program outdated", 0, [](updateserver::Manifest& m) { m.programVersion = "9.9.9"; }, true,
       FirmwareUpdateEnd::ProgramOutdated, "Event ID: 001\nS348", "The latest version: 9.9.9"},
      {"version answer without marker", 0,
       [](updateserver::Manifest& m) { m.answers["/ssd_ver.php?OS_Language=en-US"] = "down"; }, true,
       FirmwareUpdateEnd::ServerFailed, "Event ID: 001\nS351", "QueryLatestZelvane():down"},
      {"already latest", 0, [](updateserver::Manifest& m) { m.firmware.clear(); }, true,
       FirmwareUpdateEnd::AlreadyLatest, "S354", "Event ID: 201"},
      {"No at the confirmation", 0, nullptr, false, FirmwareUpdateEnd::Declined, "S362", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    updateserver::Manifest m = Manifest(Image(100));
    if (c.change) c.change(m);
    test::RunningUpdateServer server(m);
    PointAt(server.Host());
    ScriptedUi ui;
    ui.yes = c.yes;
    FirmwareUpdateOutcome out = Run(Disk(c.disk), ui);
    EXPECT_EQ(out.End, c.end);
    EXPECT_EQ(ui.messages.back(), c.lastMessage);
    if (c.logged) {
      EXPECT_TRUE(Logged(c.logged)) << c.logged;
    }
    EXPECT_TRUE(Pieces().empty());
    EXPECT_FALSE(Exists("SV10B.vic"));
    EXPECT_TRUE(server.Server().Reports().empty());
  }
}

TEST_F(FirmwareUpdate, FirmwareAnswerWithoutAddressIsTheLatest) {
  updateserver::Manifest m = Manifest(Image(100));
  m.answers[kDisk0FirmwareQuery] = "QUARN SSD Zelvane,77,SV1.0B,1,2,ftp://h/f.vic";
  test::RunningUpdateServer server(m);
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(0), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::AlreadyLatest);
  EXPECT_EQ(out.StringId, 352);
  EXPECT_EQ(out.EventId, 4);
  EXPECT_TRUE(ui.questions.empty());
}

TEST_F(FirmwareUpdate, FailedDownloadShowsItsResultAsEventId) {
  updateserver::Manifest m = Manifest(Image(100));
  m.answers[kDisk0FirmwareQuery] = "QUARN SSD Zelvane,77,SV1.0B,-873187034,009,http://{HOST}/files/SV10B.vic";
  test::RunningUpdateServer server(m);
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(0), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::DownloadFailed);
  EXPECT_EQ(out.DownloadResult, 101);
  EXPECT_EQ(ui.messages.back(), "Event ID: 101\nS355");
  EXPECT_TRUE(Pieces().empty());
  EXPECT_TRUE(server.Server().Reports().empty());
}

TEST_F(FirmwareUpdate, OtherModelsReadTheirConfigIdFromTheDrive) {
  updateserver::Manifest m = Manifest(Image(100));
  m.firmware.push_back({"SSD KD785 1TB", "SF-2000", "C7", {"KD785A12"}, "78", "KD785A13", "SV10B.vic"});
  test::RunningUpdateServer server(m);
  PointAt(server.Host());
  ScriptedUi ui;
  ui.yes = false;
  Run(Disk(1), ui);
  EXPECT_TRUE(Logged("Config ID--0x43 0x37 0x00 0x00 0x00 0x00 0x00 0x00"));
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"Are you sure to upgrade firmware from KD785A12 to KD785A13?"}));
  EXPECT_NE(server.Server().Targets().back().find("SSD_CTL_Solution=SF-2000&SSD_Config_ID=C7"), std::string::npos);
}

TEST_F(FirmwareUpdate, NvmeDriveOpensTheProductPageOnly) {
  test::RawServer server("");
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(3), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::ProductPage);
  EXPECT_EQ(Machine().OpenedAddresses(), (std::vector<std::string>{kProductPageAddress}));
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(DriveRequests(), 0u);
}

TEST_F(FirmwareUpdate, BusyRefusesWithoutAnything) {
  ScriptedUi ui;
  FirmwareUpdateOptions options;
  options.RunningOperationCode = 4;
  FirmwareUpdateOutcome out = Run(Disk(0), ui, options);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::Busy);
  EXPECT_EQ(ui.messages, (std::vector<std::string>{"S247"}));
  EXPECT_FALSE(Logged("Enter CUtilityPage::OnBnClickedButtonUpdateFw()"));
}

TEST_F(FirmwareUpdate, FullPackagePath) {
  updateserver::Manifest m = Manifest(Image(100));
  m.supportList = {"OTHER"};
  m.fullPackages.push_back({"KD765KK 256GB", "http://downloads.example/kd765 pack{2}.zip"});
  test::RunningUpdateServer server(m);
  PointAt(server.Host());
  ScriptedUi ui;
  FirmwareUpdateOutcome out = Run(Disk(0), ui);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::FullPackage);
  EXPECT_EQ(ui.messages.back(), "S358");
  EXPECT_TRUE(Logged("Event ID: 401"));
  EXPECT_TRUE(Logged("Check full pakage cmd:http://" + server.Host() +
                     "/ssd_fw_ver.php?OS_Language=en-US&SSD_CTL_Solution=MRV9189&SSD_Config_ID=website"
                     "&SSD_Inside_Firmware=SV1.0A&SSD_Serial_Number=S0&SSD_Model_Number=KD765KK 256GB"
                     "&SSD_Capacity=256"));
  EXPECT_EQ(Machine().OpenedAddresses(),
            (std::vector<std::string>{"http://downloads.example/kd765%20pack%7B2%7D.zip"}));

  updateserver::Manifest none = m;
  none.fullPackages.clear();
  test::RunningUpdateServer server2(none);
  PointAt(server2.Host());
  ScriptedUi ui2;
  out = Run(Disk(0), ui2);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::AlreadyLatest);
  EXPECT_EQ(out.StringId, 359);
  EXPECT_EQ(out.EventId, 402);
}

TEST_F(FirmwareUpdate, ManualPathWritesTheChosenFileAndRereadsTheDrive) {
  test::WriteFile(InDir("new.vic"), std::string(32768, 'k'));
  ScriptedUi ui;
  ui.file = "new.vic";
  FirmwareUpdateOptions options;
  options.UpgradeFwSwitch = true;
  FirmwareUpdateOutcome out = Run(Disk(1), ui, options);
  EXPECT_EQ(ui.filters, (std::vector<std::string>{"fw File(*.vic)|*.vic|All Files(*.*)|*.*||"}));
  EXPECT_EQ(out.End, FirmwareUpdateEnd::Updated);
  EXPECT_EQ(ui.messages.back(), "Updagrade firmware is done.");
  ASSERT_TRUE(out.Refreshed);
  EXPECT_EQ(out.Fresh.FirmwareRevision, "KD785A13");
  EXPECT_EQ(Pieces().size(), 1u);

  // Again: the drive took the image but its revision stays.
  ScriptedUi again;
  again.file = "new.vic";
  out = Run(out.Fresh, again, options);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::NotUpdated);
  EXPECT_EQ(again.messages.back(), "Updagrade firmware fail!");

  ScriptedUi cancel;
  out = Run(Disk(1), cancel, options);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::Declined);
  EXPECT_TRUE(Pieces().empty());
}

TEST_F(FirmwareUpdate, ManualPathReportsARefusedImage) {
  test::WriteFile(InDir("bad.vic"), std::string(98304, 'k'));  // without the drive's tag
  ScriptedUi ui;
  ui.file = "bad.vic";
  FirmwareUpdateOptions options;
  options.UpgradeFwSwitch = true;
  FirmwareUpdateOutcome out = Run(Disk(0), ui, options);
  EXPECT_EQ(out.End, FirmwareUpdateEnd::DriveFailed);
  EXPECT_EQ(ui.messages.back(), "Download firmware fail!");
  // The request itself went through: only the drive's status tells the abort.
  EXPECT_EQ(out.Detail, "the drive aborted piece 2 (block offset 128): status 0x51, error 0x04");
  EXPECT_EQ(ui.progress, (std::vector<std::string>{"1:32768/98304", "2:65536/98304"}));
  EXPECT_FALSE(out.Refreshed);
}

TEST_F(FirmwareUpdate, ConfigIdReadGivesUpOnABusyDrive) {
  UseMachine(R"({"drives": [{"index": 0, "sct": {"configId": "C7", "busyReads": 1000}}]})");
  PhysicalDriveTable table;
  ATACommand ata;
  ASSERT_EQ(ata.UpdatePhysicalDrivesInfo(table), 1);
  std::string id = "old";
  EXPECT_EQ(ReadConfigId(table[0].DevicePath, &id), 0u);
  EXPECT_TRUE(Logged("ReadConfigId--the drive was not ready after 50 reads"));
}

}  // namespace
}  // namespace zel
