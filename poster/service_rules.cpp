#include "service_rules.h"

#include <cstring>

long servicePort(const char* address) {
    for (const char* p = address; *p; ++p)
        if (static_cast<unsigned char>(*p) <= ' ' || *p == 0x7F)
            return -1;
    const char* host = std::strstr(address, "://");
    if (!host)
        return -1;
    host += 3;
    std::size_t length = std::strcspn(host, "/?#");
    if (std::memchr(host, '@', length))
        return -1;
    // A port follows the last colon, unless that colon is inside a bracketed
    // IPv6 address.
    const char* colon = NULL;
    for (const char* p = host; p < host + length; ++p) {
        if (*p == ':')
            colon = p;
        else if (*p == ']')
            colon = NULL;
    }
    if (!colon)
        return 0;
    long port = 0;
    const char* p = colon + 1;
    if (p == host + length)
        return -1;
    for (; p < host + length; ++p) {
        if (*p < '0' || *p > '9')
            return -1;
        port = port * 10 + (*p - '0');
        if (port > 65535)
            return -1;
    }
    return port == 0 ? -1 : port;
}

PostingWay postingWay(const char* path) {
    if (std::strcmp(path, "/api/v1/statuses") == 0)
        return kMastodon;
    return std::strcmp(path, "/xrpc/com.atproto.repo.createRecord") == 0 ? kBluesky : kStatusUpdate;
}

bool needsHttps(PostingWay way) {
    return way != kStatusUpdate;
}

bool accessToken(char* dest, const char* password) {
    std::size_t start = std::strspn(password, " \t");
    std::size_t end = std::strlen(password);
    while (end > start && (password[end - 1] == ' ' || password[end - 1] == '\t'))
        --end;
    dest[0] = '\0';
    for (std::size_t i = start; i < end; ++i)
        if (password[i] <= ' ' || password[i] > '~')  // char may be signed: bytes above 0x7F are negative
            return false;
    if (start == end)
        return false;
    std::memcpy(dest, password + start, end - start);
    dest[end - start] = '\0';
    return true;
}
