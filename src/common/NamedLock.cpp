#include "common/NamedLock.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "common/Handle.h"

namespace quillon {
namespace {

using LocalMemory = UniqueAny<HLOCAL, &LocalFree>;

// The process's user: its SID, and that SID as text.
struct User {
    std::vector<BYTE> sid;
    std::wstring text;
};

const User& ThisUser() {
    static const User* user = [] {
        auto* u = new User;  // for the process's life
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return u;
        const KernelHandle owned(token);
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<BYTE> info(size);
        wchar_t* text = nullptr;
        if (size && GetTokenInformation(token, TokenUser, info.data(), size, &size)) {
            PSID sid = reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid;
            const BYTE* bytes = static_cast<const BYTE*>(sid);
            u->sid.assign(bytes, bytes + GetLengthSid(sid));
            if (ConvertSidToStringSidW(sid, &text)) {
                u->text = text;
                LocalFree(text);
            }
        }
        return u;
    }();
    return *user;
}

// The mutexes of the last few files, kept open: a refresh takes its log's
// every time, and opening a named object costs a round trip each way.
class Mutexes {
public:
    HANDLE Get(const std::wstring& name) {
        AcquireSRWLockExclusive(&lock_);
        HANDLE found = nullptr;
        for (const Kept& k : kept_)
            if (k.name == name) found = k.mutex.get();
        DWORD error = ERROR_SUCCESS;
        if (!found) {
            KernelHandle made(OwnerOnlyMutex(L"Global\\", name, nullptr));
            error = GetLastError();
            found = made.get();
            if (made) {
                if (kept_.size() == 8) kept_.erase(kept_.begin());
                kept_.push_back({name, std::move(made)});
            }
        }
        ReleaseSRWLockExclusive(&lock_);
        SetLastError(error);
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

// Made with the user as owner and the only one let in; an existing one is
// taken only where the user owns it.
HANDLE OwnerOnlyMutex(const wchar_t* prefix, const std::wstring& name, bool* existed) {
    if (existed) *existed = false;
    const User& user = ThisUser();
    if (user.text.empty()) return nullptr;
    const std::wstring sddl = L"O:" + user.text + L"D:P(A;;GA;;;" + user.text + L")";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
        return nullptr;
    const LocalMemory sdOwned(sd);
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    KernelHandle mutex(CreateMutexW(&sa, FALSE, (prefix + name).c_str()));
    if (!mutex || GetLastError() != ERROR_ALREADY_EXISTS) return mutex.release();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR found = nullptr;
    if (GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &found) != ERROR_SUCCESS) {
        SetLastError(ERROR_INVALID_OWNER);
        return nullptr;
    }
    const LocalMemory foundOwned(found);
    if (!owner || !EqualSid(owner, const_cast<BYTE*>(user.sid.data()))) {
        SetLastError(ERROR_INVALID_OWNER);
        return nullptr;
    }
    if (existed) *existed = true;
    return mutex.release();
}

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
    return std::wstring(L"Quillon.") + kind + L"." + ThisUser().text + L"." + hex;
}

NamedLock::NamedLock(const wchar_t* kind, const std::wstring& path, DWORD waitMs)
    : mutex_(KeptMutexes().Get(NameFor(kind, path))) {
    if (!mutex_) {
        error_ = GetLastError();
        if (error_ == ERROR_SUCCESS) error_ = ERROR_INVALID_HANDLE;
        return;
    }
    // An owner that died mid-write leaves it abandoned; the file is then as
    // that write left it, and every write here leaves it whole.
    const DWORD waited = WaitForSingleObject(mutex_, waitMs);
    held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    if (!held_) error_ = waited == WAIT_TIMEOUT ? ERROR_BUSY : GetLastError();
}

NamedLock::~NamedLock() {
    if (held_) ReleaseMutex(mutex_);
}

}  // namespace quillon
