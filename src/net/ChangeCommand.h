#pragma once
// The user's own command, started when the address changed ("onchange" in
// [Main]): the command line as the user wrote it, no shell of ours between,
// the addresses in its environment only.
#include <windows.h>

#include <string>
#include <vector>

namespace quillon::net {

// What the command is told, each "" where there is none.
struct CommandAddresses {
    std::wstring ipv4, ipv6;                  // this refresh's
    std::wstring previousIpv4, previousIpv6;  // those the actions last succeeded for
};

struct CommandResult {
    bool ok = false;
    std::wstring why;  // on failure, in a few words: "exit code 3", "still running after 30 s"
};

// The command's program by its file name ("notify.cmd" of
// "\"C:\\My Tools\\notify.cmd\" x"), for messages: never its arguments.
std::wstring CommandName(const std::wstring& commandLine);

// Quillon's own environment without any QUILLON_* it inherited, with the
// four addresses added, as a sorted block for CREATE_UNICODE_ENVIRONMENT.
std::vector<wchar_t> CommandEnvironment(const CommandAddresses& addresses);

// Starts the command in folder, with no window of its own, in a job that
// ends every process it starts; waits until it exits, limitMs pass or
// cancel (an event, may be null) is set. It succeeded when it exited with
// 0; then whatever it left running is let go, to outlive Quillon. Where no
// job can hold it, the direct child alone is ended.
CommandResult RunChangeCommand(const std::wstring& commandLine, const std::wstring& folder,
                               const CommandAddresses& addresses, DWORD limitMs, HANDLE cancel);

}  // namespace quillon::net
