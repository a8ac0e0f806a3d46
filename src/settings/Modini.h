#pragma once
// The settings file: read once and whole, written one key at a time by
// replacing the whole file.
#include <windows.h>

#include <string>
#include <vector>

namespace quillon::settings {

// The file's text as one read found it; every value comes from that read.
class IniFile {
public:
    // Reads the whole file. A missing file reads as empty and is no failure.
    // False, with Error(), when the file is there but cannot be read (held
    // by a writer, no right to read it, a folder in its place).
    bool Load(const std::wstring& path);
    DWORD Error() const { return error_; }

    // The whole stored value, however long; "" for a missing section or
    // key. Blanks around the value and, unless raw, one pair of quotation
    // marks are removed; names match in any case. A command line is read
    // raw: its quotes are its own.
    std::wstring Value(const std::wstring& section, const std::wstring& key, bool raw = false) const;
    // Sets the key, adding the section or key as needed; false where the
    // file already holds that value, so that nothing needs writing.
    bool Set(const std::wstring& section, const std::wstring& key, const std::wstring& value);
    // The file's bytes: as read where the text fits the ANSI code page and
    // the file was ANSI, which older versions read; UTF-16 otherwise.
    std::string Bytes() const;

private:
    struct Line {
        std::wstring text, end;  // end: the line's own break, "" for an unended last line
    };
    // Where the section's lines are: [first, last) after its header;
    // false when there is no such section.
    bool FindSection(const std::wstring& section, size_t& first, size_t& last) const;

    enum class Encoding { Ansi, Utf8, Utf16 };
    std::vector<Line> lines_;
    Encoding encoding_ = Encoding::Ansi;
    DWORD error_ = ERROR_SUCCESS;
};

// One value read on its own; "" where the file or key is missing or the
// file cannot be read.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& path);

// What became of a write.
enum class Saved {
    Yes,    // written, or the file held the value already
    Later,  // the file is busy now (another program holds it, another run writes it): try again
    No,     // it cannot be written (read-only, a full disk, a folder in its place, no such folder)
};

// Reads the file, sets the key and replaces the file whole, in one attempt:
// the file is never written in place, so whatever fails, it stays as it
// was. Writes of every Quillon process to one file take turns; waitMs is
// how long to wait for another's. error (when given) says why not Yes.
Saved WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                    const std::wstring& path, DWORD waitMs = 0, DWORD* error = nullptr);

// Writes that may have to wait for the file, without keeping the caller
// waiting: what cannot be written now is kept, in order, and tried again.
// A later value of a key replaces a kept one.
class PendingWrites {
public:
    // One attempt now. False where the value cannot be written (Saved::No),
    // with Error(); it is then dropped.
    bool Write(const std::wstring& path, const std::wstring& section, const std::wstring& key,
               const std::wstring& value);
    // One attempt at what is kept, in order, until one must wait again.
    // True when nothing is left; false with Error() where a write failed
    // for good (and was dropped) or must wait.
    bool Retry();
    // Tries for up to waitMs, for a program about to end.
    bool Flush(DWORD waitMs);
    bool Empty() const { return kept_.empty(); }
    // Why the last write that failed did; ERROR_SUCCESS after one that worked.
    DWORD Error() const { return error_; }
    // Whether that failure was for good (the write was dropped).
    bool Dropped() const { return dropped_; }

private:
    struct Entry {
        std::wstring path, section, key, value;
    };
    std::vector<Entry> kept_;
    DWORD error_ = ERROR_SUCCESS;
    bool dropped_ = false;
};

// The program's folder followed by "\Quillon_settings.ini".
std::wstring SettingsPath();

// Leaves why a silent run ended other than 0 where its user can read it
// (Task Scheduler shows only the code): "Quillon_last_error.txt" beside the
// settings file, written whole, holding the time, the code and why.
void WriteLastError(int exitCode, const std::wstring& why);
std::wstring LastErrorPath();

// A check-box state as the file holds it: 0, 1 or 2, else -1.
int ParseCheckState(const std::wstring& text);

// Whole minutes from 1 to 1440 as the file holds them, else 0.
int ParseMinutes(const std::wstring& text);

}  // namespace quillon::settings
