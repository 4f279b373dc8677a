#include "platform/sim/sim_drive.h"

#include <algorithm>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/text.h"
#include "platform/wire/storage.h"

namespace zel::sim {

namespace {

constexpr const char* kDiskInterfaceGuid = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

FaultEffect ParseEffect(const std::string& text, const std::string& where) {
  if (text == "fail") return FaultEffect::Fail;
  if (text == "short") return FaultEffect::Short;
  if (text == "zeros") return FaultEffect::Zeros;
  if (text == "abort") return FaultEffect::Abort;
  throw FixtureError(where + ".effect: expected \"fail\", \"short\", \"zeros\" or \"abort\"");
}

// Model text as it appears in PnP identifiers: blanks become underscores.
std::string PnpName(const std::string& text) {
  std::string out;
  for (char c : text) out += (c == ' ') ? '_' : c;
  return ToUpperAscii(out);
}

}  // namespace

void CheckDriveKeys(const Json& entry, const std::string& where,
                    std::initializer_list<const char*> kindKeys) {
  if (!entry.is_object()) throw FixtureError(where + ": expected an object");
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    auto match = [&](const char* k) { return it.key() == k; };
    if (std::none_of(kCommonDriveKeys.begin(), kCommonDriveKeys.end(), match) &&
        std::none_of(kindKeys.begin(), kindKeys.end(), match))
      throw FixtureError(where + ": unknown field \"" + it.key() + "\"");
  }
}

SimDrive::SimDrive(SimMachine& machine, const Json& entry, const std::string& where)
    : machine_(machine), entry_(entry), where_(where) {
  index_ = static_cast<int32_t>(IntegerOr(entry, "index", 0, 0, kMaxDiskNumber, where));
  std::string kind = TextOr(entry, "kind", "sata", where);
  bus_ = TextOr(entry, "bus", kind == "nvme" ? "nvme" : "sata", where);
  if (bus_ != "sata" && bus_ != "nvme" && bus_ != "usb" && bus_ != "scsi")
    throw FixtureError(where + ".bus: expected \"sata\", \"nvme\", \"usb\" or \"scsi\"");
  model_ = TextOr(entry, "model", kind == "nvme" ? "QUARN NVMe SSD" : "QUARN SSD", where);
  serial_ = TextOr(entry, "serial", "SIM" + std::to_string(index_), where);
  firmware_ = TextOr(entry, "firmware", "SIM1.0", where);
  sizeBytes_ = NumberOr(entry, "size", 256060514304ull, where);
  scsiPort_ = static_cast<int32_t>(IntegerOr(entry, "scsiPort", index_, 0, 255, where));
  present_ = BoolOr(entry, "present", true, where);

  // PnP identifier and interface path: given, or derived the way the
  // platform spells them for the bus, so the interface path with "#" read as
  // "\" always contains the PnP identifier.
  std::string instance = "5&" + std::to_string(0x1A2B3C + index_) + "&0&" +
                         std::to_string(index_) + ".0.0";
  std::string defaultPnp;
  if (bus_ == "sata") {
    defaultPnp = "IDE\\DISK" + PnpName(model_) + "_" + PnpName(firmware_) + "\\" + instance;
  } else if (bus_ == "usb") {
    defaultPnp = "USBSTOR\\DISK&VEN_QUARN&PROD_" + PnpName(model_) + "&REV_" +
                 PnpName(firmware_) + "\\" + PnpName(serial_) + "&0";
  } else {
    defaultPnp = "SCSI\\DISK&VEN_NVME&PROD_" + PnpName(model_) + "\\" + instance;
  }
  pnpDeviceId_ = TextOr(entry, "pnpDeviceId", defaultPnp, where);
  std::string defaultPath =
      "\\\\?\\" + ToLowerAscii(ReplaceAll(pnpDeviceId_, "\\", "#")) + "#" + kDiskInterfaceGuid;
  interfacePath_ = TextOr(entry, "interfacePath", defaultPath, where);

  if (entry.contains("sectors")) sectors_ = ToBytes(entry["sectors"], where + ".sectors");

  if (entry.contains("faults")) {
    const Json& list = entry["faults"];
    if (!list.is_array()) throw FixtureError(where + ".faults: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = where + ".faults[" + std::to_string(i) + "]";
      const Json& f = list[i];
      CheckKeys(f, {"form", "command", "feature", "opcode", "effect", "error", "bytes", "times",
                    "comment"},
                w);
      Fault fault;
      fault.form = TextOr(f, "form", "", w);
      if (fault.form.empty()) throw FixtureError(w + ".form: required");
      if (f.contains("command"))
        fault.command = static_cast<uint8_t>(IntegerIn(f["command"], 0, 0xFF, w + ".command"));
      if (f.contains("feature"))
        fault.feature = static_cast<uint8_t>(IntegerIn(f["feature"], 0, 0xFF, w + ".feature"));
      if (f.contains("opcode"))
        fault.opcode = static_cast<uint32_t>(IntegerIn(f["opcode"], 0, 0xFFFFFFFF, w + ".opcode"));
      fault.effect = ParseEffect(TextOr(f, "effect", "fail", w), w);
      fault.error = static_cast<uint32_t>(
          IntegerOr(f, "error", platform::ERROR_GEN_FAILURE, 0, 0xFFFFFFFF, w));
      fault.bytes = U32Or(f, "bytes", 0, w);
      // -1: every time.
      fault.remaining = static_cast<int>(IntegerOr(f, "times", -1, -1, INT32_MAX, w));
      faults_.push_back(fault);
    }
  }

  if (entry.contains("inUse")) LoadInUse(entry["inUse"], where + ".inUse");
}

