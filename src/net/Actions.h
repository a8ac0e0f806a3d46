#pragma once
// The actions on a change: each "update" page asked and the "onchange"
// command started, side by side, once the refresh's line is logged, where
// an address differs from the one they last succeeded for.
#include <windows.h>

#include <optional>
#include <string>

#include "net/ActionsRecord.h"
#include "net/Outcome.h"

namespace quillon::net {

// How long each may take.
constexpr DWORD kUpdateLimitMs = 10000;
constexpr DWORD kCommandLimitMs = 30000;

// Whether the actions are due for the addresses found: one differs, to the
// byte, from the address they last succeeded for, or none has succeeded
// yet. before: the record as read, for the run.
bool ActionsDue(const ActionSettings& settings, const std::wstring (&found)[2], ActionsRecord& before);

// Runs every action at once and waits until each has ended, deadline (a
// GetTickCount value) has come or cancel is set; what is still running then
// is closed or ended and has failed. Once all succeeded, the addresses found
// are recorded as theirs.
void RunActions(const ActionSettings& settings, const std::wstring (&found)[2], const ActionsRecord& before,
                std::optional<DWORD> deadline, HANDLE cancel, ActionsOutcome& out);

}  // namespace quillon::net
