#include "settings/Modini.h"

#include <windows.h>

#include <cwctype>
#include <vector>

#include "common/FileReplace.h"
#include "common/ModulePath.h"
#include "common/RunLimit.h"
#include "common/Text.h"

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

namespace {

constexpr char kUtf16Bom[] = "\xFF\xFE";

bool IsUtf16(const std::string& bytes) { return bytes.rfind(kUtf16Bom, 0) == 0; }

// The profile functions write a file that begins with a UTF-16 byte-order
// mark in UTF-16, and any other in the ANSI code page, where a character
// it lacks would be replaced by another. So the file becomes UTF-16 the
// first time such a character is to be written, in one rename; a file that
// never needs it stays ANSI, as older versions read it.
void MakeUtf16(const std::wstring& path) {
    std::string bytes;
    if (ReadFileBytes(path, bytes) && IsUtf16(bytes)) return;
    const std::wstring text = FromAnsi(bytes);
    std::string utf16 = kUtf16Bom;
    utf16.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    ReplaceFileBytes(path, utf16);
}

}  // namespace

void WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& path) {
    // The silent run's time limit waits for this write.
    const runlimit::Writing writing;
    if (!FitsAnsi(section) || !FitsAnsi(key) || !FitsAnsi(value)) MakeUtf16(path);
    WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

std::wstring SettingsPath() {
    const std::wstring exe = ModulePath();
    const size_t slash = exe.find_last_of(L'\\');
    return (slash == std::wstring::npos ? std::wstring() : exe.substr(0, slash)) + L"\\Quillon_settings.ini";
}

int ParseCheckState(const std::wstring& text) {
    size_t i = 0, e = text.size();
    while (i < e && std::iswspace(text[i])) ++i;
    while (e > i && std::iswspace(text[e - 1])) --e;
    bool negative = false;
    if (i < e && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i == e || e - i > 6) return -1;
    int value = 0;
    for (; i < e; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return -1;
        value = value * 10 + (text[i] - L'0');
    }
    if (negative) value = -value;
    return value >= 0 && value <= 2 ? value : -1;
}

}  // namespace quillon::settings
