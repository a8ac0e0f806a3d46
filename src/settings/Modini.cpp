#include "settings/Modini.h"

#include <cwchar>
#include <cwctype>

#include "common/ModulePath.h"
#include "common/NamedLock.h"
#include "common/Retry.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "common/WholeFile.h"

namespace quillon::settings {
namespace {

constexpr char kUtf16Bom[] = "\xFF\xFE";
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

std::wstring Trim(const std::wstring& s) {
    const size_t first = s.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    return s.substr(first, s.find_last_not_of(L" \t") + 1 - first);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// A key line's name and value; false for a line that is no key.
bool SplitKey(const std::wstring& line, std::wstring& name, std::wstring& value, bool raw = false) {
    const std::wstring t = Trim(line);
    const size_t eq = t.find(L'=');
    if (t.empty() || t[0] == L';' || t[0] == L'[' || eq == std::wstring::npos) return false;
    name = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    if (!raw && value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return true;
}

std::wstring FromUtf8(const std::string& bytes) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), n);
    return text;
}

std::string ToUtf8(const std::wstring& text) {
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr, nullptr);
    return bytes;
}

}  // namespace

bool IniFile::Load(const std::wstring& path) {
    lines_.clear();
    encoding_ = Encoding::Ansi;
    error_ = ERROR_SUCCESS;
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        error_ = GetLastError();
        if (error_ != ERROR_FILE_NOT_FOUND && error_ != ERROR_PATH_NOT_FOUND) return false;
        error_ = ERROR_SUCCESS;
        bytes.clear();
    }
    std::wstring text;
    if (bytes.rfind(kUtf16Bom, 0) == 0) {
        encoding_ = Encoding::Utf16;
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
    } else if (bytes.rfind(kUtf8Bom, 0) == 0) {
        encoding_ = Encoding::Utf8;
        text = FromUtf8(bytes.substr(3));
    } else {
        text = FromAnsi(bytes);
    }
    for (size_t at = 0; at < text.size();) {
        const size_t br = text.find_first_of(L"\r\n", at);
        if (br == std::wstring::npos) {
            lines_.push_back({text.substr(at), L""});
            break;
        }
        const size_t len = text.compare(br, 2, L"\r\n") == 0 ? 2 : 1;
        lines_.push_back({text.substr(at, br - at), text.substr(br, len)});
        at = br + len;
    }
    return true;
}

bool IniFile::FindSection(const std::wstring& section, size_t& first, size_t& last) const {
    bool found = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::wstring t = Trim(lines_[i].text);
        if (t.empty() || t[0] != L'[') continue;
        if (found) {
            last = i;
            return true;
        }
        const size_t close = t.find(L']');
        if (SameName(Trim(t.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)), section)) {
            found = true;
            first = i + 1;
        }
    }
    last = lines_.size();
    return found;
}

std::wstring IniFile::Value(const std::wstring& section, const std::wstring& key, bool raw) const {
    size_t first = 0, last = 0;
    if (!FindSection(section, first, last)) return L"";
    std::wstring name, value;
    for (size_t i = first; i < last; ++i)
        if (SplitKey(lines_[i].text, name, value, raw) && SameName(name, key)) return value;
    return L"";
}

bool IniFile::Set(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    size_t first = 0, last = 0;
    const std::wstring line = key + L"=" + value;
    if (!FindSection(section, first, last)) {
        if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = L"\r\n";
        lines_.push_back({L"[" + section + L"]", L"\r\n"});
        lines_.push_back({line, L"\r\n"});
        return true;
    }
    std::wstring name, old;
    size_t after = first;  // after the section's last line that is not blank
    for (size_t i = first; i < last; ++i) {
        if (SplitKey(lines_[i].text, name, old) && SameName(name, key)) {
            if (old == value) return false;
            lines_[i].text = line;
            return true;
        }
        if (!Trim(lines_[i].text).empty()) after = i + 1;
    }
    if (after > 0 && lines_[after - 1].end.empty()) lines_[after - 1].end = L"\r\n";
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(after), Line{line, L"\r\n"});
    return true;
}

std::string IniFile::Bytes() const {
    std::wstring text;
    for (const Line& l : lines_) text += l.text + l.end;
    if (encoding_ == Encoding::Utf8) return kUtf8Bom + ToUtf8(text);
    // A character that the ANSI code page lacks turns the whole file into
    // UTF-16, which the profile functions of every Windows read as such.
    if (encoding_ == Encoding::Ansi && FitsAnsi(text)) return ToAnsi(text);
    std::string utf16 = kUtf16Bom;
    utf16.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return utf16;
}

