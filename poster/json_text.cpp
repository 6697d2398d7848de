#include "json_text.h"

#include <cstdint>
#include <cstring>

namespace {

// Nesting deeper than this is refused: the open containers are bits of one
// word, so skipping a value needs no recursion and no memory.
const unsigned kMaxDepth = 64;

const std::uint32_t kReplacement = 0xFFFD;

// Where the scan is, and where the text ends.
struct Scan {
    const unsigned char* at;
    const unsigned char* end;
};

// A decoded string goes to out, out_room bytes with the terminator; `length`
// counts it all, fitting or not, so the caller can tell a cut one.
struct Sink {
    char* out;
    std::size_t out_room;
    std::size_t length;
    bool zero;  // a U+0000 was decoded
};

void put(Sink& sink, unsigned char b) {
    if (sink.out && sink.length + 1 < sink.out_room)
        sink.out[sink.length] = static_cast<char>(b);
    ++sink.length;
}

void putCodePoint(Sink& sink, std::uint32_t c) {
    if (c == 0)
        sink.zero = true;
    if (c < 0x80) {
        put(sink, static_cast<unsigned char>(c));
    } else if (c < 0x800) {
        put(sink, static_cast<unsigned char>(0xC0 | c >> 6));
        put(sink, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        put(sink, static_cast<unsigned char>(0xE0 | c >> 12));
        put(sink, static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F)));
        put(sink, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    } else {
        put(sink, static_cast<unsigned char>(0xF0 | c >> 18));
        put(sink, static_cast<unsigned char>(0x80 | (c >> 12 & 0x3F)));
        put(sink, static_cast<unsigned char>(0x80 | (c >> 6 & 0x3F)));
        put(sink, static_cast<unsigned char>(0x80 | (c & 0x3F)));
    }
}

void skipBlanks(Scan& s) {
    while (s.at < s.end && (*s.at == ' ' || *s.at == '\t' || *s.at == '\n' || *s.at == '\r'))
        ++s.at;
}

// Takes the character c if it is next.
bool take(Scan& s, char c) {
    if (s.at < s.end && *s.at == static_cast<unsigned char>(c)) {
        ++s.at;
        return true;
    }
    return false;
}

int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The four hex digits of a \u escape, after the "\u".
bool readHex4(Scan& s, std::uint32_t& value) {
    if (s.end - s.at < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i) {
        int digit = hexDigit(*s.at++);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// A \u escape after the "\u", with the low half of a surrogate pair when
// one follows the high half.
bool readUnicodeEscape(Scan& s, Sink& sink) {
    std::uint32_t c;
    if (!readHex4(s, c))
        return false;
    if (c >= 0xD800 && c <= 0xDBFF && s.end - s.at >= 2 && s.at[0] == '\\' && s.at[1] == 'u') {
        Scan low = {s.at + 2, s.end};
        std::uint32_t second;
        if (!readHex4(low, second))
            return false;
        if (second >= 0xDC00 && second <= 0xDFFF) {
            s = low;
            c = 0x10000 + ((c - 0xD800) << 10) + (second - 0xDC00);
        }
    }
    putCodePoint(sink, (c >= 0xD800 && c <= 0xDFFF) ? kReplacement : c);
    return true;
}

// A string, its opening quote next; decoded into sink.
bool readString(Scan& s, Sink& sink) {
    if (!take(s, '"'))
        return false;
    while (s.at < s.end) {
        unsigned char c = *s.at++;
        if (c == '"')
            return true;
        if (c < 0x20)
            return false;  // control characters come escaped or not at all
        if (c != '\\') {
            put(sink, c);
            continue;
        }
        if (s.at == s.end)
            return false;
        static const char kEscaped[] = "\"\\/bfnrt";
        static const char kMeaning[] = "\"\\/\b\f\n\r\t";
        unsigned char e = *s.at++;
        const char* known = e ? std::strchr(kEscaped, e) : nullptr;
        if (known)
            put(sink, static_cast<unsigned char>(kMeaning[known - kEscaped]));
        else if (e != 'u' || !readUnicodeEscape(s, sink))
            return false;
    }
    return false;  // the text ends inside the string
}

bool skipString(Scan& s) {
    Sink none = {nullptr, 0, 0, false};
    return readString(s, none);
}

bool takeDigits(Scan& s) {
    const unsigned char* from = s.at;
    while (s.at < s.end && *s.at >= '0' && *s.at <= '9')
        ++s.at;
    return s.at > from;
}

// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool skipNumber(Scan& s) {
    take(s, '-');
    if (!take(s, '0') && !(s.at < s.end && *s.at >= '1' && *s.at <= '9' && takeDigits(s)))
        return false;
    if (take(s, '.') && !takeDigits(s))
        return false;
    if (take(s, 'e') || take(s, 'E')) {
        if (!take(s, '+'))
            take(s, '-');
        if (!takeDigits(s))
            return false;
    }
    return true;
}

bool takeWord(Scan& s, const char* word) {
    std::size_t n = std::strlen(word);
    if (static_cast<std::size_t>(s.end - s.at) < n || std::memcmp(s.at, word, n) != 0)
        return false;
    s.at += n;
    return true;
}

bool skipScalar(Scan& s) {
    if (s.at == s.end)
        return false;
    switch (*s.at) {
    case '"':
        return skipString(s);
    case 't':
        return takeWord(s, "true");
    case 'f':
        return takeWord(s, "false");
    case 'n':
        return takeWord(s, "null");
    default:
        return skipNumber(s);
    }
}

// A member's name and its colon, in an object being skipped.
bool skipName(Scan& s) {
    skipBlanks(s);
    if (!skipString(s))
        return false;
    skipBlanks(s);
    return take(s, ':');
}

// Any value, blanks before it included. Open containers are a stack of bits,
// 1 for an object, so brackets must match.
bool skipValue(Scan& s) {
    std::uint64_t objects = 0;
    unsigned depth = 0;
    for (;;) {
        // A value is due.
        skipBlanks(s);
        if (take(s, '{') || take(s, '[')) {
            if (depth == kMaxDepth)
                return false;
            bool object = s.at[-1] == '{';
            objects = objects << 1 | (object ? 1u : 0u);
            ++depth;
            skipBlanks(s);
            if (!take(s, object ? '}' : ']')) {
                if (object && !skipName(s))
                    return false;
                continue;
            }
            objects >>= 1;
            --depth;
        } else if (!skipScalar(s)) {
            return false;
        }
        // A value has ended: close what it ends, or go on to the next one.
        for (;;) {
            if (depth == 0)
                return true;
            bool object = objects & 1;
            skipBlanks(s);
            if (take(s, ',')) {
                if (object && !skipName(s))
                    return false;
                break;
            }
            if (!take(s, object ? '}' : ']'))
                return false;
            objects >>= 1;
            --depth;
        }
    }
}

}  // namespace

namespace {

// The object's members, after its "{"; the wanted one decoded into value.
// Tells found for a string value however long; the caller judges its length.
JsonField scanMembers(Scan& s, const char* name, Sink& value) {
    const std::size_t name_length = std::strlen(name);
    JsonField result = JsonField::absent;
    bool seen = false;
    skipBlanks(s);
    if (take(s, '}'))
        return result;
    do {
        skipBlanks(s);
        char key[kJsonNameMax + 1];
        Sink key_sink = {key, sizeof key, 0, false};
        if (!readString(s, key_sink))
            return JsonField::malformed;
        skipBlanks(s);
        if (!take(s, ':'))
            return JsonField::malformed;
        const bool wanted = name_length <= kJsonNameMax && key_sink.length == name_length && !key_sink.zero &&
                            std::memcmp(key, name, name_length) == 0;
        skipBlanks(s);
        if (wanted) {
            if (seen)
                return JsonField::malformed;
            seen = true;
            if (s.at < s.end && *s.at == '"') {
                if (!readString(s, value))
                    return JsonField::malformed;
                result = JsonField::found;
            } else if (!skipValue(s)) {
                return JsonField::malformed;
            }
        } else if (!skipValue(s)) {
            return JsonField::malformed;
        }
        skipBlanks(s);
    } while (take(s, ','));
    return take(s, '}') ? result : JsonField::malformed;
}

}  // namespace

JsonField jsonStringField(const char* text, std::size_t size, const char* name, char* dest, std::size_t room) {
    if (room == 0)
        return JsonField::unfit;
    const unsigned char* start = reinterpret_cast<const unsigned char*>(text);
    Scan s = {start, start + size};
    Sink value = {dest, room, 0, false};
    skipBlanks(s);
    JsonField result = take(s, '{') ? scanMembers(s, name, value) : JsonField::malformed;
    skipBlanks(s);
    if (s.at != s.end)
        result = JsonField::malformed;
    if (result == JsonField::found && (value.zero || value.length >= room))
        result = JsonField::unfit;
    dest[result == JsonField::found ? value.length : 0] = '\0';
    return result;
}

bool jsonAppendRaw(char* dest, std::size_t room, std::size_t& used, const char* raw) {
    std::size_t n = std::strlen(raw);
    if (used >= room || n >= room - used)
        return false;
    std::memcpy(dest + used, raw, n + 1);
    used += n;
    return true;
}

namespace {

// The JSON string of text at dest + at, quotes included; false when it
// does not fit with a terminator after it. Writes nothing past room.
bool writeString(char* dest, std::size_t room, std::size_t& at, const unsigned char* s) {
    static const char hex[] = "0123456789abcdef";
    static const char kEscaped[] = "\"\\\b\f\n\r\t";
    static const char kShort[] = "\"\\bfnrt";
    // Whether b bytes more fit with the terminator after them.
    auto fits = [&](std::size_t b) { return b < room - at; };
    if (!fits(1))
        return false;
    dest[at++] = '"';
    for (; *s; ++s) {
        const char* escaped = std::strchr(kEscaped, *s);
        if (escaped) {
            if (!fits(2))
                return false;
            dest[at++] = '\\';
            dest[at++] = kShort[escaped - kEscaped];
        } else if (*s < 0x20 || *s == 0x7F) {
            if (!fits(6))
                return false;
            dest[at++] = '\\';
            dest[at++] = 'u';
            dest[at++] = '0';
            dest[at++] = '0';
            dest[at++] = hex[*s >> 4];
            dest[at++] = hex[*s & 15];
        } else {
            if (!fits(1))
                return false;
            dest[at++] = static_cast<char>(*s);
        }
    }
    if (!fits(1))
        return false;
    dest[at++] = '"';
    return true;
}

}  // namespace

bool jsonAppendString(char* dest, std::size_t room, std::size_t& used, const char* text) {
    if (used >= room)
        return false;
    std::size_t at = used;
    if (!writeString(dest, room, at, reinterpret_cast<const unsigned char*>(text))) {
        dest[used] = '\0';
        return false;
    }
    dest[at] = '\0';
    used = at;
    return true;
}
