// The device tree of the simulated machine:
//
// - disk device interfaces: the interface paths of the drives in machine-file
//   order, plus the extra interfaces the "deviceTree" section lists (one that
//   matches no disk, a path too long for the caller's buffer, ...);
// - the storage-adapter class: the machine's controllers of type "scsi",
//   with their instance identifiers and PCI Express link properties;
// - which functions "Setupapi.dll" and "cfgmgr32.dll" export ("libraries");
// - the rescan of the tree, whose two calls can be made to fail.
//
// It keeps a journal of the calls it received, so a test can tell which
// interfaces were looked at and whether every set was released.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/device_tree.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

class SimDeviceTree final : public platform::DeviceTree {
 public:
  explicit SimDeviceTree(SimMachine& machine);

  platform::HDEVINFO SetupDiGetClassDevsW(const platform::GUID& classGuid, uint32_t flags) override;
  bool SetupDiDestroyDeviceInfoList(platform::HDEVINFO set) override;
  bool SetupDiEnumDeviceInterfaces(platform::HDEVINFO set, const platform::GUID& interfaceClass,
                                   uint32_t memberIndex) override;
  bool SetupDiGetDeviceInterfaceDetailW(platform::HDEVINFO set, uint32_t memberIndex,
                                        uint8_t* detail, uint32_t detailSize,
                                        uint32_t* requiredSize) override;
  bool SetupDiEnumDeviceInfo(platform::HDEVINFO set, uint32_t memberIndex,
                             uint32_t* devInst) override;
  uint32_t CM_Get_Device_IDW(uint32_t devInst, char16_t* buffer, uint32_t bufferChars) override;
  bool SetupDiGetDevicePropertyW(platform::HDEVINFO set, uint32_t memberIndex,
                                 const platform::DEVPROPKEY& key, uint32_t* propertyType,
                                 uint8_t* buffer, uint32_t bufferSize,
                                 uint32_t* requiredSize) override;
  bool HasLibraryFunction(const std::string& library, const std::string& function) override;
  uint32_t CM_Locate_DevNodeW(uint32_t* devInst, const char16_t* deviceId, uint32_t flags) override;
  uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) override;

  // One call the tree received: the function's name, the member index,
  // device instance or property identifier it was about (for
  // CM_Locate_DevNodeW: 0 for the root, 1 for a named device) and its flags.
  struct Call {
    std::string function;
    uint32_t argument = 0;
    uint32_t flags = 0;
  };
  std::vector<Call> Calls() const;
  // Device-information sets created and not yet destroyed.
  size_t OpenSets() const;

  static constexpr uint32_t kRootDevInst = 1;
  static constexpr uint32_t kFirstAdapterDevInst = 0x1000;

 private:
  struct Interface {
    std::string path;
    bool present = true;
  };
  struct Adapter {
    std::string deviceId;
    // The PCI link properties the controller has, by property identifier.
    std::map<uint32_t, uint32_t> pciProperties;
  };
  struct Set {
    enum Kind { Empty, DiskInterfaces, Adapters } kind = Empty;
    std::vector<std::string> paths;  // interface sets
  };

  void Record(const char* function, uint32_t argument, uint32_t flags = 0);
  const Set* FindSet(platform::HDEVINFO handle) const;

  std::vector<Interface> interfaces_;
  std::vector<Adapter> adapters_;
  std::map<std::string, std::set<std::string>> libraries_;  // lower-cased name -> exports
  bool classDevsFails_ = false;
  uint32_t locateResult_ = 0;
  uint32_t reenumerateResult_ = 0;

  mutable std::mutex mutex_;
  std::map<platform::HDEVINFO, Set> sets_;
  platform::HDEVINFO nextSet_ = 0x5E7;
  std::vector<Call> calls_;
};

}  // namespace zel::sim