std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& path) {
    IniFile ini;
    return ini.Load(path) ? ini.Value(section, key) : L"";
}

Saved WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path, DWORD waitMs, DWORD* error) {
    const auto failed = [error](DWORD why) {
        if (error) *error = why;
        return IsBusy(why) ? Saved::Later : Saved::No;
    };
    // The silent run's time limit waits for this write.
    const runlimit::Writing writing;
    // Two writers at once would drop each other's keys.
    const NamedLock lock(L"settings", path, waitMs);
    if (!lock) return failed(lock.Error());
    IniFile ini;
    if (!ini.Load(path)) return failed(ini.Error());
    if (!ini.Set(section, key, value)) return Saved::Yes;
    if (!WriteWholeFile(path, ini.Bytes(), {})) return failed(GetLastError());
    return Saved::Yes;
}

bool PendingWrites::Write(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                          const std::wstring& value) {
    bool kept = false;
    for (Entry& e : kept_)
        if (e.path == path && e.section == section && e.key == key) {
            e.value = value;
            kept = true;
        }
    if (!kept) kept_.push_back({path, section, key, value});
    return Retry() || !dropped_;
}

bool PendingWrites::Retry() {
    bool failed = false, wrote = false;
    while (!kept_.empty()) {
        const Entry& e = kept_.front();
        DWORD error = ERROR_SUCCESS;
        const Saved saved = WriteIniValue(e.section, e.key, e.value, e.path, 0, &error);
        if (saved == Saved::Later) {
            if (!failed) {
                error_ = error;
                dropped_ = false;
            }
            return false;
        }
        kept_.erase(kept_.begin());
        if (saved == Saved::No) {
            error_ = error;
            dropped_ = failed = true;
        } else {
            wrote = true;
        }
    }
    // A write that worked clears what went wrong before; nothing to write
    // leaves it said.
    if (wrote && !failed) {
        error_ = ERROR_SUCCESS;
        dropped_ = false;
    }
    return !failed;
}

bool PendingWrites::Flush(DWORD waitMs) {
    const DWORD start = GetTickCount();
    while (!Retry()) {
        if (dropped_ && kept_.empty()) return false;
        if (GetTickCount() - start >= waitMs) return false;
        Sleep(50);
    }
    return true;
}

std::wstring SettingsPath() { return ProgramFolder() + L"\\Quillon_settings.ini"; }

std::wstring LastErrorPath() { return ProgramFolder() + L"\\Quillon_last_error.txt"; }

void WriteLastError(int exitCode, const std::wstring& why) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t stamp[64];
    swprintf(stamp, 64, L"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
    std::wstring text = std::wstring(stamp) + L"  Quillon -s ended with exit code " + std::to_wstring(exitCode) + L"\r\n";
    for (size_t from = 0; from < why.size();) {
        const size_t end = why.find(L'\n', from);
        text += why.substr(from, end == std::wstring::npos ? std::wstring::npos : end - from) + L"\r\n";
        from = end == std::wstring::npos ? why.size() : end + 1;
    }
    // UTF-16 with its mark: a path in the reason may hold any character.
    std::string bytes("\xFF\xFE");
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    WriteWholeFile(LastErrorPath(), bytes, {.waitForHolder = true});
}

namespace {

// A whole number of at most six digits, blanks and a sign around it; false
// for anything else.
bool ParseSmallNumber(const std::wstring& text, int& value) {
    size_t i = 0, e = text.size();
    while (i < e && std::iswspace(text[i])) ++i;
    while (e > i && std::iswspace(text[e - 1])) --e;
    bool negative = false;
    if (i < e && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    if (i == e || e - i > 6) return false;
    value = 0;
    for (; i < e; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
        value = value * 10 + (text[i] - L'0');
    }
    if (negative) value = -value;
    return true;
}

}  // namespace

int ParseCheckState(const std::wstring& text) {
    int value = -1;
    return ParseSmallNumber(text, value) && value >= 0 && value <= 2 ? value : -1;
}

int ParseMinutes(const std::wstring& text) {
    int value = 0;
    return ParseSmallNumber(text, value) && value >= 1 && value <= 1440 ? value : 0;
}

}  // namespace quillon::settings
