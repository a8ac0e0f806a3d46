#include "common/SystemLibrary.h"

#include <string>

namespace quillon {
namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);

// Looked up by name: the loader's search flags came with it.
SetDefaultDllDirectoriesFn SetDefaultDllDirectoriesEntry() {
    return ProcAddress<SetDefaultDllDirectoriesFn>(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories");
}

}  // namespace

void RestrictDllSearch() {
    auto setDefault = SetDefaultDllDirectoriesEntry();
    if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Older systems: at least the current folder goes.
    SetDllDirectoryW(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    // Side-by-side redirection comes before the search, so the manifest's
    // common controls are still the ones found.
    if (SetDefaultDllDirectoriesEntry()) return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return LoadSystemLibraryByPath(name);
}

HMODULE LoadSystemLibraryByPath(const wchar_t* name) {
    ACTCTX_SECTION_KEYED_DATA redirected{};
    redirected.cbSize = sizeof redirected;
    if (FindActCtxSectionStringW(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, name, &redirected))
        return LoadLibraryW(name);
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    return LoadLibraryW((std::wstring(folder, n) + L"\\" + name).c_str());
}

}  // namespace quillon
