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

// One for each account, the first from the settings' own section; set by start-up
// before the link thread starts, then only read by posters and the shell.
extern ServiceAddress g_services[kMaxAccounts];
extern unsigned g_accountCount;  // accounts read; the first is always there

// What start-up makes of the settings' `service` value.
enum ServiceCheck {
    kServiceUsable,        // taken; an empty value keeps the usual service
    kServiceNotUnderstood, // not an http or https address that can be used
    kMastodonOverHttp,     // servers reached over https alone, named over plain http
    kBlueskyOverHttp,
};

// Takes the `service` value of an account's section; an empty one is the
// usual service. Nothing changes unless it is usable. Start-up calls it for
// the first account whatever its section holds.
ServiceCheck setServiceAddress(unsigned account, const char* address);
