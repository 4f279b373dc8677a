// The first of the desktop program's start-up checks: a free-space TRIM
// left behind by a run that died (a crash, a power cut) is cleaned up,
// unless a TRIM still counts as running (the tray program's, or one started
// less than an hour ago), which keeps its folders and its flag. The checks
// after it (the version query) are skipped too while a TRIM runs.
#pragma once

#include "app/app_state.h"

namespace zel {

// Reads the run state at the platform's time. While a TRIM counts as running
// it changes nothing and returns true. Otherwise it writes TrimInProgress = 0,
// removes the TRIM folders of every drive of the state's table, and returns
// false.
bool CleanUpLeftoverTrimState(const AppState& state);

}  // namespace zel
