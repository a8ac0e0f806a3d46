#pragma once
#include <string>

namespace quillon::net {

// What the refresh cycle reads and writes of the main window. Each value is
// read at the moment the cycle needs it, so a change the user makes during
// a yield is seen.
class WindowState {
public:
    virtual ~WindowState() = default;
    virtual std::wstring AddressText() = 0;                  // Text1
    virtual void SetAddressText(const std::wstring& text) = 0;
    virtual std::wstring LogPath() = 0;                      // Text2
    virtual int OverwriteState() = 0;                        // Check1: 0, 1 or 2
    virtual int DateState() = 0;                             // Check2: 0, 1 or 2
    virtual bool Silent() = 0;                               // bSilent
    // Log only an address that differs from the log's last one.
    virtual bool ChangesOnly() { return false; }
    // What went wrong in a cycle, for the user to see: no address (the
    // pages asked and why each failed), or the log not written (its path
    // and the system's reason). None after a cycle that logged, or the
    // address changed (the one logged before, and the new one), which only
    // a window hears of.
    // With both families asked, one of them alone may have given none.
    enum class Problem { None, NoAddress, NoIpv4Address, NoIpv6Address, LogNotWritten, AddressChanged };
    virtual void ShowProblem(Problem, const std::wstring& /*text*/) {}
    // One family's address has been shown for a while and the other's is
    // still asked for.
    virtual void StillAsking() {}
    // Ends a silent run with its exit code: 0 where it did its work (the
    // address fetched and logged, or found unchanged where only changes are
    // logged), 3 where it did so for one address family of two, 1 otherwise.
    virtual void Unload(int exitCode) = 0;
};

}  // namespace quillon::net
