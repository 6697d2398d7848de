// The form encoder, the response length rule and the service address rule.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "../../poster/form_encode.h"
#include "../../poster/service_rules.h"

namespace {

// Encodes into a buffer with a guard zone after the room the encoder may use,
// and fails when the guard was touched.
std::string encode(const std::string& text) {
    char buffer[kEncodedRoom + 1 + 64];
    std::memset(buffer, 0x5A, sizeof buffer);
    formEncode(buffer, text.c_str(), kEncodedRoom);
    for (std::size_t i = kEncodedRoom + 1; i < sizeof buffer; ++i)
        if (buffer[i] != 0x5A) {
            ADD_FAILURE() << "wrote past the room at " << i;
            break;
        }
    EXPECT_LE(std::strlen(buffer), kEncodedRoom);
    return buffer;
}

// The encoding of one byte, written independently of the encoder.
std::string expectedFor(unsigned char b) {
    if (b == ' ')
        return "+";
    if (std::isalnum(b) || std::strchr("@*-._", b))
        return std::string(1, static_cast<char>(b));
    char group[4];
    std::snprintf(group, sizeof group, "%%%02X", b);
    return group;
}

TEST(FormEncode, Examples) {
    const struct {
        const char* text;
        const char* encoded;
    } cases[] = {
        {"a b&c", "a+b%26c"},
        {"x@y.z_-*", "x@y.z_-*"},
        {"100%", "100%25"},
        {"\xE6\x97\xA5", "%E6%97%A5"},
        {"\t", "%09"},
        {"~", "%7E"},
        {"+/~", "%2B%2F%7E"},
        {"Going home", "Going+home"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encode(c.text), c.encoded) << "text: " << c.text;
}

TEST(FormEncode, EveryByteValue) {
    std::string all, expected;
    for (int b = 1; b <= 0xFF; ++b) {
        std::string one(1, static_cast<char>(b));
        EXPECT_EQ(encode(one), expectedFor(static_cast<unsigned char>(b))) << "byte " << b;
        all += one;
        expected += expectedFor(static_cast<unsigned char>(b));
    }
    EXPECT_EQ(encode(all), expected);
    // The terminator ends the text: nothing after it is encoded.
    EXPECT_EQ(encode(std::string("ab\0cd", 5)), "ab");
}

TEST(FormEncode, CutsWholeCharactersAtTheEdge) {
    const std::string letters1015(kEncodedRoom, 'a');
    const struct {
        std::string text;
        std::string encoded;
        const char* proves;
    } cases[] = {
        {letters1015, letters1015, "1015 letters fit exactly"},
        {letters1015 + "b", letters1015, "the 1016th letter is cut"},
        {"a" + std::string(338, '&'), "a" + [] { std::string s; for (int i = 0; i < 338; ++i) s += "%26"; return s; }(),
         "a letter and 338 groups fill the room exactly"},
        {std::string(339, '&'), [] { std::string s; for (int i = 0; i < 338; ++i) s += "%26"; return s; }(),
         "a group that would not fit whole is dropped, not split"},
        {std::string(1013, 'a') + "\xE6\x97\xA5", std::string(1013, 'a'),
         "a three-byte UTF-8 character needing nine bytes is dropped whole"},
        {std::string(1006, 'a') + "\xE6\x97\xA5" + "z", std::string(1006, 'a') + "%E6%97%A5",
         "a UTF-8 character that fits exactly is kept, what follows is cut"},
        {std::string(1012, 'a') + "\xC3\xA9", std::string(1012, 'a'),
         "a two-byte character is not split after its lead byte"},
        {std::string(1012, 'a') + "\x80\x80", std::string(1012, 'a') + "%80",
         "stray continuation bytes stand alone"},
        {std::string(1012, 'a') + "\xE6" + "b", std::string(1012, 'a') + "%E6",
         "a cut-short sequence is taken as far as it goes"},
        {std::string(1014, 'a') + " x", std::string(1014, 'a') + "+", "a space takes one byte"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encode(c.text), c.encoded) << c.proves;
}

TEST(ResponseReadSize, ReadsOnlySaneLengths) {
    const struct {
        const char* text;
        std::size_t size;
        long read;
    } cases[] = {
        {"0", 1, 0},
        {"18", 2, 18},
        {" \t42", 4, 42},
        {"+7", 2, 7},
        {"12abc", 5, 12},
        {"123", 2, 12},  // only the bytes the header query returned count
        {"", 0, 0},
        {"abc", 3, 0},
        {"-5", 2, 0},
        {"-0", 2, 0},
        {"65536", 5, 65536},
        {"65537", 5, 65536},
        {"4000000000", 10, 65536},
        {"2147483648", 10, 65536},
        {"-2147483649", 11, 0},
        {"999999999999999999999999999999999999999999999999", 48, 65536},
    };
    for (const auto& c : cases)
        EXPECT_EQ(responseReadSize(c.text, c.size), c.read) << "value: " << c.text;
}

TEST(ServicePort, WhatTheUrlParserLeavesUnchecked) {
    const struct {
        const char* address;
        long port;
    } cases[] = {
        {"https://status.example.net/api/update.json", 0},
        {"HTTP://127.0.0.1:8080/own/path?x=1", 8080},
        {"https://[::1]:8443/p", 8443},
        {"https://[::1]/p", 0},
        {"https://host:65535", 65535},
        {"https://host/a@b?c=d:e", 0},  // an @ or a colon after the host is the path's
        {"https://host:65536/", -1},    // one past the last port, which the parser would wrap
        {"https://host:0/", -1},
        {"https://host:18446744073709551697/", -1},  // wraps a 64-bit number to 81
        {"https://host:/", -1},
        {"https://user:pw@host/", -1},
        {"https://host/a b", -1},  // would break the request line
        {"twitter", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(servicePort(c.address), c.port) << "address: " << c.address;
}

TEST(PostingWay, ThePathAloneChooses) {
    const struct {
        const char* path;
        PostingWay way;
    } cases[] = {
        {"/api/v1/statuses", kMastodon},
        {"/api/v1/statuses/", kStatusUpdate},  // exactly that path, nothing more
        {"/API/v1/statuses", kStatusUpdate},
        {"/x/api/v1/statuses", kStatusUpdate},
        {"/statuses/update.json", kStatusUpdate},
        {"/", kStatusUpdate},
        {"/xrpc/com.atproto.repo.createRecord", kBluesky},
        {"/xrpc/com.atproto.repo.createRecord/", kStatusUpdate},
        {"/xrpc/com.atproto.server.createSession", kStatusUpdate},
    };
    for (const auto& c : cases)
        EXPECT_EQ(postingWay(c.path), c.way) << "path: " << c.path;
    EXPECT_TRUE(needsHttps(kMastodon));
    EXPECT_TRUE(needsHttps(kBluesky));
    EXPECT_FALSE(needsHttps(kStatusUpdate));
}

TEST(AccessToken, BlanksAtTheEndsGoAndNothingElseBreaksTheHeader) {
    const struct {
        const char* password;
        const char* token;  // null: refused
    } cases[] = {
        {"ZA-Yb_9x.~+/=", "ZA-Yb_9x.~+/="},
        {" \ttok3n \t", "tok3n"},
        {"tok\r\nX-Injected: 1", nullptr},
        {"tok\x7F", nullptr},
        {"tok en", nullptr},
        {"t\xC3\xA9", nullptr},
        {" \t ", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        char token[256];
        std::memset(token, 'x', sizeof token);
        EXPECT_EQ(accessToken(token, c.password), c.token != nullptr) << "password: " << c.password;
        EXPECT_STREQ(token, c.token ? c.token : "") << "password: " << c.password;
    }
}

}  // namespace
