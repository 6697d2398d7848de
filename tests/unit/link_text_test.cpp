// The command texts and the mood notification test and copy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "../../link/link_text.h"

namespace {

TEST(CommandText, OnlyProtocolGoesWithoutLeadingSpace) {
    const struct {
        const char* command;
        const char* text;
    } cases[] = {
        {"PING", " PING"},
        {"PROTOCOL 5", "PROTOCOL 5"},
        {"PROTOCOL 50", " PROTOCOL 50"},
        {"protocol 5", " protocol 5"},
        {"", " "},
    };
    for (const auto& c : cases) {
        std::vector<char> text(commandTextSize(c.command), 'x');
        commandText(text.data(), c.command);
        EXPECT_STREQ(text.data(), c.text);
        EXPECT_LE(std::strlen(text.data()) + 1, text.size());
    }
    EXPECT_EQ(commandTextSize("PING"), 6u);
}

// Copies a notification the way the link does; false when it is ignored.
bool moodOf(const std::string& data, std::size_t size, std::string* text) {
    if (!isMoodNotification(data.data(), size))
        return false;
    // Only `size` bytes are readable, as when the data came from another process.
    std::vector<char> exact(data.begin(), data.begin() + size);
    std::vector<char> block(moodBlockSize(exact.data(), size), 0);
    copyMoodText(block.data(), exact.data(), size);
    EXPECT_LE(std::strlen(block.data()) + 1, block.size());
    *text = block.data();
    return true;
}

TEST(MoodNotification, RecognisedAndCopied) {
    const std::string prefix = "PROFILE MOOD_TEXT ";
    const std::string nul(1, '\0');
    const struct {
        std::string data;
        std::size_t size;
        bool mood;
        const char* text;
        const char* proves;
    } cases[] = {
        {prefix + "Going home" + nul, 29, true, "Going home", "the text after the prefix"},
        {prefix + nul, 19, true, "", "the prefix alone is the empty text"},
        {prefix, 18, false, "", "18 bytes are never a mood"},
        {prefix + "Going home" + nul, 18, false, "", "cbData of 18 bytes, whatever follows"},
        {prefix + "Going home" + nul, 17, false, "", "shorter than the prefix"},
        {"PROFILE MOOD_TEXT" + nul + "xx", 20, false, "", "prefix without its trailing space"},
        {"profile mood_text Going home" + nul, 29, false, "", "lower case"},
        {"PROFILE FULLNAME Bob" + nul, 21, false, "", "another notification"},
        {prefix + "Going home", 25, true, "Going h", "no terminator inside cbData: cut at cbData"},
        {prefix + "a" + nul + "hidden" + nul, 27, true, "a", "the terminator ends the text"},
        {prefix + "\xE6\x97\xA5" + nul, 22, true, "\xE6\x97\xA5", "bytes pass unchanged"},
    };
    for (const auto& c : cases) {
        std::string text;
        EXPECT_EQ(moodOf(c.data, c.size, &text), c.mood) << c.proves;
        if (c.mood) {
            EXPECT_EQ(text, c.text) << c.proves;
        }
    }
    EXPECT_FALSE(isMoodNotification(nullptr, 40));
}

TEST(MoodNotification, KeptUpToTheBoundOnASequenceStart) {
    const std::string prefix = "PROFILE MOOD_TEXT ";
    const std::string euro = "\xE2\x82\xAC";
    const std::string fill(kMoodBytesMax - 2, 'a');  // the bound falls two bytes further on
    const struct {
        std::string text;
        std::size_t kept;
        const char* proves;
    } cases[] = {
        {std::string(kMoodBytesMax, 'a'), kMoodBytesMax, "a text of exactly the bound is kept whole"},
        {std::string(kMoodBytesMax + 1, 'a'), kMoodBytesMax, "one byte more is cut at the bound"},
        {std::string(10 * 1024 * 1024, 'a'), kMoodBytesMax, "10 MiB keep the bound"},
        {fill + euro, kMoodBytesMax - 2, "a sequence across the bound goes whole"},
        {fill + "\xC3\xA9" + "b", kMoodBytesMax, "one that ends at the bound stays"},
        {fill + "a" + "\xF0\x9F\x98\x80", kMoodBytesMax - 1, "a four-byte one that starts just before it"},
        {fill + "\xE2\x82" + "b", kMoodBytesMax, "a lead whose sequence breaks off is no sequence"},
        {fill + "\x82\x82\x82\x82", kMoodBytesMax, "stray continuation bytes are cut anywhere"},
        {"ab" + std::string(1, '\0') + std::string(kMoodBytesMax, 'a'), 2, "the terminator comes first"},
    };
    for (const auto& c : cases) {
        std::string text;
        ASSERT_TRUE(moodOf(prefix + c.text, prefix.size() + c.text.size(), &text)) << c.proves;
        EXPECT_EQ(text.size(), c.kept) << c.proves;
        EXPECT_EQ(text, c.text.substr(0, text.size())) << c.proves;
    }
}

}  // namespace
