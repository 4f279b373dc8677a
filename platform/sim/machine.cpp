#include "platform/sim/machine.h"

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/host/host_file_calls.h"
#include "platform/sim/machine_limits.h"
#include "platform/text.h"
#include "platform/sim/sim_files.h"
#include "platform/wire/storage.h"
#include "platform/wire/volume.h"

namespace zel::sim {

using namespace zel::platform;

struct SimMachine::Components {
  std::unique_ptr<DeviceIo> devices;
  std::unique_ptr<System> system;
  std::unique_ptr<DeviceTree> tree;
  std::unique_ptr<Com> com;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Processes> processes;
  std::unique_ptr<SimFiles> files;
  std::unique_ptr<WindowMessages> windows;
  std::unique_ptr<SimServices> services;
  std::unique_ptr<platform::VolumeTrim> volumeTrim;
  std::unique_ptr<DiskUses> uses;
};

namespace {

int64_t ParseUtc(const std::string& text, const std::string& where) {
  struct tm tmv {};
  int y, mo, d, h = 0, mi = 0, s = 0;
  char z = 0;
  int n = std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d%c", &y, &mo, &d, &h, &mi, &s, &z);
  if (n < 3 || (n == 7 && z != 'Z'))
    throw FixtureError(where + ": expected a UTC time such as \"2026-12-01T09:00:00Z\"");
  // Each field in its calendar range, so none can overflow the conversion.
  if (y < 1601 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 ||
      mi > 59 || s < 0 || s > 60)
    throw FixtureError(where + ": \"" + text + "\" is not a time between the years 1601 and 9999");
  tmv.tm_year = y - 1900;
  tmv.tm_mon = mo - 1;
  tmv.tm_mday = d;
  tmv.tm_hour = h;
  tmv.tm_min = mi;
  tmv.tm_sec = s;
  return static_cast<int64_t>(timegm(&tmv)) * 1000;
}

std::string RunningProgramPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<size_t>(n));
}

// Parses "\\.\PhysicalDrive%d" and "\\.\SCSI%d:" (case does not matter).
bool ParseNumbered(const std::string& path, const std::string& prefix, const std::string& suffix,
                   int32_t* number) {
  std::string lower = ToLowerAscii(path);
  std::string p = ToLowerAscii(prefix);
  if (!StartsWith(lower, p)) return false;
  std::string rest = lower.substr(p.size());
  if (rest.size() <= suffix.size() || rest.substr(rest.size() - suffix.size()) != suffix)
    return false;
  rest.resize(rest.size() - suffix.size());
  if (rest.empty() || rest.size() > 9) return false;
  for (char c : rest)
    if (c < '0' || c > '9') return false;
  *number = std::atoi(rest.c_str());
  return true;
}

// Device handles of the simulated machine, with the platform's sharing rules.
class SimDevices final : public DeviceIo {
 public:
  explicit SimDevices(SimMachine& m) : machine_(m) {}

