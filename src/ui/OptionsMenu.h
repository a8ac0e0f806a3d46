#pragma once
// The options below the window's system menu: what the settings file holds
// beyond the two boxes, set from the window.
#include <windows.h>

#include <string>

namespace quillon::ui {

// WM_SYSCOMMAND ids, shared with tests; the system uses the low four bits.
enum : UINT {
    kMenuEvery = 0x7000,         // + 16 * the choice's place in kEveryChoices
    kMenuEveryOther = 0x7100,    // a value from the file that is not a choice
    kMenuChanges = 0x7110,
    kMenuIpv6 = 0x7120,
    kMenuStartWithWindows = 0x7130,
    kMenuShowLog = 0x7140,
    kMenuTray = 0x7150,
};

// The refresh periods offered, in minutes (0: only when clicked).
constexpr int kEveryChoices[] = {0, 5, 15, 30, 60, 360};

// What the items show: the state in force.
struct OptionsState {
    int every = 0;  // minutes
    bool changes = false;
    bool ipv6 = false;
    bool tray = false;
    bool startWithWindows = false;
};

// Appends a separator and the options to menu, or puts them there anew
// where an earlier call appended them.
void AddOptions(HMENU menu, const OptionsState& state);

// The period a command id chooses; -1 for an id that is no period's.
int EveryOfCommand(UINT id);

// The per-user Run entry that starts this copy with Windows, minimised.
std::wstring RunEntryData();  // "<this program's full path>" -min
bool StartsWithWindows();     // the value is this copy's own
// Writes or removes the value; false, error set, where it could not.
bool SetStartWithWindows(bool on, DWORD& error);

// Opens path with the program Windows has for text files, whatever the
// file's own name: a log named ip.cmd is opened, never run. False, error
// set, where no program could be started.
bool OpenAsText(const std::wstring& path, DWORD& error);

}  // namespace quillon::ui
