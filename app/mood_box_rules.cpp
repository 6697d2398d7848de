#include "mood_box_rules.h"

#include <cstring>

#include "../poster/status_text.h"

namespace {

bool isHigh(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLow(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Bytes of the unit at units[i], or of the pair it starts; `taken` says how
// many units that was.
std::size_t unitSize(const wchar_t* units, std::size_t i, std::size_t count, std::size_t& taken) {
    unsigned long c = static_cast<unsigned long>(units[i]) & 0xFFFF;
    taken = 1;
    if (isHigh(units[i]) && i + 1 < count && isLow(units[i + 1])) {
        taken = 2;
        return 4;
    }
    return c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
}

// How many units of units[0..count) fit into `room` bytes, whole pairs only.
std::size_t unitsThatFit(const wchar_t* units, std::size_t count, std::size_t room) {
    std::size_t i = 0;
    while (i < count) {
        std::size_t taken;
        std::size_t size = unitSize(units, i, count, taken);
        if (size > room)
            break;
        room -= size;
        i += taken;
    }
    return i;
}

// The line's pieces; the longest line is well inside kMoodCounterSize.
char* append(char* out, const char* text) {
    std::size_t length = std::strlen(text);
    std::memcpy(out, text, length + 1);
    return out + length;
}

char* appendNumber(char* out, std::size_t number) {
    char digits[24];
    char* first = digits + sizeof digits - 1;
    *first = '\0';
    do {
        *--first = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number);
    return append(out, first);
}

}  // namespace

std::size_t utf8Size(const wchar_t* units, std::size_t count) {
    std::size_t bytes = 0;
    for (std::size_t i = 0, taken; i < count; i += taken)
        bytes += unitSize(units, i, count, taken);
    return bytes;
}

std::size_t fitTypedText(const wchar_t* before, std::size_t beforeCount, wchar_t* after, std::size_t afterCount,
                         std::size_t bytesMax, std::size_t& caret) {
    // What the edit left alone: the longest common start and end. The start
    // never ends inside a pair, so that the edit's own part is whole.
    std::size_t start = 0;
    while (start < beforeCount && start < afterCount && before[start] == after[start])
        ++start;
    if (start > 0 && isHigh(after[start - 1]))
        --start;
    std::size_t end = 0;
    while (end < beforeCount - start && end < afterCount - start &&
           before[beforeCount - 1 - end] == after[afterCount - 1 - end])
        ++end;
    if (end > 0 && isLow(after[afterCount - end]))
        --end;
    std::size_t kept = utf8Size(after, start) + utf8Size(after + afterCount - end, end);
    if (kept > bytesMax) {
        // Only when what was there before did not fit either: keep its start.
        caret = unitsThatFit(after, afterCount, bytesMax);
        after[caret] = 0;
        return caret;
    }
    std::size_t inserted = unitsThatFit(after + start, afterCount - start - end, bytesMax - kept);
    caret = start + inserted;
    for (std::size_t i = 0; i < end; ++i)
        after[caret + i] = after[afterCount - end + i];
    after[caret + end] = 0;
    return caret + end;
}

void moodCounterLine(char* dest, const char* mood, PostingWay way) {
    dest[0] = '\0';
    if (way != kMastodon && way != kBluesky)
        return;
    const char* name = way == kMastodon ? "Mastodon" : "Bluesky";
    std::size_t limit = way == kMastodon ? kMastodonLimit : kBlueskyLimit;
    std::size_t count = codePointCount(mood);
    char* out = dest;
    if (count <= limit) {
        std::size_t left = limit - count;
        out = append(appendNumber(out, left), left == 1 ? " character left for " : " characters left for ");
        append(out, name);
    } else {
        // The poster's cut: fewer than the limit, and U+2026 after them.
        std::size_t over = count - limit;
        out = append(append(appendNumber(out, over), over == 1 ? " character over " : " characters over "), name);
        out = append(out, "'s ");
        append(appendNumber(out, limit), ": it will be cut, ending with \xE2\x80\xA6");
    }
}
