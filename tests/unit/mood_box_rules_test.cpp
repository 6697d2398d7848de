// The typed mood's box: what it keeps of an edit within the bytes the link
// keeps, and the line under it, counted as the poster counts.
#include <gtest/gtest.h>

#include <string>

#include "../../app/mood_box_rules.h"
#include "../../link/link_text.h"

namespace {

// UTF-16 as the box holds it, one unit per wchar_t whatever its width here.
std::wstring units(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

TEST(MoodBox, AnEditIsKeptAsFarAsItsUtf8Fits) {
    const std::u16string a(2000, u'a'), ja = u"\u65E5", smile = u"\U0001F600";
    const struct {
        std::u16string before, after, kept;
        std::size_t bytesMax, caret;
        const char* proves;
    } cases[] = {
        {u"abc", u"abcd", u"abcd", 4, 4, "a letter that fits"},
        {u"abcd", u"abcde", u"abcd", 4, 4, "one byte past the bound"},
        {a, a + ja + ja, a + ja, 2004, 2001, "three-byte characters: only whole ones"},
        {a, a + smile, a + smile, 2004, 2002, "a pair of four bytes fits at the bound"},
        {a + u"a", a + u"a" + smile, a + u"a", 2004, 2001, "never half a pair"},
        {u"headtail", u"head" + ja + ja + u"tail", u"head" + ja + u"tail", 11, 5,
         "text put in the middle: the end stays, the edit is cut"},
        {u"abcd", u"ab", u"ab", 4, 2, "deleting always fits"},
        {u"ab", u"a\xD800", u"a", 3, 1, "a lone surrogate takes three, as U+FFFD"},
        {u"x" + smile, u"x\U0001F601", u"x", 4, 1,
         "a pair changed in its second half is put in whole, or not at all"},
        {std::u16string(), std::u16string(kMoodBytesMax, u'\x00E9'), std::u16string(kMoodBytesMax / 2, u'\x00E9'),
         kMoodBytesMax, kMoodBytesMax / 2, "a paste of two-byte letters, at the link's bound"},
        {std::u16string(10, u'b'), u"bbbbbbbbbb", std::u16string(4, u'b'), 4, 4,
         "a text that did not fit before keeps its start"},
    };
    for (const auto& c : cases) {
        std::wstring before = units(c.before), after = units(c.after);
        after.push_back(L'\0');  // the terminator's room
        std::size_t caret = 0;
        std::size_t length = fitTypedText(before.c_str(), before.size(), &after[0], after.size() - 1, c.bytesMax, caret);
        EXPECT_EQ(after.substr(0, length), units(c.kept)) << c.proves;
        EXPECT_EQ(after[length], L'\0') << c.proves;
        EXPECT_EQ(caret, c.caret) << c.proves;
        EXPECT_LE(utf8Size(after.c_str(), length), c.bytesMax) << c.proves;
    }
}

TEST(MoodBox, TheLineUnderItCountsAsThePosterDoes) {
    const std::string e = "\xC3\xA9", smile = "\xF0\x9F\x98\x80", ellipsis = "\xE2\x80\xA6";
    const struct {
        std::string mood;
        PostingWay way;
        std::string line;
        const char* proves;
    } cases[] = {
        {"Going home", kStatusUpdate, "", "nothing for the usual service"},
        {std::string(600, 'a'), kStatusUpdate, "", "whatever its length"},
        {"", kMastodon, "500 characters left for Mastodon", "an empty box"},
        {"caf" + e + " " + smile, kMastodon, "494 characters left for Mastodon", "a code point each, not a byte"},
        {std::string(499, 'a'), kMastodon, "1 character left for Mastodon", "one"},
        {std::string(500, 'a'), kMastodon, "0 characters left for Mastodon", "at the limit: not cut"},
        {std::string(501, 'a'), kMastodon, "1 character over Mastodon's 500: it will be cut, ending with " + ellipsis,
         "past it"},
        {std::string(299, 'a') + smile, kBluesky, "0 characters left for Bluesky", "at Bluesky's limit"},
        {std::string(300, 'a') + smile + smile, kBluesky,
         "2 characters over Bluesky's 300: it will be cut, ending with " + ellipsis, "past Bluesky's"},
        {std::string(299, 'a') + "\xE6\x97", kBluesky, "0 characters left for Bluesky",
         "a cut-short sequence is one, as its U+FFFD"},
    };
    for (const auto& c : cases) {
        char line[kMoodCounterSize];
        moodCounterLine(line, c.mood.c_str(), c.way);
        EXPECT_EQ(line, c.line) << c.proves;
    }
}

}  // namespace
