// The storage controller inventory: each Win32_IDEController with its
// driver, its PCI class code and the devices attached to it, matched to the
// disks of the WMI disk table.
#include "inventory/system_info.h"
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

namespace {

// The quoted identifier after the first "=" of an object path.
std::string AfterEquals(const std::string& path) {
  size_t equals = path.find('=');
  return equals == std::string::npos ? std::string() : path.substr(equals + 1);
}

}  // namespace

bool UnderlyingUtil::GetHbaInfo(std::vector<HbaEntry>& list) {
  list.clear();

  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("GetHbaInfo() Connect to WMI service fail 1");
    return false;
  }
  EnumeratorPtr controllers;
  if (!wmi.Query("Win32_IDEController", "", &controllers)) {
    LogTrace("GetHbaInfo() Connect to WMI Class Win32_IDEController fail 2");
    return false;
  }
  if (!controllers) {
    LogTrace("GetHbaInfo() Connect to WMI Win32_IDEController fail 3");
    return false;
  }

  while (std::shared_ptr<WbemClassObject> controller = NextObject(controllers)) {
    // Each controller starts from an empty entry (all 16 drive numbers -1),
    // so a controller without a signed driver shows "N/A", never the driver
    // of the controller before it.
    HbaEntry entry;
    entry.DriverProvider = "N/A";
    entry.DriverVersion = "N/A";
    Variant v;
    if (GetVariable("Name", VT_BSTR, *controller, &v)) {
      entry.Name = TruncateUtf16(v.text, 255);
      LogTraceF("Get Win32_IDEController-Name:%s", entry.Name.c_str());
    } else {
      LogTrace("Get Name: Variable Type not match: VT_BSTR-vtProp.vt");
    }
    VariantClear(&v);
    std::string deviceId;
    if (GetVariable("DeviceID", VT_BSTR, *controller, &v)) {
      deviceId = TruncateUtf16(v.text, 127);
      LogTraceF("Get Win32_IDEController-DeviceID:%s", deviceId.c_str());
    } else {
      LogTrace("Get DeviceID: Variable Type not match: VT_BSTR-vtProp.vt");
    }
    VariantClear(&v);
    std::string escaped = EscapeBackslashes(deviceId);
    LogTraceF("*.* Win32_IDEController-DeviceID:%s", escaped.c_str());

    EnumeratorPtr drivers;
    if (!wmi.Query("Win32_PnPSignedDriver", "WHERE DeviceId = \"" + escaped + "\"", &drivers)) {
      LogTrace("Connect to WMI Class Win32_PnPSignedDriver fail");
      return false;
    }
    while (drivers) {
      std::shared_ptr<WbemClassObject> driver = NextObject(drivers);
      if (!driver) break;
      if (GetVariable("DriverProviderName", VT_BSTR, *driver, &v)) {
        entry.DriverProvider = TruncateUtf16(v.text, 255);
        LogTraceF("Win32_PnPSignedDriver-DriverProviderName:%s", entry.DriverProvider.c_str());
      } else {
        entry.DriverProvider = "N/A";
        LogTraceF("Win32_PnPSignedDriver:DriverProviderName: %s, type:%d",
                  entry.DriverProvider.c_str(), v.vt);
      }
      VariantClear(&v);
      if (GetVariable("DriverVersion", VT_BSTR, *driver, &v)) {
        entry.DriverVersion = TruncateUtf16(v.text, 127);
      } else {
        entry.DriverVersion = "N/A";
      }
      VariantClear(&v);
      LogTraceF("Win32_PnPSignedDriver-DriverVersion:%s", entry.DriverVersion.c_str());
    }

    EnumeratorPtr links;
    if (!wmi.Query("Win32_IDEControllerDevice", "", &links)) {
      LogTrace("Win32_IDEControllerDevice fail 1");
      return false;
    }
    if (!links) {
      LogTrace("Win32_IDEControllerDevice fail 2");
      return false;
    }
    int count = 0;
    while (std::shared_ptr<WbemClassObject> link = NextObject(links)) {
      std::string antecedent;
      if (!GetText(*this, "Antecedent", *link, &antecedent)) continue;
      LogTraceF("GetHbaInfo()::wcAntecedent:%s", antecedent.c_str());
      LogTraceF("GetHbaInfo()::Win32_IDEControllerDevice-Antecedent:%s", antecedent.c_str());
      // An identifier that could not be read belongs to no association.
      if (escaped.empty() || !Contains(antecedent, escaped)) continue;
      if (count >= kMaxAttachedDevices) {
        LogTraceF("GetHbaInfo()::more than %d attached devices, the rest is not listed",
                  kMaxAttachedDevices);
        continue;
      }

      // Class code from the controller's hardware identifiers.
      LogTrace("DEBUG 3 ConnectWmiClass Win32_PnPEntity fail 1");
      std::string controllerPath = AfterEquals(antecedent);
      if (!controllerPath.empty()) {
        EnumeratorPtr entities;
        if (!wmi.Query("Win32_PnPEntity", Format("Where DeviceID = %s", controllerPath.c_str()),
                       &entities)) {
          LogTrace("GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 1");
          return false;
        }
        if (!entities) {
          LogTrace("GetHbaInfo() ConnectWmiClass Win32_PnPEntity fail 2");
          return false;
        }
        bool any = false;
        while (std::shared_ptr<WbemClassObject> entity = NextObject(entities)) {
          any = true;
          Variant ids;
          if (GetVariable("HardwareID", VT_ARRAY, *entity, &ids)) {
            LogTrace("DEBUG 3.1 ConnectWmiClass Win32_PnPEntity fail 1");
            bool found = false;
            for (const std::string& id : ids.texts) {
              LogTraceF("GetHbaInfo()::Win32_PnPEntity-HardwareID:%s", id.c_str());
              size_t cc = id.find("CC_");
              if (!found && cc != std::string::npos) {
                entry.ClassCode = TruncateUtf16(id.substr(cc + 3), 127);
                found = true;
              }
            }
          } else {
            LogTraceF("GetHbaInfo()::Win32_DiskDrive-InterfaceType--get WMI model/ Variant type:%d",
                      ids.vt);
          }
          VariantClear(&ids);
        }
        if (!any) LogTrace("GetHbaInfo()::Win32_PnPEntity break");
      }

      // The attached device, matched to the disks of the WMI disk table.
      AttachedDevice& slot = entry.AttachedDevices[static_cast<size_t>(count)];
      LogTraceF("Win32_IDEControllerDevice-Antecedent:%s", antecedent.c_str());
      std::string dependent;
      GetText(*this, "Dependent", *link, &dependent);
      LogTraceF("Win32_IDEControllerDevice-Dependent:%s", dependent.c_str());
      std::string revised = AfterEquals(dependent);
      LogTraceF("Revised Dependent:%s", revised.c_str());
      LogTrace("DEBUG 4 ConnectWmiClass Win32_PnPEntity fail 2");
      if (!revised.empty()) {
        EnumeratorPtr devices;
        bool queried =
            wmi.Query("Win32_PnPEntity", Format("WHERE DeviceId = %s", revised.c_str()), &devices);
        LogTrace("DEBUG 4.1 ConnectWmiClass Win32_PnPEntity fail 3");
        if (!queried) {
          LogTrace("Connect to Wmi class: Win32_PnPEntity fail 1");
          return false;
        }
        if (!devices) {
          LogTrace("Connect to Wmi class: Win32_PnPEntity fail 2");
          return false;
        }
        LogTrace("DEBUG 4.2 ConnectWmiClass Win32_PnPEntity fail 1");
        while (std::shared_ptr<WbemClassObject> device = NextObject(devices)) {
          std::string name;
          GetText(*this, "Name", *device, &name);
          slot.Name = TruncateUtf16(name + escaped, 1023);
          LogTraceF("Win32_PnPEntity-Name:%s", slot.Name.c_str());
          LogTrace("DEBUG 4.3 ConnectWmiClass Win32_PnPEntity fail 1");
          std::string pnp;
          GetText(*this, "PNPDeviceID", *device, &pnp);
          LogTraceF("Win32_PnPEntity-PNPDeviceID:%s", pnp.c_str());
          LogTrace("DEBUG 4.4 ConnectWmiClass Win32_PnPEntity fail 1");
          std::string lower = ToLowerAscii(pnp);
          for (const WmiDiskEntry& disk : WmiDiskTable()) {
            std::string id = ToLowerAscii(disk.PnpDeviceId);
            if (id.empty() || !Contains(lower, id)) continue;
            slot.PhysicalDriveIndex = disk.Index;
            LogTraceF("vWmi_DiskDrives.size():%s", std::to_string(WmiDiskTable().size()).c_str());
          }
        }
      }
      ++count;
    }

    entry.AttachedDeviceCount = count;
    LogTraceF("HbaInfo\n    HBA Name:%s    Driver Provider:%s    Driver Version:%s    Attached "
              "Device Number:%d",
              entry.Name.c_str(), entry.DriverProvider.c_str(), entry.DriverVersion.c_str(),
              entry.AttachedDeviceCount);
    for (size_t i = 0; i < 10; ++i)
      LogTraceF("    Attached device name:%s    Physical drive index:%d",
                entry.AttachedDevices[i].Name.c_str(), entry.AttachedDevices[i].PhysicalDriveIndex);
    list.push_back(std::move(entry));
    LogTrace("DEBUG 5 ConnectWmiClass Win32_PnPEntity fail 1");
  }

  wmi.Close();
  LogTraceF("Total HBA number:%d", static_cast<int>(list.size()));
  return true;
}

}  // namespace zel
