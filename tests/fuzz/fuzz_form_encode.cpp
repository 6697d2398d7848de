// The form encoder: only the unencoded set, "+" and "%XX"; never past its
// room; decodes to a prefix of whole characters, the longest that fits.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../poster/form_encode.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "form encoding: %s\n", why);
    std::abort();
}

bool unencoded(unsigned char b) {
    return (b != 0 && std::strchr("@*-._", b)) || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
           (b >= 'a' && b <= 'z');
}

std::size_t encodedLength(const std::string& text, std::size_t from, std::size_t to) {
    std::size_t n = 0;
    for (std::size_t i = from; i < to; ++i) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        n += (b == ' ' || unencoded(b)) ? 1 : 3;
    }
    return n;
}

bool continuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Continuation bytes a lead byte announces.
std::size_t announced(unsigned char b) {
    if (b >= 0xC0 && b <= 0xDF)
        return 1;
    if (b >= 0xE0 && b <= 0xEF)
        return 2;
    if (b >= 0xF0 && b <= 0xF7)
        return 3;
    return 0;
}

// Whether a cut before text[at] splits no character: at is not a continuation
// byte that the nearest lead byte before it still claims.
bool characterBoundary(const std::string& text, std::size_t at) {
    if (at == 0 || at >= text.size() || !continuation(static_cast<unsigned char>(text[at])))
        return true;
    std::size_t lead = at;
    while (lead > 0 && continuation(static_cast<unsigned char>(text[lead - 1])))
        --lead;
    if (lead == 0)
        return true;  // stray continuation bytes from the start
    --lead;
    return at - lead > announced(static_cast<unsigned char>(text[lead]));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;  // lower case hex is wrong too
}

void check(const std::string& text) {
    const std::size_t guard = 64;
    char* dest = new char[kEncodedRoom + 1 + guard];
    std::memset(dest, 0x5A, kEncodedRoom + 1 + guard);
    formEncode(dest, text.c_str(), kEncodedRoom);
    for (std::size_t i = kEncodedRoom + 1; i < kEncodedRoom + 1 + guard; ++i)
        if (dest[i] != 0x5A)
            fail("wrote past the room");
    const char* end = static_cast<const char*>(std::memchr(dest, '\0', kEncodedRoom + 1));
    if (!end)
        fail("not terminated within the room");
    const std::string encoded(dest, static_cast<std::size_t>(end - dest));
    delete[] dest;

    // Decode, insisting on the one encoding of every byte.
    std::string decoded;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(encoded[i]);
        if (c == '+') {
            decoded += ' ';
        } else if (unencoded(c)) {
            decoded += static_cast<char>(c);
        } else if (c == '%' && i + 2 < encoded.size()) {
            int high = hexValue(encoded[i + 1]), low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0)
                fail("not capital hex after %");
            unsigned char b = static_cast<unsigned char>(high * 16 + low);
            if (b == ' ' || unencoded(b))
                fail("encoded a byte that goes as it is");
            decoded += static_cast<char>(b);
            i += 2;
        } else {
            fail("a byte outside the output set, or a cut %XX");
        }
    }

    // The text as the encoder sees it: up to the terminator.
    const std::string whole = text.substr(0, std::strlen(text.c_str()));
    if (decoded.size() > whole.size() || whole.compare(0, decoded.size(), decoded) != 0)
        fail("not a prefix of the text");
    if (!characterBoundary(whole, decoded.size()))
        fail("cut inside a character");
    if (decoded.size() < whole.size()) {
        // Cut: the next whole character would not have fitted.
        std::size_t next = decoded.size() + 1;
        while (!characterBoundary(whole, next))
            ++next;
        if (encoded.size() + encodedLength(whole, decoded.size(), next) <= kEncodedRoom)
            fail("cut short although the next character fits");
        if (encodedLength(whole, 0, whole.size()) <= kEncodedRoom)
            fail("the whole encoding fits but was cut");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    check(text);
    // The same bytes again right at the edge of the room, where the cut is.
    if (size > 0)
        check(std::string(kEncodedRoom - data[0] % 32, 'a') + text);
    return 0;
}
