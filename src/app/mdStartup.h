#pragma once
#include <string>

#include "ui/FrmMain.h"

namespace quillon::app {

// Prepares the process, shows the main window and runs the message loop.
// argumentText is the command line after the program's name.
int Main(const std::wstring& argumentText);

// The one reading of the argument text: "-s", in either case and nothing
// else, asks for silent mode.
ui::RunMode RunModeOf(const std::wstring& argumentText);

}  // namespace quillon::app
