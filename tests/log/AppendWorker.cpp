// Appends COUNT lines "TAG NUMBER" to a log file, for the test of two
// writers at once.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "log/LogWriter.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return 2;
    const std::wstring path = argv[1], tag = argv[3];
    const int count = _wtoi(argv[2]);
    int failures = 0;
    for (int i = 0; i < count; ++i)
        if (!quillon::log::AddToLogs(path, tag + L" " + std::to_wstring(i) + L" ....................", false))
            ++failures;
    return failures == 0 ? 0 : 1;
}
