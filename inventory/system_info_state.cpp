#include "inventory/system_info.h"

namespace zel {

SystemInformation& SystemInfo() {
  static SystemInformation info;
  return info;
}

std::vector<HbaEntry>& HbaList() {
  static std::vector<HbaEntry> list;
  return list;
}

}  // namespace zel
