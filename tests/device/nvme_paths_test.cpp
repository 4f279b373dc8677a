// The NVMe request forms of ATACommand against the simulated NVMe drive:
// the bytes each form sends, the orders of attempts, the log lines, the
// all-zero answers and the exclusive opens.
#include "device/nvme_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <vector>

#include "log/log.h"
#include "platform/bytes.h"
#include "platform/platform.h"
#include "platform/sim/nvme_drive.h"
#include "support/nvme_request_bytes.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

const std::string kDisk =
    "\\\\?\\scsi#disk&ven_nvme&prod_quarn_nv900#5&1&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const std::string kAdapter = "\\\\.\\SCSI3:";

// A machine with one NVMe drive on port 3 whose driver offers `forms`.
std::string NvmeMachine(const std::string& forms, const std::string& faults = "[]") {
  return R"({"drives": [{"kind": "nvme", "index": 1, "scsiPort": 3,
      "interfacePath": "\\\\?\\scsi#disk&ven_nvme&prod_quarn_nv900#5&1&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
      "identify": {"vendorId": "0x1234", "bytes": [{"offset": 600, "data": "5A"}]},
      "health": {"temperature": 310, "percentageUsed": 7},
      "forms": )" + forms + R"(, "faults": )" + faults + "}]}";
}

const std::string kAllForms =
    R"({"storageQuery": "answer", "miniport": "answer", "shortMiniport": "answer", "tunnel": "answer"})";
const std::string kNoForms =
    R"({"storageQuery": "absent", "miniport": "absent", "shortMiniport": "absent", "tunnel": "absent"})";

// --- expected request bytes, at literal offsets ------------------------------

using test::TunnelHalf;
constexpr auto Query = test::NvmeQuery;
constexpr auto Miniport = test::NvmeMiniport;

struct Expected {
  std::string path;
  uint32_t code;
  std::vector<uint8_t> in;
  uint32_t outSize;
};
const Expected kAddress = {kDisk, IOCTL_SCSI_GET_ADDRESS, {}, 8};

class NvmePaths : public test::SimTest {
 protected:
  std::string MachineJson() const override { return NvmeMachine(kAllForms); }
  void SetUp() override {
    test::SimTest::SetUp();
    SetLogLevel(1);
  }
  const sim::NvmeDrive& Drive() { return dynamic_cast<const sim::NvmeDrive&>(*Machine().Drives()[0]); }
  // The control codes that reached the machine, with their outcome.
  std::vector<std::pair<uint32_t, bool>> Codes() {
    std::vector<std::pair<uint32_t, bool>> out;
    for (const auto& r : Machine().RequestLog()) out.emplace_back(r.code, r.succeeded);
    return out;
  }
  // A new machine and an empty trace log for one case of a table.
  void StartCase(const std::string& machine) {
    UseMachine(machine);
    ResetLogForNewRun();
    std::filesystem::remove(Dir() + "/SSDZelvane.log");
    SetLogLevel(1);
  }
};

using Call = std::function<uint32_t(ATACommand&, uint8_t*)>;

