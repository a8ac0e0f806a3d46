#include "net/WindowState.h"

#include "common/ModulePath.h"
#include "net/ActionsRecord.h"

namespace quillon::net {

RefreshAsk WindowState::Ask() {
    RefreshAsk ask;
    ask.ipv6 = AsksIpv6();
    ask.changesOnly = ChangesOnly();
    ask.date = DateState() != 0;
    ask.overwrite = OverwriteState() != 0;
    // As typed in the window and kept in the settings; a relative one lies
    // beside the program, whatever folder the run was started in.
    ask.logPath = FromProgramFolder(LogPath());
    ask.silent = Silent();
    ask.actions = ChangeActions();
    if (ask.actions.recordPath.empty()) ask.actions.recordPath = ActionsRecordPath();
    return ask;
}

void WindowState::ShowFound(const RefreshAsk& ask, Family family, const std::wstring& address) {
    shown_[family] = address;
    SetAddressText(AddressLine(shown_, ask.ipv6));
}

void WindowState::Refreshed(const Outcome& outcome) {
    const Notice notice = NoticeOf(outcome);
    ShowProblem(notice.problem, notice.text);
}

}  // namespace quillon::net
