#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::net {

inline bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
inline bool IsAsciiHex(wchar_t c) {
    return IsAsciiDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// The reply with surrounding spaces, tabs, CR and LF removed.
std::wstring TrimReply(std::wstring_view reply);

// Dotted-quad IPv4 (no leading zeros) or textual IPv6, nothing else.
bool IsIpv4Address(std::wstring_view text);
bool IsIpv6Address(std::wstring_view text);
bool IsIpAddress(std::wstring_view text);
// An IPv6 address that is not an IPv4 one in IPv6's clothes (::ffff:a.b.c.d).
bool IsPlainIpv6Address(std::wstring_view text);

// The 16 bytes of an address, an IPv4 one as IPv6 maps it (::ffff:a.b.c.d).
using AddressBytes = std::array<unsigned char, 16>;
std::optional<AddressBytes> ParseAddress(std::wstring_view text);

// One address however it is written: "2001:0db8::7" and "2001:DB8::7" are
// the same, and so are two IPv6 addresses in one /64 network ("2001:db8::7"
// and "2001:db8::8"). Texts that are not addresses are the same only when
// equal.
bool SameAddress(std::wstring_view a, std::wstring_view b);

}  // namespace quillon::net
