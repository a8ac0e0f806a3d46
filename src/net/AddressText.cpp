#include "net/AddressText.h"

namespace quillon::net {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsHex(wchar_t c) {
    return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

}  // namespace

std::wstring TrimReply(std::wstring_view reply) {
    size_t b = 0, e = reply.size();
    while (b < e && IsBlank(reply[b])) ++b;
    while (e > b && IsBlank(reply[e - 1])) --e;
    return std::wstring(reply.substr(b, e - b));
}

bool IsIpv4Address(std::wstring_view text) {
    int parts = 0;
    size_t i = 0;
    while (true) {
        const size_t start = i;
        int value = 0;
        while (i < text.size() && IsDigit(text[i]) && i - start < 3) {
            value = value * 10 + (text[i] - L'0');
            ++i;
        }
        const size_t len = i - start;
        if (len == 0 || value > 255 || (len > 1 && text[start] == L'0')) return false;
        ++parts;
        if (i == text.size()) return parts == 4;
        if (text[i] != L'.' || parts == 4) return false;
        ++i;
    }
}

bool IsIpv6Address(std::wstring_view text) {
    // Up to eight groups of 1-4 hex digits; one "::" may stand for a run of
    // zero groups; the last 32 bits may be written as IPv4.
    if (text.size() < 2) return false;
    int groups = 0;
    bool compressed = false;
    size_t i = 0;
    if (text.substr(0, 2) == L"::") {
        compressed = true;
        i = 2;
        if (i == text.size()) return true;
    } else if (text[0] == L':') {
        return false;
    }
    while (i < text.size()) {
        const size_t start = i;
        while (i < text.size() && IsHex(text[i]) && i - start < 5) ++i;
        if (i < text.size() && text[i] == L'.') {
            // Embedded IPv4 takes the place of the last two groups.
            if (!IsIpv4Address(text.substr(start))) return false;
            groups += 2;
            i = text.size();
            break;
        }
        const size_t len = i - start;
        if (len == 0 || len > 4) return false;
        ++groups;
        if (i == text.size()) break;
        if (text[i] != L':') return false;
        ++i;
        if (i < text.size() && text[i] == L':') {
            if (compressed) return false;
            compressed = true;
            ++i;
        } else if (i == text.size()) {
            return false;  // a single trailing colon
        }
    }
    return compressed ? groups < 8 : groups == 8;
}

bool IsIpAddress(std::wstring_view text) { return IsIpv4Address(text) || IsIpv6Address(text); }

}  // namespace quillon::net
