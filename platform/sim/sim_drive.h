// A drive of the simulated machine: the common part of every kind (its disk
// number, interface path, PnP identifier, size, first sectors, the faults the
// machine file injects, and a journal of every request it received). The
// kinds (SATA in sata_drive.cpp, NVMe in nvme_drive.cpp) answer the requests.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/disk_use.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

// One control request as it reached a device.
struct Request {
  uint32_t code = 0;
  std::span<const uint8_t> in;
  std::span<uint8_t> out;
  std::span<uint8_t> pointed;  // memory named by a pointer field (direct ATA pass-through)
  uint32_t* returned = nullptr;
  std::string path;            // the path the handle was opened with
  bool viaAdapter = false;     // sent to the storage adapter ("\\.\SCSI%d:")
};

// What the journal keeps of a request: a copy of its input bytes, the sizes
// and the virtual time, so a test can look at the request exactly as sent.
struct RequestRecord {
  std::string path;
  uint32_t code = 0;
  std::vector<uint8_t> in;
  uint32_t outSize = 0;
  size_t pointedSize = 0;
  std::vector<uint8_t> pointedIn;  // the pointed buffer's bytes when the request arrived
  bool succeeded = false;
  uint32_t error = 0;
  uint64_t atMs = 0;
};

// A fault from the machine file: when a request of the named form (and,
// where given, command byte, feature byte, NVMe opcode or log identifier)
// arrives, it fails, returns short data or zeros, or (ATA) is aborted by the
// drive.
enum class FaultEffect { Fail, Short, Zeros, Abort };
struct Fault {
  std::string form;  // see FaultForms in docs/machine-format.md
  std::optional<uint8_t> command;
  std::optional<uint8_t> feature;
  std::optional<uint32_t> opcode;
  FaultEffect effect = FaultEffect::Fail;
  uint32_t error = 31;   // ERROR_GEN_FAILURE
  uint32_t bytes = 0;    // for Short: the reply size
  int remaining = -1;    // how many requests it hits; -1 = all
};

class SimDrive {
 public:
  SimDrive(SimMachine& machine, const Json& entry, const std::string& where);
  virtual ~SimDrive() = default;

  SimMachine& Machine() { return machine_; }

  int32_t Index() const { return index_; }
  const std::string& Bus() const { return bus_; }                // "sata", "nvme", "usb", "scsi"
  const std::string& InterfacePath() const { return interfacePath_; }  // as the platform spells it
  const std::string& PnpDeviceId() const { return pnpDeviceId_; }
  uint64_t SizeBytes() const { return sizeBytes_; }
  int32_t ScsiPort() const { return scsiPort_; }
  const std::string& Model() const { return model_; }
  const std::string& Serial() const { return serial_; }
  const std::string& Firmware() const { return firmware_; }
  bool Present() const { return present_; }

  // A control request on a handle opened by disk number or interface path.
  // Returns false with the last error set on failure. Faults and the journal
  // are handled by the caller (SimMachine) around this call.
  virtual bool Control(Request& request);
  // A control request sent to the storage adapter the drive sits on.
  virtual bool AdapterControl(Request& request);
  // Raw read of the first sectors from `offset`.
  virtual bool Read(uint64_t offset, uint8_t* buffer, uint32_t size, uint32_t* read);

  // The fault for a request of `form`, if any; consumes one hit of it.
  // `command`/`feature`/`opcode` are what the request carries (-1 unknown).
  std::optional<Fault> TakeFault(const std::string& form, int command = -1, int feature = -1,
                                 int64_t opcode = -1);

  void Journal(RequestRecord record);
  std::vector<RequestRecord> JournalCopy() const;
  void ClearJournal();

  // What keeps the disk in use besides its lettered volumes ("inUse"), in
  // the order swap, mounts, holders.
  const std::vector<platform::DiskUse>& InUse() const { return inUse_; }

  // The JSON object the drive was made from (kinds read their own fields).
  const Json& Entry() const { return entry_; }
  const std::string& Where() const { return where_; }

 protected:
  // Answers IOCTL_STORAGE_GET_DEVICE_NUMBER for the disk itself.
  bool AnswerDeviceNumber(Request& request);

  SimMachine& machine_;
  Json entry_;
  std::string where_;
  int32_t index_ = 0;
  std::string bus_ = "sata";
  std::string interfacePath_;
  std::string pnpDeviceId_;
  uint64_t sizeBytes_ = 0;
  int32_t scsiPort_ = 0;
  std::string model_, serial_, firmware_;
  bool present_ = true;
  std::vector<uint8_t> sectors_;  // the first sectors of the disk

  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
  std::vector<RequestRecord> journal_;

 private:
  void LoadInUse(const Json& uses, const std::string& where);
  std::vector<platform::DiskUse> inUse_;
};

// The largest disk number a machine file may give a drive ("index"): the
// device names are formatted from it and the platform numbers its disks
// from 0 upwards, so larger numbers only serve to overflow.
inline constexpr int64_t kMaxDiskNumber = 9999;
// The most drives a machine may hold: discovery examines at most 80
// device interfaces.
inline constexpr size_t kMaxDrives = 80;
// Limits of a drive's "inUse" lists: names per kind, and bytes per name.
inline constexpr size_t kMaxUsesPerKind = 64;
inline constexpr size_t kMaxUseNameBytes = 255;

// Keys of the drive object that SimDrive itself reads; kinds add their own.
inline constexpr std::initializer_list<const char*> kCommonDriveKeys = {
    "kind", "bus", "index", "interfacePath", "pnpDeviceId", "size", "scsiPort", "model",
    "serial", "firmware", "present", "sectors", "faults", "controller", "interfaceType", "inventory",
    "comment", "inUse"};

}  // namespace zel::sim

namespace zel::sim {
// Fails unless every key of a drive object is common or one of the kind's own.
void CheckDriveKeys(const Json& entry, const std::string& where,
                    std::initializer_list<const char*> kindKeys);
}  // namespace zel::sim
