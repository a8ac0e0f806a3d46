#pragma once
#include <string>

namespace quillon {

// The full path of the program's own executable, however long.
std::wstring ModulePath();

// The folder that holds it, without a final backslash.
std::wstring ProgramFolder();

// A path as the user wrote it, taken from the program's folder where it is
// relative ("myip.txt", "logs\\ip.txt"), or from that folder's drive where
// it starts at a root ("\\logs\\ip.txt"), never from the working folder,
// which a scheduled task sets to the system folder. "C:name" is taken from
// the program's folder where that is on drive C:, else from C:\. Full
// paths and UNC ones are kept as they are.
std::wstring FromProgramFolder(const std::wstring& path);

}  // namespace quillon
