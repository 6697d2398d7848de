#include "form_encode.h"

namespace {

bool passesUnencoded(unsigned char b) {
    return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') ||
           b == '@' || b == '*' || b == '-' || b == '.' || b == '_';
}

std::size_t encodedSize(unsigned char b) {
    return (b == ' ' || passesUnencoded(b)) ? 1 : 3;
}

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Bytes of the character starting at s: a UTF-8 lead byte takes the
// continuation bytes it announces (as many as follow); any other byte stands
// alone, so stray or cut sequences still move forward one byte at a time.
std::size_t characterSize(const unsigned char* s) {
    std::size_t want = 1;
    if (s[0] >= 0xF0 && s[0] <= 0xF7)
        want = 4;
    else if (s[0] >= 0xE0)
        want = s[0] <= 0xEF ? 3 : 1;
    else if (s[0] >= 0xC0)
        want = 2;
    std::size_t n = 1;
    while (n < want && isContinuation(s[n]))
        ++n;
    return n;
}

}  // namespace

void formEncode(char* dest, const char* src, std::size_t room) {
    static const char hex[] = "0123456789ABCDEF";
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    std::size_t used = 0;
    while (*s) {
        std::size_t bytes = characterSize(s);
        std::size_t need = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            need += encodedSize(s[i]);
        if (used + need > room)
            break;
        for (std::size_t i = 0; i < bytes; ++i, ++s) {
            if (*s == ' ') {
                dest[used++] = '+';
            } else if (passesUnencoded(*s)) {
                dest[used++] = static_cast<char>(*s);
            } else {
                dest[used++] = '%';
                dest[used++] = hex[*s >> 4];
                dest[used++] = hex[*s & 15];
            }
        }
    }
    dest[used] = '\0';
}

long responseReadSize(const char* text, std::size_t size) {
    std::size_t i = 0;
    while (i < size && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < size && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long n = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (text[i] - '0');
        if (n > kMaxResponseRead)
            n = kMaxResponseRead + 1;  // saturate: the value only needs to be known as "too big"
    }
    if (negative && n > 0)
        return 0;
    return n > kMaxResponseRead ? kMaxResponseRead : n;
}
