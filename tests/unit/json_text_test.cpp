// Reading a field of a JSON answer, and writing JSON strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../../poster/json_text.h"

namespace {

const char* const kNames[] = {"found", "absent", "unfit", "malformed"};

struct Read {
    JsonField field;
    std::string value;
};

// Reads from a copy of exactly the text's bytes on the heap, so that a read
// past its size is caught by the address sanitizer, into a room with a guard
// zone after it.
Read read(const std::string& text, const char* name, std::size_t room = 64) {
    char* copy = new char[text.size() + 1];
    std::memcpy(copy, text.data(), text.size());
    std::string dest(room + 16, '\x5A');
    Read r;
    r.field = jsonStringField(copy, text.size(), name, &dest[0], room);
    delete[] copy;
    for (std::size_t i = room; i < dest.size(); ++i)
        if (dest[i] != '\x5A') {
            ADD_FAILURE() << "wrote past the room at " << i;
            break;
        }
    r.value = dest.c_str();
    return r;
}

std::string describe(const Read& r) {
    return std::string(kNames[static_cast<int>(r.field)]) + " \"" + r.value + "\"";
}

const char kSession[] =
    "{\"accessJwt\":\"eyJ0.eyJz.MfFL\",\"refreshJwt\":\"eyJ0.eyJz.LjOJ\",\"did\":\"did:plc:ktdvkm32\","
    "\"handle\":\"alice.test\",\"didDoc\":{\"id\":\"did:plc:x\",\"service\":[{\"id\":\"#atproto_pds\","
    "\"serviceEndpoint\":\"http://localhost:1\"}],\"did\":\"nested, not ours\"},\"email\":\"a@example.com\","
    "\"emailConfirmed\":false,\"active\":true}";

TEST(JsonStringField, FindsTopLevelStrings) {
    const struct {
        std::string text;
        const char* name;
        const char* shown;  // found, absent, unfit or malformed, and the value
        const char* proves;
    } cases[] = {
        {kSession, "accessJwt", "found \"eyJ0.eyJz.MfFL\"", "the first member"},
        {kSession, "did", "found \"did:plc:ktdvkm32\"", "not the nested did"},
        {kSession, "active", "absent \"\"", "a member that is not a string"},
        {kSession, "didDoc", "absent \"\"", "an object is not a string"},
        {kSession, "serviceEndpoint", "absent \"\"", "a name only in a nested object"},
        {kSession, "error", "absent \"\"", "a name not there"},
        {"{\"error\":\"ExpiredToken\",\"message\":\"Token has expired\"}", "error", "found \"ExpiredToken\"",
         "the server's error answer"},
        {" \r\n\t{ \"a\" : 1 , \"error\"\n:\t\"x\" } \n", "error", "found \"x\"", "blanks everywhere they may be"},
        {"{\"n\":[1,-0.5e+3,2E-2,true,null,{\"k\":[[],{}]}],\"error\":\"after\"}", "error", "found \"after\"",
         "nested values of every kind are skipped"},
        {"{\"error\":\"\"}", "error", "found \"\"", "an empty string"},
        {"{}", "error", "absent \"\"", "an empty object"},
        {"{\"errors\":\"x\",\"erro\":\"y\"}", "error", "absent \"\"", "only the whole name counts"},
        {"{\"err\\u006fr\":\"x\"}", "error", "found \"x\"", "an escaped name"},
        {"{\"x\":\"\\\"error\\\":\\\"no\\\"\",\"error\":\"yes\"}", "error", "found \"yes\"",
         "a name inside another string is not a member"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(read(c.text, c.name)), c.shown) << c.proves;
}

TEST(JsonStringField, DecodesEscapes) {
    const struct {
        const char* text;
        const char* value;
        const char* proves;
    } cases[] = {
        {"{\"v\":\"a\\\"b\\\\c\\/d\"}", "a\"b\\c/d", "quote, backslash, solidus"},
        {"{\"v\":\"\\b\\f\\n\\r\\t\"}", "\b\f\n\r\t", "the short control escapes"},
        {"{\"v\":\"\\u0041\\u00e9\\u00E9\"}", "A\xC3\xA9\xC3\xA9", "hex of either case, to UTF-8"},
        {"{\"v\":\"\\u20ac\"}", "\xE2\x82\xAC", "three bytes"},
        {"{\"v\":\"\\ud83d\\ude00\"}", "\xF0\x9F\x98\x80", "a surrogate pair is one character"},
        {"{\"v\":\"\\ud800\\udc00\\udbff\\udfff\"}", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", "the first and last pairs"},
        {"{\"v\":\"\\ud83d\"}", "\xEF\xBF\xBD", "a lone high surrogate"},
        {"{\"v\":\"\\ude00\\ud83d\"}", "\xEF\xBF\xBD\xEF\xBF\xBD", "halves in the wrong order"},
        {"{\"v\":\"\\ud83d\\u0041\"}", "\xEF\xBF\xBD" "A", "a high half before another escape"},
        {"{\"v\":\"\\ud83dx\"}", "\xEF\xBF\xBD" "x", "a high half before a plain byte"},
        {"{\"v\":\"\xE2\x80\x9C\xC3\xA9\"}", "\xE2\x80\x9C\xC3\xA9", "raw UTF-8 is copied"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(read(c.text, "v")), std::string("found \"") + c.value + "\"") << c.proves;
}

TEST(JsonStringField, RefusesWhatItCannotTrust) {
    const struct {
        std::string text;
        std::size_t room;
        const char* shown;
        const char* proves;
    } cases[] = {
        {"{\"v\":\"12345\"}", 6, "found \"12345\"", "a value that fills the room exactly"},
        {"{\"v\":\"123456\"}", 6, "unfit \"\"", "one byte more"},
        {"{\"v\":\"\\u20ac\"}", 3, "unfit \"\"", "a decoded character that would not fit"},
        {"{\"v\":\"a\\u0000b\"}", 64, "unfit \"\"", "U+0000 would cut the value short"},
        {"{\"v\":\"a\",\"v\":\"b\"}", 64, "malformed \"\"", "a name twice"},
        {"{\"v\":\"a\"}x", 64, "malformed \"\"", "text after the object"},
        {"{\"v\":\"a\"}{}", 64, "malformed \"\"", "a second object"},
        {"[\"v\",\"a\"]", 64, "malformed \"\"", "not an object"},
        {"", 64, "malformed \"\"", "nothing"},
        {"\"v\"", 64, "malformed \"\"", "a bare string"},
        {"{\"v\":\"a\",}", 64, "malformed \"\"", "a trailing comma"},
        {"{\"v\":\"a\"", 64, "malformed \"\"", "no closing brace"},
        {"{\"v\":\"a", 64, "malformed \"\"", "the text ends inside the value"},
        {"{\"v\":\"a\\", 64, "malformed \"\"", "the text ends inside an escape"},
        {"{\"v\":\"\\u12\"}", 64, "malformed \"\"", "a short \\u"},
        {"{\"v\":\"\\u12", 64, "malformed \"\"", "the text ends inside a \\u"},
        {"{\"v\":\"\\ud83d\\u12\"}", 64, "malformed \"\"", "a short low half"},
        {"{\"v\":\"\\x41\"}", 64, "malformed \"\"", "an escape JSON does not have"},
        {"{\"v\":\"a\tb\"}", 64, "malformed \"\"", "a raw control character"},
        {std::string("{\"v\":\"a\0b\"}", 11), 64, "malformed \"\"", "a raw NUL"},
        {"{'v':'a'}", 64, "malformed \"\"", "single quotes"},
        {"{v:\"a\"}", 64, "malformed \"\"", "a bare name"},
        {"{\"v\" \"a\"}", 64, "malformed \"\"", "no colon"},
        {"{\"x\":01,\"v\":\"a\"}", 64, "malformed \"\"", "a leading zero"},
        {"{\"x\":1.,\"v\":\"a\"}", 64, "malformed \"\"", "no digits after the point"},
        {"{\"x\":-,\"v\":\"a\"}", 64, "malformed \"\"", "a lone minus"},
        {"{\"x\":1e,\"v\":\"a\"}", 64, "malformed \"\"", "no exponent digits"},
        {"{\"x\":+1,\"v\":\"a\"}", 64, "malformed \"\"", "a plus sign"},
        {"{\"x\":tru,\"v\":\"a\"}", 64, "malformed \"\"", "a cut literal"},
        {"{\"x\":[1,],\"v\":\"a\"}", 64, "malformed \"\"", "a trailing comma in an array"},
        {"{\"x\":[1}],\"v\":\"a\"}", 64, "malformed \"\"", "brackets that do not match"},
        {"{\"x\":{\"k\"},\"v\":\"a\"}", 64, "malformed \"\"", "a nested name without a value"},
        {"{\"x\":{1:2},\"v\":\"a\"}", 64, "malformed \"\"", "a nested name that is no string"},
        {"{\"x\":[[[[[[", 64, "malformed \"\"", "open arrays to the end"},
        {"{\"x\":" + std::string(64, '[') + std::string(64, ']') + ",\"v\":\"a\"}", 64, "found \"a\"",
         "64 levels in a member's value"},
        {"{\"x\":" + std::string(65, '[') + std::string(65, ']') + ",\"v\":\"a\"}", 64, "malformed \"\"",
         "65 levels are refused"},
        {"\xEF\xBB\xBF{\"v\":\"a\"}", 64, "malformed \"\"", "a byte order mark"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(describe(read(c.text, "v", c.room)), c.shown) << c.proves;
}

// Appends to a room of `room` bytes holding "ab" with a guard zone after it;
// shows the text and whether it was appended.
std::string append(const char* text, std::size_t room) {
    std::string dest(room + 16, '\x5A');
    std::memcpy(&dest[0], "ab", 3);
    std::size_t used = 2;
    bool done = jsonAppendString(&dest[0], room, used, text);
    for (std::size_t i = room; i < dest.size(); ++i)
        if (dest[i] != '\x5A') {
            ADD_FAILURE() << "wrote past the room at " << i;
            break;
        }
    EXPECT_EQ(used, std::strlen(dest.c_str()));
    return (done ? "appended " : "refused ") + std::string(dest.c_str());
}

TEST(JsonAppendString, EscapesWhatJsonNeeds) {
    const struct {
        const char* text;
        std::size_t room;
        const char* shown;
        const char* proves;
    } cases[] = {
        {"Going home", 64, "appended ab\"Going home\"", "plain text"},
        {"", 64, "appended ab\"\"", "an empty text"},
        {"say \"hi\" \\o/", 64, "appended ab\"say \\\"hi\\\" \\\\o/\"", "quotes and backslashes"},
        {"\b\f\n\r\t", 64, "appended ab\"\\b\\f\\n\\r\\t\"", "the short escapes"},
        {"\x01\x1F\x7F", 64, "appended ab\"\\u0001\\u001f\\u007f\"", "other control characters"},
        {"\xE2\x80\x9C\xC3\xA9\xF0\x9F\x98\x80", 64, "appended ab\"\xE2\x80\x9C\xC3\xA9\xF0\x9F\x98\x80\"",
         "UTF-8 as it is"},
        {"xyz", 8, "appended ab\"xyz\"", "fills the room to its terminator"},
        {"xyzw", 8, "refused ab", "one byte more is refused whole"},
        {"\n", 6, "refused ab", "an escape that would not fit whole"},
        {"\x01", 9, "refused ab", "a \\u00XX that would not fit whole"},
        {"\x01", 11, "appended ab\"\\u0001\"", "a \\u00XX that fits exactly"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(append(c.text, c.room), c.shown) << c.proves;
}

TEST(JsonAppendString, ReadsBackAsWritten) {
    // Every byte but NUL, through the writer and back through the reader.
    std::string all;
    for (int b = 1; b <= 0xFF; ++b)
        all += static_cast<char>(b);
    char body[jsonStringSize(255) + 8];
    std::size_t used = 0;
    ASSERT_TRUE(jsonAppendRaw(body, sizeof body, used, "{\"text\":"));
    ASSERT_TRUE(jsonAppendString(body, sizeof body, used, all.c_str()));
    ASSERT_TRUE(jsonAppendRaw(body, sizeof body, used, "}"));
    char back[300];
    ASSERT_EQ(jsonStringField(body, used, "text", back, sizeof back), JsonField::found);
    EXPECT_EQ(std::string(back), all);
    // The worst case fits the size given for it.
    std::string controls(255, '\x01');
    char worst[jsonStringSize(255)];
    used = 0;
    EXPECT_TRUE(jsonAppendString(worst, sizeof worst, used, controls.c_str()));
    EXPECT_EQ(used, sizeof worst - 1);
}

}  // namespace
