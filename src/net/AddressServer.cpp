#include "net/AddressServer.h"

#include <cwctype>

#include "net/AddressText.h"

namespace quillon::net {
namespace {

constexpr size_t kMaxUrl = 2048;

bool IsAlpha(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// A host name: dot-separated labels of letters, digits and inner hyphens.
bool IsHostName(std::wstring_view host) {
    if (host.empty() || host.size() > 253) return false;
    size_t start = 0;
    while (true) {
        const size_t dot = host.find(L'.', start);
        const std::wstring_view label = host.substr(start, dot == std::wstring_view::npos ? dot : dot - start);
        if (label.empty() || label.size() > 63 || label.front() == L'-' || label.back() == L'-') return false;
        for (wchar_t c : label)
            if (!IsAlpha(c) && !IsAsciiDigit(c) && c != L'-') return false;
        if (dot == std::wstring_view::npos) {
            // A name that ends in a number is an IPv4 address, and must be one.
            bool numeric = true;
            for (wchar_t c : label) numeric = numeric && IsAsciiDigit(c);
            return !numeric || IsIpv4Address(host);
        }
        start = dot + 1;
    }
}

// The characters a path or query may hold as they are; others go as %XX.
bool IsPathChar(wchar_t c) {
    return IsAlpha(c) || IsAsciiDigit(c) ||
           std::wstring_view(L"-._~!$&'()*+,;=:@/?%").find(c) != std::wstring_view::npos;
}

std::string Narrow(std::wstring_view ascii) {
    std::string out;
    for (wchar_t c : ascii) out += static_cast<char>(c);
    return out;
}

std::wstring Widen(std::string_view bytes) {
    std::wstring out;
    for (char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::optional<AddressServer> Refuse(std::wstring* problem, const wchar_t* why) {
    if (problem) *problem = why;
    return std::nullopt;
}

// Scheme, host and port, without the path.
std::wstring Origin(const AddressServer& server) {
    const INTERNET_PORT usual = server.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    std::wstring origin = (server.secure ? L"https://" : L"http://") + Widen(server.host);
    if (server.port != usual && server.port != INTERNET_INVALID_PORT_NUMBER)
        origin += L":" + std::to_wstring(server.port);
    return origin;
}

}  // namespace

const wchar_t kAcceptedUrls[] =
    L"http:// or https://, then a host name, an IPv4 address or an IPv6 address in brackets, an optional "
    L":port from 1 to 65535, and an optional path and query, such as https://ip.example.org/ip.shtml; "
    L"at most 2048 characters of ASCII, without spaces, a user name or password, or a #fragment. "
    L"Several, separated by blanks, are asked in order.";

std::wstring ServerUrl(const AddressServer& server) {
    const std::wstring path = Widen(server.object);
    return Origin(server) + (path.empty() || path.front() != L'/' ? L"/" : L"") + path;
}

std::vector<AddressServer> BuiltInServers(const std::string& host) {
    if (!host.empty()) return {{host, INTERNET_INVALID_PORT_NUMBER, "ip.shtml", false, false}};
    std::vector<AddressServer> services;
    for (const char* name : {"api.ipify.org", "ipv4.icanhazip.com", "checkip.amazonaws.com"})
        services.push_back({name, INTERNET_DEFAULT_HTTPS_PORT, "/", true, true});
    return services;
}

std::vector<AddressServer> BuiltInServers6() {
    std::vector<AddressServer> servers;
    for (const char* name : {"api6.ipify.org", "ipv6.icanhazip.com", "v6.ident.me"})
        servers.push_back({name, INTERNET_DEFAULT_HTTPS_PORT, "/", true, false, true});
    return servers;
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
            if (!IsAsciiDigit(c) || value > 65535) return Refuse(problem, L"its port is not a number from 1 to 65535");
            value = value * 10 + static_cast<unsigned long>(c - L'0');
        }
        if (port.empty() || value < 1 || value > 65535)
            return Refuse(problem, L"its port is not a number from 1 to 65535");
        server.port = static_cast<INTERNET_PORT>(value);
    }
    for (size_t i = 0; i < tail.size(); ++i) {
        if (!IsPathChar(tail[i])) return Refuse(problem, L"its path holds a character that must be written as %XX");
        if (tail[i] == L'%' && (i + 2 >= tail.size() || !IsAsciiHex(tail[i + 1]) || !IsAsciiHex(tail[i + 2])))
            return Refuse(problem, L"its path holds a % that is not followed by two hex digits");
    }
    std::wstring lowerHost(host);
    for (wchar_t& c : lowerHost) c = static_cast<wchar_t>(towlower(c));
    // An IPv6 address keeps its brackets: WinInet builds the Host header
    // and the request's URL from the host as given.
    server.host = Narrow(lowerHost);
    server.object = tail.empty() || tail.front() == L'?' ? "/" + Narrow(tail) : Narrow(tail);
    return server;
}

std::optional<std::vector<AddressServer>> ParseServerUrls(std::wstring_view urls, std::wstring* problem) {
    std::vector<AddressServer> servers;
    for (size_t i = 0; i < urls.size();) {
        if (urls[i] == L' ' || urls[i] == L'\t') {
            ++i;
            continue;
        }
        const size_t end = urls.find_first_of(L" \t", i);
        const std::wstring_view url = urls.substr(i, end == std::wstring_view::npos ? end : end - i);
        std::wstring why;
        const auto server = ParseServerUrl(url, &why);
        if (!server) {
            if (problem) *problem = std::wstring(url) + L": " + why;
            return std::nullopt;
        }
        servers.push_back(*server);
        i += url.size();
    }
    if (servers.empty()) {
        if (problem) *problem = L"it names no page";
        return std::nullopt;
    }
    return servers;
}

std::optional<AddressServer> RedirectTarget(const AddressServer& from, std::string_view location) {
    std::wstring to = Widen(location);
    const size_t fragment = to.find(L'#');
    if (fragment != std::wstring::npos) to.erase(fragment);
    to = TrimReply(to);
    const size_t scheme = to.find(L"://");
    const bool absolute = scheme != std::wstring::npos && to.find_first_of(L"/?") > scheme;
    std::wstring url;
    if (absolute) {
        url = to;
    } else if (to.rfind(L"//", 0) == 0) {
        url = (from.secure ? L"https:" : L"http:") + to;
    } else if (!to.empty() && to.front() == L'/') {
        url = Origin(from) + to;
    } else {
        std::wstring path = Widen(from.object);
        path.erase(std::min(path.find(L'?'), path.size()));
        if (path.empty() || path.front() != L'/') path.insert(0, L"/");
        if (to.empty() || to.front() == L'?')
            url = Origin(from) + path + to;
        else
            url = Origin(from) + path.substr(0, path.find_last_of(L'/') + 1) + to;
    }
    auto target = ParseServerUrl(url);
    if (target) {
        target->ipv4Only = from.ipv4Only;
        target->ipv6Only = from.ipv6Only;
    }
    return target;
}

}  // namespace quillon::net
