// The log write of one refresh, and the outcome's part that comes of it.
#include <memory>

#include "common/DoEvents.h"
#include "log/LogLine.h"
#include "log/LogWriter.h"
#include "net/AddressText.h"
#include "net/RefreshCycle.h"

namespace quillon::net {
namespace {

DWORD WINAPI RunWork(void* param) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(param));
    (*work)();
    return 0;
}

}  // namespace

// Where no thread can be made it runs here: a window that waits is better
// than a line lost.
void RunBesideWindow(std::function<void()> work) {
    auto* handed = new std::function<void()>(std::move(work));
    HANDLE thread = CreateThread(nullptr, 0, RunWork, handed, 0, nullptr);
    if (!thread) {
        const std::unique_ptr<std::function<void()>> here(handed);
        (*here)();
        return;
    }
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) DoEvents();
    CloseHandle(thread);
}

void LogOutcome(Outcome& o, const std::function<void(const Outcome&)>& once) {
    const SYSTEMTIME now = log::Clock()();
    std::vector<log::LogEntry> entries;
    std::vector<Family> whose;
    for (const Family family : {kIpv4, kIpv6}) {
        const FamilyOutcome& f = o.families[family];
        if (!f.asked) continue;
        log::LogEntry e;
        e.found = f.Found();
        e.address = f.address;
        e.line = o.ask.date ? log::ComposeLogLine(f.address, true, now) : f.address;
        // With one family alone, the last line is the one compared, whatever it holds.
        if (o.ask.ipv6) e.ofFamily = family == kIpv6 ? IsIpv6Address : IsIpv4Address;
        entries.push_back(e);
        whose.push_back(family);
    }
    const log::SameFn same = o.ask.changesOnly ? SameAddress : nullptr;
    const auto write = [&] {
        o.logDone = log::LogAddresses(o.ask.logPath, entries, o.ask.overwrite, same, o.logError, [&] {
            for (size_t i = 0; i < entries.size(); ++i) {
                FamilyOutcome& f = o.families[whose[i]];
                f.before = entries[i].before;
                f.logged = entries[i].logged;
                const std::wstring previous = log::AddressOfLine(f.before);
                f.changed = f.Found() && IsIpAddress(previous) && !SameAddress(previous, f.address);
            }
            o.logDone = true;
            if (once) once(o);
        });
    };
    // A window answers while the write waits for another run's lock or a
    // program that holds the log; a silent run has nothing else to do.
    if (o.ask.silent)
        write();
    else
        RunBesideWindow(write);
}

}  // namespace quillon::net
