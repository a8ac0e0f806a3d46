#pragma once
// Text is wide inside the program; it becomes ANSI-code-page text only where
// it leaves (settings file, log file, web request).
#include <string>
#include <string_view>

namespace quillon {

std::string ToAnsi(std::wstring_view text);
std::wstring FromAnsi(std::string_view bytes);

// True when the ANSI code page holds every character of text, so that it
// comes back unchanged from ToAnsi and FromAnsi.
bool FitsAnsi(std::wstring_view text);

// The system's own words for an error code, in the user's language.
std::wstring SystemMessage(unsigned long error);

}  // namespace quillon
