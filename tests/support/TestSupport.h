#pragma once
// Helpers shared by the tests and the benchmark: temporary folders,
// whole-file reads, the fixtures that ctest starts on the Linux side, the
// windows of another process and the object counts of this one.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace quillon::test {

// A fresh folder under the temp folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// Waits up to MS for the file to hold a whole line (a program writing it
// through cmd's ">" makes the file before the line); false when it never did.
bool WaitForLine(const std::wstring& path, DWORD ms);

// A Linux path as the Windows programs under Wine see it.
std::wstring WinePath(const std::string& unixPath);

// A Linux-side environment variable, or "" when it is not set.
std::string Env(const char* name);

// The port a fixture wrote to QUILLON_FIXTURES/<fixture>/<file>; 0 if none.
int FixturePort(const std::string& fixture, const std::string& file);

// The address the test nginx echoes back to the tests.
inline constexpr const wchar_t* kLoopback = L"127.0.0.1";

// A top-level window of the process: of the given class (any when null),
// and visible if asked; null when there is none.
HWND FindProcessWindow(DWORD pid, const wchar_t* windowClass, bool visibleOnly);
// The first top-level window that match takes; null when none does.
HWND FindTopWindow(const std::function<bool(HWND)>& match);

// Shell_NotifyIcon on owner's icon id, with NIF_ICON when an icon is given:
// NIM_MODIFY with no flags succeeds only for an icon that is there.
bool NotifyIcon(DWORD message, HWND owner, UINT id, HICON icon = nullptr);

// Starts every command line at once and waits for all, up to timeoutMs;
// their exit codes (99 for one that did not start or end in time).
std::vector<DWORD> RunAtOnce(const std::vector<std::wstring>& commandLines, DWORD timeoutMs);

// Live GDI objects of this process, and USER objects (the windows of this
// thread where the system does not count them).
unsigned CountGdiObjects();
unsigned CountUserObjects();

}  // namespace quillon::test
