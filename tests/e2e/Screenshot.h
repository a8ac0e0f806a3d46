#pragma once
#include <windows.h>

#include <string>

namespace quillon::test {

// Writes what the screen shows of the window (frame included), and of a
// second window over it when given, as a BMP into the build's screenshot
// folder; false when it could not.
bool SaveWindowShot(HWND window, const std::string& name, HWND also = nullptr);

}  // namespace quillon::test