  HANDLE CreateFileW(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t /*flags*/) override {
    Open h;
    h.access = access;
    h.share = share;
    h.path = path;
    int32_t number = 0;
    if (ParseNumbered(path, "\\\\.\\PhysicalDrive", "", &number)) {
      h.kind = Open::Drive;
      h.drive = machine_.DriveByIndex(number);
    } else if (ParseNumbered(path, "\\\\.\\SCSI", ":", &number)) {
      h.kind = Open::Adapter;
      h.port = number;
      for (const auto& d : machine_.Drives())
        if (d->Present() && d->ScsiPort() == number) {
          h.drive = d.get();
          break;
        }
    } else if (path.size() == 6 && StartsWith(path, "\\\\.\\") && path[5] == ':') {
      h.kind = Open::Volume;
      h.volume = FindVolume(std::string(1, path[4]));
    } else if (path.size() > 3 && path[1] == ':' && path[2] == '\\' && FindVolume(path.substr(0, 1))) {
      // A file of a volume, opened for its retrieval pointers.
      h.kind = Open::File;
      h.volume = FindVolume(path.substr(0, 1));
      SimFiles::Placement place;
      if (!machine_.FileSystem().PlaceFile(path, &place)) return INVALID_HANDLE_VALUE;
    } else {
      h.kind = Open::Drive;
      h.drive = machine_.DriveByInterfacePath(path);
    }
    if (disposition != OPEN_EXISTING) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    const bool onVolume = h.kind == Open::Volume || h.kind == Open::File;
    if ((!onVolume && !h.drive) || (onVolume && !h.volume)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    if (h.drive) {
      auto fault = h.drive->TakeFault(h.kind == Open::Adapter ? "adapter_open" : "open");
      if (fault) {
        SetLastError(fault->error);
        return INVALID_HANDLE_VALUE;
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [id, other] : handles_) {
      if (!SameTarget(other, h)) continue;
      if (!Compatible(other, h)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
      }
    }
    HANDLE id = next_++;
    handles_[id] = h;
    SetLastError(ERROR_SUCCESS);
    return id;
  }

  bool DeviceIoControl(HANDLE device, uint32_t code, const uint8_t* in, uint32_t inSize,
                       uint8_t* out, uint32_t outSize, uint32_t* returned,
                       std::span<uint8_t> pointed) override {
    Open h;
    if (!Lookup(device, &h)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    uint32_t dummy = 0;
    if (!returned) returned = &dummy;
    *returned = 0;

    RequestRecord rec;
    rec.path = h.path;
    rec.code = code;
    if (in && inSize) rec.in.assign(in, in + inSize);
    rec.outSize = outSize;
    rec.pointedSize = pointed.size();
    rec.pointedIn.assign(pointed.begin(), pointed.end());
    rec.atMs = machine_.Clock().NowMs();

    bool ok;
    // The access a control code needs is in its bits 14-15.
    uint32_t needs = (code >> 14) & 3;
    if (((needs & 1) && !(h.access & GENERIC_READ)) || ((needs & 2) && !(h.access & GENERIC_WRITE))) {
      SetLastError(ERROR_ACCESS_DENIED);
      ok = false;
    } else if (h.kind == Open::Volume) {
      ok = VolumeControl(*h.volume, code, out, outSize, returned);
    } else if (h.kind == Open::File) {
      ok = FileControl(h.path, code, in, inSize, out, outSize, returned);
    } else {
      // The request block as the device sees it: input copied into the
      // output buffer where they are the same block is the caller's affair.
      Request req;
      req.code = code;
      req.in = std::span<const uint8_t>(in, in ? inSize : 0);
      req.out = std::span<uint8_t>(out, out ? outSize : 0);
      req.pointed = pointed;
      req.returned = returned;
      req.path = h.path;
      req.viaAdapter = h.kind == Open::Adapter;
      ok = req.viaAdapter ? h.drive->AdapterControl(req) : h.drive->Control(req);
    }
    rec.succeeded = ok;
    rec.error = ok ? 0 : GetLastError();
    uint32_t error = GetLastError();
    if (h.drive) h.drive->Journal(rec);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      log_.push_back(std::move(rec));
    }
    SetLastError(ok ? ERROR_SUCCESS : error);
    return ok;
  }

  bool ReadFile(HANDLE device, uint8_t* buffer, uint32_t size, uint32_t* read) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(device);
    if (it == handles_.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    Open& h = it->second;
    if (!(h.access & GENERIC_READ) || h.kind != Open::Drive) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    uint32_t got = 0;
    if (!h.drive->Read(h.position, buffer, size, &got)) return false;
    h.position += got;
    if (read) *read = got;
    return true;
  }

  bool CloseHandle(HANDLE device) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handles_.erase(device) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return true;
  }

  std::vector<RequestRecord> Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
  }

 private:
  struct Open {
    enum Kind { Drive, Adapter, Volume, File } kind = Drive;
    SimDrive* drive = nullptr;
    const SimVolume* volume = nullptr;
    int32_t port = -1;
    uint32_t access = 0, share = 0;
    std::string path;
    uint64_t position = 0;
  };

  bool Lookup(HANDLE id, Open* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(id);
    if (it == handles_.end()) return false;
    *out = it->second;
    return true;
  }

