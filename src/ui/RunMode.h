#pragma once
#include <cwchar>
#include <string>

namespace quillon::ui {

// How the program was started.
enum class RunMode { Normal, Silent };

// The one reading of the argument text: "-s", in either case and nothing
// else, asks for silent mode.
inline RunMode RunModeOf(const std::wstring& argumentText) {
    return _wcsicmp(argumentText.c_str(), L"-s") == 0 ? RunMode::Silent : RunMode::Normal;
}

}  // namespace quillon::ui
