#include "app/startup_sequence.h"

#include <utility>
#include <vector>

#include "device/ata_command.h"
#include "inventory/underlying_util.h"

namespace zel {

int32_t DiscoverDrives(AppState& state) {
  state.PhysicalDriveTable.clear();
  ATACommand ata;
  state.PhysicalDriveCount = ata.UpdatePhysicalDrivesInfo(state.PhysicalDriveTable);
  return state.PhysicalDriveCount;
}

StartupOutcome RunStartupSequence(AppState& state, const StartupSteps& steps) {
  UnderlyingUtil util;
  if (!util.GetSystemInfo(state.SystemInfo, state.HbaList) && steps.stopWhenInventoryFails)
    return StartupOutcome::InventoryFailed;

  // Drives loaded before (a second start on the same state) are kept.
  if (state.DrivesLoaded) return StartupOutcome::Ready;
  const bool found = steps.discover ? steps.discover(state) : DiscoverDrives(state) > 0;
  if (!found) return StartupOutcome::NoUsableDrive;
  state.DrivesLoaded = 1;

  // The controller list above was made before the discovery filled the disk
  // table, so its attached devices carry no drive numbers yet; made again
  // now, they do.
  std::vector<HbaEntry> first = state.HbaList;
  if (!util.GetHbaInfo(state.HbaList)) state.HbaList = std::move(first);
  return StartupOutcome::Ready;
}

}  // namespace zel
