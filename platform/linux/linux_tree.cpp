// The device tree of the real machine: the disk interfaces (numbered disks,
// in disk-number order) and the storage adapters (mass-storage PCI
// functions) from sysfs, their PCI Express link properties, and the rescan
// as a rescan of every SCSI host and NVMe controller.
#include <map>
#include <mutex>

#include "platform/bytes.h"
#include "platform/errors.h"
#include "platform/linux/linux_machine.h"
#include "platform/text.h"
#include "platform/wire/setup.h"

namespace zel::linuxbackend {

using namespace zel::platform;

namespace {

// The root device node; adapters get the numbers after it.
constexpr uint32_t kRootDevInst = 1;

class LinuxTree final : public DeviceTree {
 public:
  explicit LinuxTree(std::shared_ptr<LinuxMachine> m) : machine_(std::move(m)) {}

  HDEVINFO SetupDiGetClassDevsW(const GUID& classGuid, uint32_t flags) override {
    Set set;
    if ((flags & DIGCF_DEVICEINTERFACE) && classGuid == GUID_DEVINTERFACE_DISK) {
      set.interfaces = true;
      set.interfaceClass = classGuid;
      for (const LinuxDisk& d : machine_->Disks().disks) set.paths.push_back(d.interfacePath);
    } else if (!(flags & DIGCF_DEVICEINTERFACE) && classGuid == GUID_DEVCLASS_SCSIADAPTER) {
      set.controllers = machine_->Controllers();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    HDEVINFO id = next_++;
    sets_[id] = std::move(set);
    return id;
  }

  bool SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (sets_.erase(set) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    return true;
  }

  bool SetupDiEnumDeviceInterfaces(HDEVINFO id, const GUID& interfaceClass, uint32_t index) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Set* set = Find(id);
    if (!set) return FailWith(ERROR_INVALID_HANDLE);
    if (!set->interfaces || !(set->interfaceClass == interfaceClass) || index >= set->paths.size())
      return FailWith(ERROR_NO_MORE_ITEMS);
    return true;
  }

  bool SetupDiGetDeviceInterfaceDetailW(HDEVINFO id, uint32_t index, uint8_t* detail,
                                        uint32_t detailSize, uint32_t* requiredSize) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Set* set = Find(id);
    if (!set) return FailWith(ERROR_INVALID_HANDLE);
    if (!set->interfaces || index >= set->paths.size()) return FailWith(ERROR_NO_MORE_ITEMS);
    using D = wire::SpDeviceInterfaceDetailW;
    std::string path = Utf8ToUtf16LeBytes(set->paths[index], true);
    uint32_t needed = D::kDevicePath + static_cast<uint32_t>(path.size());
    if (requiredSize) *requiredSize = needed;
    if (detail && detailSize >= D::kDevicePath && GetLE32(detail + D::kCbSize) != D::kCbSizeValue)
      return FailWith(ERROR_INVALID_PARAMETER);
    if (!detail || detailSize < needed) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    std::copy(path.begin(), path.end(), detail + D::kDevicePath);
    return true;
  }

  bool SetupDiEnumDeviceInfo(HDEVINFO id, uint32_t index, uint32_t* devInst) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Set* set = Find(id);
    if (!set) return FailWith(ERROR_INVALID_HANDLE);
    if (set->interfaces || index >= set->controllers.size()) return FailWith(ERROR_NO_MORE_ITEMS);
    if (devInst) *devInst = DevInstOf(set->controllers[index].instanceId);
    return true;
  }