  static bool SameTarget(const Open& a, const Open& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Open::Volume) return a.volume == b.volume;
    if (a.kind == Open::File) return EqualsNoCaseAscii(a.path, b.path);
    if (a.kind == Open::Adapter) return a.port == b.port;
    return a.drive == b.drive;
  }

  // The platform's rule: each open's sharing must admit the other's access.
  static bool Compatible(const Open& a, const Open& b) {
    auto admits = [](const Open& holder, const Open& newcomer) {
      if ((newcomer.access & GENERIC_READ) && !(holder.share & FILE_SHARE_READ)) return false;
      if ((newcomer.access & GENERIC_WRITE) && !(holder.share & FILE_SHARE_WRITE)) return false;
      return true;
    };
    return admits(a, b) && admits(b, a);
  }

  const SimVolume* FindVolume(const std::string& letter) const {
    for (const auto& v : machine_.Volumes())
      if (EqualsNoCaseAscii(v.letter, letter)) return &v;
    return nullptr;
  }

  static bool VolumeControl(const SimVolume& v, uint32_t code, uint8_t* out, uint32_t outSize,
                            uint32_t* returned) {
    if (code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
      if (v.disk < 0 && v.deviceType == FILE_DEVICE_DISK) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
      }
      if (outSize < wire::StorageDeviceNumber::kSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
      }
      wire::StorageDeviceNumber n{v.deviceType, static_cast<uint32_t>(v.disk < 0 ? 0 : v.disk),
                                  v.partition};
      n.Encode(out);
      *returned = wire::StorageDeviceNumber::kSize;
      return true;
    }
    if (code == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS) {
      // One extent: the partition on its disk.
      if (v.disk < 0) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
      }
      if (outSize < wire::VolumeDiskExtents::SizeFor(1)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
      }
      *returned = wire::VolumeDiskExtents::Encode(
          {wire::DiskExtent{static_cast<uint32_t>(v.disk), v.offsetBytes, v.sizeBytes}}, out);
      return true;
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }

  // FSCTL_GET_RETRIEVAL_POINTERS on a file of a volume: its one run, from
  // the virtual cluster asked for.
  bool FileControl(const std::string& path, uint32_t code, const uint8_t* in, uint32_t inSize,
                   uint8_t* out, uint32_t outSize, uint32_t* returned) {
    if (code != FSCTL_GET_RETRIEVAL_POINTERS) {
      SetLastError(ERROR_INVALID_FUNCTION);
      return false;
    }
    if (!in || inSize < wire::StartingVcnInput::kSize) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    if (!out || outSize < wire::RetrievalPointers::kExtents) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    int64_t from = wire::StartingVcnInput::Decode(in);
    SimFiles::Placement place;
    if (!machine_.FileSystem().PlaceFile(path, &place)) return false;
    if (from < 0 || static_cast<uint64_t>(from) >= place.clusters) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    wire::RetrievalPointers answer;
    answer.StartingVcn = from;
    answer.Extents.push_back(wire::RetrievalExtent{static_cast<int64_t>(place.clusters),
                                                   static_cast<int64_t>(place.firstCluster) + from});
    if (outSize < wire::RetrievalPointers::SizeFor(1)) {
      SetLastError(ERROR_MORE_DATA);
      return false;
    }
    *returned = answer.Encode(out);
    return true;
  }

  SimMachine& machine_;
  mutable std::mutex mutex_;
  std::map<HANDLE, Open> handles_;
  HANDLE next_ = 0x100;
  std::vector<RequestRecord> log_;
};

class SimSystem final : public System {
 public:
  explicit SimSystem(SimMachine& m) : machine_(m) {
    const Json& root = m.Root();
    Json os = root.value("os", Json::object());
    CheckKeys(os, {"major", "minor", "build", "platformId", "servicePack", "servicePackMajor",
                   "servicePackMinor", "productType", "extendedFails", "fails", "comment"},
              "os");
    version_.dwMajorVersion = U32Or(os, "major", 6, "os");
    version_.dwMinorVersion = U32Or(os, "minor", 2, "os");
    version_.dwBuildNumber = U32Or(os, "build", 9200, "os");
    version_.dwPlatformId = U32Or(os, "platformId", 2, "os");
    version_.szCSDVersion = TruncateUtf16(TextOr(os, "servicePack", "", "os"), 127);
    version_.wServicePackMajor = U16Or(os, "servicePackMajor", 0, "os");
    version_.wServicePackMinor = U16Or(os, "servicePackMinor", 0, "os");
    version_.wProductType = U8Or(os, "productType", 1, "os");
    extendedFails_ = BoolOr(os, "extendedFails", false, "os");
    fails_ = BoolOr(os, "fails", false, "os");

    Json env = root.value("environment", Json::object());
    if (!env.is_object()) throw FixtureError("environment: expected an object of texts");
    for (auto it = env.begin(); it != env.end(); ++it) {
      if (!it->is_string()) throw FixtureError("environment." + it.key() + ": expected a text");
      environment_[it.key()] = it->get<std::string>();
    }
    uiLanguage_ = U16Or(root, "uiLanguage", 1033, "uiLanguage");
  }