TEST_F(NvmePaths, EachFormSendsItsBytesAndReturnsItsPage) {
  const auto& id = Drive().IdentifyPage();
  const auto& log = Drive().HealthLog();
  struct Case {
    const char* name;
    Call call;
    std::vector<Expected> requests;
    const uint8_t* page;
    size_t pageSize;
  } cases[] = {
      {"platform identify", [](ATACommand& a, uint8_t* b) { return a.Windows10NVMeIdentify(1, kDisk, b); },
       {{kDisk, IOCTL_STORAGE_QUERY_PROPERTY, Query(1, 1, 0), 4144}}, id.data(), 4096},
      {"platform log page", [](ATACommand& a, uint8_t* b) { return a.Windows10NVMeSMART(1, kDisk, b); },
       {{kDisk, IOCTL_STORAGE_QUERY_PROPERTY, Query(2, 2, 0xFFFFFFFFu), 4144}}, log.data(), 512},
      {"miniport identify", [](ATACommand& a, uint8_t* b) { return a.IdentifyCommand_Controller(kDisk, b); },
       {kAddress, {kAdapter, IOCTL_SCSI_MINIPORT, Miniport(4248, 1000, 0x06, 0, 1, 0), 4248}},
       id.data(), 4096},
      {"short miniport identify", [](ATACommand& a, uint8_t* b) { return a.DoIdentifyDeviceNVMeIntel(kDisk, b); },
       {kAddress, {kAdapter, IOCTL_SCSI_MINIPORT, Miniport(664, 40, 0x06, 0, 1, 1), 664}},
       id.data(), 512},
      {"miniport log page", [](ATACommand& a, uint8_t* b) { return a.GetLogPageCommand_SMART_Health(kDisk, b); },
       {kAddress, {kAdapter, IOCTL_SCSI_MINIPORT, Miniport(664, 1000, 0x02, 0xFFFFFFFFu, 0x007F0002u, 0), 664}},
       log.data(), 512},
      {"short miniport log page", [](ATACommand& a, uint8_t* b) { return a.DoGetLogPageNVMeIntel(kDisk, b); },
       {kAddress, {kAdapter, IOCTL_SCSI_MINIPORT, Miniport(664, 40, 0x02, 0xFFFFFFFFu, 0x007F0002u, 1), 664}},
       log.data(), 512},
      {"vendor tunnel", [](ATACommand& a, uint8_t* b) { return a.DoGetLogPageNVMeSamsung(kDisk, b); },
       {{kDisk, IOCTL_SCSI_PASS_THROUGH, TunnelHalf(false), 580},
        {kDisk, IOCTL_SCSI_PASS_THROUGH, TunnelHalf(true), 580}},
       log.data(), 512},
  };
  for (const Case& c : cases) {
    Machine().ClearRequestLog();
    ATACommand ata;
    std::vector<uint8_t> buffer(4096, 0xCC);
    EXPECT_NE(c.call(ata, buffer.data()), 0u) << c.name;
    std::vector<sim::RequestRecord> sent = Machine().RequestLog();
    ASSERT_EQ(sent.size(), c.requests.size()) << c.name;
    for (size_t i = 0; i < sent.size(); ++i) {
      EXPECT_EQ(sent[i].path, c.requests[i].path) << c.name << " #" << i;
      EXPECT_EQ(sent[i].code, c.requests[i].code) << c.name << " #" << i;
      EXPECT_EQ(sent[i].in, c.requests[i].in) << c.name << " #" << i;
      EXPECT_EQ(sent[i].outSize, c.requests[i].outSize) << c.name << " #" << i;
      EXPECT_TRUE(sent[i].succeeded) << c.name << " #" << i;
    }
    EXPECT_EQ(0, std::memcmp(buffer.data(), c.page, c.pageSize)) << c.name;
    for (size_t i = c.pageSize; i < buffer.size(); ++i)
      ASSERT_EQ(buffer[i], 0xCC) << c.name << ": wrote past its page at " << i;
  }
}

