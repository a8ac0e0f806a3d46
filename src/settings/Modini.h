#pragma once
// One key of an initialisation file at a time.
#include <string>

namespace quillon::settings {

// The whole stored value, however long; "" for a missing file, section or
// key. Blanks around the value and one pair of quotation marks are removed.
std::wstring ReadIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& path);

// Creates the file, section or key as needed; failures are quiet.
void WriteIniValue(const std::wstring& section, const std::wstring& key, const std::wstring& value,
                   const std::wstring& path);

// The program's folder followed by "\Quillon_settings.ini".
std::wstring SettingsPath();

// A check-box state as the file holds it: 0, 1 or 2, else -1.
int ParseCheckState(const std::wstring& text);

}  // namespace quillon::settings
