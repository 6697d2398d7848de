#include "status_text.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace {

const std::uint32_t kReplacement = 0xFFFD;
const std::uint32_t kJoiner = 0x200D;
const std::uint32_t kEllipsis = 0x2026;

// Runs of code points that go with the character before them: the first
// shifted left by 11, ORed with the run's length less one.
const std::uint32_t kMarkRuns[] = {
#include "marks_table.inc"
};

bool belongsToPrevious(std::uint32_t c) {
    const std::uint32_t* after = std::upper_bound(std::begin(kMarkRuns), std::end(kMarkRuns), c << 11 | 0x7FF);
    if (after == std::begin(kMarkRuns))
        return false;
    std::uint32_t run = after[-1];
    return c - (run >> 11) <= (run & 0x7FF);
}

// The next code point of s, moving s past it. Well-formed sequences as
// Unicode's table of them gives; a lead byte followed by fewer continuation
// bytes than it needs, or a byte no sequence starts with, is one maximal
// ill-formed part and reads as U+FFFD.
std::uint32_t nextCodePoint(const unsigned char*& s) {
    unsigned char lead = *s++;
    if (lead < 0x80)
        return lead;
    std::size_t more;
    std::uint32_t c;
    unsigned char low = 0x80, high = 0xBF;  // the range of the byte after the lead
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, c = lead & 0x0Fu;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, c = lead & 0x07u;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;  // nothing past U+10FFFF
    } else {
        return kReplacement;
    }
    for (std::size_t i = 0; i < more; ++i, low = 0x80, high = 0xBF) {
        if (*s < low || *s > high)
            return kReplacement;  // the terminator too: it is never taken
        c = c << 6 | (*s++ & 0x3Fu);
    }
    return c;
}

char* putCodePoint(char* out, std::uint32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | c >> 6);
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *out++ = static_cast<char>(0xE0 | c >> 12);
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | c >> 18);
        *out++ = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool isWhiteSpace(std::uint32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

}  // namespace

bool statusText(char* dest, const char* src, std::size_t limit) {
    const unsigned char* const text = reinterpret_cast<const unsigned char*>(src);
    // Where a cut would go: the last place, with room for the ellipsis
    // after it, that splits no character.
    const unsigned char* cut = text;
    const unsigned char* s = text;
    std::size_t count = 0;
    std::uint32_t previous = 0;
    while (*s && count <= limit) {
        const unsigned char* here = s;
        std::uint32_t c = nextCodePoint(s);
        if (count < limit && (count == 0 || (previous != kJoiner && !belongsToPrevious(c))))
            cut = here;
        previous = c;
        ++count;
    }
    const unsigned char* end = count > limit ? cut : s;
    char* out = dest;
    for (s = text; s < end;)
        out = putCodePoint(out, nextCodePoint(s));
    if (count > limit)
        out = putCodePoint(out, kEllipsis);
    *out = '\0';
    return count > limit;
}

std::size_t codePointCount(const char* src) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t count = 0;
    for (; *s; ++count)
        nextCodePoint(s);
    return count;
}

bool isBlankText(const char* text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    while (*s)
        if (!isWhiteSpace(nextCodePoint(s)))
            return false;
    return true;
}
