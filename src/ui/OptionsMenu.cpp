#include "ui/OptionsMenu.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <iterator>

#include "common/ModulePath.h"
#include "common/SystemLibrary.h"

namespace quillon::ui {
namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Quillon";
const wchar_t* const kEveryTexts[] = {L"&Off", L"&5 minutes", L"&15 minutes", L"&30 minutes", L"1 &hour", L"&6 hours"};
static_assert(std::size(kEveryTexts) == std::size(kEveryChoices));

// Our items begin after the separator that follows the system's own.
int FirstOwnItem(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(menu, i);
        if (id == kMenuChanges) return i - 2;  // the separator and "Refresh every"
    }
    return -1;
}

std::wstring MinutesText(int minutes) {
    return std::to_wstring(minutes) + (minutes == 1 ? L" minute" : L" minutes");
}

// The open command of the text-file association, started as a process:
// where the shell cannot open the file itself.
bool OpenWithCommand(const std::wstring& path, DWORD& error) {
    using AssocFn = decltype(&AssocQueryStringW);
    static const auto assoc = ProcAddress<AssocFn>(LoadSystemLibrary(L"shlwapi.dll"), "AssocQueryStringW");
    wchar_t command[2048] = L"";
    DWORD size = static_cast<DWORD>(std::size(command));
    if (!assoc || FAILED(assoc(ASSOCF_NOTRUNCATE, ASSOCSTR_COMMAND, L".txt", L"open", command, &size)) || !*command) {
        error = ERROR_NO_ASSOCIATION;
        return false;
    }
    // The command with the log in place of %1 or %L (or after it, where it
    // has none), in one pass: the log's name never chooses the program, and
    // a "%1" in that name is no mark.
    wchar_t expanded[4096] = L"";
    const std::wstring given = ExpandEnvironmentStringsW(command, expanded, static_cast<DWORD>(std::size(expanded)))
                                   ? expanded
                                   : command;
    const std::wstring quoted = L"\"" + path + L"\"";
    std::wstring line;
    bool placed = false;
    for (size_t i = 0; i < given.size(); ++i) {
        if (given[i] != L'%' || i + 1 == given.size() || (given[i + 1] != L'1' && given[i + 1] != L'L')) {
            line += given[i];
            continue;
        }
        const bool inQuotes = !line.empty() && line.back() == L'"' && i + 2 < given.size() && given[i + 2] == L'"';
        if (inQuotes) line.pop_back();
        line += quoted;
        i += inQuotes ? 2 : 1;
        placed = true;
    }
    if (!placed) line += L" " + quoted;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        error = GetLastError();
        return false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    error = ERROR_SUCCESS;
    return true;
}

// A packaged text program (Windows 11's Notepad) has no command that
// AssocQueryString could give, so the shell opens the log itself, told to
// take it as a .txt file whatever its name. It needs COM, on a thread of
// its own so that the window's never waits for an activation.
struct Opening {
    std::wstring path;
    bool opened = false;
    DWORD error = ERROR_SUCCESS;
    HANDLE done = nullptr;
    LONG refs = 2;  // the caller's and the thread's
    void Release() {
        if (InterlockedDecrement(&refs) == 0) {
            CloseHandle(done);
            delete this;
        }
    }
};

DWORD WINAPI OpenOnThread(void* param) {
    auto* o = static_cast<Opening*>(param);
    using CoInitializeExFn = decltype(&CoInitializeEx);
    using CoUninitializeFn = decltype(&CoUninitialize);
    using ShellExecuteExFn = decltype(&ShellExecuteExW);
    static const HMODULE ole32 = LoadSystemLibrary(L"ole32.dll");
    static const auto coInitialize = ProcAddress<CoInitializeExFn>(ole32, "CoInitializeEx");
    static const auto coUninitialize = ProcAddress<CoUninitializeFn>(ole32, "CoUninitialize");
    static const auto shellExecuteEx =
        ProcAddress<ShellExecuteExFn>(LoadSystemLibrary(L"shell32.dll"), "ShellExecuteExW");
    const bool com = coInitialize && coUninitialize &&
                     SUCCEEDED(coInitialize(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE));
    DWORD shellError = ERROR_NO_ASSOCIATION;
    if (shellExecuteEx) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        // NOASYNC: this thread ends as soon as the call returns.
        info.fMask = SEE_MASK_CLASSNAME | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        // No verb: the class's default, as a double click takes.
        info.lpFile = o->path.c_str();
        info.lpClass = L".txt";
        info.nShow = SW_SHOWNORMAL;
        o->opened = shellExecuteEx(&info);
        if (!o->opened) shellError = GetLastError();
    }
    if (com) coUninitialize();
    if (!o->opened) {
        o->opened = OpenWithCommand(o->path, o->error);
        // Where there is no command either, the shell's reason is the better one.
        if (!o->opened && o->error == ERROR_NO_ASSOCIATION && shellError != ERROR_SUCCESS) o->error = shellError;
    } else {
        o->error = ERROR_SUCCESS;
    }
    SetEvent(o->done);
    o->Release();
    return 0;
}

