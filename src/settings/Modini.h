#pragma once
// One key of an initialisation file at a time.
#include <windows.h>

#include <string>
#include <vector>

namespace quillon::settings {

// The whole stored value, however long; "" for a missing file, section or
// key. Blanks around the value and one pair of quotation marks are removed.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& path);

// Whether the file can be read now: true when it can, or when it is missing.
// Waits about a second for a program that holds it.
bool CanReadIni(const std::wstring& path);

// What became of a write.
enum class Saved {
    Yes,    // written
    Later,  // the file is busy now (another program holds it, another run writes it): try again
    No,     // it cannot be written (read-only, a folder in its place, no such folder)
};

// Creates the file, section or key as needed. Writes of every Quillon
// process to one file take turns; waitMs is how long to wait for another's.
Saved WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path, DWORD waitMs = 0);

// Writes that may have to wait for the file, without keeping the caller
// waiting: what cannot be written now is kept, in order, and tried again.
// A later value of a key replaces a kept one.
class PendingWrites {
public:
    void Write(const std::wstring& path, const std::wstring& section, const std::wstring& key,
               const std::wstring& value);
    // Tries what is kept, in order, until one must wait again. True when
    // nothing is left.
    bool Retry();
    // Tries for up to waitMs, for a program about to end.
    bool Flush(DWORD waitMs);
    bool Empty() const { return kept_.empty(); }

private:
    struct Entry {
        std::wstring path, section, key, value;
    };
    std::vector<Entry> kept_;
};

// The program's folder followed by "\Quillon_settings.ini".
std::wstring SettingsPath();

// A check-box state as the file holds it: 0, 1 or 2, else -1.
int ParseCheckState(const std::wstring& text);

}  // namespace quillon::settings