  bool GetVersionExW(OSVERSIONINFOEXW* info) override {
    uint32_t size = info->dwOSVersionInfoSize;
    if (fails_ || (size == kOsVersionInfoExSize && extendedFails_) ||
        (size != kOsVersionInfoExSize && size != kOsVersionInfoSize)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return false;
    }
    OSVERSIONINFOEXW v = version_;
    v.dwOSVersionInfoSize = size;
    if (size == kOsVersionInfoSize) {  // the basic record ends after the service-pack text
      v.wServicePackMajor = v.wServicePackMinor = v.wSuiteMask = 0;
      v.wProductType = v.wReserved = 0;
    }
    *info = v;
    return true;
  }

  uint32_t GetTickCount() override { return static_cast<uint32_t>(machine_.Clock().NowMs()); }
  int64_t GetUnixTimeMs() override { return machine_.Clock().UnixMs(); }
  void Sleep(uint32_t ms) override {
    machine_.Clock().Advance(ms);
    std::this_thread::yield();
  }
  std::optional<std::string> GetEnvironmentVariable(const std::string& name) override {
    auto it = environment_.find(name);
    if (it != environment_.end()) return it->second;
    const char* real = std::getenv(name.c_str());
    if (real) return std::string(real);
    return std::nullopt;
  }
  std::string GetModuleFileName() override { return machine_.ProgramPath(); }
  uint16_t GetUserDefaultUILanguage() override { return uiLanguage_; }
  // The log's fallback is a real folder of the user who runs the program, as
  // on the real machine; a machine file cannot move it.
  std::string GetLogFolder() override { return hostfs::DefaultLogFolder(); }

 private:
  SimMachine& machine_;
  OSVERSIONINFOEXW version_;
  bool extendedFails_ = false;
  bool fails_ = false;
  std::map<std::string, std::string> environment_;
  uint16_t uiLanguage_ = 1033;
};

}  // namespace

