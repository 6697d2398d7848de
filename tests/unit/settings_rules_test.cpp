// Where the settings file lives, and how values are written to it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../app/settings_rules.h"

namespace {

TEST(SettingsPath, LastThreeBytesBecomeIni) {
    const struct {
        const char* module;
        const char* settings;
    } cases[] = {
        {"C:\\Tools\\app.exe", "C:\\Tools\\app.ini"},
        {"C:\\a\\prog.exe", "C:\\a\\prog.ini"},
        {"C:\\a\\prog.EXE", "C:\\a\\prog.ini"},
        {"C:\\a\\prog.xyz", "C:\\a\\prog.ini"},
        {"C:\\a\\progexe", "C:\\a\\progini"},
        {"abc", "ini"},
    };
    for (const auto& c : cases) {
        char path[260] = {};
        std::strcpy(path, c.module);
        EXPECT_TRUE(settingsPathFromModulePath(path, std::strlen(c.module), sizeof path));
        EXPECT_STREQ(path, c.settings);
    }
}

TEST(SettingsPath, PathNotHadWholeGivesNoFile) {
    char path[260];
    const struct {
        std::size_t length;
        bool whole;
    } cases[] = {{0, false}, {1, false}, {2, false}, {3, true}, {259, true}, {260, false}};
    for (const auto& c : cases) {
        std::memset(path, 'x', sizeof path);
        path[c.length < sizeof path ? c.length : sizeof path - 1] = '\0';
        bool whole = settingsPathFromModulePath(path, c.length, sizeof path);
        EXPECT_EQ(whole, c.whole) << "length " << c.length;
        if (whole) {
            EXPECT_EQ(std::strlen(path), c.length);
            EXPECT_STREQ(path + c.length - 3, "ini");
        } else {
            EXPECT_STREQ(path, "") << "length " << c.length;
        }
    }
}

TEST(ProfileValue, QuotedOnlyWhenTheReaderWouldChangeIt) {
    const struct {
        const char* value;
        const char* written;
    } cases[] = {
        {"", ""},
        {"alice", "alice"},
        {"pass word", "pass word"},
        {"\"half", "\"half"},
        {"half\"", "half\""},
        {"\"", "\""},
        {"it's", "it's"},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"\ttab", "\"\ttab\""},
        {" ", "\" \""},
        {"\"quoted\"", "\"\"quoted\"\""},
        {"\"\"", "\"\"\"\""},
        {"'single'", "\"'single'\""},
        {"'mixed\"", "'mixed\""},
    };
    for (const auto& c : cases) {
        char text[kQuotedValueSize];
        profileValueToWrite(text, c.value);
        EXPECT_STREQ(text, c.written) << "value [" << c.value << "]";
    }
}

TEST(ProfileValue, LongestValueFitsQuoted) {
    std::string value = " " + std::string(254, 'p');
    char text[kQuotedValueSize + 8];
    std::memset(text, 0x5A, sizeof text);
    profileValueToWrite(text, value.c_str());
    EXPECT_EQ(std::string(text), "\"" + value + "\"");
    EXPECT_EQ(text[kQuotedValueSize], 0x5A);
}

TEST(SettingsSections, TheFirstAsEverAndTheFurtherNumbered2To9) {
    const struct {
        unsigned account;
        const char* name;
    } cases[] = {{0, "Moodshuttle"}, {1, "Moodshuttle 2"}, {8, "Moodshuttle 9"}};
    for (const auto& c : cases) {
        char narrow[kSectionNameSize];
        wchar_t wide[kSectionNameSize];
        accountSectionName(narrow, c.account);
        accountSectionName(wide, c.account);
        EXPECT_STREQ(narrow, c.name);
        EXPECT_EQ(std::wstring(wide), std::wstring(c.name, c.name + std::strlen(c.name)));
    }
}

}  // namespace
