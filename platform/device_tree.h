// Device tree of the seam: interface enumeration of a device class, device
// instance identifiers and properties, and the rescan. Texts cross in the
// platform's UTF-16 byte form where the platform fills caller buffers, so the
// buffer limits the system relies on hold.
#pragma once

#include <cstdint>
#include <string>

namespace zel::platform {

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
  bool operator==(const GUID&) const = default;
};

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}: disk device interfaces.
inline constexpr GUID GUID_DEVINTERFACE_DISK = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// {4D36E97B-E325-11CE-BFC1-08002BE10318}: storage adapters (SCSI and RAID controllers).
inline constexpr GUID GUID_DEVCLASS_SCSIADAPTER = {
    0x4D36E97B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

struct DEVPROPKEY {
  GUID fmtid;
  uint32_t pid = 0;
  bool operator==(const DEVPROPKEY&) const = default;
};
// {3AB22E31-8264-4B4E-9AF5-A8D2D8E33E62}: PCI device properties.
inline constexpr GUID DEVPKEY_PciDevice_Set = {
    0x3AB22E31, 0x8264, 0x4B4E, {0x9A, 0xF5, 0xA8, 0xD2, 0xD8, 0xE3, 0x3E, 0x62}};
inline constexpr DEVPROPKEY DEVPKEY_PciDevice_CurrentLinkSpeed = {DEVPKEY_PciDevice_Set, 9};
inline constexpr DEVPROPKEY DEVPKEY_PciDevice_CurrentLinkWidth = {DEVPKEY_PciDevice_Set, 10};
inline constexpr DEVPROPKEY DEVPKEY_PciDevice_MaxLinkSpeed = {DEVPKEY_PciDevice_Set, 11};
inline constexpr DEVPROPKEY DEVPKEY_PciDevice_MaxLinkWidth = {DEVPKEY_PciDevice_Set, 12};

using HDEVINFO = std::intptr_t;
inline constexpr HDEVINFO INVALID_DEVINFO = -1;
inline constexpr uint32_t DIGCF_PRESENT = 0x2;
inline constexpr uint32_t DIGCF_DEVICEINTERFACE = 0x10;
inline constexpr uint32_t CR_SUCCESS = 0;
inline constexpr uint32_t CR_FAILURE = 0x13;
inline constexpr uint32_t CR_NO_SUCH_DEVNODE = 0x0D;
inline constexpr uint32_t CR_BUFFER_SMALL = 0x1A;
inline constexpr uint32_t DEVPROP_TYPE_BYTE = 0x3;
inline constexpr uint32_t DEVPROP_TYPE_UINT16 = 0x5;
inline constexpr uint32_t DEVPROP_TYPE_UINT32 = 0x7;

class DeviceTree {
 public:
  virtual ~DeviceTree() = default;

  // The set of devices of a setup class or device interface class.
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID& classGuid, uint32_t flags) = 0;
  virtual bool SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

  // Device interfaces of an interface set, by member index; false (last error
  // ERROR_NO_MORE_ITEMS) past the end.
  virtual bool SetupDiEnumDeviceInterfaces(HDEVINFO set, const GUID& interfaceClass,
                                           uint32_t memberIndex) = 0;
  // Writes SP_DEVICE_INTERFACE_DETAIL_DATA_W into `detail`: a 32-bit size
  // field that the caller must have set to 6, then the NUL-terminated UTF-16
  // device path. False with ERROR_INSUFFICIENT_BUFFER when it does not fit
  // (`*requiredSize` then tells how much is needed), ERROR_INVALID_USER_BUFFER
  // semantics for a wrong size field (ERROR_INVALID_PARAMETER here).
  virtual bool SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, uint32_t memberIndex,
                                                uint8_t* detail, uint32_t detailSize,
                                                uint32_t* requiredSize) = 0;

  // Devices of a setup-class set, by member index; yields the device instance
  // handle. False (ERROR_NO_MORE_ITEMS) past the end.
  virtual bool SetupDiEnumDeviceInfo(HDEVINFO set, uint32_t memberIndex, uint32_t* devInst) = 0;
  // Instance identifier of a device as NUL-terminated UTF-16 into a buffer of
  // `bufferChars` characters; CR_BUFFER_SMALL when it does not fit.
  virtual uint32_t CM_Get_Device_IDW(uint32_t devInst, char16_t* buffer, uint32_t bufferChars) = 0;
  // One property of a device of a set.
  virtual bool SetupDiGetDevicePropertyW(HDEVINFO set, uint32_t memberIndex,
                                         const DEVPROPKEY& key, uint32_t* propertyType,
                                         uint8_t* buffer, uint32_t bufferSize,
                                         uint32_t* requiredSize) = 0;

  // Whether a library of the platform exports a function (the system looks
  // some up at run time and treats a missing one as failure).
  virtual bool HasLibraryFunction(const std::string& library, const std::string& function) = 0;
  // Root device node and its re-enumeration (the rescan).
  virtual uint32_t CM_Locate_DevNodeW(uint32_t* devInst, const char16_t* deviceId,
                                      uint32_t flags) = 0;
  virtual uint32_t CM_Reenumerate_DevNode(uint32_t devInst, uint32_t flags) = 0;
};

}  // namespace zel::platform
