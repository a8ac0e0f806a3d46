#include "net/UpdateUrl.h"

#include <cwctype>

#include "net/AddressText.h"

namespace quillon::net {
namespace {

constexpr std::wstring_view kIpv4 = L"{ipv4}", kIpv6 = L"{ipv6}";
// The longest of each family, so that the length is checked as it may be sent.
constexpr wchar_t kSampleIpv4[] = L"255.255.255.255";
constexpr wchar_t kSampleIpv6[] = L"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";

std::wstring Replace(std::wstring text, std::wstring_view what, const std::wstring& with) {
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Where the host part begins and ends ([begin, end)); false without "://".
bool Authority(std::wstring_view url, size_t& begin, size_t& end) {
    const size_t scheme = url.find(L"://");
    if (scheme == std::wstring_view::npos) return false;
    begin = scheme + 3;
    end = std::min(url.find_first_of(L"/?#", begin), url.size());
    return true;
}

// The host alone, for messages: never the path, the query or a password.
std::wstring HostOf(std::wstring_view url) {
    size_t begin = 0, end = 0;
    if (!Authority(url, begin, end)) return L"";
    std::wstring host(url.substr(begin, end - begin));
    const size_t at = host.rfind(L'@');
    if (at != std::wstring::npos) host.erase(0, at + 1);
    for (wchar_t& c : host) c = static_cast<wchar_t>(towlower(c));
    return host;
}

bool PercentDecode(std::wstring_view text, std::string& out) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') {
            out += static_cast<char>(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !IsAsciiHex(text[i + 1]) || !IsAsciiHex(text[i + 2])) return false;
        out += static_cast<char>(std::stoi(std::wstring(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return true;
}

std::string Base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? digits[n & 63] : '=';
    }
    return out;
}

// The URL without its user:password, and the header they make; why where
// they cannot be sent.
std::optional<std::wstring> TakeUserInfo(std::wstring_view url, std::string& authorization, std::wstring& why) {
    size_t begin = 0, end = 0;
    if (!Authority(url, begin, end)) return std::wstring(url);
    const size_t at = url.substr(begin, end - begin).rfind(L'@');
    if (at == std::wstring_view::npos) return std::wstring(url);
    std::wstring scheme(url.substr(0, begin - 3));
    for (wchar_t& c : scheme) c = static_cast<wchar_t>(towlower(c));
    // Basic authentication over plain HTTP would hand the password to anyone on the way.
    if (scheme != L"https") {
        why = L"a user name and password are sent only over https://";
        return std::nullopt;
    }
    const std::wstring_view info = url.substr(begin, at);
    const size_t colon = info.find(L':');
    std::string user, password;
    if (!PercentDecode(info.substr(0, colon), user) ||
        (colon != std::wstring_view::npos && !PercentDecode(info.substr(colon + 1), password))) {
        why = L"its user name or password holds a % that is not followed by two hex digits";
        return std::nullopt;
    }
    authorization = "Basic " + Base64(user + ":" + password);
    return std::wstring(url.substr(0, begin)) + std::wstring(url.substr(begin + at + 1));
}

std::optional<UpdateUrl> ParseOne(std::wstring_view text, bool ipv6, std::wstring& why) {
    UpdateUrl url;
    url.text = text;
    url.ipv4 = text.find(kIpv4) != std::wstring_view::npos;
    url.ipv6 = text.find(kIpv6) != std::wstring_view::npos;
    size_t begin = 0, end = 0;
    if ((url.ipv4 || url.ipv6) && Authority(text, begin, end) &&
        std::min(text.find(kIpv4), text.find(kIpv6)) < end) {
        why = L"{ipv4} and {ipv6} belong in its path or query";
        return std::nullopt;
    }
    if (url.ipv6 && !ipv6) {
        why = L"it holds {ipv6}, but the IPv6 address is not asked for (ipv6=1 asks for it)";
        return std::nullopt;
    }
    const auto bare = TakeUserInfo(text, url.authorization, why);
    if (!bare) return std::nullopt;
    const auto server = ParseServerUrl(Replace(Replace(*bare, kIpv4, kSampleIpv4), kIpv6, kSampleIpv6), &why);
    if (!server) return std::nullopt;
    url.host = HostOf(*bare);
    return url;
}

}  // namespace

std::optional<std::vector<UpdateUrl>> ParseUpdateUrls(std::wstring_view text, bool ipv6, std::wstring* problem) {
    std::vector<UpdateUrl> urls;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == L' ' || text[i] == L'\t') {
            ++i;
            continue;
        }
        const size_t end = text.find_first_of(L" \t", i);
        const std::wstring_view one = text.substr(i, end == std::wstring_view::npos ? end : end - i);
        i += one.size();
        std::wstring why;
        const auto url = ParseOne(one, ipv6, why);
        if (!url) {
            if (problem) {
                const std::wstring host = HostOf(one);
                *problem = (host.empty() ? L"URL " + std::to_wstring(urls.size() + 1) : L"the URL for " + host) +
                           L": " + why;
            }
            return std::nullopt;
        }
        urls.push_back(*url);
    }
    if (urls.size() > kMaxUpdateUrls) {
        if (problem) *problem = L"it names more than " + std::to_wstring(kMaxUpdateUrls) + L" URLs";
        return std::nullopt;
    }
    if (urls.empty() && problem) *problem = L"it names no page";
    if (urls.empty()) return std::nullopt;
    return urls;
}

std::optional<AddressServer> ExpandUpdateUrl(const UpdateUrl& url, const std::wstring& ipv4, const std::wstring& ipv6) {
    if ((url.ipv4 && !IsIpv4Address(ipv4)) || (url.ipv6 && !IsIpv6Address(ipv6))) return std::nullopt;
    std::string authorization;
    std::wstring why;
    const auto bare = TakeUserInfo(url.text, authorization, why);
    if (!bare) return std::nullopt;
    return ParseServerUrl(Replace(Replace(*bare, kIpv4, ipv4), kIpv6, ipv6));
}

UpdateVerdict JudgeUpdateAnswer(std::string_view body, std::wstring* word) {
    size_t i = 0;
    while (i < body.size() && (body[i] == ' ' || body[i] == '\t' || body[i] == '\r' || body[i] == '\n')) ++i;
    std::wstring first;
    for (; i < body.size() && first.size() < 16 && std::iswalnum(static_cast<unsigned char>(body[i])); ++i)
        first += static_cast<wchar_t>(std::towlower(static_cast<unsigned char>(body[i])));
    UpdateVerdict verdict = UpdateVerdict::Done;
    for (const wchar_t* retry : {L"ko", L"dnserr", L"911"})
        if (first == retry) verdict = UpdateVerdict::Retry;
    for (const wchar_t* hold : {L"badauth", L"nohost", L"notfqdn", L"numhost", L"abuse", L"badagent"})
        if (first == hold) verdict = UpdateVerdict::Hold;
    if (word && verdict != UpdateVerdict::Done) *word = first == L"ko" ? L"KO" : first;
    return verdict;
}

}  // namespace quillon::net
