#pragma once
#include <string>
#include <string_view>

namespace quillon::net {

// The reply with surrounding spaces, tabs, CR and LF removed.
std::wstring TrimReply(std::wstring_view reply);

// Dotted-quad IPv4 (no leading zeros) or textual IPv6, nothing else.
bool IsIpv4Address(std::wstring_view text);
bool IsIpv6Address(std::wstring_view text);
bool IsIpAddress(std::wstring_view text);

}  // namespace quillon::net
