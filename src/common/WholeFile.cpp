#include "common/WholeFile.h"

#include <cwchar>
#include <optional>
#include <vector>

#include "common/Handle.h"
#include "common/Retry.h"

namespace quillon {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What a replacement carries over of the old file's attributes.
constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// "<name>.quillon-<16 hex digits>.tmp": no user names a file like this.
constexpr wchar_t kOwnMark[] = L".quillon-";
constexpr size_t kOwnDigits = 16;

struct Existing {
    std::wstring where;  // the file itself, through any links
    DWORD attributes = 0;
    DWORD names = 1;
    ULONGLONG size = 0;
};

std::optional<Existing> Inspect(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    Existing e{path, info.dwFileAttributes, info.nNumberOfLinks,
               (ULONGLONG{info.nFileSizeHigh} << 32) | info.nFileSizeLow};
    std::vector<wchar_t> buf(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(file.get(), buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleW(file.get(), buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    if (n > 0 && n < buf.size()) e.where.assign(buf.data(), n);
    return e;
}

bool WriteAt(HANDLE file, ULONGLONG offset, const char* data, size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD written = 0;
    return WriteFile(file, data, static_cast<DWORD>(size), &written, &at) && written == size;
}

bool CutTo(HANDLE file, ULONGLONG size) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Grows the file first, so that a full disk fails before a byte of the old
// content is touched; whatever ends the process after that, the file holds
// the new bytes or the old ones, perhaps with the old tail behind the new.
bool WriteInPlace(const std::wstring& path, ULONGLONG oldSize, const std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    const size_t kept = bytes.size() < oldSize ? bytes.size() : static_cast<size_t>(oldSize);
    if (kept < bytes.size() && !(WriteAt(file.get(), oldSize, bytes.data() + kept, bytes.size() - kept) &&
                                 FlushFileBuffers(file.get()))) {
        const DWORD error = GetLastError();
        CutTo(file.get(), oldSize);
        SetLastError(error);
        return false;
    }
    return WriteAt(file.get(), 0, bytes.data(), kept) && CutTo(file.get(), bytes.size()) &&
           FlushFileBuffers(file.get());
}

// A name of the program's own beside target, made afresh: CREATE_NEW never
// opens what is there, a link included. Its writer holds it open until it
// has taken the target's place, sharing it with readers and that rename
// only, so that no sweep takes it from under a write, on this machine or
// another.
FileHandle CreateOwn(const std::wstring& target, DWORD attributes, std::wstring& name) {
    static volatile LONG counter = 0;
    for (int tries = 0; tries < 8; ++tries) {
        const unsigned long long tag = (ULONGLONG{GetCurrentProcessId()} << 32) ^ GetTickCount64() ^
                                       (ULONGLONG(InterlockedIncrement(&counter)) * 0x9E3779B97F4A7C15ull);
        wchar_t hex[kOwnDigits + 1];
        for (size_t i = 0; i < kOwnDigits; ++i) hex[i] = L"0123456789abcdef"[(tag >> (4 * (kOwnDigits - 1 - i))) & 0xF];
        hex[kOwnDigits] = L'\0';
        name = target + kOwnMark + hex + L".tmp";
        FileHandle file(
            CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        attributes, nullptr));
        if (file || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return FileHandle();
}

// Files of the program's own, by their exact form, that no run holds: one
// whose run ended before it could remove it. A user's files beside the log
// are never touched.
void RemoveLeftovers(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    const std::wstring own = path.substr(folder.size()) + kOwnMark;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + kOwnMark + L"*.tmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() != own.size() + kOwnDigits + 4 || _wcsnicmp(name.c_str(), own.c_str(), own.size()) != 0 ||
            _wcsicmp(name.c_str() + own.size() + kOwnDigits, L".tmp") != 0 ||
            name.substr(own.size(), kOwnDigits).find_first_not_of(L"0123456789abcdef") != std::wstring::npos)
            continue;
        // Opened for writing only where no writer holds it; gone as it closes.
        CloseHandle(CreateFileW((folder + name).c_str(), GENERIC_WRITE | DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

// The rename over the old file; a target that a program holds is busy,
// whichever of its two errors the system says.
bool Rename(const std::wstring& from, const std::wstring& to, const std::optional<Existing>& existing) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (existing && GetLastError() == ERROR_ACCESS_DENIED) SetLastError(ERROR_SHARING_VIOLATION);
    return false;
}

bool Replace(const std::wstring& target, const std::optional<Existing>& existing, const std::string& bytes,
             WholeFileWay way) {
    const DWORD attributes = existing ? existing->attributes & kKeptAttributes : 0;
    std::wstring fresh;
    FileHandle file = CreateOwn(target, attributes ? attributes : FILE_ATTRIBUTE_NORMAL, fresh);
    if (!file) return false;
    const bool written = WriteAt(file.get(), 0, bytes.data(), bytes.size()) && FlushFileBuffers(file.get());
    const bool renamed =
        written && (way.waitForHolder ? RetryWhileBusy([&] { return Rename(fresh, target, existing); })
                                      : Rename(fresh, target, existing));
    if (renamed) return true;
    const DWORD error = GetLastError();
    DeleteFileW(fresh.c_str());
    SetLastError(error);
    return false;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    bytes.clear();
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(file.get(), buf, sizeof buf, &n, nullptr)) {
        if (n == 0) return true;
        bytes.append(buf, n);
    }
    return false;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, WholeFileWay way) {
    const std::optional<Existing> existing = Inspect(path);
    const std::wstring target = existing ? existing->where : path;
    // A read-only file is refused at once, as the rename would be.
    if (existing && (existing->attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    // Every name of a file with several must see the new content.
    bool written = false;
    if (existing && existing->names > 1 && way.inPlace) {
        written = WriteInPlace(target, existing->size, bytes);
    } else {
        written = Replace(target, existing, bytes, way);
        if (!written && existing && way.inPlace) {
            const DWORD error = GetLastError();
            written = WriteInPlace(target, existing->size, bytes);
            if (!written) SetLastError(error);
        }
    }
    if (written) RemoveLeftovers(target);
    return written;
}

}  // namespace quillon
