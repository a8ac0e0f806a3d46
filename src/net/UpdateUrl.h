#pragma once
// The settings' "update": pages asked when the address changed, such as a
// dynamic DNS provider's, with {ipv4} and {ipv6} in their path or query
// replaced by the addresses found. Their path and query often hold a
// token, and their user name and password are secret: only the host is
// ever shown.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/AddressServer.h"

namespace quillon::net {

struct UpdateUrl {
    std::wstring text;  // as written, secrets and placeholders included
    std::wstring host;  // for messages
    bool ipv4 = false, ipv6 = false;  // the placeholders it holds
    std::string authorization;  // "Basic …" from an https:// user:password, else ""
};

// At most this many pages are asked at once.
constexpr size_t kMaxUpdateUrls = 8;

// One URL or several, separated by blanks, each checked with its
// placeholders replaced by sample addresses. {ipv6} needs ipv6 on. On
// refusal, problem says what is wrong and names a URL by its host alone.
std::optional<std::vector<UpdateUrl>> ParseUpdateUrls(std::wstring_view text, bool ipv6, std::wstring* problem = nullptr);

// The page to ask for the addresses found (ipv4, ipv6; "" where none);
// none where it needs a family that gave no address.
std::optional<AddressServer> ExpandUpdateUrl(const UpdateUrl& url, const std::wstring& ipv4, const std::wstring& ipv6);

// What an update service's 2xx answer says.
enum class UpdateVerdict {
    Done,   // "good", "nochg", or anything but a failure word
    Retry,  // "KO", "dnserr", "911": asked again at the next refresh
    Hold,   // "badauth" and its kind: asking again gets accounts blocked
};
// word: the failure word the body begins with, where it does.
UpdateVerdict JudgeUpdateAnswer(std::string_view body, std::wstring* word = nullptr);

}  // namespace quillon::net
