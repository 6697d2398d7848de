#include "credentials.h"

#include <windows.h>

namespace {

// Guards both buffers; never deleted, since posters may run until the process ends.
CRITICAL_SECTION g_credentialsLock;
char g_username[kCredentialSize];
char g_password[kCredentialSize];
long g_number;  // of the pair in the two buffers

void copyCut(char* dest, const char* src) {
    lstrcpynA(dest, src, kCredentialSize);
}

}  // namespace

void initCredentials() {
    InitializeCriticalSection(&g_credentialsLock);
}

void storeCredentials(const char* username, const char* password) {
    EnterCriticalSection(&g_credentialsLock);
    copyCut(g_username, username);
    copyCut(g_password, password);
    ++g_number;
    LeaveCriticalSection(&g_credentialsLock);
}

long copyCredentials(char* username, char* password) {
    EnterCriticalSection(&g_credentialsLock);
    copyCut(username, g_username);
    copyCut(password, g_password);
    long number = g_number;
    LeaveCriticalSection(&g_credentialsLock);
    return number;
}

long credentialsNumber() {
    EnterCriticalSection(&g_credentialsLock);
    long number = g_number;
    LeaveCriticalSection(&g_credentialsLock);
    return number;
}
