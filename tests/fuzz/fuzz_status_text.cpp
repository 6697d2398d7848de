// The status text: always well-formed UTF-8 within the limit, never past its
// buffer (sized exactly, so the sanitizer sees any overrun); the text
// itself when it fits, else a prefix of it and the ellipsis.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../poster/status_text.h"
#include "utf8_reference.h"

namespace {

void fail(const char* why) {
    std::fprintf(stderr, "status text: %s\n", why);
    std::abort();
}

// Code points of a text, or -1 when it is not well-formed UTF-8.
long codePoints(const std::string& s) {
    long count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) {
        std::size_t n = wellFormedAt(s, i);
        if (n == 0)
            return -1;
        i += n;
    }
    return count;
}

std::string statusOf(const std::string& mood, std::size_t limit) {
    char* out = new char[statusTextSize(limit)];
    statusText(out, mood.c_str(), limit);
    std::string text(out);
    delete[] out;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    std::size_t limit = 1 + data[0] % 40;
    std::string mood(reinterpret_cast<const char*>(data) + 1, size - 1);
    mood = mood.substr(0, std::strlen(mood.c_str()));
    std::string text = statusOf(mood, limit);
    long count = codePoints(text);
    if (count < 0)
        fail("not well-formed");
    if (count > static_cast<long>(limit))
        fail("more code points than the limit");
    std::string whole = statusOf(mood, mood.size() + 1);  // no more code points than bytes: never cut
    if (codePoints(mood) >= 0 && whole != mood)
        fail("a well-formed text was changed");
    if (codePoints(whole) <= static_cast<long>(limit)) {
        if (text != whole)
            fail("a text within the limit was cut");
    } else {
        const std::string ellipsis = "\xE2\x80\xA6";
        if (text.size() < 3 || text.compare(text.size() - 3, 3, ellipsis) != 0)
            fail("a cut text does not end with the ellipsis");
        if (whole.compare(0, text.size() - 3, text, 0, text.size() - 3) != 0)
            fail("a cut text is not a prefix of the whole");
    }
    (void)isBlankText(text.c_str());
    return 0;
}
