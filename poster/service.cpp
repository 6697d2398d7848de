#include "service.h"

#include <cstring>

#include "service_rules.h"

namespace {

// Always fetched from the server, never cached, no cookies.
const DWORD kUsualFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES;

// The credentials go to the host named and nowhere else. Followed, a redirect
// to another host, or from https to plain http, would get them too, since the
// HTTP client answers that host's challenge with the same pair.
const DWORD kNamedFlags = kUsualFlags | INTERNET_FLAG_NO_AUTO_REDIRECT;

const ServiceAddress kUsualService = {"twitter.com", INTERNET_DEFAULT_HTTP_PORT, "/statuses/update.json",
                                      kUsualFlags, kStatusUpdate};

}  // namespace

// Zero until start-up sets each one, the first always: initialized here, the
// whole table would be carried in the executable.
ServiceAddress g_services[kMaxAccounts];
unsigned g_accountCount = 1;

ServiceCheck setServiceAddress(unsigned account, const char* address) {
    ServiceAddress& service = g_services[account];
    if (!*address) {
        service = kUsualService;
        return kServiceUsable;
    }
    long port = servicePort(address);
    char host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
    char path[256] = {};
    char query[256] = {};
    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = sizeof path;
    parts.lpszExtraInfo = query;
    parts.dwExtraInfoLength = sizeof query;
    if (port < 0 || !InternetCrackUrlA(address, 0, 0, &parts) || !host[0] ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return kServiceNotUnderstood;
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    // Chosen by the path alone, which the parser ends at the query or the
    // fragment: the query is the server's business.
    PostingWay way = postingWay(path);
    if (needsHttps(way) && !secure)
        return way == kMastodon ? kMastodonOverHttp : kBlueskyOverHttp;
    std::memcpy(service.host, host, sizeof host);
    if (port == 0)
        port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    service.port = static_cast<INTERNET_PORT>(port);
    // The query goes with the path; a fragment is never sent. Both parts are
    // under 256 bytes, so they fit together.
    char* request = service.path;
    std::size_t used = path[0] ? std::strlen(path) : 1;
    std::memcpy(request, path[0] ? path : "/", used);
    std::memcpy(request + used, query, std::strlen(query) + 1);
    request[std::strcspn(request, "#")] = '\0';
    service.flags = kNamedFlags | (secure ? INTERNET_FLAG_SECURE : 0);
    service.way = way;
    return kServiceUsable;
}
