#pragma once
// The real Quillon.exe, copied into a folder of its own, started and driven
// from outside the way a user's clicks and keys reach it.
#include <windows.h>

#include <string>

#include "resource.h"  // the window's control ids

namespace quillon::test {

class QuillonProcess {
public:
    // Copies the program into folder (which must exist).
    explicit QuillonProcess(const std::wstring& folder);
    ~QuillonProcess();
    QuillonProcess(const QuillonProcess&) = delete;
    QuillonProcess& operator=(const QuillonProcess&) = delete;

    // Started in its own folder unless another working folder is given.
    bool Start(const std::wstring& arguments = L"", const std::wstring& workingFolder = L"");
    // The main window once it is visible; null if it does not come.
    HWND WaitForWindow(DWORD timeoutMs = 30000);
    // True when the process has a visible window now.
    bool HasVisibleWindow() const;
    // Exit code, or -1 if it is still running after the wait.
    long WaitForExit(DWORD timeoutMs);
    // Watches for a visible window until the process ends.
    bool EverVisibleUntilExit(DWORD timeoutMs, long& exitCode);

    std::wstring Text(int id) const;
    // The text of a balloon the process shows within waitMs; "" for none.
    std::wstring Balloon(DWORD waitMs = 3000) const;
    int Check(int id) const;
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    HWND Focus() const;
    HWND Window() const { return window_; }
    DWORD Pid() const { return pi_.dwProcessId; }
    const std::wstring& Folder() const { return folder_; }
    std::wstring SettingsFile() const { return folder_ + L"\\Quillon_settings.ini"; }

private:
    std::wstring folder_;
    std::wstring exe_;
    PROCESS_INFORMATION pi_{};
    HWND window_ = nullptr;
};

// The system proxy of the prefix, as the programs under test read it.
class ProxySetting {
public:
    ProxySetting();   // remembers the current one
    ~ProxySetting();  // and puts it back
    void Set(const std::wstring& server);

private:
    std::wstring saved_;
};

}  // namespace quillon::test
