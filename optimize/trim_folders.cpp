// The TRIM folders: their names, their removal (DeleteDirectory), the
// clean-up of left-over folders of every drive (DeleteTrimTempFolder), and
// the switch that makes the file system report freed clusters.
#include <cstring>

#include "inventory/underlying_util.h"
#include "log/log.h"
#include "optimize/free_space_trim.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace zel {

using namespace zel::platform;

std::string TrimFolderOf(const std::string& root) { return Format("%s\\tmpxxxquarn", root.c_str()); }

std::string TrimFillerFileOf(const std::string& folder, int n) {
  return Format("%s\\xxxtmpxxxquarnxxxwtf%d.tmp", folder.c_str(), n);
}

std::string TrimFillerCommandOf(const std::string& folder, int n) {
  return "fsutil file createnew " + folder + "\\xxxtmpxxxquarnxxxwtf" + Format("%d.tmp 2147483648", n);
}

uint32_t DeleteDirectory(const std::string& folder, bool recursive) {
  Files& files = Current().Files();
  WIN32_FIND_DATAW found;
  HANDLE find = files.FindFirstFileW(Format("%s\\*.*", folder.c_str()), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;  // nothing there to delete
  bool subfolderRemains = false;
  // One entry: 0 to go on, or the error that ends the removal.
  auto handle = [&](const WIN32_FIND_DATAW& entry) -> uint32_t {
    if (entry.cFileName.empty() || entry.cFileName[0] == '.') return 0;
    std::string path = Format("%s\\%s", folder.c_str(), entry.cFileName.c_str());
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (!recursive) {
        subfolderRemains = true;
        return 0;
      }
      uint32_t inner = DeleteDirectory(path, true);
      if (inner != 0) LogTraceF("DeleteDirectory::DeleteDirectory fail. Error code = 0x%X\n", inner);
      return inner;
    }
    if (!files.SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL))
      LogTraceF("DeleteDirectory::SetFileAttributes fail. Error code = 0x%X\n", GetLastError());
    if (!files.DeleteFileW(path))
      LogTraceF("DeleteDirectory::DeleteFile fail. Error code = 0x%X\n", GetLastError());
    return 0;
  };
  uint32_t listingEnd = ERROR_SUCCESS;
  for (;;) {
    if (uint32_t error = handle(found)) {
      files.FindClose(find);
      return error;
    }
    if (!files.FindNextFileW(find, &found)) {
      listingEnd = GetLastError();
      break;
    }
  }
  files.FindClose(find);
  if (listingEnd != ERROR_NO_MORE_FILES) {
    LogTraceF("DeleteDirectory:: (!ERROR_NO_MORE_FILES). Error code = 0x%X\n", listingEnd);
    return listingEnd;
  }
  // A subfolder left in place keeps its folder; that is no failure.
  if (subfolderRemains) return 0;
  if (!files.SetFileAttributesW(folder, FILE_ATTRIBUTE_NORMAL)) {
    uint32_t error = GetLastError();
    LogTrace("DeleteDirectory:: SetFileAttributes() fail\n");
    return error;
  }
  if (!files.RemoveDirectoryW(folder)) {
    uint32_t error = GetLastError();
    LogTraceF("DeleteDirectory::RemoveDirectory(%s) fail. Error code = 0x%X\n", folder.c_str(), error);
    return error;
  }
  return 0;
}

LSTATUS SetDeleteNotificationRegistry() {
  Registry& reg = Current().Reg();
  HKEY key = 0;
  LSTATUS status = reg.RegOpenKeyExW(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                                     0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) {
    LogTrace("SetDeleteNotificationRegistry::RegOpenKeyEx fail.\n");
    return status;
  }
  uint32_t zero = 0;
  status = reg.RegSetValueExW(key, "DisableDeleteNotification", REG_DWORD,
                              reinterpret_cast<const uint8_t*>(&zero), 4);
  LogTraceF("SetDeleteNotificationRegistry::RegSetValueEx():%X .\n", static_cast<unsigned>(status));
  reg.RegCloseKey(key);
  return status;
}

void DeleteTrimTempFolder(const PhysicalDriveTable& table) {
  LogEnter("ATACommand::DeleteTrimTempFolder");
  SetDeleteNotificationRegistry();
  Platform& machine = Current();
  for (const PhysicalDriveRecord& record : table) {
    UnderlyingUtil util;
    std::vector<LogicalDriveEntry> volumes;
    util.GetLogicalDriveInfo(record.PhysicalDriveIndex, volumes);
    for (const LogicalDriveEntry& volume : volumes) {
      if (!machine.VolumeTrim().TurnsFreedClustersIntoTrim(volume.DriveName)) continue;
      std::string folder = TrimFolderOf(volume.DriveName);
      if (machine.Files().GetFileAttributesW(folder) != FILE_ATTRIBUTE_DIRECTORY) continue;
      DeleteDirectory(folder, true);
    }
  }
  LogExit("ATACommand::DeleteTrimTempFolder");
}

}  // namespace zel
