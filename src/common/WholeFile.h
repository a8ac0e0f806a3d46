#pragma once
// A file read or written whole: the settings file, and the log when only
// its newest line is kept.
#include <windows.h>

#include <string>

namespace quillon {

// The whole file, read through one handle that shares the file with readers
// only, so that no writer can change it half-way. False, with
// GetLastError(), when it cannot be read whole (missing, held by a writer,
// a read that fails part-way).
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// How a whole-file write may go about it.
struct WholeFileWay {
    // Wait about a second for a program that holds the file (a viewer that
    // looks for a moment); else one attempt.
    bool waitForHolder = false;
    // Where the file cannot be replaced (its folder takes no new files, a
    // program keeps it open, it has further names that must all see the
    // new content), write the bytes over the old ones instead.
    bool inPlace = false;
};

// Makes bytes the whole content of the file at path, created if missing.
//  - The bytes go into a new file of the program's own beside it (beside
//    the file a link leads to, so that the link stays a link), made afresh
//    and never through a link, that takes its place in one rename, with its
//    attributes: a reader sees the old content or the new, never an empty
//    or half-written file.
//  - In place (where the way allows it) the file first grows to the new
//    size, which a full disk may refuse; it is then cut back and the old
//    content is whole. Only then are the bytes written over the old ones.
// False, with GetLastError(), when the content could not be written; the
// old content is then still there. A held file fails with a sharing
// violation. Files of the program's own that a run which ended before it
// could remove its own left beside the file are removed once old enough.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes, WholeFileWay way);

}  // namespace quillon
