// The typed mood's box: whatever an edit makes of a text that fit, what is
// kept fits the bound, keeps the text before and after the edit, and splits
// no surrogate pair it had whole; the line under the box takes any bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "../../app/mood_box_rules.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "mood box: %s\n", why);
    std::abort();
}

bool isHigh(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLow(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The input as two UTF-16 texts, cut where the first unit says, and a bound.
void checkFit(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return;
    std::size_t bytesMax = data[0];
    std::wstring units;
    for (std::size_t i = 3; i + 1 < size; i += 2)
        units.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    std::size_t cut = static_cast<std::size_t>(data[1] | data[2] << 8) % (units.size() + 1);
    std::wstring before = units.substr(0, cut), after = units.substr(cut);
    if (utf8Size(before.c_str(), before.size()) > bytesMax)
        return;  // the box never holds more
    std::wstring kept = after + L'\0';
    std::size_t caret = 0;
    std::size_t length = fitTypedText(before.c_str(), before.size(), &kept[0], after.size(), bytesMax, caret);
    if (length > after.size() || caret > length || kept[length] != L'\0')
        fail("length, caret or terminator out of place");
    if (utf8Size(kept.c_str(), length) > bytesMax)
        fail("more than the bound kept");
    if (kept.compare(0, caret, after, 0, caret) != 0 ||
        kept.compare(caret, length - caret, after, after.size() - (length - caret), length - caret) != 0)
        fail("not the edit's start and end around what was kept of it");
    // A pair the edit had whole is kept whole or not at all.
    if (caret > 0 && caret < after.size() && isHigh(after[caret - 1]) && isLow(after[caret]) &&
        (caret == length || kept[caret] != after[caret]))
        fail("half a pair kept");
}

void checkLine(const std::uint8_t* data, std::size_t size) {
    std::string mood(reinterpret_cast<const char*>(data), size);
    char line[kMoodCounterSize];
    for (PostingWay way : {kStatusUpdate, kMastodon, kBluesky}) {
        moodCounterLine(line, mood.c_str(), way);
        if (std::string(line).size() >= kMoodCounterSize)
            fail("line longer than its room");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkFit(data, size);
    checkLine(data, size);
    return 0;
}
