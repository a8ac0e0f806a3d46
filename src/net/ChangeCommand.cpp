#include "net/ChangeCommand.h"

#include <algorithm>
#include <string_view>

#include "common/Handle.h"
#include "common/Text.h"

namespace quillon::net {
namespace {

using FreeEnvironment = UniqueAny<wchar_t*, &FreeEnvironmentStringsW>;

constexpr std::wstring_view kOurPrefix = L"QUILLON_";

// The name of an entry "NAME=value"; the entries of the drives' current
// folders ("=C:=C:\x") have a name that starts with '='.
std::wstring_view EntryName(std::wstring_view entry) {
    const size_t equals = entry.find(L'=', 1);
    return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool IsOurs(std::wstring_view name) {
    return name.size() >= kOurPrefix.size() && SameText(name.substr(0, kOurPrefix.size()), kOurPrefix);
}

// Windows keeps the block sorted by name, case-insensitively and without
// regard to locale, the drives' entries first.
bool SortsBefore(const std::wstring& a, const std::wstring& b) {
    const bool aDrive = a.starts_with(L'='), bDrive = b.starts_with(L'=');
    if (aDrive != bDrive) return aDrive;
    if (aDrive) return false;  // as inherited
    const std::wstring_view na = EntryName(a), nb = EntryName(b);
    return CompareStringOrdinal(na.data(), static_cast<int>(na.size()), nb.data(), static_cast<int>(nb.size()), TRUE) ==
           CSTR_LESS_THAN;
}

std::wstring Seconds(DWORD ms) { return std::to_wstring(ms / 1000 + (ms % 1000 != 0 ? 1 : 0)); }

CommandResult Failed(std::wstring why) { return {false, std::move(why)}; }

}  // namespace

std::wstring CommandName(const std::wstring& commandLine) {
    const size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return {};
    std::wstring program;
    if (commandLine[start] == L'"') {
        const size_t close = commandLine.find(L'"', start + 1);
        program = commandLine.substr(start + 1, close == std::wstring::npos ? std::wstring::npos : close - start - 1);
    } else {
        const size_t blank = commandLine.find_first_of(L" \t", start);
        program = commandLine.substr(start, blank == std::wstring::npos ? std::wstring::npos : blank - start);
    }
    const size_t slash = program.find_last_of(L"\\/");
    return slash == std::wstring::npos ? program : program.substr(slash + 1);
}

std::vector<wchar_t> CommandEnvironment(const CommandAddresses& addresses) {
    std::vector<std::wstring> entries;
    // An old address in a variable Quillon inherited must never pass for
    // this refresh's, so every QUILLON_* goes and only ours are set.
    if (FreeEnvironment inherited{GetEnvironmentStringsW()}) {
        for (const wchar_t* p = inherited.get(); *p; p += wcslen(p) + 1) {
            const std::wstring_view entry(p);
            if (!IsOurs(EntryName(entry))) entries.emplace_back(entry);
        }
    }
    entries.push_back(L"QUILLON_IPV4=" + addresses.ipv4);
    entries.push_back(L"QUILLON_IPV6=" + addresses.ipv6);
    entries.push_back(L"QUILLON_PREVIOUS_IPV4=" + addresses.previousIpv4);
    entries.push_back(L"QUILLON_PREVIOUS_IPV6=" + addresses.previousIpv6);
    std::stable_sort(entries.begin(), entries.end(), SortsBefore);

    std::vector<wchar_t> block;
    for (const std::wstring& entry : entries) {
        block.insert(block.end(), entry.begin(), entry.end());
        block.push_back(L'\0');
    }
    block.push_back(L'\0');
    return block;
}

CommandResult RunChangeCommand(const std::wstring& commandLine, const std::wstring& folder,
                               const CommandAddresses& addresses, DWORD limitMs, HANDLE cancel) {
    std::vector<wchar_t> environment = CommandEnvironment(addresses);
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');

    // Ends whatever the command starts, should it hang or Quillon go away.
    KernelHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job && !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits))
        job.reset();

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, environment.data(),
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        return Failed(L"could not be started: " + SystemMessage(GetLastError()));
    KernelHandle process(started.hProcess), thread(started.hThread);

    // Older Windows does not nest jobs, and a scheduled task already runs
    // in one: then only the direct child can be ended.
    if (job && !AssignProcessToJobObject(job.get(), process.get())) job.reset();

    const auto end = [&] {
        if (!job || !TerminateJobObject(job.get(), 1)) TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    };

    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        end();
        return Failed(L"could not be started: " + SystemMessage(error));
    }
    thread.reset();

    const HANDLE waits[] = {process.get(), cancel};
    const DWORD waited = WaitForMultipleObjects(cancel ? 2 : 1, waits, FALSE, limitMs);
    if (waited != WAIT_OBJECT_0) {
        const DWORD error = GetLastError();
        end();
        if (waited == WAIT_TIMEOUT) return Failed(L"still running after " + Seconds(limitMs) + L" s");
        if (waited == WAIT_OBJECT_0 + 1) return Failed(L"still running when cancelled");
        return Failed(L"could not be waited for: " + SystemMessage(error));
    }

    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return Failed(L"exit code unknown: " + SystemMessage(GetLastError()));
    if (code != 0) return Failed(L"exit code " + std::to_wstring(code));

    // What it meant to leave running (a "start" of its own) outlives the
    // job's handle, and Quillon.
    if (job) {
        limits.BasicLimitInformation.LimitFlags = 0;
        SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return {true, {}};
}

}  // namespace quillon::net
