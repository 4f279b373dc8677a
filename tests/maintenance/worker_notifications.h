// What a worker posted to the main window: its notifications in order, up
// to and with the end notification, each checked on the way to be
// SSDZELVMSG_PROGRESS (1125) for that window and that request block.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "platform/windows.h"

namespace zel::test {

inline std::vector<platform::WPARAM> NotificationsUntilEnd(platform::HWND window,
                                                           const void* request) {
  std::vector<platform::WPARAM> got;
  platform::MSG m;
  while (platform::Current().Windows().GetMessageW(&m, 5000)) {
    EXPECT_EQ(m.hwnd, window);
    EXPECT_EQ(m.message, 1125u);
    EXPECT_EQ(m.lParam, reinterpret_cast<platform::LPARAM>(request));
    got.push_back(m.wParam);
    if ((m.wParam & 0xFF) == 3) break;  // the end phase
  }
  return got;
}

}  // namespace zel::test
