// Where status updates go: the usual service, or the address the settings
// name instead.
#pragma once
#include <windows.h>
#include <wininet.h>

#include "service_rules.h"

struct ServiceAddress {
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    INTERNET_PORT port;
    char path[512];  // with its query, as requested
    DWORD flags;     // of the request
    PostingWay way;  // what request is made there
};

// Set by start-up before the link thread starts, then only read by posters.
extern ServiceAddress g_service;

// What start-up makes of the settings' `service` value.
enum ServiceCheck {
    kServiceUsable,        // taken; an empty value keeps the usual service
    kServiceNotUnderstood, // not an http or https address that can be used
    kMastodonOverHttp,     // servers reached over https alone, named over plain http
    kBlueskyOverHttp,
};

// Takes the settings' `service` value; nothing changes unless it is usable.
ServiceCheck setServiceAddress(const char* address);
