#include "net/AddressText.h"

#include <algorithm>

#include <vector>

namespace quillon::net {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

int HexValue(wchar_t c) {
    if (IsAsciiDigit(c)) return c - L'0';
    return (c | 0x20) - L'a' + 10;
}

std::optional<std::array<unsigned char, 4>> ParseIpv4(std::wstring_view text) {
    std::array<unsigned char, 4> bytes{};
    size_t parts = 0, i = 0;
    while (true) {
        const size_t start = i;
        int value = 0;
        while (i < text.size() && IsAsciiDigit(text[i]) && i - start < 3) value = value * 10 + (text[i++] - L'0');
        const size_t len = i - start;
        if (len == 0 || value > 255 || (len > 1 && text[start] == L'0')) return std::nullopt;
        bytes[parts++] = static_cast<unsigned char>(value);
        if (i == text.size()) return parts == 4 ? std::optional(bytes) : std::nullopt;
        if (text[i] != L'.' || parts == 4) return std::nullopt;
        ++i;
    }
}

// Colon-separated groups of 1-4 hex digits; where allowed, the last 32 bits
// may be written as IPv4.
bool ParseGroups(std::wstring_view part, bool mayEndInIpv4, std::vector<unsigned>& groups) {
    if (part.empty()) return true;
    for (size_t i = 0;;) {
        const size_t colon = part.find(L':', i);
        const std::wstring_view group = part.substr(i, colon == std::wstring_view::npos ? colon : colon - i);
        if (colon == std::wstring_view::npos && mayEndInIpv4 && group.find(L'.') != std::wstring_view::npos) {
            const auto v4 = ParseIpv4(group);
            if (!v4) return false;
            groups.push_back((*v4)[0] << 8 | (*v4)[1]);
            groups.push_back((*v4)[2] << 8 | (*v4)[3]);
            return true;
        }
        if (group.empty() || group.size() > 4) return false;
        unsigned value = 0;
        for (wchar_t c : group) {
            if (!IsAsciiHex(c)) return false;
            value = value * 16 + static_cast<unsigned>(HexValue(c));
        }
        groups.push_back(value);
        if (colon == std::wstring_view::npos) return true;
        i = colon + 1;
    }
}

// Up to eight groups; one "::" stands for a run of zero groups.
std::optional<AddressBytes> ParseIpv6(std::wstring_view text) {
    std::vector<unsigned> head, tail;
    const size_t gap = text.find(L"::");
    if (gap == std::wstring_view::npos) {
        if (!ParseGroups(text, true, head) || head.size() != 8) return std::nullopt;
    } else {
        if (text.find(L"::", gap + 1) != std::wstring_view::npos) return std::nullopt;
        if (!ParseGroups(text.substr(0, gap), false, head) || !ParseGroups(text.substr(gap + 2), true, tail) ||
            head.size() + tail.size() > 7)
            return std::nullopt;
    }
    AddressBytes bytes{};
    const auto put = [&bytes](size_t group, unsigned value) {
        bytes[2 * group] = static_cast<unsigned char>(value >> 8);
        bytes[2 * group + 1] = static_cast<unsigned char>(value);
    };
    for (size_t g = 0; g < head.size(); ++g) put(g, head[g]);
    for (size_t g = 0; g < tail.size(); ++g) put(8 - tail.size() + g, tail[g]);
    return bytes;
}

bool IsMapped(const AddressBytes& bytes) {
    return std::all_of(bytes.begin(), bytes.begin() + 10, [](unsigned char c) { return c == 0; }) &&
           bytes[10] == 0xFF && bytes[11] == 0xFF;
}

}  // namespace

std::wstring TrimReply(std::wstring_view reply) {
    size_t b = 0, e = reply.size();
    while (b < e && IsBlank(reply[b])) ++b;
    while (e > b && IsBlank(reply[e - 1])) --e;
    return std::wstring(reply.substr(b, e - b));
}

bool IsIpv4Address(std::wstring_view text) { return ParseIpv4(text).has_value(); }
bool IsIpv6Address(std::wstring_view text) { return ParseIpv6(text).has_value(); }
bool IsIpAddress(std::wstring_view text) { return IsIpv4Address(text) || IsIpv6Address(text); }

bool IsPlainIpv6Address(std::wstring_view text) {
    const auto bytes = ParseIpv6(text);
    return bytes && !IsMapped(*bytes);
}

std::optional<AddressBytes> ParseAddress(std::wstring_view text) {
    if (const auto v4 = ParseIpv4(text)) {
        AddressBytes bytes{};
        bytes[10] = bytes[11] = 0xFF;
        for (size_t i = 0; i < 4; ++i) bytes[12 + i] = (*v4)[i];
        return bytes;
    }
    return ParseIpv6(text);
}

bool SameAddress(std::wstring_view a, std::wstring_view b) {
    const auto x = ParseAddress(a), y = ParseAddress(b);
    if (!x || !y) return a == b;
    // Two IPv6 addresses in one /64 network are one: Windows gives outgoing
    // connections a temporary address whose last 64 bits change daily.
    if (!IsMapped(*x) && !IsMapped(*y)) return std::equal(x->begin(), x->begin() + 8, y->begin());
    return *x == *y;
}

}  // namespace quillon::net
