#pragma once
#include <string>

namespace quillon {

// The full path of the program's own executable, however long.
std::wstring ModulePath();

}  // namespace quillon