TEST_F(NvmePaths, IdentifyFallsBackFormByForm) {
  struct Case {
    std::string forms;
    uint32_t result;
    std::vector<std::pair<uint32_t, bool>> codes;
    std::vector<std::string> lines;
    size_t pageBytes;  // how much of the page arrived
  } cases[] = {
      {kAllForms, 1, {{IOCTL_STORAGE_QUERY_PROPERTY, true}},
       {"Enter ATACommand::Windows10NVMeIdentify()", "Exit ATACommand::Windows10NVMeIdentify()"},
       4096},
      {R"({"storageQuery": "absent", "miniport": "answer"})", 1,
       {{IOCTL_STORAGE_QUERY_PROPERTY, false}, {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_MINIPORT, true}},
       {"Enter ATACommand::Windows10NVMeIdentify()",
        "Windows10NVMeIdentify failed : ERROR_INVALID_FUNCTION", "",
        "Enter ATACommand::IdentifyCommand_Controller()", "IdentifyCommand_Controller: 3412", "",
        "Exit ATACommand::IdentifyCommand_Controller()"},
       4096},
      {R"({"storageQuery": "absent", "shortMiniport": "answer"})", 1,
       {{IOCTL_STORAGE_QUERY_PROPERTY, false}, {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_MINIPORT, false},
        {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_MINIPORT, true}},
       {"Enter ATACommand::Windows10NVMeIdentify()",
        "Windows10NVMeIdentify failed : ERROR_INVALID_FUNCTION", "",
        "Enter ATACommand::IdentifyCommand_Controller()",
        "IdentifyCommand_Controller failed : ERROR_INVALID_FUNCTION", "",
        "Enter ATACommand::DoIdentifyDeviceNVMeIntel()", "Exit ATACommand::DoIdentifyDeviceNVMeIntel()"},
       512},
      {kNoForms, 0,
       {{IOCTL_STORAGE_QUERY_PROPERTY, false}, {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_MINIPORT, false},
        {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_MINIPORT, false}},
       {"Enter ATACommand::Windows10NVMeIdentify()",
        "Windows10NVMeIdentify failed : ERROR_INVALID_FUNCTION", "",
        "Enter ATACommand::IdentifyCommand_Controller()",
        "IdentifyCommand_Controller failed : ERROR_INVALID_FUNCTION", "",
        "Enter ATACommand::DoIdentifyDeviceNVMeIntel()",
        "DoIdentifyDeviceNVMeIntel failed : ERROR_INVALID_FUNCTION", ""},
       0},
  };
  for (const Case& c : cases) {
    StartCase(NvmeMachine(c.forms));
    ATACommand ata;
    std::vector<uint8_t> page(4096, 0);
    EXPECT_EQ(ReadNvmeIdentifyController(ata, 1, kDisk, page.data()), c.result) << c.forms;
    EXPECT_EQ(Codes(), c.codes) << c.forms;
    EXPECT_EQ(TraceLines(), c.lines) << c.forms;
    EXPECT_EQ(0, std::memcmp(page.data(), Drive().IdentifyPage().data(), c.pageBytes)) << c.forms;
    EXPECT_TRUE(AllZero(page.data() + c.pageBytes, 4096 - c.pageBytes)) << c.forms;
  }
}

TEST_F(NvmePaths, HealthLogFallsBackFormByForm) {
  const std::pair<uint32_t, bool> query{IOCTL_STORAGE_QUERY_PROPERTY, false}, address{IOCTL_SCSI_GET_ADDRESS, true},
      miniportFails{IOCTL_SCSI_MINIPORT, false}, tunnel{IOCTL_SCSI_PASS_THROUGH, true};
  const std::vector<std::string> queryFailed = {"Enter ATACommand::Windows10NVMeSMART()",
                                                "Windows10NVMeSMART failed : ERROR_INVALID_FUNCTION", ""};
  struct Case {
    std::string forms;
    uint32_t result;
    std::vector<std::pair<uint32_t, bool>> codes;
    std::vector<std::string> lines;
  } cases[] = {
      {kAllForms, 1, {{IOCTL_STORAGE_QUERY_PROPERTY, true}},
       {"Enter ATACommand::Windows10NVMeSMART()", "Exit ATACommand::Windows10NVMeSMART()"}},
      {R"({"storageQuery": "absent", "miniport": "answer"})", 1,
       {query, address, {IOCTL_SCSI_MINIPORT, true}}, queryFailed},
      {R"({"storageQuery": "absent", "shortMiniport": "answer"})", 1,
       {query, address, miniportFails, address, {IOCTL_SCSI_MINIPORT, true}}, queryFailed},
      {R"({"storageQuery": "absent", "tunnel": "answer"})", 1,
       {query, address, miniportFails, address, miniportFails, tunnel, tunnel}, queryFailed},
      // A short form that answers with zeros counts as failed; the tunnel still runs.
      {R"({"storageQuery": "absent", "shortMiniport": "zeros", "tunnel": "answer"})", 1,
       {query, address, miniportFails, address, {IOCTL_SCSI_MINIPORT, true}, tunnel, tunnel}, queryFailed},
      {kNoForms, 0, {query, address, miniportFails, address, miniportFails, tunnel, tunnel}, queryFailed},
  };
  for (const Case& c : cases) {
    StartCase(NvmeMachine(c.forms));
    ATACommand ata;
    std::vector<uint8_t> log(512, 0);
    EXPECT_EQ(ReadNvmeHealthLog(ata, 1, kDisk, log.data()), c.result) << c.forms;
    EXPECT_EQ(Codes(), c.codes) << c.forms;
    EXPECT_EQ(TraceLines(), c.lines) << c.forms;
    if (c.result) {
      EXPECT_EQ(GetLE16(&log[1]), 310) << c.forms;
      EXPECT_EQ(log[5], 7) << c.forms;
    } else {
      EXPECT_TRUE(AllZero(log.data(), 512)) << c.forms;
    }
  }
}

