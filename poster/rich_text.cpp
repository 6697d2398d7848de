#include "rich_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

// The library runs its regular expressions over the text: each rule below
// says which one it follows and where ours departs from it.
namespace {

#include "rich_text_tables.inc"

bool inRuns(const std::uint32_t* first, const std::uint32_t* last, std::uint32_t c) {
    const std::uint32_t* after = std::upper_bound(first, last, c << 11 | 0x7FF);
    return after != first && c - (after[-1] >> 11) <= (after[-1] & 0x7FF);
}

bool isPunctuation(std::uint32_t c) {
    return inRuns(std::begin(kPunctuationRuns), std::end(kPunctuationRuns), c);
}

// \s; the start of the text is not a character, so "none" (0) is not space.
bool isSpace(std::uint32_t c) {
    return c != 0 && inRuns(std::begin(kSpaceRuns), std::end(kSpaceRuns), c);
}

bool isAsciiLetter(std::uint32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(std::uint32_t c) {
    return c >= '0' && c <= '9';
}

bool isAsciiAlnum(std::uint32_t c) {
    return isAsciiLetter(c) || isAsciiDigit(c);
}

// The character at s, its length in bytes into `length`: a well-formed
// sequence whole, any other byte alone (as U+FFFD), the terminator as 0.
std::uint32_t charAt(const unsigned char* s, std::size_t& length) {
    unsigned char lead = s[0];
    length = 1;
    if (lead < 0x80)
        return lead;
    std::size_t more;
    std::uint32_t c;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2, c = lead & 0x0Fu;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, c = lead & 0x07u;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0xFFFD;
    }
    for (std::size_t i = 1; i <= more; ++i, low = 0x80, high = 0xBF) {
        if (s[i] < low || s[i] > high)
            return 0xFFFD;  // the terminator too: it is never taken
        c = c << 6 | (s[i] & 0x3Fu);
    }
    length = more + 1;
    return c;
}

std::uint32_t charAt(const unsigned char* s) {
    std::size_t length;
    return charAt(s, length);
}

// The text, and the character before each place a rule may start at.
struct Text {
    const unsigned char* bytes;
    std::size_t size;
};

// Walks the text character by character, remembering the one before.
struct Walk {
    std::size_t at = 0;
    std::uint32_t before = 0;  // 0 at the start of the text
};

void step(const Text& text, Walk& w) {
    std::size_t length;
    w.before = charAt(text.bytes + w.at, length);
    w.at += length;
}

// Where the run of characters that `keep` takes ends, from byte `at`.
template <typename Keep>
std::size_t runEnd(const Text& text, std::size_t at, Keep keep) {
    std::size_t length;
    while (at < text.size && keep(charAt(text.bytes + at, length)))
        at += length;
    return at;
}

// Whether domain[0, size) ends in "." and a top-level domain of the list,
// compared as the library does, letter case included.
bool endsInTopLevelDomain(const char* domain, std::size_t size) {
    const char* dot = static_cast<const char*>(std::memchr(domain, '.', size));
    if (!dot)
        return false;
    while (const char* next = static_cast<const char*>(std::memchr(dot + 1, '.', size - static_cast<std::size_t>(dot + 1 - domain))))
        dot = next;
    const char* label = dot + 1;
    std::size_t labelSize = size - static_cast<std::size_t>(label - domain);
    char entry[64];
    std::size_t entrySize = 0;
    bool atStart = true;  // the next code is how much the entry shares with the one before
    for (unsigned i = 0; i < kTopLevelDomainCodes; ++i) {
        unsigned bit = i * 5;
        unsigned code = (kTopLevelDomains[bit >> 3] | kTopLevelDomains[(bit >> 3) + 1] << 8) >> (bit & 7) & 31;
        if (atStart) {
            entrySize = code;
            atStart = false;
        } else if (code == 0) {
            if (entrySize == labelSize && std::memcmp(entry, label, labelSize) == 0)
                return true;
            atStart = true;
        } else if (entrySize < sizeof entry) {
            entry[entrySize++] = code == 27 ? '-' : static_cast<char>('a' + code - 1);
        }
    }
    return false;
}

bool endsWith(const char* s, std::size_t size, const char* tail) {
    std::size_t tailSize = std::strlen(tail);
    return size >= tailSize && std::memcmp(s + size - tailSize, tail, tailSize) == 0;
}

struct Found {
    Facet* facets;
    std::size_t room;
    std::size_t count;
};

void add(Found& found, FacetKind kind, std::size_t start, std::size_t end, std::size_t valueStart) {
    if (found.count < found.room)
        found.facets[found.count++] = Facet{kind, start, end, valueStart, nullptr};
}

bool isWordChar(std::uint32_t c) {
    return isAsciiAlnum(c) || c == '_';
}

bool isHandleChar(std::uint32_t c) {
    return isAsciiAlnum(c) || c == '.' || c == '-';
}

// /(^|\s|\()(@)([a-zA-Z0-9.-]+)(\b)/g: the longest run of handle characters
// that ends at a word boundary, kept when it ends in a listed top-level
// domain or in ".test".
void findMentions(const Text& text, Found& found) {
    for (Walk w; w.at < text.size;) {
        if (text.bytes[w.at] == '@' && (w.at == 0 || isSpace(w.before) || w.before == '(')) {
            std::size_t first = w.at + 1;
            std::size_t end = runEnd(text, first, isHandleChar);
            // \b: back from the end of the run to the first place between a
            // word character and another.
            while (end > first && isWordChar(text.bytes[end - 1]) == isWordChar(charAt(text.bytes + end)))
                --end;
            if (end > first) {
                const char* handle = reinterpret_cast<const char*>(text.bytes + first);
                std::size_t size = end - first;
                if (endsInTopLevelDomain(handle, size) || endsWith(handle, size, ".test"))
                    add(found, FacetKind::mention, w.at, end, first);
                w.at = end;  // the library goes on after the match, kept or not
                w.before = text.bytes[end - 1];
                continue;
            }
        }
        step(text, w);
    }
}

bool startsWithNoCase(const unsigned char* s, std::size_t size, const char* head) {
    for (std::size_t i = 0; head[i]; ++i)
        if (i >= size || (s[i] | 0x20) != static_cast<unsigned char>(head[i]))
            return false;
    return true;
}

bool isNotSpace(std::uint32_t c) {
    return !isSpace(c);
}

// The part of [https?://\S+] after the scheme, when the token starts with one.
std::size_t schemeLength(const unsigned char* s, std::size_t size) {
    std::size_t length = startsWithNoCase(s, size, "https://") ? 8 : startsWithNoCase(s, size, "http://") ? 7 : 0;
    return length && length < size ? length : 0;
}

// /(^|\s|\()((https?:\/\/[\S]+)|((?<domain>[a-z][a-z0-9]*(\.[a-z0-9]+)+)[\S]*))/gim:
// a token runs to the next white space. With a scheme it is linked as it is
// where that scheme is in small letters (the library skips it otherwise).
// Without one it must start with a domain whose last label is on the list.
// Then one trailing . , ; : ! or ? is dropped, and then a ")" where the
// token holds no "(". Ours departs where the library would send a link
// that is no URI, which the server refuses with the whole post: a bare
// domain that starts with "http" (httpbin.org, say) is linked as https://
// like any other, and an address with nothing but "/" after its scheme is
// left plain.
void findLinks(const Text& text, Found& found) {
    for (Walk w; w.at < text.size;) {
        if (!(w.at == 0 || isSpace(w.before) || w.before == '(')) {
            step(text, w);
            continue;
        }
        const unsigned char* s = text.bytes + w.at;
        std::size_t end = runEnd(text, w.at, isNotSpace);
        std::size_t size = end - w.at;
        std::size_t scheme = schemeLength(s, size);
        FacetKind kind = FacetKind::link;
        if (!scheme) {
            if (!isAsciiLetter(s[0])) {
                step(text, w);
                continue;
            }
            std::size_t domain = 1, labels = 0;
            while (domain < size && isAsciiAlnum(s[domain]))
                ++domain;
            while (domain + 1 < size && s[domain] == '.' && isAsciiAlnum(s[domain + 1])) {
                for (++domain; domain < size && isAsciiAlnum(s[domain]);)
                    ++domain;
                ++labels;
            }
            if (!labels) {
                step(text, w);
                continue;
            }
            kind = FacetKind::bareLink;
            if (!endsInTopLevelDomain(reinterpret_cast<const char*>(s), domain)) {
                w.at = end;  // matched, and passed over whole
                w.before = 'x';
                continue;
            }
        }
        bool small = kind == FacetKind::bareLink || std::memcmp(s, "http", 4) == 0;
        std::size_t linkEnd = end;
        if (std::strchr(".,;:!?", text.bytes[linkEnd - 1]))
            --linkEnd;
        if (text.bytes[linkEnd - 1] == ')' && !std::memchr(s, '(', linkEnd - w.at))
            --linkEnd;
        bool isUri = kind == FacetKind::bareLink || (linkEnd > w.at + scheme && s[scheme] != '/');
        if (small && isUri)
            add(found, kind, w.at, linkEnd, w.at);
        w.at = end;
        w.before = 'x';  // anything but white space or "(": the token's last character
    }
}

bool isTagStop(std::uint32_t c) {
    return isSpace(c) || c == 0x00AD || c == 0x2060 || c == 0x200A || c == 0x200B || c == 0x200C || c == 0x200D ||
           c == 0x20E2;
}

// /(^|\s)[#＃]((?!\ufe0f)[^\s…]*[^\d\s\p{P}…]+[^\s…]*)?/gu, where … are the
// invisible characters of isTagStop: the run after the sign up to one of
// those, when it holds a character that is neither a digit nor punctuation
// and does not start with U+FE0F; the punctuation at its end is dropped, and
// a tag of more than 64 UTF-16 code units is left plain.
void findTags(const Text& text, Found& found) {
    for (Walk w; w.at < text.size; step(text, w)) {
        std::size_t signLength;
        std::uint32_t sign = charAt(text.bytes + w.at, signLength);
        if ((sign != '#' && sign != 0xFF03) || (w.at != 0 && !isSpace(w.before)))
            continue;
        std::size_t first = w.at + signLength;
        std::size_t length;
        bool tagged = false;
        std::size_t tagEnd = first, units = 0;  // after the last character that is not punctuation
        for (std::size_t at = first, count = 0; at < text.size; at += length) {
            std::uint32_t c = charAt(text.bytes + at, length);
            if (isTagStop(c) || (at == first && c == 0xFE0F))
                break;
            count += c >= 0x10000 ? 2 : 1;
            if (!isPunctuation(c)) {
                tagEnd = at + length, units = count;
                if (!isAsciiDigit(c))
                    tagged = true;
            }
        }
        if (tagged && units <= 64)
            add(found, FacetKind::tag, w.at, tagEnd, first);
        // Whether kept or not, what follows is no white space: the next
        // sign the walk meets cannot start a tag.
    }
}

bool isTickerEnd(std::uint32_t c) {
    return c == 0 || isSpace(c) || (c < 0x80 && std::strchr(".,;:!?)\"'", static_cast<int>(c))) || c == 0x2019;
}

// /(^|\s|\()\$([A-Za-z][A-Za-z0-9]{0,4})(?=\s|$|[.,;:!?)"'\u2019])/gu: one
// to five letters and digits, a letter first, followed by the end, white
// space or one of those marks.
void findCashtags(const Text& text, Found& found) {
    for (Walk w; w.at < text.size; step(text, w)) {
        if (text.bytes[w.at] != '$' || !(w.at == 0 || isSpace(w.before) || w.before == '('))
            continue;
        std::size_t first = w.at + 1;
        std::size_t end = runEnd(text, first, isAsciiAlnum);
        if (end > first && end - first <= 5 && isAsciiLetter(text.bytes[first]) && isTickerEnd(charAt(text.bytes + end)))
            add(found, FacetKind::cashtag, w.at, end, w.at);
    }
}

}  // namespace

