#pragma once
// Where the refresh cycle asks for the address: the built-in server, or the
// page a user named in the settings file ("url" in [Main]).
#include <windows.h>
#include <wininet.h>

#include <optional>
#include <string>
#include <string_view>

namespace quillon::net {

struct AddressServer {
    std::string host;
    INTERNET_PORT port = INTERNET_INVALID_PORT_NUMBER;  // the service's default
    std::string object;                                 // path and query, as sent
    bool secure = false;                                // HTTPS, verified as Windows verifies it
};

// The server built into the program: its host, the page "ip.shtml", the
// default HTTP port.
AddressServer BuiltInServer(std::string host);

// What the settings' url accepts, in words for the user.
extern const wchar_t kAcceptedUrls[];

// An http:// or https:// URL with a host (a name, an IPv4 address or an
// IPv6 address in brackets), an optional port 1-65535 and an optional path
// and query; nothing else. On refusal, problem says what is wrong.
std::optional<AddressServer> ParseServerUrl(std::wstring_view url, std::wstring* problem = nullptr);

}  // namespace quillon::net
