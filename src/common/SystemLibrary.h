#pragma once
// The program is portable and lives in folders where anyone's files can
// land (Downloads), so no DLL is ever looked for beside it: every library
// it loads by name comes from the system folder.
#include <windows.h>

namespace quillon {

// Takes the program's folder (and the current one) out of the DLL search
// for the rest of the process. Call it first thing.
void RestrictDllSearch();

// A library from the system folder, or one that the program's manifest
// redirects (the version-6 common controls); null when it is missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

// An export of a loaded library as the function type it is called by;
// null when there is no library or no such export.
template <class Fn>
Fn ProcAddress(HMODULE module, const char* name) {
    FARPROC proc = module ? GetProcAddress(module, name) : nullptr;
    // Through the generic function-pointer type, which converts to any.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// The same on a loader that knows no search flags (before KB2533623 on
// Windows Vista and 7); LoadSystemLibrary takes this way there by itself.
HMODULE LoadSystemLibraryByPath(const wchar_t* name);

}  // namespace quillon
