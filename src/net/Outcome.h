#pragma once
// What one refresh asked, what it found, what the log write did, and what
// follows from that: the window's text, its balloon and the run's exit
// code. Made once when the fetch and the write are done; every reader
// takes it from here and works nothing out again.
#include <windows.h>

#include <string>
#include <vector>

#include "log/LogWriter.h"
#include "net/UpdateUrl.h"

namespace quillon::net {

enum Family : int { kIpv4, kIpv6 };  // kIpv4 is also the one address without ipv6

// What is done when the address changed: the "update" pages and the
// "onchange" command.
struct ActionSettings {
    std::wstring update;  // the setting as written
    std::vector<UpdateUrl> updates;
    std::wstring onchange;    // as written, quotes and all
    std::wstring recordPath;  // where what they last succeeded for is kept
    bool Any() const { return !updates.empty() || !onchange.empty(); }
};

// What a refresh asks, read once as it starts and kept to its end,
// whatever the menu or the boxes do meanwhile.
struct RefreshAsk {
    bool ipv6 = false;         // both families; else IPv4 alone
    bool changesOnly = false;  // log an address only when it differs
    bool date = false;
    bool overwrite = false;
    std::wstring logPath;  // full: a relative one already taken from the program's folder
    bool silent = false;   // a run that fetches once and ends
    ActionSettings actions;
};

// Why one server asked gave no address.
struct Failure {
    std::wstring url, why;
    Family family = kIpv4;
    bool reached = true;  // false: no connection reached the server
};

// One family's part of a refresh.
struct FamilyOutcome {
    bool asked = false;
    std::wstring address;  // "" where none was found
    // The family's last log line before this refresh ("" none) and what the
    // write did with this address.
    std::wstring before;
    log::Logged logged = log::Logged::Failed;
    bool changed = false;  // found, and not the address of the line before
    bool Found() const { return !address.empty(); }
};

// What the actions did, each named by its host or its program's file name.
struct ActionFailure {
    std::wstring name, why;
};
struct ActionsOutcome {
    bool due = false;       // to run once the line is logged: an address changed, or none succeeded yet
    bool finished = false;  // each came to its end
    std::vector<std::wstring> done;  // those that succeeded
    std::vector<ActionFailure> failed;
    bool Succeeded() const { return !due || (finished && failed.empty()); }
};

struct Outcome {
    RefreshAsk ask;
    FamilyOutcome families[2];
    std::vector<Failure> failures;  // both families', in the order they came
    bool logDone = false;  // the line written, or the log already saying it
    DWORD logError = ERROR_SUCCESS;
    ActionsOutcome actions;

    size_t Asked() const { return families[kIpv4].asked + families[kIpv6].asked; }
    size_t Found() const { return families[kIpv4].Found() + families[kIpv6].Found(); }
};

// What the window says after a refresh, on one box or none.
enum class Problem { None, NoAddress, NoIpv4Address, NoIpv6Address, LogNotWritten, AddressChanged, ActionFailed };
struct Notice {
    Problem problem = Problem::None;
    std::wstring text;
};
Notice NoticeOf(const Outcome& outcome);
// The balloon's title for a problem.
const wchar_t* ProblemTitle(Problem problem);

// Text1: the one address, or each family's, IPv4 first, two spaces apart.
std::wstring AddressLine(const std::wstring (&shown)[2], bool ipv6);

// How a run ends.
enum class RunEnd {
    Refreshed,         // a silent run's refresh is done
    Closed,            // a silent run closed (WM_CLOSE, the session's end)
    WindowClosed,      // a window closed by its user, or a copy already running
    NoWindow,          // a normal start that could make no window
    SettingsUnread,    // the settings file could not be read
    SettingsRejected,  // a url or an update page that is not accepted
};
// The run's exit code: 0 done, 1 not done, 2 wrong settings, 3 one family
// of two, 4 logged but an action failed (or has not succeeded yet). last: the refresh that has logged, if any; settingsSaved: every
// settings change reached the file.
int ExitCode(RunEnd how, const Outcome* last, bool settingsSaved);
// The same end in words, for the file a scheduled run leaves behind.
std::wstring EndWords(RunEnd how, const Outcome* last, bool settingsSaved);

}  // namespace quillon::net
