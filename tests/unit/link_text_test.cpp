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

}  // namespace
