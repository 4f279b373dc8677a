#include "platform/sim/sim_tree.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/text.h"
#include "platform/wire/setup.h"

namespace zel::sim {

using namespace zel::platform;

namespace {

// What the platform's libraries export of the functions the system looks up
// at run time (and the rest of the device-tree calls, for completeness).
const std::map<std::string, std::set<std::string>>& DefaultLibraries() {
  static const std::map<std::string, std::set<std::string>> libs = {
      {"setupapi.dll",
       {"SetupDiGetClassDevsW", "SetupDiDestroyDeviceInfoList", "SetupDiEnumDeviceInterfaces",
        "SetupDiGetDeviceInterfaceDetailW", "SetupDiEnumDeviceInfo",
        "SetupDiGetDevicePropertyW"}},
      {"cfgmgr32.dll", {"CM_Locate_DevNodeW", "CM_Reenumerate_DevNode", "CM_Get_Device_IDW"}},
  };
  return libs;
}

// The machine-file names of the four PCI Express link properties.
struct PciKey {
  const char* field;
  uint32_t pid;
};
constexpr PciKey kPciKeys[] = {
    {"currentSpeed", DEVPKEY_PciDevice_CurrentLinkSpeed.pid},
    {"currentWidth", DEVPKEY_PciDevice_CurrentLinkWidth.pid},
    {"maxSpeed", DEVPKEY_PciDevice_MaxLinkSpeed.pid},
    {"maxWidth", DEVPKEY_PciDevice_MaxLinkWidth.pid},
};

constexpr const char* kRootDeviceId = "HTREE\\ROOT\\0";

}  // namespace

SimDeviceTree::SimDeviceTree(SimMachine& machine) {
  const Json& root = machine.Root();

  for (const auto& d : machine.Drives()) interfaces_.push_back({d->InterfacePath(), d->Present()});

  Json tree = root.value("deviceTree", Json::object());
  CheckKeys(tree, {"interfaces", "classDevsFails", "rescan", "comment"}, "deviceTree");
  if (tree.contains("interfaces")) {
    const Json& list = tree["interfaces"];
    if (!list.is_array()) throw FixtureError("deviceTree.interfaces: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "deviceTree.interfaces[" + std::to_string(i) + "]";
      Interface extra;
      size_t position = interfaces_.size();
      if (list[i].is_string()) {
        extra.path = list[i].get<std::string>();
      } else {
        CheckKeys(list[i], {"path", "position", "present", "comment"}, where);
        extra.path = TextOr(list[i], "path", "", where);
        extra.present = BoolOr(list[i], "present", true, where);
        position = NumberOr(list[i], "position", position, where);
        if (position > interfaces_.size())
          throw FixtureError(where + ".position: past the end of the list (" +
                             std::to_string(interfaces_.size()) + " interfaces so far)");
      }
      if (extra.path.empty()) throw FixtureError(where + ": needs a path");
      interfaces_.insert(interfaces_.begin() + static_cast<long>(position), extra);
    }
  }
  classDevsFails_ = BoolOr(tree, "classDevsFails", false, "deviceTree");
  Json rescan = tree.value("rescan", Json::object());
  CheckKeys(rescan, {"locate", "reenumerate", "comment"}, "deviceTree.rescan");
  locateResult_ = U32Or(rescan, "locate", CR_SUCCESS, "deviceTree.rescan");
  reenumerateResult_ = U32Or(rescan, "reenumerate", CR_SUCCESS, "deviceTree.rescan");

  for (const SimController& c : machine.Controllers()) {
    if (c.type != "scsi") continue;  // IDE/AHCI controllers are not in the storage-adapter class
    Adapter a;
    a.deviceId = c.deviceId;
    if (c.hasPcie) {
      const Json pcie = c.entry.is_object() ? c.entry.value("pcie", Json()) : Json();
      for (const PciKey& k : kPciKeys) {
        // Properties the machine file leaves out do not exist; a controller
        // with default link values (no machine-file object) has all four.
        if (pcie.is_object() && !pcie.contains(k.field)) continue;
        uint32_t v = 0;
        if (k.pid == DEVPKEY_PciDevice_CurrentLinkSpeed.pid) v = c.pcieCurrentSpeed;
        if (k.pid == DEVPKEY_PciDevice_CurrentLinkWidth.pid) v = c.pcieCurrentWidth;
        if (k.pid == DEVPKEY_PciDevice_MaxLinkSpeed.pid) v = c.pcieMaxSpeed;
        if (k.pid == DEVPKEY_PciDevice_MaxLinkWidth.pid) v = c.pcieMaxWidth;
        a.pciProperties[k.pid] = v;
      }
    }
    adapters_.push_back(a);
  }

  libraries_ = DefaultLibraries();
  Json libs = root.value("libraries", Json::object());
  if (!libs.is_object()) throw FixtureError("libraries: expected an object");
  for (auto it = libs.begin(); it != libs.end(); ++it) {
    std::string where = "libraries." + it.key();
    std::string name = ToLowerAscii(it.key());
    if (it.key() == "comment") continue;
    if (it->is_null() || (it->is_boolean() && !it->get<bool>())) {
      libraries_.erase(name);  // the library is missing
      continue;
    }
    if (!it->is_array()) throw FixtureError(where + ": expected a list of function names or null");
    std::set<std::string> exports;
    for (const Json& f : *it) {
      if (!f.is_string()) throw FixtureError(where + ": expected function names");
      exports.insert(f.get<std::string>());
    }
    libraries_[name] = exports;
  }
}

void SimDeviceTree::Record(const char* function, uint32_t argument, uint32_t flags) {
  calls_.push_back({function, argument, flags});
}

const SimDeviceTree::Set* SimDeviceTree::FindSet(HDEVINFO handle) const {
  auto it = sets_.find(handle);
  return it == sets_.end() ? nullptr : &it->second;
}

std::vector<SimDeviceTree::Call> SimDeviceTree::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

size_t SimDeviceTree::OpenSets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sets_.size();
}