// How long the window waits to learn whether the log could be opened; a
// shell slower than that is taken as opening it.
constexpr DWORD kOpenWaitMs = 3000;

}  // namespace

void AddOptions(HMENU menu, const OptionsState& state) {
    if (!menu) return;
    for (int first = FirstOwnItem(menu); first >= 0 && GetMenuItemCount(menu) > first;)
        DeleteMenu(menu, static_cast<UINT>(first), MF_BYPOSITION);  // a submenu is destroyed with it
    HMENU every = CreatePopupMenu();
    int checked = -1;
    for (size_t i = 0; i < std::size(kEveryChoices); ++i) {
        if (state.every == kEveryChoices[i]) checked = static_cast<int>(i);
        AppendMenuW(every, MF_STRING, kMenuEvery + 16 * i, kEveryTexts[i]);
    }
    if (checked < 0) {
        AppendMenuW(every, MF_STRING, kMenuEveryOther, MinutesText(state.every).c_str());
        checked = GetMenuItemCount(every) - 1;
    }
    // A radio mark: one period is in force.
    CheckMenuRadioItem(every, 0, static_cast<UINT>(GetMenuItemCount(every) - 1), static_cast<UINT>(checked),
                       MF_BYPOSITION);
    const auto check = [](bool on) { return MF_STRING | (on ? MF_CHECKED : MF_UNCHECKED); };
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(every), L"Refresh &every");
    AppendMenuW(menu, check(state.changes), kMenuChanges, L"Log only c&hanges");
    AppendMenuW(menu, check(state.ipv6), kMenuIpv6, L"Ask for IPv&6 too");
    AppendMenuW(menu, check(state.tray), kMenuTray, L"&Keep in the notification area");
    AppendMenuW(menu, check(state.startWithWindows), kMenuStartWithWindows, L"S&tart with Windows");
    AppendMenuW(menu, MF_STRING, kMenuShowLog, L"Show the &log");
}

int EveryOfCommand(UINT id) {
    for (size_t i = 0; i < std::size(kEveryChoices); ++i)
        if (id == kMenuEvery + 16 * i) return kEveryChoices[i];
    return -1;
}

std::wstring RunEntryData() { return L"\"" + ModulePath() + L"\" -min"; }

bool StartsWithWindows() {
    wchar_t data[2048] = L"";
    DWORD size = sizeof data - sizeof(wchar_t), type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const LSTATUS read = RegQueryValueExW(key, kRunValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    // Another copy's value (the folder was moved) is not this one's.
    return read == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) &&
           _wcsicmp(data, RunEntryData().c_str()) == 0;
}

bool SetStartWithWindows(bool on, DWORD& error) {
    HKEY key = nullptr;
    error = static_cast<DWORD>(RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                               &key, nullptr));
    if (error != ERROR_SUCCESS) return false;
    if (on) {
        const std::wstring data = RunEntryData();
        error = static_cast<DWORD>(RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                                  static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
    } else {
        error = static_cast<DWORD>(RegDeleteValueW(key, kRunValue));
        if (error == ERROR_FILE_NOT_FOUND) error = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

bool OpenAsText(const std::wstring& path, DWORD& error) {
    auto* o = new Opening{path};
    o->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = o->done ? CreateThread(nullptr, 0, OpenOnThread, o, 0, nullptr) : nullptr;
    if (!thread) {
        error = GetLastError();
        if (o->done) CloseHandle(o->done);
        delete o;
        return false;
    }
    CloseHandle(thread);
    const bool finished = WaitForSingleObject(o->done, kOpenWaitMs) == WAIT_OBJECT_0;
    const bool opened = !finished || o->opened;
    error = finished ? o->error : ERROR_SUCCESS;
    o->Release();
    return opened;
}

}  // namespace quillon::ui