TEST_F(NvmePaths, AllZeroAnswersOfTheShortFormsAndTheTunnelFail) {
  UseMachine(NvmeMachine(R"({"miniport": "zeros", "shortMiniport": "zeros", "tunnel": "zeros"})"));
  ATACommand ata;
  struct Case {
    const char* name;
    Call call;
    uint32_t result;
  } cases[] = {
      {"short identify", [](ATACommand& a, uint8_t* b) { return a.DoIdentifyDeviceNVMeIntel(kDisk, b); }, 0},
      {"short log page", [](ATACommand& a, uint8_t* b) { return a.DoGetLogPageNVMeIntel(kDisk, b); }, 0},
      {"tunnel", [](ATACommand& a, uint8_t* b) { return a.DoGetLogPageNVMeSamsung(kDisk, b); }, 0},
      // The long forms take any successful request as it comes.
      {"long log page", [](ATACommand& a, uint8_t* b) { return a.GetLogPageCommand_SMART_Health(kDisk, b); }, 1},
  };
  for (const Case& c : cases) {
    Machine().ClearRequestLog();
    std::vector<uint8_t> buffer(4096, 0xCC);
    EXPECT_EQ(c.call(ata, buffer.data()), c.result) << c.name;
    for (const auto& r : Machine().RequestLog()) EXPECT_TRUE(r.succeeded) << c.name;
    if (c.result) {
      EXPECT_TRUE(AllZero(buffer.data(), 512)) << c.name;
    } else {
      EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xCC; }))
          << c.name << ": buffer changed";
    }
  }
  // No failure line: the short identify's request itself succeeded.
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{"Enter ATACommand::DoIdentifyDeviceNVMeIntel()"}));
}

TEST_F(NvmePaths, TunnelRefusedByTheDiskIsNoPageDespiteLeftOverBytes) {
  // A disk without the vendor protocol refuses both halves with CHECK
  // CONDITION; the data area still holds the 0xFF bytes of the send half.
  UseMachine(NvmeMachine(R"({"tunnel": "absent"})"));
  ATACommand ata;
  std::vector<uint8_t> buffer(512, 0xCC);
  EXPECT_EQ(ata.DoGetLogPageNVMeSamsung(kDisk, buffer.data()), 0u);
  std::vector<sim::RequestRecord> sent = Machine().RequestLog();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[1].succeeded);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xCC; }));
}

TEST_F(NvmePaths, MiniportFormsNeedTheDiskAndTheAdapterToThemselves) {
  ATACommand ata;
  std::vector<uint8_t> buffer(4096, 0);

  // Another holder of the adapter, even one that shares it: the exclusive
  // open fails, no miniport request is sent.
  HANDLE adapter = Devices().CreateFileW(kAdapter, GENERIC_READ | GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(adapter, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ata.IdentifyCommand_Controller(kDisk, buffer.data()), 0u);
  EXPECT_EQ(ata.GetLogPageCommand_SMART_Health(kDisk, buffer.data()), 0u);
  EXPECT_EQ(ata.DoGetLogPageNVMeIntel(kDisk, buffer.data()), 0u);
  EXPECT_EQ(Codes(), (std::vector<std::pair<uint32_t, bool>>{
                         {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_GET_ADDRESS, true}, {IOCTL_SCSI_GET_ADDRESS, true}}));
  Devices().CloseHandle(adapter);
  EXPECT_EQ(ata.IdentifyCommand_Controller(kDisk, buffer.data()), 1u);

  // Another holder of the disk: the port cannot be asked for, nothing is
  // sent; the platform query, which shares the disk, still works.
  Machine().ClearRequestLog();
  HANDLE disk = Devices().CreateFileW(kDisk, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
  ASSERT_NE(disk, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ata.DoIdentifyDeviceNVMeIntel(kDisk, buffer.data()), 0u);
  EXPECT_TRUE(Machine().RequestLog().empty());
  EXPECT_EQ(ata.Windows10NVMeIdentify(1, kDisk, buffer.data()), 1u);
  Devices().CloseHandle(disk);

  std::vector<std::string> lines = TraceLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "IdentifyCommand_Controller CreateFile() failed!"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "DoIdentifyDeviceNVMeIntel CreateFile() failed!"), 1);
}