  uint32_t CM_Get_Device_IDW(uint32_t devInst, char16_t* buffer, uint32_t bufferChars) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string id;
    if (devInst == kRootDevInst) {
      id = "HTREE\\ROOT\\0";
    } else {
      auto it = instanceIds_.find(devInst);
      if (it == instanceIds_.end()) return CR_NO_SUCH_DEVNODE;
      id = it->second;
    }
    std::u16string text = Utf8ToUtf16(id);
    if (!buffer || bufferChars < text.size() + 1) return CR_BUFFER_SMALL;
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = u'\0';
    return CR_SUCCESS;
  }

  bool SetupDiGetDevicePropertyW(HDEVINFO id, uint32_t index, const DEVPROPKEY& key,
                                 uint32_t* propertyType, uint8_t* buffer, uint32_t bufferSize,
                                 uint32_t* requiredSize) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Set* set = Find(id);
    if (!set) return FailWith(ERROR_INVALID_HANDLE);
    if (set->interfaces || index >= set->controllers.size()) return FailWith(ERROR_NO_MORE_ITEMS);
    const StorageController& c = set->controllers[index];
    uint32_t value = 0;
    if (!c.link) return FailWith(ERROR_NOT_FOUND);
    if (key == DEVPKEY_PciDevice_CurrentLinkSpeed) value = c.link->currentSpeed;
    else if (key == DEVPKEY_PciDevice_CurrentLinkWidth) value = c.link->currentWidth;
    else if (key == DEVPKEY_PciDevice_MaxLinkSpeed) value = c.link->maxSpeed;
    else if (key == DEVPKEY_PciDevice_MaxLinkWidth) value = c.link->maxWidth;
    else return FailWith(ERROR_NOT_FOUND);
    if (propertyType) *propertyType = DEVPROP_TYPE_UINT32;
    if (requiredSize) *requiredSize = 4;
    if (!buffer || bufferSize < 4) return FailWith(ERROR_INSUFFICIENT_BUFFER);
    PutLE32(buffer, value);
    return true;
  }

  bool HasLibraryFunction(const std::string& library, const std::string& function) override {
    std::string lib = ToLowerAscii(library);
    if (lib == "cfgmgr32.dll" || lib == "cfgmgr32")
      return function == "CM_Locate_DevNodeW" || function == "CM_Reenumerate_DevNode" ||
             function == "CM_Get_Device_IDW";
    if (lib == "setupapi.dll" || lib == "setupapi")
      return StartsWith(function, "SetupDi") || function == "CM_Get_Device_IDW";
    return false;
  }

  uint32_t CM_Locate_DevNodeW(uint32_t* devInst, const char16_t* deviceId, uint32_t) override {
    if (!devInst) return CR_FAILURE;
    if (!deviceId || !*deviceId) {
      *devInst = kRootDevInst;
      return CR_SUCCESS;
    }
    std::string id = Utf16ToUtf8(deviceId);
    for (const StorageController& c : machine_->Controllers())
      if (EqualsNoCaseAscii(c.instanceId, id)) {
        std::lock_guard<std::mutex> lock(mutex_);
        *devInst = DevInstOf(c.instanceId);
        return CR_SUCCESS;
      }
    return CR_NO_SUCH_DEVNODE;
  }

  uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t) override {
    if (devInst != kRootDevInst) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!instanceIds_.count(devInst)) return CR_NO_SUCH_DEVNODE;
    }
    // The whole tree: every SCSI host looks for new devices on all channels,
    // targets and logical units; every NVMe controller for new namespaces.
    const HostFiles& files = machine_->Files();
    bool ok = true;
    for (const std::string& host : files.List("/sys/class/scsi_host"))
      if (files.WriteExisting("/sys/class/scsi_host/" + host + "/scan", "- - -") != 0) ok = false;
    for (const std::string& ctl : files.List("/sys/class/nvme"))
      if (files.Exists("/sys/class/nvme/" + ctl + "/rescan_controller") &&
          files.WriteExisting("/sys/class/nvme/" + ctl + "/rescan_controller", "1") != 0)
        ok = false;
    // What the hosts found is seen by the next scan, not a kept one.
    machine_->ForgetScans();
    return ok ? CR_SUCCESS : CR_FAILURE;
  }

 private:
  struct Set {
    bool interfaces = false;
    GUID interfaceClass;
    std::vector<std::string> paths;
    std::vector<StorageController> controllers;
  };

  Set* Find(HDEVINFO id) {
    auto it = sets_.find(id);
    return it == sets_.end() ? nullptr : &it->second;
  }

  // Device instance handles stay the same for an instance identifier for
  // the life of the tree.
  uint32_t DevInstOf(const std::string& instanceId) {
    for (const auto& [inst, id] : instanceIds_)
      if (id == instanceId) return inst;
    uint32_t inst = kRootDevInst + 1 + static_cast<uint32_t>(instanceIds_.size());
    instanceIds_[inst] = instanceId;
    return inst;
  }

  std::shared_ptr<LinuxMachine> machine_;
  std::mutex mutex_;
  std::map<HDEVINFO, Set> sets_;
  HDEVINFO next_ = 0x10;
  std::map<uint32_t, std::string> instanceIds_;
};

}  // namespace

std::unique_ptr<DeviceTree> MakeLinuxTree(std::shared_ptr<LinuxMachine> machine) {
  return std::make_unique<LinuxTree>(std::move(machine));
}

}  // namespace zel::linuxbackend