HDEVINFO SimDeviceTree::SetupDiGetClassDevsW(const GUID& classGuid, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiGetClassDevsW", 0, flags);
  if (classDevsFails_) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_DEVINFO;
  }
  Set set;
  bool presentOnly = (flags & DIGCF_PRESENT) != 0;
  if ((flags & DIGCF_DEVICEINTERFACE) && classGuid == GUID_DEVINTERFACE_DISK) {
    set.kind = Set::DiskInterfaces;
    for (const Interface& i : interfaces_)
      if (i.present || !presentOnly) set.paths.push_back(i.path);
  } else if (!(flags & DIGCF_DEVICEINTERFACE) && classGuid == GUID_DEVCLASS_SCSIADAPTER) {
    set.kind = Set::Adapters;
  }
  HDEVINFO handle = nextSet_++;
  sets_[handle] = std::move(set);
  SetLastError(ERROR_SUCCESS);
  return handle;
}

bool SimDeviceTree::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiDestroyDeviceInfoList", 0);
  if (sets_.erase(set) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

bool SimDeviceTree::SetupDiEnumDeviceInterfaces(HDEVINFO handle, const GUID& interfaceClass,
                                                uint32_t memberIndex) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiEnumDeviceInterfaces", memberIndex);
  const Set* set = FindSet(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (set->kind != Set::DiskInterfaces || !(interfaceClass == GUID_DEVINTERFACE_DISK) ||
      memberIndex >= set->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  return true;
}

bool SimDeviceTree::SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, uint32_t memberIndex,
                                                     uint8_t* detail, uint32_t detailSize,
                                                     uint32_t* requiredSize) {
  using D = wire::SpDeviceInterfaceDetailW;
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiGetDeviceInterfaceDetailW", memberIndex);
  const Set* set = FindSet(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (set->kind != Set::DiskInterfaces || memberIndex >= set->paths.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  std::string units = Utf8ToUtf16LeBytes(set->paths[memberIndex], /*withNul=*/true);
  uint32_t needed = D::kDevicePath + static_cast<uint32_t>(units.size());
  if (requiredSize) *requiredSize = needed;
  if (!detail) {
    SetLastError(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_PARAMETER);
    return false;
  }
  if (detailSize < D::kDevicePath || GetLE32(detail + D::kCbSize) != D::kCbSizeValue) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (detailSize < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::memcpy(detail + D::kDevicePath, units.data(), units.size());
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool SimDeviceTree::SetupDiEnumDeviceInfo(HDEVINFO handle, uint32_t memberIndex,
                                          uint32_t* devInst) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiEnumDeviceInfo", memberIndex);
  const Set* set = FindSet(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (set->kind != Set::Adapters || memberIndex >= adapters_.size()) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return false;
  }
  if (devInst) *devInst = kFirstAdapterDevInst + memberIndex;
  return true;
}

uint32_t SimDeviceTree::CM_Get_Device_IDW(uint32_t devInst, char16_t* buffer,
                                          uint32_t bufferChars) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("CM_Get_Device_IDW", devInst);
  std::string id;
  if (devInst == kRootDevInst) {
    id = kRootDeviceId;
  } else if (devInst >= kFirstAdapterDevInst && devInst - kFirstAdapterDevInst < adapters_.size()) {
    id = adapters_[devInst - kFirstAdapterDevInst].deviceId;
  } else {
    return CR_NO_SUCH_DEVNODE;
  }
  std::u16string units = Utf8ToUtf16(id);
  if (!buffer || units.size() > bufferChars) return CR_BUFFER_SMALL;
  // As the platform does: the identifier is terminated only when there is
  // room for the terminator.
  std::memcpy(buffer, units.data(), units.size() * sizeof(char16_t));
  if (units.size() < bufferChars) buffer[units.size()] = u'\0';
  return CR_SUCCESS;
}

bool SimDeviceTree::SetupDiGetDevicePropertyW(HDEVINFO handle, uint32_t memberIndex,
                                              const DEVPROPKEY& key, uint32_t* propertyType,
                                              uint8_t* buffer, uint32_t bufferSize,
                                              uint32_t* requiredSize) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("SetupDiGetDevicePropertyW", key.pid);
  const Set* set = FindSet(handle);
  if (!set) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if (set->kind != Set::Adapters || memberIndex >= adapters_.size()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const Adapter& a = adapters_[memberIndex];
  auto it = a.pciProperties.find(key.pid);
  if (!(key.fmtid == DEVPKEY_PciDevice_Set) || it == a.pciProperties.end()) {
    SetLastError(ERROR_NOT_FOUND);
    return false;
  }
  if (propertyType) *propertyType = DEVPROP_TYPE_UINT32;
  if (requiredSize) *requiredSize = 4;
  if (!buffer || bufferSize < 4) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  PutLE32(buffer, it->second);
  SetLastError(ERROR_SUCCESS);
  return true;
}

bool SimDeviceTree::HasLibraryFunction(const std::string& library, const std::string& function) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = libraries_.find(ToLowerAscii(library));
  // Export names are case-sensitive; library names are not.
  return it != libraries_.end() && it->second.count(function) != 0;
}

uint32_t SimDeviceTree::CM_Locate_DevNodeW(uint32_t* devInst, const char16_t* deviceId,
                                           uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("CM_Locate_DevNodeW", deviceId && *deviceId ? 1 : 0, flags);
  if (!devInst) return CR_FAILURE;
  if (locateResult_ != CR_SUCCESS) return locateResult_;
  std::string id = deviceId ? Utf16ToUtf8(deviceId) : std::string();
  if (id.empty() || EqualsNoCaseAscii(id, kRootDeviceId)) {
    *devInst = kRootDevInst;
    return CR_SUCCESS;
  }
  for (size_t i = 0; i < adapters_.size(); ++i)
    if (EqualsNoCaseAscii(adapters_[i].deviceId, id)) {
      *devInst = kFirstAdapterDevInst + static_cast<uint32_t>(i);
      return CR_SUCCESS;
    }
  return CR_NO_SUCH_DEVNODE;
}

uint32_t SimDeviceTree::CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("CM_Reenumerate_DevNode", devInst, flags);
  bool known = devInst == kRootDevInst ||
               (devInst >= kFirstAdapterDevInst && devInst - kFirstAdapterDevInst < adapters_.size());
  if (!known) return CR_NO_SUCH_DEVNODE;
  return reenumerateResult_;
}

std::unique_ptr<DeviceTree> MakeSimDeviceTree(SimMachine& machine) {
  return std::make_unique<SimDeviceTree>(machine);
}

}  // namespace zel::sim
