#include "settings/Modini.h"

#include <windows.h>

#include <vector>

namespace quillon::settings {

std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& path) {
    // A value that fills the buffer may have been cut: grow until it fits.
    for (DWORD size = 256;; size *= 2) {
        std::vector<wchar_t> buf(size, L'\0');
        const DWORD n =
            GetPrivateProfileStringW(section.c_str(), key.c_str(), L"", buf.data(), size, path.c_str());
        if (n + 1 < size || size >= (1u << 24)) return std::wstring(buf.data(), n);
    }
}

void WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& path) {
    WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

std::wstring SettingsPath() {
    std::vector<wchar_t> buf(MAX_PATH);
    DWORD n = 0;
    while ((n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()))) == buf.size())
        buf.resize(buf.size() * 2);
    std::wstring exe(buf.data(), n);
    const size_t slash = exe.find_last_of(L'\\');
    return (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash)) + L"\\Quillon_settings.ini";
}

}  // namespace quillon::settings
