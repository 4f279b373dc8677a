// The one start-up sequence of every program: the system inventory (which
// also makes a first controller list), the drive discovery into the
// application state's table, and the controller list once more, now that the
// discovery has filled the disk table its attached devices are matched to.
// The desktop program, each zelvane command that needs the machine, and the
// tray program run this sequence; they differ only in how the discovery tells
// its outcome (the desktop program's message box, zelvane's error lines) and
// in whether a failed inventory ends the start.
#pragma once

#include <cstdint>
#include <functional>

#include "app/app_state.h"

namespace zel {

enum class StartupOutcome {
  Ready,            // drives found, controller list made
  InventoryFailed,  // stopped after the inventory (the trace log says why)
  NoUsableDrive,    // the discovery found no usable drive
};

struct StartupSteps {
  // The desktop program ends when the inventory fails; zelvane goes on with
  // what the inventory got.
  bool stopWhenInventoryFails = true;
  // Runs the discovery into the state and says whether a usable drive was
  // found. Empty: DiscoverDrives, with no message of its own.
  std::function<bool(AppState&)> discover;
};

// Runs the sequence into `state`. After a successful discovery DrivesLoaded
// is 1; a state whose drives are loaded already keeps them (no discovery, no
// second controller list). Should the second controller list fail, the first
// one stays.
StartupOutcome RunStartupSequence(AppState& state, const StartupSteps& steps);

// The discovery step itself: empties the drive table, runs
// ATACommand::UpdatePhysicalDrivesInfo into it and stores the number found in
// PhysicalDriveCount, which it returns.
int32_t DiscoverDrives(AppState& state);

}  // namespace zel