TEST_F(NvmePaths, FailureLinesCarryThePlatformError) {
  struct Case {
    std::string faults;
    Call call;
    std::vector<std::string> lines;
  } cases[] = {
      {R"([{"form": "storage_query", "error": 31}])",
       [](ATACommand& a, uint8_t* b) { return a.Windows10NVMeIdentify(1, kDisk, b); },
       {"Enter ATACommand::Windows10NVMeIdentify()", "Windows10NVMeIdentify failed : 31", ""}},
      {R"([{"form": "storage_query", "opcode": 2, "error": 1117}])",
       [](ATACommand& a, uint8_t* b) { return a.Windows10NVMeSMART(1, kDisk, b); },
       {"Enter ATACommand::Windows10NVMeSMART()", "Windows10NVMeSMART failed : 1117", ""}},
      {R"([{"form": "open", "error": 2}])",
       [](ATACommand& a, uint8_t* b) { return a.Windows10NVMeSMART(1, kDisk, b); },
       {"Enter ATACommand::Windows10NVMeSMART()", "Windows10NVMeSMART CreateFile() failed!", ""}},
      {R"([{"form": "miniport", "error": 170}])",
       [](ATACommand& a, uint8_t* b) { return a.IdentifyCommand_Controller(kDisk, b); },
       {"Enter ATACommand::IdentifyCommand_Controller()", "IdentifyCommand_Controller failed : 170", ""}},
      {R"([{"form": "short_miniport", "opcode": 6, "error": 121}])",
       [](ATACommand& a, uint8_t* b) { return a.DoIdentifyDeviceNVMeIntel(kDisk, b); },
       {"Enter ATACommand::DoIdentifyDeviceNVMeIntel()", "DoIdentifyDeviceNVMeIntel failed : 121", ""}},
      {R"([{"form": "adapter_open", "error": 5}])",
       [](ATACommand& a, uint8_t* b) { return a.IdentifyCommand_Controller(kDisk, b); },
       {"Enter ATACommand::IdentifyCommand_Controller()", "IdentifyCommand_Controller CreateFile() failed!", ""}},
      {R"([{"form": "scsi_address"}])",
       [](ATACommand& a, uint8_t* b) { return a.DoIdentifyDeviceNVMeIntel(kDisk, b); },
       {"Enter ATACommand::DoIdentifyDeviceNVMeIntel()", "DoIdentifyDeviceNVMeIntel CreateFile() failed!", ""}},
      // The log-page forms write no lines of their own.
      {R"([{"form": "miniport", "error": 170}, {"form": "short_miniport"}, {"form": "scsi_pass_through"}])",
       [](ATACommand& a, uint8_t* b) {
         return a.GetLogPageCommand_SMART_Health(kDisk, b) + a.DoGetLogPageNVMeIntel(kDisk, b) +
                a.DoGetLogPageNVMeSamsung(kDisk, b);
       },
       {}},
  };
  for (const Case& c : cases) {
    StartCase(NvmeMachine(kAllForms, c.faults));
    ATACommand ata;
    std::vector<uint8_t> buffer(4096, 0xCC);
    EXPECT_EQ(c.call(ata, buffer.data()), 0u) << c.faults;
    EXPECT_EQ(TraceLines(), c.lines) << c.faults;
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0xCC; })) << c.faults;
  }
}

TEST_F(NvmePaths, ScsiPortNameFromTheDisksAddress) {
  ATACommand ata;
  std::string name = "unchanged";
  EXPECT_EQ(ata.GetScsiPortName(kDisk, &name), 1u);
  EXPECT_EQ(name, "\\\\.\\SCSI3:");

  UseMachine(NvmeMachine(kAllForms, R"([{"form": "scsi_address"}])"));
  name = "unchanged";
  EXPECT_EQ(ata.GetScsiPortName(kDisk, &name), 0u);
  EXPECT_EQ(name, "unchanged");
  EXPECT_EQ(ata.GetScsiPortName("\\\\?\\no#such#disk", &name), 0u);
}

}  // namespace
}  // namespace zel
