#include "net/Outcome.h"

#include <optional>

namespace quillon::net {
namespace {

// Why a family gave no address, a line for each server; "" when it gave one.
std::wstring FailureText(const Outcome& o, Family family) {
    if (!o.families[family].asked || o.families[family].Found()) return L"";
    std::wstring text;
    bool reached = false;
    for (const Failure& f : o.failures)
        if (f.family == family) {
            text += (text.empty() ? L"" : L"\n") + f.url + L": " + f.why;
            reached = reached || f.reached;
        }
    // Three reasons that all say one thing are said as that one thing.
    if (family == kIpv6 && !reached) return L"IPv6: this network has no IPv6 connection";
    return o.ask.ipv6 ? (family == kIpv6 ? L"IPv6:\n" : L"IPv4:\n") + text : text;
}

// The address before each change, and the new one; "" where none changed.
std::wstring ChangeText(const Outcome& o) {
    std::wstring text;
    for (const Family family : {kIpv4, kIpv6}) {
        const FamilyOutcome& f = o.families[family];
        if (!f.changed) continue;
        const std::wstring previous = log::AddressOfLine(f.before);
        const std::wstring when = f.before.size() > previous.size() + 3 ? f.before.substr(previous.size() + 3) : L"";
        const std::wstring name = !o.ask.ipv6 ? L"" : family == kIpv6 ? L"IPv6 " : L"IPv4 ";
        text += (text.empty() ? L"" : L"\n") + name + (name.empty() ? L"Before: " : L"before: ") + previous +
                (when.empty() ? L"" : L", logged " + when) + L"\nNow: " + f.address;
    }
    return text;
}

// The actions' failures, a line each; "" where they succeeded.
std::wstring ActionsText(const ActionsOutcome& a) {
    if (a.Succeeded()) return L"";
    std::wstring text;
    for (const ActionFailure& f : a.failed) text += (text.empty() ? L"" : L"\n") + f.name + L": " + f.why;
    if (!a.finished) text += (text.empty() ? L"" : L"\n") + std::wstring(L"The run ended before its actions did.");
    return text;
}

}  // namespace

Notice NoticeOf(const Outcome& o) {
    std::wstring failed;
    Problem missing = Problem::NoAddress;
    for (const Family family : {kIpv4, kIpv6}) {
        const std::wstring why = FailureText(o, family);
        if (why.empty()) continue;
        failed += (failed.empty() ? L"" : L"\n") + why;
        missing = family == kIpv6 ? Problem::NoIpv6Address : Problem::NoIpv4Address;
    }
    if (!o.Found()) return {Problem::NoAddress, failed};
    if (!o.logDone)
        return {Problem::LogNotWritten, (o.ask.logPath.empty() ? L"(no path)" : o.ask.logPath) + L"\n" +
                                            log::DescribeLogError(o.logError)};
    // A silent run tells of no change; a change and a family's failure are
    // said in the one balloon.
    std::wstring changed = o.ask.silent ? L"" : ChangeText(o);
    const std::wstring actions = ActionsText(o.actions);
    if (!actions.empty())
        return {Problem::ActionFailed, (changed.empty() ? L"" : changed + L"\n\n") + actions +
                                           (failed.empty() ? L"" : L"\n\n" + failed)};
    if (!changed.empty() && !o.actions.done.empty()) {
        changed += L"\nUpdated: ";
        for (size_t i = 0; i < o.actions.done.size(); ++i) changed += (i ? L", " : L"") + o.actions.done[i];
    }
    if (!changed.empty()) return {Problem::AddressChanged, changed + (failed.empty() ? L"" : L"\n\n" + failed)};
    if (!failed.empty()) return {missing, failed};
    return {};
}

const wchar_t* ProblemTitle(Problem problem) {
    switch (problem) {
        case Problem::NoAddress:
            return L"No address";
        case Problem::NoIpv4Address:
            return L"No IPv4 address";
        case Problem::NoIpv6Address:
            return L"No IPv6 address";
        case Problem::LogNotWritten:
            return L"The log was not written";
        case Problem::AddressChanged:
            return L"The address changed";
        case Problem::ActionFailed:
            return L"An action on the change failed";
        case Problem::None:
            break;
    }
    return L"";
}

std::wstring AddressLine(const std::wstring (&shown)[2], bool ipv6) {
    if (!ipv6) return shown[kIpv4];
    if (shown[kIpv4].empty() || shown[kIpv6].empty()) return shown[kIpv4] + shown[kIpv6];
    return shown[kIpv4] + L"  " + shown[kIpv6];
}

namespace {

// An end that no refresh decides: its code and its words.
struct FixedEnd {
    int code;
    const wchar_t* words;
};
std::optional<FixedEnd> Fixed(RunEnd how) {
    switch (how) {
        case RunEnd::SettingsRejected:
            return FixedEnd{2, L"A url or update page in the settings is not accepted."};
        case RunEnd::SettingsUnread:
            return FixedEnd{1, L"The settings could not be read."};
        case RunEnd::NoWindow:
            return FixedEnd{1, L"No window could be made."};
        case RunEnd::WindowClosed:
            return FixedEnd{0, L""};
        case RunEnd::Refreshed:
        case RunEnd::Closed:
            break;
    }
    return std::nullopt;
}

}  // namespace

int ExitCode(RunEnd how, const Outcome* last, bool settingsSaved) {
    if (const auto fixed = Fixed(how)) return fixed->code;
    if (!last || !last->logDone || !settingsSaved) return 1;
    if (!last->actions.Succeeded()) return 4;
    return last->Found() == last->Asked() ? 0 : 3;
}

std::wstring EndWords(RunEnd how, const Outcome* last, bool settingsSaved) {
    if (const auto fixed = Fixed(how)) return fixed->words;
    if (!last || !last->logDone) {
        if (how == RunEnd::Closed) return L"The run was closed before it logged an address.";
        if (!last) return L"No address was logged.";
    }
    if (last->logDone && !settingsSaved) return L"The address was logged, but the settings could not be saved.";
    const Notice notice = NoticeOf(*last);
    return notice.problem == Problem::None ? L"" : std::wstring(ProblemTitle(notice.problem)) + L"\n" + notice.text;
}

}  // namespace quillon::net