std::size_t findFacets(const char* source, Facet* facets, std::size_t room) {
    const Text text = {reinterpret_cast<const unsigned char*>(source), std::strlen(source)};
    Found found = {facets, room, 0};
    findMentions(text, found);
    findLinks(text, found);
    findTags(text, found);
    findCashtags(text, found);
    // In the order of their starts, as the library sorts them. By insertion,
    // which keeps the order of equal ones as the library's sort does, and
    // asks for no memory (stable_sort would, and bring the C++ run time's
    // allocation and exceptions into the program with it).
    for (std::size_t i = 1; i < found.count; ++i) {
        Facet moving = facets[i];
        std::size_t k = i;
        for (; k > 0 && facets[k - 1].start > moving.start; --k)
            facets[k] = facets[k - 1];
        facets[k] = moving;
    }
    return found.count;
}

std::size_t dropFacetsFrom(Facet* facets, std::size_t count, std::size_t byte) {
    return static_cast<std::size_t>(
        std::remove_if(facets, facets + count, [byte](const Facet& f) { return f.end >= byte; }) - facets);
}

bool isQueryHandle(const char* handle, std::size_t length) {
    if (length == 0 || length > kHandleMax)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (!isHandleChar(static_cast<unsigned char>(handle[i])))
            return false;
    return true;
}

bool isDid(const char* text) {
    if (std::strncmp(text, "did:", 4) != 0)
        return false;
    const char* p = text + 4;
    while (*p >= 'a' && *p <= 'z')
        ++p;
    if (p == text + 4 || *p++ != ':' || !*p)
        return false;
    for (; *p; ++p)
        if (!(isAsciiAlnum(static_cast<unsigned char>(*p)) || std::strchr("._:%-", *p)))
            return false;
    return p[-1] != ':' && p[-1] != '%' && static_cast<std::size_t>(p - text) <= kDidMax;
}
