// The Content-Length rule against strtoll on a terminated copy, clamped: the
// rule reads only its `size` bytes and stays within 0..kMaxResponseRead. The
// same bytes, terminated, as a service address: its port rule stays within
// its terminator and gives -1 or a port.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../../poster/form_encode.h"
#include "../../poster/service_rules.h"

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
    long port = servicePort(copy.c_str());
    if (port < -1 || port > 65535) {
        std::fprintf(stderr, "service address [%s]: port %ld\n", copy.c_str(), port);
        std::abort();
    }
    return 0;
}
