// The text a server that counts characters is given: well-formed, cut
// without splitting a character, and the test for nothing to post.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../poster/status_text.h"

namespace {

const std::string kEllipsis = "\xE2\x80\xA6";

// The text for a limit, written into a buffer with a guard zone after the
// size the function may use.
std::string statusOf(const std::string& mood, std::size_t limit) {
    std::string buffer(statusTextSize(limit) + 64, '\x5A');
    statusText(&buffer[0], mood.c_str(), limit);
    for (std::size_t i = statusTextSize(limit); i < buffer.size(); ++i)
        if (buffer[i] != '\x5A') {
            ADD_FAILURE() << "wrote past the room at " << i;
            break;
        }
    return buffer.c_str();
}

TEST(StatusText, BytesThatAreNotUtf8BecomeOneReplacementEachMaximalPart) {
    const std::string r = "\xEF\xBF\xBD";
    const struct {
        std::string mood, text;
        const char* proves;
    } cases[] = {
        {"Going home \xE6\x97\xA5\xF0\x9F\x98\x80", "Going home \xE6\x97\xA5\xF0\x9F\x98\x80", "well-formed as it is"},
        // Unicode's own example of replacing maximal subparts.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", "a" + r + r + r + "b" + r + "c" + r + r + "d",
         "cut-short sequences and stray continuations"},
        {"\xC0\xAF\xE0\x80\xBF", r + r + r + r + r, "overlong forms, byte by byte"},
        {"\xED\xA0\x80x", r + r + r + "x", "an encoded surrogate"},
        {"\xF4\x90\x80\x80", r + r + r + r, "past U+10FFFF"},
        {"\xF5\xFE\xFF", r + r + r, "bytes no sequence has"},
        {"ab\xE6\x97", "ab" + r, "cut short by the terminator"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusOf(c.mood, 500), c.text) << c.proves;
}

TEST(StatusText, ALongTextIsCutWithoutSplittingACharacter) {
    const std::string joiner = "\xE2\x80\x8D", acute = "\xCC\x81", selector = "\xEF\xB8\x8F";
    const std::string woman = "\xF0\x9F\x91\xA9", boy = "\xF0\x9F\x91\xA6", tone = "\xF0\x9F\x8F\xBD";
    const struct {
        std::string mood, text;
        std::size_t limit;
        const char* proves;
    } cases[] = {
        {std::string(500, 'a'), std::string(500, 'a'), 500, "500 code points fit"},
        {std::string(501, 'a'), std::string(499, 'a') + kEllipsis, 500, "501 become 499 and the ellipsis"},
        {std::string(498, 'a') + "e" + acute + "z", std::string(498, 'a') + kEllipsis, 500,
         "not before a combining mark: the letter goes with it"},
        {std::string(497, 'a') + woman + joiner + boy + "z", std::string(497, 'a') + woman + kEllipsis, 500,
         "not just after a joiner"},
        {std::string(498, 'a') + "\xE2\x9D\xA4" + selector + "z", std::string(498, 'a') + kEllipsis, 500,
         "not before a variation selector"},
        {std::string(498, 'a') + "\xF0\x9F\x91\x8B" + tone + "z", std::string(498, 'a') + kEllipsis, 500,
         "not before a skin tone"},
        {"e" + acute + acute + acute, kEllipsis, 3, "a character with more marks than the limit"},
        {std::string(3, '\x80') + "abc", "\xEF\xBF\xBD\xEF\xBF\xBD" + kEllipsis, 3,
         "replacements count as one code point each"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(statusOf(c.mood, c.limit), c.text) << c.proves;
}

TEST(BlankText, OnlyUnicodeWhiteSpaceIsNothingToPost) {
    const struct {
        const char* text;
        bool blank;
    } cases[] = {
        {"", true},
        {" \t\r\n\v\f", true},
        {"\xC2\xA0\xE3\x80\x80\xE2\x80\xAF\xE2\x80\xA8\xC2\x85\xE1\x9A\x80", true},  // NBSP, ideographic, ...
        {"\xE2\x80\x80\xE2\x80\x8A\xE2\x81\x9F", true},
        {" . ", false},
        {"\xE2\x80\x8B", false},  // a zero-width space is not white space
        {"\xEF\xBF\xBD", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isBlankText(c.text), c.blank) << "text: " << c.text;
}

}  // namespace
