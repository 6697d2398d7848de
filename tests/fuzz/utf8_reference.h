// The fuzzers' own idea of well-formed UTF-8, written apart from the rules
// they check, from Unicode's table of well-formed byte sequences.
#pragma once
#include <cstddef>
#include <string>

// Bytes of the well-formed sequence that starts at byte i of s, or 0 where
// none does there.
inline std::size_t wellFormedAt(const std::string& s, std::size_t i) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    std::size_t n = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        unsigned char low = 0x80, high = 0xBF;
        if (k == 1 && b == 0xE0) low = 0xA0;
        if (k == 1 && b == 0xED) high = 0x9F;
        if (k == 1 && b == 0xF0) low = 0x90;
        if (k == 1 && b == 0xF4) high = 0x8F;
        if (c < low || c > high)
            return 0;
    }
    return n;
}