void SimDrive::LoadInUse(const Json& uses, const std::string& where) {
  if (!uses.is_object()) throw FixtureError(where + ": expected an object");
  CheckKeys(uses, {"swap", "mounts", "holders", "comment"}, where);
  const std::pair<const char*, platform::DiskUseKind> kinds[] = {
      {"swap", platform::DiskUseKind::Swap},
      {"mounts", platform::DiskUseKind::Mount},
      {"holders", platform::DiskUseKind::Holder}};
  for (const auto& [key, kind] : kinds) {
    if (!uses.contains(key)) continue;
    const Json& list = uses[key];
    const std::string at = where + "." + key;
    if (!list.is_array()) throw FixtureError(at + ": expected a list of names");
    if (list.size() > kMaxUsesPerKind)
      throw FixtureError(at + ": at most " + std::to_string(kMaxUsesPerKind) + " names");
    for (size_t i = 0; i < list.size(); ++i) {
      const std::string item = at + "[" + std::to_string(i) + "]";
      if (!list[i].is_string()) throw FixtureError(item + ": expected a name");
      std::string name = list[i].get<std::string>();
      if (name.empty() || name.size() > kMaxUseNameBytes)
        throw FixtureError(item + ": expected a name of 1 to " + std::to_string(kMaxUseNameBytes) +
                           " bytes");
      inUse_.push_back({kind, std::move(name)});
    }
  }
}

bool SimDrive::Control(Request& request) {
  if (request.code == platform::IOCTL_STORAGE_GET_DEVICE_NUMBER) return AnswerDeviceNumber(request);
  platform::SetLastError(platform::ERROR_INVALID_FUNCTION);
  return false;
}

bool SimDrive::AdapterControl(Request&) {
  platform::SetLastError(platform::ERROR_INVALID_FUNCTION);
  return false;
}

bool SimDrive::AnswerDeviceNumber(Request& request) {
  if (auto f = TakeFault("get_device_number")) {
    platform::SetLastError(f->error);
    return false;
  }
  if (request.out.size() < wire::StorageDeviceNumber::kSize) {
    platform::SetLastError(platform::ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  wire::StorageDeviceNumber n{platform::FILE_DEVICE_DISK, static_cast<uint32_t>(index_), 0};
  n.Encode(request.out.data());
  *request.returned = wire::StorageDeviceNumber::kSize;
  return true;
}

bool SimDrive::Read(uint64_t offset, uint8_t* buffer, uint32_t size, uint32_t* read) {
  if (auto f = TakeFault("read")) {
    platform::SetLastError(f->error);
    return false;
  }
  // The disk beyond its stored first sectors reads as zeros.
  uint64_t end = std::min<uint64_t>(offset + size, sizeBytes_);
  uint32_t n = end > offset ? static_cast<uint32_t>(end - offset) : 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint64_t at = offset + i;
    buffer[i] = at < sectors_.size() ? sectors_[at] : 0;
  }
  *read = n;
  return true;
}

std::optional<Fault> SimDrive::TakeFault(const std::string& form, int command, int feature,
                                         int64_t opcode) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Fault& f : faults_) {
    if (f.form != form && f.form != "any") continue;
    if (f.command && command >= 0 && *f.command != command) continue;
    if (f.command && command < 0) continue;
    if (f.feature && (feature < 0 || *f.feature != feature)) continue;
    if (f.opcode && (opcode < 0 || *f.opcode != opcode)) continue;
    if (f.remaining == 0) continue;
    if (f.remaining > 0) --f.remaining;
    return f;
  }
  return std::nullopt;
}

void SimDrive::Journal(RequestRecord record) {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.push_back(std::move(record));
}

std::vector<RequestRecord> SimDrive::JournalCopy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return journal_;
}

void SimDrive::ClearJournal() {
  std::lock_guard<std::mutex> lock(mutex_);
  journal_.clear();
}

}  // namespace zel::sim
