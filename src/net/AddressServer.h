#pragma once
// Where the refresh cycle asks for the address: the server built into the
// program, the public address services, or the pages a user named in the
// settings file ("url" in [Main]).
#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::net {

struct AddressServer {
    std::string host;  // a name, an IPv4 address, or an IPv6 address in brackets
    INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER;  // the service's default
    std::string object;                                 // path and query, as sent
    bool secure = false;    // HTTPS, verified as Windows verifies it
    bool ipv4Only = false;  // asked for IPv4: an IPv6 answer is a wrong one
    bool ipv6Only = false;  // asked for IPv6: an IPv4 or IPv4-mapped answer is a wrong one
};

// The page as a user would write it, for messages.
std::wstring ServerUrl(const AddressServer& server);

// The servers asked when the settings name none: the given host's page
// "ip.shtml" over HTTP, or, without a host, the public services
// api.ipify.org, ipv4.icanhazip.com and checkip.amazonaws.com over HTTPS,
// in that order.
std::vector<AddressServer> BuiltInServers(const std::string& host);
// Those asked for the IPv6 address where the settings name none: the public
// services api6.ipify.org, ipv6.icanhazip.com and v6.ident.me, whatever
// host answers IPv4 (its one page cannot be asked for both families at once).
std::vector<AddressServer> BuiltInServers6();

// What the settings' url accepts, in words for the user.
extern const wchar_t kAcceptedUrls[];

// An http:// or https:// URL with a host (a name, an IPv4 address or an
// IPv6 address in brackets), an optional port 1-65535 and an optional path
// and query; nothing else. On refusal, problem says what is wrong.
std::optional<AddressServer> ParseServerUrl(std::wstring_view url, std::wstring* problem = nullptr);

// One URL or several, separated by blanks; every one must be accepted.
std::optional<std::vector<AddressServer>> ParseServerUrls(std::wstring_view urls, std::wstring* problem = nullptr);

// Where a redirect from a page leads: an absolute URL, or one relative to
// the page. Nothing when it leads to something ParseServerUrl would refuse.
std::optional<AddressServer> RedirectTarget(const AddressServer& from, std::string_view location);

}  // namespace quillon::net
