#include "net/ActionsRecord.h"

#include <cstdlib>

#include "common/ModulePath.h"
#include "common/NamedLock.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "common/WholeFile.h"
#include "net/AddressText.h"

namespace quillon::net {
namespace {

// Long enough for a share that answers slowly; a run that cannot take it
// runs the actions as if none had succeeded.
constexpr DWORD kLockWaitMs = 5000;

constexpr const char* kKeys[2] = {"ipv4=", "ipv6="};

void Parse(const std::string& bytes, ActionsRecord& record) {
    for (size_t from = 0; from < bytes.size();) {
        size_t end = bytes.find('\n', from);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(from, end - from);
        from = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        for (int family = 0; family < 2; ++family)
            if (line.rfind(kKeys[family], 0) == 0) {
                const std::wstring address = FromAnsi(line.substr(5));
                // Only an address: anything else counts as none recorded.
                if (IsIpAddress(address)) record.address[family] = address;
            }
        if (line.rfind("held=", 0) == 0) {
            char* rest = nullptr;
            ActionsRecord::Hold hold;
            hold.key = std::strtoull(line.c_str() + 5, &rest, 16);
            if (rest && *rest == ' ') hold.until = std::strtoull(rest + 1, nullptr, 10);
            if (hold.key && hold.until) record.holds.push_back(hold);
        }
    }
}

std::string Compose(const ActionsRecord& record, std::uint64_t now) {
    std::string text =
        "; The addresses Quillon's update and onchange last succeeded for.\r\n"
        "; Delete this file to make them run at the next refresh.\r\n";
    for (int family = 0; family < 2; ++family)
        if (!record.address[family].empty()) text += kKeys[family] + ToAnsi(record.address[family]) + "\r\n";
    for (const ActionsRecord::Hold& hold : record.holds) {
        if (hold.until <= now) continue;
        std::string key;
        for (int shift = 60; shift >= 0; shift -= 4) key += "0123456789abcdef"[(hold.key >> shift) & 15];
        text += "held=" + key + " " + std::to_string(hold.until) + "\r\n";
    }
    return text;
}

bool ReadUnlocked(const std::wstring& path, ActionsRecord& record) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    Parse(bytes, record);
    return true;
}

}  // namespace

std::uint64_t ActionsRecord::HeldUntil(std::uint64_t key, std::uint64_t now) const {
    for (const Hold& hold : holds)
        if (hold.key == key && hold.until > now) return hold.until;
    return 0;
}

std::wstring ActionsRecordPath() { return ProgramFolder() + L"\\Quillon_actions.txt"; }

bool ReadActionsRecord(const std::wstring& path, ActionsRecord& record) {
    const NamedLock lock(L"actions", path, kLockWaitMs);
    return lock && ReadUnlocked(path, record);
}

namespace detail {
bool RewriteActionsRecord(const std::wstring& path, void (*change)(ActionsRecord&, void*), void* context) {
    // A silent run's time limit lets the write finish.
    const runlimit::Writing writing;
    const NamedLock lock(L"actions", path, kLockWaitMs);
    ActionsRecord record;
    if (!lock || !ReadUnlocked(path, record)) return false;
    change(record, context);
    return WriteWholeFile(path, Compose(record, SecondsNow()), {.waitForHolder = true});
}
}  // namespace detail

std::uint64_t SecondsNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks / 10000000ULL - 11644473600ULL;
}

std::uint64_t HoldKey(const std::wstring& updateSetting, const std::wstring& url) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const std::wstring* part : {&updateSetting, &url}) {
        for (wchar_t c : *part) {
            hash = (hash ^ static_cast<std::uint64_t>(c)) * 1099511628211ULL;
        }
        hash = (hash ^ 0x0aU) * 1099511628211ULL;
    }
    return hash ? hash : 1;
}

}  // namespace quillon::net
