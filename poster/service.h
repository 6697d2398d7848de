// Where status updates go: the usual service, or the address the settings
// name instead.
#pragma once
#include <windows.h>
#include <wininet.h>

struct ServiceAddress {
    char host[INTERNET_MAX_HOST_NAME_LENGTH];
    INTERNET_PORT port;
    char path[512];  // with its query, as requested
    DWORD flags;     // of the request
};

// Set by start-up before the link thread starts, then only read by posters.
extern ServiceAddress g_service;

// Takes the settings' `service` value; an empty one keeps the usual service.
// False, with nothing changed, when the value is not an http or https
// address that can be used.
bool setServiceAddress(const char* address);
