#pragma once
#include <cwchar>
#include <string>

namespace quillon::ui {

// How the program was started.
enum class RunMode { Normal, Silent, Minimized };

// The one reading of the argument text: "-s", in either case and nothing
// else, asks for silent mode; "-min" alike for a window that begins
// minimised (the start with Windows).
inline RunMode RunModeOf(const std::wstring& argumentText) {
    if (_wcsicmp(argumentText.c_str(), L"-s") == 0) return RunMode::Silent;
    return _wcsicmp(argumentText.c_str(), L"-min") == 0 ? RunMode::Minimized : RunMode::Normal;
}

}  // namespace quillon::ui