SimMachine::SimMachine(const Json& root) : root_(root), parts_(std::make_unique<Components>()) {
  CheckKeys(root_, {"comment", "name", "os", "program", "clock", "environment", "uiLanguage",
                    "drives", "volumes", "controllers", "system", "wmi", "registry",
                    "deviceTree", "processes", "diskpart", "libraries", "windows", "services",
                    "files", "network"},
            "machine");

  Json clock = root_.value("clock", Json::object());
  CheckKeys(clock, {"tick", "time", "comment"}, "clock");
  uint64_t tick = NumberOr(clock, "tick", 100000, "clock");
  int64_t unixMs = ParseUtc(TextOr(clock, "time", "2026-12-01T09:00:00Z", "clock"), "clock.time");
  clock_ = std::make_unique<VirtualClock>(tick, unixMs);

  Json program = root_.value("program", Json::object());
  CheckKeys(program, {"path", "comment"}, "program");
  programPath_ = TextOr(program, "path", RunningProgramPath(), "program");

  if (root_.contains("drives")) {
    const Json& list = root_["drives"];
    if (!list.is_array()) throw FixtureError("drives: expected a list");
    if (list.size() > kMaxDrives)
      throw FixtureError("drives: " + std::to_string(list.size()) + " drives, but the platform " +
                         "shows at most " + std::to_string(kMaxDrives) + " disk interfaces");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "drives[" + std::to_string(i) + "]";
      if (!list[i].is_object()) throw FixtureError(where + ": expected an object");
      std::string kind = TextOr(list[i], "kind", "sata", where);
      if (kind == "sata") {
        drives_.push_back(MakeSataDrive(*this, list[i], where));
      } else if (kind == "nvme") {
        drives_.push_back(MakeNvmeDrive(*this, list[i], where));
      } else {
        throw FixtureError(where + ".kind: expected \"sata\" or \"nvme\"");
      }
    }
    for (size_t i = 0; i < drives_.size(); ++i)
      for (size_t j = 0; j < i; ++j)
        if (drives_[i]->Present() && drives_[j]->Present() &&
            drives_[i]->Index() == drives_[j]->Index())
          throw FixtureError("drives[" + std::to_string(i) + "].index: disk number " +
                             std::to_string(drives_[i]->Index()) + " is used twice");
    for (const auto& d : drives_) {
      if (!d->Present()) continue;
      drivesByPath_.emplace(ToLowerAscii(d->InterfacePath()), d.get());
      drivesByIndex_.emplace(d->Index(), d.get());
    }
  }

  if (root_.contains("volumes")) {
    const Json& list = root_["volumes"];
    if (!list.is_array()) throw FixtureError("volumes: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "volumes[" + std::to_string(i) + "]";
      const Json& v = list[i];
      CheckKeys(v, {"letter", "fileSystem", "size", "free", "disk", "deviceType", "partition",
                    "offset", "label", "files", "clusterSize", "faults", "comment", "trimOnRequest"},
                where);
      SimVolume vol;
      vol.letter = TextOr(v, "letter", "", where);
      if (vol.letter.size() != 1) throw FixtureError(where + ".letter: expected one letter");
      vol.fileSystem = TextOr(v, "fileSystem", "NTFS", where);
      vol.sizeBytes = NumberOr(v, "size", 0, where);
      vol.freeBytes = NumberOr(v, "free", 0, where);
      vol.disk = static_cast<int32_t>(IntegerOr(v, "disk", -1, -1, kMaxDiskNumber, where));
      std::string type = TextOr(v, "deviceType", "disk", where);
      if (type == "disk") {
        vol.deviceType = FILE_DEVICE_DISK;
      } else if (type == "cdrom") {
        vol.deviceType = FILE_DEVICE_CD_ROM;
      } else {
        throw FixtureError(where + ".deviceType: expected \"disk\" or \"cdrom\"");
      }
      vol.partition = U32Or(v, "partition", 1, where);
      vol.offsetBytes = NumberOr(v, "offset", 1048576, where);
      vol.entry = v;
      volumes_.push_back(vol);
    }
  }

  LoadControllers();

  parts_->devices = std::make_unique<SimDevices>(*this);
  parts_->system = std::make_unique<SimSystem>(*this);
  parts_->tree = MakeSimDeviceTree(*this);
  parts_->com = MakeSimCom(*this);
  parts_->registry = MakeSimRegistry(*this);
  parts_->files = MakeSimFiles(*this);
  SimProcessesAndWindows procs = MakeSimProcesses(*this);
  parts_->processes = std::move(procs.processes);
  parts_->windows = std::move(procs.windows);
  parts_->services = MakeSimServices(*this, root_.value("services", Json()));
  parts_->volumeTrim = MakeSimVolumeTrim(*this);
  parts_->uses = MakeSimDiskUses(*this);
}

SimMachine::~SimMachine() = default;

