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

struct Existing {
    std::wstring where;  // the file itself, through any links
    DWORD attributes = 0;
    DWORD names = 1;
};

std::optional<Existing> Inspect(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    Existing e{path, info.dwFileAttributes, info.nNumberOfLinks};
    std::vector<wchar_t> buf(MAX_PATH);
    DWORD n = GetFinalPathNameByHandleW(file.get(), buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
        buf.resize(n + 1);
        n = GetFinalPathNameByHandleW(file.get(), buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    if (n > 0 && n < buf.size()) e.where.assign(buf.data(), n);
    return e;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

// Never cut first: whatever ends the process, the file holds the new bytes
// or the old ones, perhaps with the old tail behind the new.
bool WriteInPlace(const std::wstring& path, const std::string& bytes) {
    FileHandle file = RetryWhileBusy([&] {
        return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    });
    return file && WriteAll(file.get(), bytes) && SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
}

std::wstring OwnName(const std::wstring& path, DWORD pid) { return path + L"." + std::to_wstring(pid) + L".tmp"; }

// Files "<name>.<pid>.tmp" of runs that ended before they removed theirs.
void RemoveLeftovers(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
    const std::wstring base = path.substr(folder.size());
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path + L".*.tmp").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name.size() <= base.size() + 5 || _wcsnicmp(name.c_str(), base.c_str(), base.size()) != 0) continue;
        const std::wstring middle = name.substr(base.size() + 1, name.size() - base.size() - 5);
        if (middle.empty() || middle.size() > 10 || middle.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        const DWORD pid = static_cast<DWORD>(std::wcstoul(middle.c_str(), nullptr, 10));
        KernelHandle owner(OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (owner || GetLastError() != ERROR_INVALID_PARAMETER) continue;  // its run may still be writing
        DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(find, &found));
    FindClose(find);
}

bool WriteOver(const std::wstring& target, const std::optional<Existing>& existing, const std::string& bytes) {
    // Every name of a file with several must see the new content, and a
    // read-only file is refused at once rather than after a second of tries.
    if (existing && (existing->names > 1 || (existing->attributes & FILE_ATTRIBUTE_READONLY)))
        return WriteInPlace(target, bytes);

    const std::wstring fresh = OwnName(target, GetCurrentProcessId());
    bool written = false;
    {
        const DWORD attributes = existing ? existing->attributes & kKeptAttributes : 0;
        FileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
        written = file && WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    }
    if (!written) {
        const DWORD error = GetLastError();
        DeleteFileW(fresh.c_str());
        // No file can be made beside it: then where it is.
        if (existing) return WriteInPlace(target, bytes);
        SetLastError(error);
        return false;
    }
    // A program that has the file open forbids the rename; one that only
    // looks lets go soon. One that follows the file keeps it: then in place.
    const bool renamed = RetryWhileBusy(
        [&] { return MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH); },
        [](DWORD error) { return IsBusy(error) || error == ERROR_ACCESS_DENIED; });
    if (renamed) return true;
    const DWORD error = GetLastError();
    DeleteFileW(fresh.c_str());
    if (existing && (IsBusy(error) || error == ERROR_ACCESS_DENIED)) return WriteInPlace(target, bytes);
    SetLastError(error);
    return false;
}

}  // namespace

bool ReadWholeFile(const std::wstring& path, std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
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

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    const std::optional<Existing> existing = Inspect(path);
    const std::wstring target = existing ? existing->where : path;
    if (!WriteOver(target, existing, bytes)) return false;
    RemoveLeftovers(target);
    return true;
}

}  // namespace quillon
