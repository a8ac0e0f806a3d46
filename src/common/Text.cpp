#include "common/Text.h"

#include <windows.h>

namespace quillon {

std::string ToAnsi(std::wstring_view text) {
    if (text.empty()) return {};
    const int len = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), len, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), len, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromAnsi(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int len = static_cast<int>(bytes.size());
    const int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, nullptr, 0);
    std::wstring out(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, bytes.data(), len, out.data(), n);
    return out;
}

bool FitsAnsi(std::wstring_view text) {
    if (GetACP() == CP_UTF8) return true;
    BOOL substituted = FALSE;
    const int len = static_cast<int>(text.size());
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), len, nullptr, 0, nullptr, &substituted);
    // Best fit aside, a double-byte code page may still map two ways.
    return !substituted && FromAnsi(ToAnsi(text)) == text;
}

std::wstring SystemMessage(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", text ? n : 0);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' '))
        message.pop_back();
    return message.empty() ? L"Error " + std::to_wstring(error) + L"." : message;
}

}  // namespace quillon
