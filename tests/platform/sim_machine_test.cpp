#include "platform/sim/machine.h"

#include <gtest/gtest.h>

#include "device/ata_command.h"
#include "support/sim_fixture.h"

namespace zel {
namespace {

using namespace zel::platform;

TEST(SimMachineLoad, ReportsTheFieldThatIsWrong) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {"{", "not valid JSON"},
      {R"({"drive": []})", "unknown field \"drive\""},
      {R"({"drives": [{"index": "x"}]})", "drives[0].index: expected a number"},
      {R"({"drives": [{"index": 1}, {"index": 1}]})", "disk number 1 is used twice"},
      {R"({"drives": [{"kind": "floppy"}]})", "drives[0].kind"},
      {R"({"volumes": [{"letter": "CD"}]})", "volumes[0].letter"},
      {R"({"controllers": [{"name": "x"}]})", "controllers[0].deviceId: required"},
      {R"({"drives": [{"controller": 0}]})", "lists no controllers"},
  };
  for (const Case& c : cases) {
    sim::LoadResult r = sim::LoadMachineText(c.json, "m.json");
    EXPECT_FALSE(r.machine) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_EQ(r.error.rfind("m.json: ", 0), 0u) << r.error;
  }
}

TEST(SimMachineLoad, DefaultControllersFollowTheBuses) {
  auto m = test::MustLoad(R"({"drives": [{"index": 0}, {"index": 1, "kind": "nvme"},
                                         {"index": 2}, {"index": 3, "bus": "usb"}]})");
  ASSERT_EQ(m->Controllers().size(), 2u);
  EXPECT_EQ(m->ControllerOf(*m->Drives()[0]), 0);
  EXPECT_EQ(m->ControllerOf(*m->Drives()[1]), 1);
  EXPECT_EQ(m->ControllerOf(*m->Drives()[2]), 0);
  EXPECT_EQ(m->ControllerOf(*m->Drives()[3]), -1);
  EXPECT_EQ(m->Controllers()[1].type, "scsi");
}

TEST(SimMachineLoad, DerivedInterfacePathContainsThePnpIdentifier) {
  auto m = test::MustLoad(R"({"drives": [{"index": 0, "model": "QUARN SSD", "firmware": "F1"}]})");
  const sim::SimDrive& d = *m->Drives()[0];
  EXPECT_EQ(d.PnpDeviceId(), "IDE\\DISKQUARN_SSD_F1\\5&1715004&0&0.0.0");
  EXPECT_EQ(d.InterfacePath(),
            "\\\\?\\ide#diskquarn_ssd_f1#5&1715004&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
}

class SimDevicesTest : public test::SimTest {
  std::string MachineJson() const override {
    return R"({"drives": [{"index": 2}],
               "volumes": [{"letter": "C", "disk": 2}, {"letter": "E", "deviceType": "cdrom"}]})";
  }
};

TEST_F(SimDevicesTest, DeviceNumbersOfDisksAndVolumes) {
  ATACommand ata;
  EXPECT_EQ(ata.GetDiskNumberFromPath("\\\\.\\C:"), 2);
  EXPECT_EQ(ata.GetDiskNumberFromPath("\\\\.\\PhysicalDrive2"), 2);
  EXPECT_EQ(ata.GetDiskNumberFromPath("\\\\.\\E:"), -1);  // a CD-ROM is no disk
  EXPECT_EQ(ata.GetDiskNumberFromPath("\\\\.\\PhysicalDrive3"), -1);
}

TEST_F(SimDevicesTest, SharingAndAccessRules) {
  DeviceIo& io = Devices();
  HANDLE exclusive = io.CreateFileW("\\\\.\\PhysicalDrive2", GENERIC_READ | GENERIC_WRITE, 0,
                                    OPEN_EXISTING, 0);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(io.CreateFileW("\\\\.\\PhysicalDrive2", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           OPEN_EXISTING, 0),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  io.CloseHandle(exclusive);

  HANDLE query = io.CreateFileW("\\\\.\\PhysicalDrive2", 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                OPEN_EXISTING, 0);
  uint8_t block[48] = {};
  uint32_t returned = 0;
  EXPECT_FALSE(io.DeviceIoControl(query, IOCTL_ATA_PASS_THROUGH, block, 44, block, 44, &returned));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  io.CloseHandle(query);
}

TEST_F(SimDevicesTest, VirtualClockMovesOnlyWhenSleeping) {
  uint32_t t0 = Sys().GetTickCount();
  EXPECT_EQ(Sys().GetTickCount(), t0);
  Sys().Sleep(20 * 60 * 1000);
  EXPECT_EQ(Sys().GetTickCount(), t0 + 20 * 60 * 1000);
}

}  // namespace
}  // namespace zel
