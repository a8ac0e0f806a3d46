#pragma once
#include <windows.h>

#include <string>

namespace quillon::test {

// Writes what the screen shows of the window (frame included) as a BMP into
// the build's screenshot folder; false when it could not.
bool SaveWindowShot(HWND window, const std::string& name);

}  // namespace quillon::test
