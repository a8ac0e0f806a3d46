#pragma once
#include <string>

namespace quillon {

// The full path of the program's own executable, however long.
std::wstring ModulePath();

// The folder that holds it, without a final backslash.
std::wstring ProgramFolder();

}  // namespace quillon