void SimMachine::LoadControllers() {
  if (root_.contains("controllers")) {
    const Json& list = root_["controllers"];
    if (!list.is_array()) throw FixtureError("controllers: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "controllers[" + std::to_string(i) + "]";
      const Json& c = list[i];
      CheckKeys(c, {"name", "deviceId", "hardwareIds", "type", "driver", "driverProvider",
                    "driverVersion", "pcie", "comment"},
                where);
      SimController ctl;
      ctl.name = TextOr(c, "name", "Storage Controller " + std::to_string(i), where);
      ctl.deviceId = TextOr(c, "deviceId", "", where);
      if (ctl.deviceId.empty()) throw FixtureError(where + ".deviceId: required");
      if (c.contains("hardwareIds")) {
        if (!c["hardwareIds"].is_array()) throw FixtureError(where + ".hardwareIds: expected a list");
        for (const Json& h : c["hardwareIds"]) {
          if (!h.is_string()) throw FixtureError(where + ".hardwareIds: expected texts");
          ctl.hardwareIds.push_back(h.get<std::string>());
        }
      }
      ctl.type = TextOr(c, "type", "ide", where);
      if (ctl.type != "ide" && ctl.type != "scsi")
        throw FixtureError(where + ".type: expected \"ide\" or \"scsi\"");
      ctl.hasDriver = BoolOr(c, "driver", true, where);
      ctl.driverProvider = TextOr(c, "driverProvider", "Microsoft", where);
      ctl.driverVersion = TextOr(c, "driverVersion", "10.0.19041.1", where);
      if (c.contains("pcie")) {
        const Json& p = c["pcie"];
        std::string pw = where + ".pcie";
        CheckKeys(p, {"maxWidth", "maxSpeed", "currentWidth", "currentSpeed", "comment"}, pw);
        ctl.hasPcie = true;
        ctl.pcieMaxWidth = U32Or(p, "maxWidth", 0, pw);
        ctl.pcieMaxSpeed = U32Or(p, "maxSpeed", 0, pw);
        ctl.pcieCurrentWidth = U32Or(p, "currentWidth", 0, pw);
        ctl.pcieCurrentSpeed = U32Or(p, "currentSpeed", 0, pw);
      }
      ctl.entry = c;
      controllers_.push_back(ctl);
    }
    for (size_t i = 0; i < drives_.size(); ++i) {
      std::string where = "drives[" + std::to_string(i) + "].controller";
      const Json& entry = drives_[i]->Entry();
      int index = -1;
      if (entry.contains("controller") && !entry["controller"].is_null()) {
        int64_t v = IntegerIn(entry["controller"], 0, INT32_MAX, where);
        if (static_cast<size_t>(v) >= controllers_.size())
          throw FixtureError(where + ": no such controller");
        index = static_cast<int>(v);
      }
      driveControllers_.push_back(index);
    }
    return;
  }

  // No controllers listed: the SATA disks hang on one AHCI controller and
  // every NVMe disk on a controller of its own, as on a typical desktop.
  int ahci = -1;
  for (size_t i = 0; i < drives_.size(); ++i) {
    const SimDrive& d = *drives_[i];
    if (d.Entry().contains("controller"))
      throw FixtureError("drives[" + std::to_string(i) +
                         "].controller: the machine lists no controllers");
    int index = -1;
    if (d.Bus() == "sata") {
      if (ahci < 0) {
        SimController ctl;
        ctl.name = "Standard SATA AHCI Controller";
        ctl.deviceId = "PCI\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31\\3&11583659&0&B8";
        ctl.hardwareIds = {"PCI\\VEN_8086&DEV_A102&SUBSYS_86941043&REV_31",
                           "PCI\\VEN_8086&DEV_A102&SUBSYS_86941043",
                           "PCI\\VEN_8086&DEV_A102&CC_010601", "PCI\\VEN_8086&DEV_A102&CC_0106"};
        ctl.type = "ide";
        ctl.driverProvider = "Microsoft";
        ctl.driverVersion = "10.0.19041.3636";
        controllers_.push_back(ctl);
        ahci = static_cast<int>(controllers_.size()) - 1;
      }
      index = ahci;
    } else if (d.Bus() == "nvme") {
      SimController ctl;
      std::string n = std::to_string(controllers_.size());
      ctl.name = "Standard NVM Express Controller";
      ctl.deviceId = "PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B&REV_01\\4&2A1B3C4D&0&00E" + n;
      ctl.hardwareIds = {"PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B&REV_01",
                         "PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B",
                         "PCI\\VEN_1E4B&DEV_1202&CC_010802", "PCI\\VEN_1E4B&DEV_1202&CC_0108"};
      ctl.type = "scsi";
      ctl.driverProvider = "Microsoft";
      ctl.driverVersion = "10.0.19041.3636";
      ctl.hasPcie = true;
      ctl.pcieMaxWidth = 4;
      ctl.pcieMaxSpeed = 3;
      ctl.pcieCurrentWidth = 4;
      ctl.pcieCurrentSpeed = 3;
      controllers_.push_back(ctl);
      index = static_cast<int>(controllers_.size()) - 1;
    }
    driveControllers_.push_back(index);
  }
}

