// Writes COUNT keys "TAG0".."TAG<COUNT-1>" into a settings file, one at a
// time, for the test of two writers at once.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/Modini.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const std::wstring path = argv[1], tag = argv[2];
    int failures = 0;
    for (int i = 0, count = _wtoi(argv[3]); i < count; ++i)
        if (quillon::settings::WriteIniValue(L"Main", tag + std::to_wstring(i), L"1", path, 10000) !=
            quillon::settings::Saved::Yes)
            ++failures;
    return failures == 0 ? 0 : 1;
}
