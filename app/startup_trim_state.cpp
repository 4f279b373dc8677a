#include "app/startup_trim_state.h"

#include "optimize/free_space_trim.h"
#include "optimize/quarn_registry.h"

namespace zel {

bool CleanUpLeftoverTrimState(const AppState& state) {
  if (ReadTrimRunState(NowSeconds()).active) return true;
  MarkTrimEnded();
  DeleteTrimTempFolder(state.PhysicalDriveTable);
  return false;
}

}  // namespace zel
