// Disks and logical drives from the management instrumentation: the WMI disk
// table, the logical drives of one physical drive, and the controller a
// physical drive hangs on.
#include "device/ata_command.h"
#include "inventory/underlying_util.h"
#include "inventory/wmi_connection.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/text.h"

namespace zel {

using namespace zel::platform;
using inventory_detail::GetText;
using inventory_detail::NextObject;
using inventory_detail::ParseDecimalU64;
using inventory_detail::WmiConnection;

std::vector<WmiDiskEntry>& WmiDiskTable() {
  static std::vector<WmiDiskEntry> table;
  return table;
}

bool UnderlyingUtil::GetPhysicalDriveSpace() {
  LogTrace("Enter GetPhysicalDriveSpace()");
  std::vector<WmiDiskEntry>& table = WmiDiskTable();
  table.clear();

  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("ConnectWmiService fail 1");
    return false;
  }
  EnumeratorPtr disks;
  if (!wmi.Query("Win32_DiskDrive", "", &disks)) {
    LogTrace("ConnectWmiClass fail 1");
    return false;
  }
  if (!disks) {
    LogTrace("ConnectWmiClass fail 2");
    return false;
  }

  for (;;) {
    LogTrace("GetPhysicalDriveSpace:Test 1");
    std::shared_ptr<WbemClassObject> disk = NextObject(disks);
    LogTrace("GetPhysicalDriveSpace:Test 2");
    if (!disk) {
      LogTrace("GetPhysicalDriveSpace::pEnumerator->Next() fail");
      break;
    }
    // Each disk starts from an empty entry: a property that cannot be read
    // must not lend this disk another disk's values.
    WmiDiskEntry entry;
    bool hasIndex = false;
    Variant v;
    if (GetVariable("Index", VT_I4, *disk, &v)) {
      entry.Index = static_cast<int32_t>(v.integer);
      hasIndex = true;
      LogTraceF("Win32_DiskDrive-Index:%d", entry.Index);
    }
    VariantClear(&v);
    if (GetVariable("InterfaceType", VT_BSTR, *disk, &v)) {
      entry.InterfaceType = TruncateUtf16(v.text, 63);
      LogTraceF("Win32_DiskDrive-InterfaceType:%s", entry.InterfaceType.c_str());
    } else {
      LogTraceF("GetPhysicalDriveSpace()--get WMI InterfaceType/ Variant type:%d", v.vt);
    }
    VariantClear(&v);
    if (GetVariable("Model", VT_BSTR, *disk, &v)) {
      entry.Model = TruncateUtf16(v.text, 63);
      LogTraceF("Win32_DiskDrive-Model:%s", entry.Model.c_str());
    } else {
      LogTraceF("GetPhysicalDriveSpace()--get WMI model/ Variant type:%d", v.vt);
    }
    VariantClear(&v);
    std::string sizeText;
    if (GetVariable("Size", VT_BSTR, *disk, &v)) {
      sizeText = TruncateUtf16(v.text, 127);
    } else {
      LogTraceF("GetPhysicalDriveSpace()--get WMI Size/ Variant type:%d", v.vt);
    }
    VariantClear(&v);
    if (GetVariable("PNPDeviceID", VT_BSTR, *disk, &v)) {
      entry.PnpDeviceId = TruncateUtf16(v.text, 255);
      LogTraceF("Win32_DiskDrive-PNPDeviceID:%s", entry.PnpDeviceId.c_str());
    }
    VariantClear(&v);

    entry.SizeGB = ParseDecimalU64(sizeText) / 1000 / 1000 / 1000;
    LogTraceF("GetPhysicalDriveSpace()--physical size:%s ",
              Format("%llu GB", static_cast<unsigned long long>(entry.SizeGB)).c_str());

    // Discovery and the controller list find disks by their PnP identifier
    // and address them by their index: an entry without either would be
    // matched to any drive, so it is left out.
    if (!hasIndex || entry.PnpDeviceId.empty()) {
      LogTrace("GetPhysicalDriveSpace()--disk without index or PnP device identifier left out");
      continue;
    }
    table.push_back(std::move(entry));
  }

