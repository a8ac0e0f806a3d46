#include "common/NamedLock.h"

#include <vector>

namespace quillon {

std::wstring NamedLock::NameFor(const wchar_t* kind, const std::wstring& path) {
    std::vector<wchar_t> full(MAX_PATH);
    DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n + 1);
        n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    std::wstring name = n > 0 && n < full.size() ? std::wstring(full.data(), n) : path;
    if (!name.empty()) CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    // A mutex name holds no backslash and is short: the path's 64-bit FNV-1a hash.
    unsigned long long hash = 14695981039346656037ull;
    for (wchar_t c : name) {
        hash ^= static_cast<unsigned short>(c);
        hash *= 1099511628211ull;
    }
    wchar_t hex[17];
    for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = L"0123456789abcdef"[hash & 0xF];
    hex[16] = L'\0';
    return std::wstring(L"Quillon.") + kind + L"." + hex;
}

NamedLock::NamedLock(const wchar_t* kind, const std::wstring& path, DWORD waitMs) {
    const std::wstring name = NameFor(kind, path);
    // Global: a scheduled run may be in another session than the window.
    // Another user's mutex may be closed to this one; then at least the
    // runs of this session keep out of each other's way.
    mutex_.reset(CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
    if (!mutex_) mutex_.reset(CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
    if (!mutex_) {
        error_ = GetLastError();
        return;
    }
    // An owner that died mid-write leaves it abandoned; the file is then as
    // that write left it, which the next write replaces.
    const DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!held_) error_ = waited == WAIT_TIMEOUT ? ERROR_BUSY : GetLastError();
}

NamedLock::~NamedLock() {
    if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace quillon
