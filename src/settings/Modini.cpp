#include "settings/Modini.h"

#include <cwctype>

#include "common/Handle.h"
#include "common/ModulePath.h"
#include "common/NamedLock.h"
#include "common/Retry.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "common/WholeFile.h"

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

bool CanReadIni(const std::wstring& path) {
    FileHandle file = RetryWhileBusy([&] {
        return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    });
    return file || !IsBusy(GetLastError());
}

namespace {

constexpr char kUtf16Bom[] = "\xFF\xFE";

Saved Failed(DWORD error) { return IsBusy(error) || error == ERROR_BUSY ? Saved::Later : Saved::No; }

// The profile functions write a file that begins with a UTF-16 byte-order
// mark in UTF-16, and any other in the ANSI code page, where a character
// it lacks would be replaced by another. So the file becomes UTF-16 the
// first time such a character is to be written, whole and in one step; a
// file that never needs it stays ANSI, as older versions read it. A file
// that cannot be read whole is left as it is.
Saved MakeUtf16(const std::wstring& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) return Failed(error);
        bytes.clear();
    }
    if (bytes.rfind(kUtf16Bom, 0) == 0) return Saved::Yes;
    const std::wstring text = FromAnsi(bytes);
    std::string utf16 = kUtf16Bom;
    utf16.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return WriteWholeFile(path, utf16) ? Saved::Yes : Failed(GetLastError());
}

}  // namespace

Saved WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path, DWORD waitMs) {
    // The silent run's time limit waits for this write.
    const runlimit::Writing writing;
    // The profile functions rewrite the whole file: two writers at once
    // would drop each other's keys.
    const NamedLock lock(L"settings", path, waitMs);
    if (!lock && lock.Error() == ERROR_BUSY) return Saved::Later;
    if (!FitsAnsi(section) || !FitsAnsi(key) || !FitsAnsi(value)) {
        const Saved converted = MakeUtf16(path);
        if (converted != Saved::Yes) return converted;
    }
    if (WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str())) return Saved::Yes;
    return Failed(GetLastError());
}

void PendingWrites::Write(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                          const std::wstring& value) {
    bool kept = false;
    for (Entry& e : kept_)
        if (e.path == path && e.section == section && e.key == key) {
            e.value = value;
            kept = true;
        }
    if (!kept) kept_.push_back({path, section, key, value});
    Retry();
}

bool PendingWrites::Retry() {
    while (!kept_.empty()) {
        const Entry& e = kept_.front();
        if (WriteIniValue(e.section, e.key, e.value, e.path) == Saved::Later) return false;
        kept_.erase(kept_.begin());  // written, or never will be
    }
    return true;
}

bool PendingWrites::Flush(DWORD waitMs) {
    const DWORD start = GetTickCount();
    while (!Retry()) {
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(50);
    }
    return true;
}

std::wstring SettingsPath() { return ProgramFolder() + L"\\Quillon_settings.ini"; }

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