  wmi.Close();
  LogTrace("Exit GetPhysicalDriveSpace()");
  return true;
}

int UnderlyingUtil::GetLogicalDriveInfo(int32_t driveNumber, std::vector<LogicalDriveEntry>& drives) {
  LogEnter("UnderlyingUtil::GetLogicalDriveInfo");
  drives.clear();

  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("Win32_LogicalDisk fail 1");
    return 0;
  }
  EnumeratorPtr disks;
  if (!wmi.Query("Win32_LogicalDisk", "", &disks)) {
    LogTrace("Win32_LogicalDisk fail 1");
    return 0;
  }
  if (!disks) {
    LogTrace("Win32_LogicalDisk fail 2");
    return 0;
  }

  ATACommand ata;
  while (std::shared_ptr<WbemClassObject> disk = NextObject(disks)) {
    LogicalDriveEntry entry;
    std::string text;
    if (GetText(*this, "DeviceID", *disk, &text)) entry.DriveName = TruncateUtf16(text, 3);
    if (GetText(*this, "FileSystem", *disk, &text)) entry.FileSystem = TruncateUtf16(text, 15);
    text.clear();
    GetText(*this, "FreeSpace", *disk, &text);
    entry.FreeSpaceMB = ParseDecimalU64(TruncateUtf16(text, 127)) / 1024 / 1024;
    LogTrace("Win32_LogicalDisk Get FreeSpace Done");
    text.clear();
    GetText(*this, "Size", *disk, &text);
    entry.SizeMB = ParseDecimalU64(TruncateUtf16(text, 127)) / 1024 / 1024;
    LogTrace("Win32_LogicalDisk Get Size Done");

    // A volume whose device is no disk (CD-ROM, network) has no disk number;
    // that -1 never matches, not even a caller's -1.
    if (!entry.DriveName.empty()) {
      int32_t number = ata.GetDiskNumberFromPath(Format("\\\\.\\%s", entry.DriveName.c_str()));
      if (number >= 0 && number == driveNumber) drives.push_back(entry);
    }
  }

  wmi.Close();
  LogExit("UnderlyingUtil::GetLogicalDriveInfo");
  return static_cast<int>(drives.size());
}

int UnderlyingUtil::GetDeviceIDFromPhysicalDrive(int32_t driveNumber, std::string* out) {
  LogEnter("UnderlyingUtil::GetDeviceIDFromPhysicalDrive");
  WmiConnection wmi(*this);
  if (!wmi.Open()) {
    LogTrace("GetDeviceIDFromPhysicalDrive ConnectWmiService fail");
    return 0;
  }
  // The disk's own device entity, then the SCSI controller it hangs on. A
  // step that finds nothing has failed: an empty identifier is no controller.
  std::string entityId;
  GetDeviceIDFromAssociators(
      wmi.Service(),
      Format("ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive%d'} WHERE "
             "ResultClass=Win32_PnPEntity",
             driveNumber),
      "DeviceID", &entityId);
  if (entityId.empty()) {
    LogTrace("GetDeviceIDFromPhysicalDrive GetDeviceID fail");
    return 0;
  }
  std::string controllerId;
  GetDeviceIDFromAssociators(
      wmi.Service(),
      Format("ASSOCIATORS OF {Win32_PnPEntity.DeviceID='%s'} WHERE "
             "AssocClass=Win32_SCSIControllerDevice",
             entityId.c_str()),
      "DeviceID", &controllerId);
  if (controllerId.empty()) {
    LogTrace("GetDeviceIDFromPhysicalDrive GetControllerID fail");
    return 0;
  }
  *out = Format("%s", controllerId.c_str());
  wmi.Close();
  LogExit("UnderlyingUtil::GetDeviceIDFromPhysicalDrive");
  return 1;
}

}  // namespace zel
