#include "common/NamedLock.h"

#include <vector>

#include "common/Handle.h"

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

namespace {

// The mutexes of the last few files, kept open: a refresh takes its log's
// every time, and opening a named object costs a round trip each way.
class Mutexes {
public:
    HANDLE Get(const std::wstring& name) {
        AcquireSRWLockExclusive(&lock_);
        HANDLE found = nullptr;
        for (const Kept& k : kept_)
            if (k.name == name) found = k.mutex.get();
        if (!found) {
            // Global: a scheduled run may be in another session than the
            // window. Another user's mutex may be closed to this one; then
            // at least the runs of this session keep out of each other's way.
            KernelHandle made(CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
            if (!made) made.reset(CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
            found = made.get();
            if (made) {
                if (kept_.size() == 8) kept_.erase(kept_.begin());
                kept_.push_back({name, std::move(made)});
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        return found;
    }

private:
    struct Kept {
        std::wstring name;
        KernelHandle mutex;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<Kept> kept_;
};

Mutexes& KeptMutexes() {
    static Mutexes* mutexes = new Mutexes;  // for the process's life, past static destruction
    return *mutexes;
}

}  // namespace

NamedLock::NamedLock(const wchar_t* kind, const std::wstring& path, DWORD waitMs)
    : mutex_(KeptMutexes().Get(NameFor(kind, path))) {
    if (!mutex_) {
        error_ = GetLastError();
        return;
    }
    // An owner that died mid-write leaves it abandoned; the file is then as
    // that write left it, which the next write replaces.
    const DWORD waited = WaitForSingleObject(mutex_, waitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!held_) error_ = waited == WAIT_TIMEOUT ? ERROR_BUSY : GetLastError();
}

NamedLock::~NamedLock() {
    if (held_) ReleaseMutex(mutex_);
}

}  // namespace quillon
