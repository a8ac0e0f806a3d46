#pragma once
#include <string>

#include "ui/RunMode.h"

namespace quillon::app {

// Prepares the process, shows the main window and runs the message loop.
// argumentText is the command line after the program's name.
int Main(const std::wstring& argumentText);

}  // namespace quillon::app
