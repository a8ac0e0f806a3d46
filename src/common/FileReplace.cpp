#include "common/FileReplace.h"

namespace quillon {

Replaced ReplaceFileBytes(const std::wstring& path, const std::string& bytes) {
    const std::wstring fresh = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    bool written = false;
    {
        FileHandle file(CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
        if (!file) return Replaced::NotWritten;
        DWORD n = 0;
        written = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
                  n == bytes.size() && FlushFileBuffers(file.get());
    }
    DWORD error = GetLastError();
    // A file that someone has open cannot be renamed over; a reader that
    // looks for a moment lets go soon, so try for about a second.
    for (int attempt = 0; written && attempt <= 100; ++attempt) {
        if (MoveFileExW(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return Replaced::Done;
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    DeleteFileW(fresh.c_str());
    SetLastError(error);
    return written ? Replaced::NotRenamed : Replaced::NotWritten;
}

bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
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

}  // namespace quillon
