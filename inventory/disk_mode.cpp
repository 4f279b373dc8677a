// The PCI class code of the storage controller behind a disk ("010802" for
// an NVMe controller), found through the disk's interface type, the
// controller-device associations and the controller's hardware identifiers.
#include "inventory/underlying_util.h"
#include "inventory/wmi_connection.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel {

using namespace zel::platform;
using inventory_detail::EscapeBackslashes;
using inventory_detail::GetText;
using inventory_detail::NextObject;
using inventory_detail::WmiConnection;

std::string UnderlyingUtil::GetDiskMode(int32_t driveIndex) {
  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("GetDiskMode() Connect to WMI service fail 1");
    return std::string();
  }
  EnumeratorPtr disks;
  if (!wmi.Query("Win32_DiskDrive", Format("WHERE index=%d", driveIndex), &disks)) {
    LogTrace("GetDiskMode() ConnectWmiClass fail 1");
    return std::string();
  }
  if (!disks) {
    LogTrace("GetDiskMode() ConnectWmiClass fail 2");
    return std::string();
  }
  std::string interfaceType, pnpDeviceId, text;
  while (std::shared_ptr<WbemClassObject> disk = NextObject(disks)) {
    if (GetText(*this, "InterfaceType", *disk, &text)) {
      interfaceType = text;
      LogTraceF("GetDiskMode()::Win32_DiskDrive-InterfaceType:%s", interfaceType.c_str());
    }
    if (GetText(*this, "PNPDeviceID", *disk, &text)) {
      pnpDeviceId = text;
      LogTraceF("GetDiskMode()::Win32_DiskDrive-PNPDeviceID:%s", pnpDeviceId.c_str());
    }
  }
  LogTrace("GetDiskMode()::Win32_DiskDrive break");

  const char* association = nullptr;
  if (interfaceType == "IDE") association = "Win32_IDEControllerDevice";
  if (interfaceType == "SCSI") association = "Win32_SCSIControllerDevice";
  // An empty identifier would be found in every association.
  if (!association || pnpDeviceId.empty()) return std::string();

  EnumeratorPtr links;
  if (!wmi.Query(association, "", &links)) {
    LogTraceF("GetDiskMode() %s ConnectWmiClass fail 1", association);
    return std::string();
  }
  if (!links) {
    LogTraceF("GetDiskMode() %s ConnectWmiClass fail 2", association);
    return std::string();
  }
  // Object paths write each backslash of an identifier twice.
  std::string escaped = EscapeBackslashes(pnpDeviceId);
  std::string classCode;
  while (std::shared_ptr<WbemClassObject> link = NextObject(links)) {
    std::string dependent, antecedent;
    if (!GetText(*this, "Dependent", *link, &dependent)) continue;
    LogTraceF("GetDiskMode()::%s-Dependent:%s", association, dependent.c_str());
    if (!Contains(dependent, escaped)) continue;
    if (!GetText(*this, "Antecedent", *link, &antecedent)) continue;
    LogTraceF("GetDiskMode()::%s-Antecedent:%s", association, antecedent.c_str());
    size_t equals = antecedent.find('=');
    if (equals == std::string::npos) continue;
    std::string controllerId = antecedent.substr(equals + 1);

    EnumeratorPtr entities;
    if (!wmi.Query("Win32_PnPEntity", Format("Where DeviceID = %s", controllerId.c_str()),
                   &entities)) {
      LogTrace("GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 1");
      return std::string();
    }
    if (!entities) {
      LogTrace("GetDiskMode() ConnectWmiClass Win32_PnPEntity fail 2");
      return std::string();
    }
    while (std::shared_ptr<WbemClassObject> entity = NextObject(entities)) {
      Variant ids;
      if (GetVariable("HardwareID", VT_ARRAY, *entity, &ids)) {
        bool found = false;
        for (const std::string& id : ids.texts) {
          size_t cc = id.find("CC_");
          if (!found && cc != std::string::npos) {
            classCode = TruncateUtf16(id.substr(cc + 3), 127);
            found = true;
          } else {
            LogTraceF("GetDiskMode()::Win32_PnPEntity-HardwareID:%s", id.c_str());
          }
        }
      }
      VariantClear(&ids);
    }
  }
  wmi.Close();
  return classCode;
}

}  // namespace zel
