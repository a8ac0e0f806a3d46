#include "common/ModulePath.h"

#include <windows.h>

#include <vector>

namespace quillon {

std::wstring ModulePath() {
    std::vector<wchar_t> buf(MAX_PATH);
    DWORD n = 0;
    // A path that fills the buffer may have been cut: grow until it fits.
    while ((n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()))) == buf.size())
        buf.resize(buf.size() * 2);
    return std::wstring(buf.data(), n);
}

}  // namespace quillon

namespace quillon {

std::wstring ProgramFolder() {
    const std::wstring exe = ModulePath();
    const size_t slash = exe.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash);
}

std::wstring FromProgramFolder(const std::wstring& path) {
    const auto slash = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    const auto letter = [](wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); };
    if (path.empty() || (path.size() >= 2 && slash(path[0]) && slash(path[1]))) return path;
    const std::wstring folder = ProgramFolder();
    const bool folderOnDrive = folder.size() >= 2 && folder[1] == L':';
    if (path.size() >= 2 && path[1] == L':') {
        if (path.size() >= 3 && slash(path[2])) return path;
        if (!letter(path[0])) return path;
        // "C:name" is relative to the drive's current folder, which a run
        // does not choose: the program's folder where it is on that drive,
        // else the drive's root.
        const std::wstring rest = path.substr(2);
        if (folderOnDrive && (folder[0] | 0x20) == (path[0] | 0x20))
            return rest.empty() ? folder : folder + L"\\" + rest;
        return path.substr(0, 2) + L"\\" + rest;
    }
    if (!slash(path[0])) return folder + L"\\" + path;
    return folderOnDrive ? folder.substr(0, 2) + path : path;
}

}  // namespace quillon
