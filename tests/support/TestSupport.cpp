#include "support/TestSupport.h"

#include <shellapi.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quillon::test {
namespace {

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = fd.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring full = dir + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find, &fd));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

}  // namespace

TempDir::TempDir() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    static int counter = 0;
    for (;;) {
        path_ = std::wstring(base) + L"quillon-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++counter);
        if (CreateDirectoryW(path_.c_str(), nullptr)) return;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make a temp folder");
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

std::string ReadBytes(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(f, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
    CloseHandle(f);
    return out;
}

bool WaitForLine(const std::wstring& path, DWORD ms) {
    for (const DWORD start = GetTickCount(); ReadBytes(path).find('\n') == std::string::npos; Sleep(50))
        if (GetTickCount() - start >= ms) return false;
    return true;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write a test file");
    DWORD n = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(f);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring WinePath(const std::string& unixPath) {
    std::wstring out = L"Z:";
    for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string Env(const char* name) {
    char buf[4096];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string();
}

namespace {

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM lp) {
    auto& s = *reinterpret_cast<std::pair<const std::function<bool(HWND)>*, HWND>*>(lp);
    if (!(*s.first)(hwnd)) return TRUE;
    s.second = hwnd;
    return FALSE;
}

BOOL CALLBACK CountWindow(HWND hwnd, LPARAM counter) {
    ++*reinterpret_cast<unsigned*>(counter);
    EnumChildWindows(hwnd, CountWindow, counter);
    return TRUE;
}

}  // namespace

HWND FindTopWindow(const std::function<bool(HWND)>& match) {
    std::pair<const std::function<bool(HWND)>*, HWND> s{&match, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
    return s.second;
}

HWND FindProcessWindow(DWORD pid, const wchar_t* windowClass, bool visibleOnly) {
    return FindTopWindow([=](HWND hwnd) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        wchar_t cls[64] = L"";
        GetClassNameW(hwnd, cls, 64);
        return owner == pid && (!visibleOnly || IsWindowVisible(hwnd)) && (!windowClass || !lstrcmpW(cls, windowClass));
    });
}

bool NotifyIcon(DWORD message, HWND owner, UINT id, HICON icon) {
    NOTIFYICONDATAW data{};
    data.cbSize = NOTIFYICONDATAW_V3_SIZE, data.hWnd = owner, data.uID = id;
    data.uFlags = icon ? NIF_ICON : 0u, data.hIcon = icon;
    return Shell_NotifyIconW(message, &data) != FALSE;
}

std::vector<DWORD> RunAtOnce(const std::vector<std::wstring>& commandLines, DWORD timeoutMs) {
    std::vector<PROCESS_INFORMATION> started(commandLines.size());
    for (size_t i = 0; i < commandLines.size(); ++i) {
        std::wstring cmd = commandLines[i];
        STARTUPINFOW si{};
        si.cb = sizeof si;
        if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &started[i]))
            started[i] = {};
    }
    std::vector<DWORD> codes;
    for (PROCESS_INFORMATION& p : started) {
        DWORD code = 99;
        if (p.hProcess && WaitForSingleObject(p.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(p.hProcess, &code);
        if (p.hProcess) CloseHandle(p.hProcess);
        if (p.hThread) CloseHandle(p.hThread);
        codes.push_back(code);
    }
    return codes;
}

unsigned CountGdiObjects() {
    if (const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS)) return counted;
    // Wine does not count; its handle table answers a bare index for
    // whatever object lives there, so count the live indexes instead.
    unsigned n = 0;
    for (ULONG_PTR index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index))) ++n;
    return n;
}

unsigned CountUserObjects() {
    if (const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS)) return counted;
    unsigned n = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&n));
    return n;
}

int FixturePort(const std::string& fixture, const std::string& file) {
    const std::string dir = Env("QUILLON_FIXTURES");
    if (dir.empty()) return 0;
    const std::string text = ReadBytes(WinePath(dir + "/" + fixture + "/" + file));
    return std::atoi(text.c_str());
}

}  // namespace quillon::test
