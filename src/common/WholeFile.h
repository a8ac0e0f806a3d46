#pragma once
// A file read or written whole: the settings file as it becomes UTF-16, and
// the log when only its newest line is kept.
#include <windows.h>

#include <string>

namespace quillon {

// The whole file; false, with GetLastError(), when it cannot be read whole
// (missing, held by another program, a read that fails part-way).
bool ReadWholeFile(const std::wstring& path, std::string& bytes);

// Makes bytes the whole content of the file at path, created if missing.
//  - Where the file can be replaced, the bytes go into a new file beside
//    it (beside the file a link leads to, so that the link stays a link)
//    that takes its place in one rename, with its attributes: a reader sees
//    the old content or the new, never an empty or half-written file.
//  - Where it cannot (a program holds it open for more than about a second,
//    its folder takes no new files, the longer name is too long, or it has
//    further names that must all see the new content), the bytes are written
//    over the old ones from the start and only then is the rest cut off.
// No file of its own is left beside it, and those that runs which ended
// before they could remove theirs left are removed. False, with
// GetLastError(), when the content could not be written; the old content
// is then still there.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

}  // namespace quillon
