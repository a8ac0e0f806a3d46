#pragma once
#include <windows.h>

#include <string>

#include "common/Handle.h"

namespace quillon {

using FileHandle = UniqueAny<HANDLE, &CloseHandle, -1>;  // empty: INVALID_HANDLE_VALUE

enum class Replaced { Done, NotWritten, NotRenamed };

// Writes bytes into a new file beside path, makes sure they are on disk,
// then puts that file in path's place in one rename (waiting about a
// second for a program that has the file open): a reader sees the old
// content or the new, never an empty or half-written file. On failure the
// file at path is untouched, nothing is left beside it, and GetLastError()
// tells why the new file could not be written or could not be renamed.
Replaced ReplaceFileBytes(const std::wstring& path, const std::string& bytes);

// The whole file; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);

}  // namespace quillon
