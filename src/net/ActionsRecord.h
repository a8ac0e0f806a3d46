#pragma once
// What the actions on a change last succeeded for: "Quillon_actions.txt"
// beside the settings. Apart from the log, so that "changes", "overwrite"
// or a user's edit of the log never makes them run again or not at all.
// Every run of the copy shares it under a lock of its own, held only to
// read or write it.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::net {

struct ActionsRecord {
    std::wstring address[2];  // per family; "" where no action has succeeded
    // An update page that refused its account ("badauth" and its kind),
    // asked again only after until (seconds since 1970) or once the
    // "update" setting changes, which changes its key.
    struct Hold {
        std::uint64_t key = 0;
        std::uint64_t until = 0;
    };
    std::vector<Hold> holds;

    // The hold of a page's key in force at now; 0 none.
    std::uint64_t HeldUntil(std::uint64_t key, std::uint64_t now) const;
};

// "Quillon_actions.txt" in the program's folder.
std::wstring ActionsRecordPath();

// A missing file is an empty record. False where the file is there but
// could not be read, or its lock not taken in time.
bool ReadActionsRecord(const std::wstring& path, ActionsRecord& record);

// Reads the record, lets change alter it, and writes it whole, under the
// record's lock; expired holds are dropped. False where it could not.
template <class Change>
bool UpdateActionsRecord(const std::wstring& path, Change change);

// The time as the holds count it.
std::uint64_t SecondsNow();
// A page's key: the whole "update" setting and the page, hashed, so that
// the record holds no token.
std::uint64_t HoldKey(const std::wstring& updateSetting, const std::wstring& url);

namespace detail {
bool RewriteActionsRecord(const std::wstring& path, void (*change)(ActionsRecord&, void*), void* context);
}

template <class Change>
bool UpdateActionsRecord(const std::wstring& path, Change change) {
    return detail::RewriteActionsRecord(
        path, [](ActionsRecord& r, void* c) { (*static_cast<Change*>(c))(r); }, &change);
}

}  // namespace quillon::net
