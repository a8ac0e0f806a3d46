#include "net/AddressServer.h"

#include <cwctype>

#include "net/AddressText.h"

namespace quillon::net {
namespace {

constexpr size_t kMaxUrl = 2048;

bool IsAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsHex(wchar_t c) { return IsDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

// A host name: dot-separated labels of letters, digits and inner hyphens.
bool IsHostName(std::wstring_view host) {
    if (host.empty() || host.size() > 253) return false;
    size_t start = 0;
    while (true) {
        const size_t dot = host.find(L'.', start);
        const std::wstring_view label = host.substr(start, dot == std::wstring_view::npos ? dot : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == L'-' || label.back() == L'-') return false;
        for (wchar_t c : label)
            if (!IsAlpha(c) && !IsDigit(c) && c != L'-') return false;
        if (dot == std::wstring_view::npos) {
            // A name that ends in a number is an IPv4 address, and must be one.
            bool numeric = true;
            for (wchar_t c : label) numeric = numeric && IsDigit(c);
            return !numeric || IsIpv4Address(host);
        }
        start = dot + 1;
    }
}

// The characters a path or query may hold as they are; others go as %XX.
bool IsPathChar(wchar_t c) {
    return IsAlpha(c) || IsDigit(c) || std::wstring_view(L"-._~!$&'()*+,;=:@/?%").find(c) != std::wstring_view::npos;
}

std::string Narrow(std::wstring_view ascii) {
    std::string out;
    for (wchar_t c : ascii) out += static_cast<char>(c);
    return out;
}

std::optional<AddressServer> Refuse(std::wstring* problem, const wchar_t* why) {
    if (problem) *problem = why;
    return std::nullopt;
}

}  // namespace

const wchar_t kAcceptedUrls[] =
    L"http:// or https://, then a host name, an IPv4 address or an IPv6 address in brackets, an optional "
    L":port from 1 to 65535, and an optional path and query, such as https://ip.example.org/ip.shtml; "
    L"at most 2048 characters of ASCII, without spaces, a user name or password, or a #fragment.";

AddressServer BuiltInServer(std::string host) {
    return {std::move(host), INTERNET_INVALID_PORT_NUMBER, "ip.shtml", false};
}

std::optional<AddressServer> ParseServerUrl(std::wstring_view url, std::wstring* problem) {
    if (url.size() > kMaxUrl) return Refuse(problem, L"it is longer than 2048 characters");
    for (wchar_t c : url) {
        if (c <= L' ' || c == 0x7F) return Refuse(problem, L"it holds a space or a control character");
        if (c > 0x7F) return Refuse(problem, L"it holds a character outside ASCII (write it as %XX)");
    }
    AddressServer server;
    const size_t colon = url.find(L"://");
    std::wstring scheme(url.substr(0, colon == std::wstring_view::npos ? 0 : colon));
    for (wchar_t& c : scheme) c = static_cast<wchar_t>(towlower(c));
    if (scheme == L"https") {
        server.secure = true;
        server.port = INTERNET_DEFAULT_HTTPS_PORT;
    } else if (scheme == L"http") {
        server.port = INTERNET_DEFAULT_HTTP_PORT;
    } else {
        return Refuse(problem, L"it does not begin with http:// or https://");
    }
    const std::wstring_view rest = url.substr(colon + 3);
    const size_t end = rest.find_first_of(L"/?#");
    const std::wstring_view authority = rest.substr(0, end);
    const std::wstring_view tail = end == std::wstring_view::npos ? std::wstring_view() : rest.substr(end);
    if (tail.find(L'#') != std::wstring_view::npos) return Refuse(problem, L"it has a #fragment");
    if (authority.find(L'@') != std::wstring_view::npos) return Refuse(problem, L"it names a user or a password");

    std::wstring_view host = authority, port;
    bool hasPort = false;
    if (!authority.empty() && authority.front() == L'[') {
        const size_t close = authority.find(L']');
        if (close == std::wstring_view::npos) return Refuse(problem, L"its IPv6 address lacks the closing ]");
        host = authority.substr(0, close + 1);
        const std::wstring_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != L':') return Refuse(problem, L"something follows the IPv6 address");
        hasPort = !after.empty();
        if (hasPort) port = after.substr(1);
        if (!IsIpv6Address(host.substr(1, host.size() - 2))) return Refuse(problem, L"its IPv6 address is not valid");
    } else {
        const size_t portColon = authority.find(L':');
        hasPort = portColon != std::wstring_view::npos;
        if (hasPort) {
            host = authority.substr(0, portColon);
            port = authority.substr(portColon + 1);
        }
        if (host.empty()) return Refuse(problem, L"it has no host");
        if (!IsHostName(host)) return Refuse(problem, L"its host is not a host name or an address");
    }
    if (hasPort) {
        unsigned long value = 0;
        for (wchar_t c : port) {
            if (!IsDigit(c) || value > 65535) return Refuse(problem, L"its port is not a number from 1 to 65535");
            value = value * 10 + static_cast<unsigned long>(c - L'0');
        }
        if (port.empty() || value < 1 || value > 65535)
            return Refuse(problem, L"its port is not a number from 1 to 65535");
        server.port = static_cast<INTERNET_PORT>(value);
    }
    for (size_t i = 0; i < tail.size(); ++i) {
        if (!IsPathChar(tail[i])) return Refuse(problem, L"its path holds a character that must be written as %XX");
        if (tail[i] == L'%' && (i + 2 >= tail.size() || !IsHex(tail[i + 1]) || !IsHex(tail[i + 2])))
            return Refuse(problem, L"its path holds a % that is not followed by two hex digits");
    }
    std::wstring lowerHost(host);
    for (wchar_t& c : lowerHost) c = static_cast<wchar_t>(towlower(c));
    // WinInet takes an IPv6 address without its brackets.
    server.host = Narrow(lowerHost.front() == L'[' ? std::wstring_view(lowerHost).substr(1, lowerHost.size() - 2)
                                                    : std::wstring_view(lowerHost));
    server.object = tail.empty() || tail.front() == L'?' ? "/" + Narrow(tail) : Narrow(tail);
    return server;
}

}  // namespace quillon::net