int SimMachine::ControllerOf(const SimDrive& drive) const {
  for (size_t i = 0; i < drives_.size(); ++i)
    if (drives_[i].get() == &drive) return driveControllers_[i];
  return -1;
}

DeviceIo& SimMachine::Devices() { return *parts_->devices; }
System& SimMachine::Sys() { return *parts_->system; }
DeviceTree& SimMachine::Tree() { return *parts_->tree; }
Com& SimMachine::Wmi() { return *parts_->com; }
Registry& SimMachine::Reg() { return *parts_->registry; }
Processes& SimMachine::Procs() { return *parts_->processes; }
platform::Files& SimMachine::Files() { return *parts_->files; }
SimFiles& SimMachine::FileSystem() { return *parts_->files; }
WindowMessages& SimMachine::Windows() { return *parts_->windows; }
platform::Services& SimMachine::Services() { return *parts_->services; }
SimServices& SimMachine::ServiceManager() { return *parts_->services; }
platform::VolumeTrim& SimMachine::VolumeTrim() { return *parts_->volumeTrim; }
DiskUses& SimMachine::Uses() { return *parts_->uses; }

SimDrive* SimMachine::DriveByIndex(int32_t index) const {
  auto it = drivesByIndex_.find(index);
  return it == drivesByIndex_.end() ? nullptr : it->second;
}

SimDrive* SimMachine::DriveByInterfacePath(const std::string& path) const {
  auto it = drivesByPath_.find(ToLowerAscii(path));
  return it == drivesByPath_.end() ? nullptr : it->second;
}

void SimMachine::SetProgramPath(std::string path) { programPath_ = std::move(path); }

std::vector<RequestRecord> SimMachine::RequestLog() const {
  return static_cast<SimDevices&>(*parts_->devices).Log();
}

void SimMachine::ClearRequestLog() {
  static_cast<SimDevices&>(*parts_->devices).ClearLog();
  for (const auto& d : drives_) d->ClearJournal();
}

namespace {

// The current directory, where relative names of the machine file land.
std::string CurrentFolder() {
  std::error_code ec;
  std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

// Loads a machine whose written files may go only into `folders`.
LoadResult LoadMachineIn(std::string_view text, const std::string& sourceName,
                         const std::vector<std::string>& folders) {
  LoadResult result;
  // Checked before parsing: the parsed tree is copied recursively, so a
  // deeply nested file would exhaust the stack.
  std::string tooDeep = CheckNesting(text);
  if (!tooDeep.empty()) {
    result.error = sourceName + ": " + tooDeep;
    return result;
  }
  Json root;
  try {
    root = Json::parse(text.begin(), text.end(), nullptr, true, /*ignore_comments=*/true);
  } catch (const Json::parse_error& e) {
    result.error = sourceName + ": not valid JSON: " + e.what();
    return result;
  }
  try {
    CheckWrittenPaths(root, folders);
    result.machine = std::make_shared<SimMachine>(root);
  } catch (const FixtureError& e) {
    result.error = sourceName + ": " + e.what();
  } catch (const Json::exception& e) {
    result.error = sourceName + ": " + e.what();
  }
  return result;
}

}  // namespace

LoadResult LoadMachineText(std::string_view text, const std::string& sourceName) {
  return LoadMachineIn(text, sourceName, {CurrentFolder()});
}

LoadResult LoadMachineFile(const std::string& path) {
  std::string text, error;
  if (!ReadMachineFileText(path, &text, &error)) return LoadResult{nullptr, error};
  // The files the machine writes go to the current directory or beside the
  // machine file, the folders the user chose for this run.
  std::vector<std::string> folders{CurrentFolder()};
  std::error_code ec;
  std::filesystem::path own = std::filesystem::absolute(path, ec).parent_path();
  if (!ec && own.string() != folders[0]) folders.push_back(own.string());
  LoadResult result = LoadMachineIn(text, path, folders);
  if (result.machine) {
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    result.machine->SetSource(ec ? path : canonical.string());
  }
  return result;
}

}  // namespace zel::sim
