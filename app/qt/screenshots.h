// Pictures of the window for the documentation: each page for a SATA drive
// of the maker, the Drive Info page for an NVMe drive and for another
// maker's drive, both popup modes, and the Diagnostics page while a quick
// self-test runs. Rendered from the live window (offscreen or not).
#pragma once

#include <string>
#include <vector>

#include "app/startup.h"

namespace zel::qt {

class MainWindow;

// Selects the drive at table position `position` with Previous, Next and
// the drive buttons, as a user would; false when there is none.
bool SelectDrivePosition(MainWindow& window, CQuarn_SSDZelvDlg& dialog, int32_t position);

// Saves the PNG files into `dir` (made when missing). False with `error` set
// when a file could not be written.
bool SaveScreenshots(MainWindow& window, CQuarn_SSDZelvDlg& dialog, const std::string& dir,
                     std::string* error);

// The names of the files SaveScreenshots writes.
std::vector<std::string> ScreenshotNames();

}  // namespace zel::qt
