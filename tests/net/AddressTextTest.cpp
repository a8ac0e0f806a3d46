#include <gtest/gtest.h>

#include "net/AddressText.h"

using namespace quillon::net;

TEST(AddressText, TrimsOnlySpacesTabsAndLineBreaks) {
    EXPECT_EQ(TrimReply(L" \t\r\n203.0.113.7\r\n"), L"203.0.113.7");
    EXPECT_EQ(TrimReply(L"\r\n\t "), L"");
    EXPECT_EQ(TrimReply(L"\v1.2.3.4"), L"\v1.2.3.4");
    EXPECT_EQ(TrimReply(L"1.2.3.4 x"), L"1.2.3.4 x");
}

TEST(AddressText, AcceptsDottedQuads) {
    for (const wchar_t* ok : {L"0.0.0.0", L"203.0.113.7", L"255.255.255.255", L"10.20.30.40"})
        EXPECT_TRUE(IsIpAddress(ok)) << ok;
}

TEST(AddressText, RejectsWhatIsNotOneIpv4Address) {
    for (const wchar_t* bad : {L"", L"1.2.3", L"1.2.3.4.5", L"256.1.1.1", L"1.2.3.04", L"1..2.3",
                               L"1.2.3.4.", L".1.2.3.4", L"1.2.3.4 ", L"1.2.3.4\n5.6.7.8", L"a.b.c.d",
                               L"1234.1.1.1", L"+1.2.3.4", L"<html>"})
        EXPECT_FALSE(IsIpAddress(bad)) << bad;
}

TEST(AddressText, AcceptsIpv6Forms) {
    for (const wchar_t* ok : {L"::", L"::1", L"2001:db8::7", L"fe80::1:2", L"1:2:3:4:5:6:7:8",
                              L"2001:DB8:0:0:8:800:200C:417A", L"::ffff:192.0.2.1", L"1:2:3:4:5:6:1.2.3.4",
                              L"1::", L"1:2:3:4:5:6:7::"})
        EXPECT_TRUE(IsIpAddress(ok)) << ok;
}

TEST(AddressText, RejectsMalformedIpv6) {
    for (const wchar_t* bad : {L":", L":::", L"1::2::3", L"1:2:3:4:5:6:7:8:9", L"1:2:3:4:5:6:7", L"12345::1",
                               L"1:2:3:4:5:6:7:8::", L"::1:2:3:4:5:6:7:8", L"g::1", L"1:", L":1", L"::1.2.3",
                               L"1:2:3:4:5:6:7:1.2.3.4", L"fe80::1%eth0"})
        EXPECT_FALSE(IsIpAddress(bad)) << bad;
}
