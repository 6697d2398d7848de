// The Content-Length rule against strtoll on a terminated copy, clamped: the
// rule reads only its `size` bytes and stays within 0..kMaxResponseRead.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../poster/form_encode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly `size` readable bytes, as the header query leaves them.
    char* text = new char[size];
    std::memcpy(text, data, size);
    long got = responseReadSize(text, size);
    delete[] text;

    const std::string copy(reinterpret_cast<const char*>(data), size);
    errno = 0;
    long long value = std::strtoll(copy.c_str(), nullptr, 10);  // saturates out of range
    long expected = value < 0 ? 0 : value > kMaxResponseRead ? kMaxResponseRead : static_cast<long>(value);

    if (got < 0 || got > kMaxResponseRead || got != expected) {
        std::fprintf(stderr, "Content-Length [%s]: read %ld, expected %ld\n", copy.c_str(), got, expected);
        std::abort();
    }
    return 0;
}
