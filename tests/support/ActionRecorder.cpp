// Stands in for the user's own command: appends to the file its first
// argument names one record of how it was started, as UTF-8 text, one
// key=value a line, "end" last:
//   pid=, commandline=, arg1=... (every argument), folder=, then each
//   QUILLON_* variable it sees as env.NAME=value.
// Then it exits with the code its second argument gives, or with 0 after
// sleeping, for "sleep:MS".
//   action_recorder OUTFILE CODE|sleep:MS [ARGS...]
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::wstring record = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L"\n";
    record += L"commandline=" + std::wstring(GetCommandLineW()) + L"\n";
    for (int i = 1; i < argc; ++i) record += L"arg" + std::to_wstring(i) + L"=" + argv[i] + L"\n";
    wchar_t folder[MAX_PATH * 2] = L"";
    GetCurrentDirectoryW(MAX_PATH * 2, folder);
    record += L"folder=" + std::wstring(folder) + L"\n";
    if (wchar_t* env = GetEnvironmentStringsW()) {
        for (const wchar_t* p = env; *p; p += wcslen(p) + 1)
            if (_wcsnicmp(p, L"QUILLON_", 8) == 0) record += L"env." + std::wstring(p) + L"\n";
        FreeEnvironmentStringsW(env);
    }
    record += L"end\n";

    // One write, so records of runs at once do not interleave.
    const std::string bytes = Utf8(record);
    HANDLE out = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    const bool ok = WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                    written == bytes.size();
    CloseHandle(out);
    if (!ok) return 2;

    if (wcsncmp(argv[2], L"sleep:", 6) == 0) {
        Sleep(static_cast<DWORD>(_wtoi(argv[2] + 6)));
        return 0;
    }
    return _wtoi(argv[2]);
}
