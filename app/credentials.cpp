#include "credentials.h"

#include <windows.h>

#include "../poster/service_rules.h"

namespace {

// Guards both buffers; never deleted, since posters may run until the process ends.
CRITICAL_SECTION g_credentialsLock;
char g_username[kCredentialSize];
char g_password[kCredentialSize];
long g_number;  // of the pair in the two buffers

// The further accounts' pairs, index 0 unused: written before posters start.
char g_furtherUsernames[kMaxAccounts][kCredentialSize];
char g_furtherPasswords[kMaxAccounts][kCredentialSize];

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

void storeFurtherCredentials(unsigned account, const char* username, const char* password) {
    copyCut(g_furtherUsernames[account], username);
    copyCut(g_furtherPasswords[account], password);
}

long copyCredentials(unsigned account, char* username, char* password) {
    if (account) {
        copyCut(username, g_furtherUsernames[account]);
        copyCut(password, g_furtherPasswords[account]);
        return 1;
    }
    EnterCriticalSection(&g_credentialsLock);
    copyCut(username, g_username);
    copyCut(password, g_password);
    long number = g_number;
    LeaveCriticalSection(&g_credentialsLock);
    return number;
}

long credentialsNumber(unsigned account) {
    if (account)
        return 1;
    EnterCriticalSection(&g_credentialsLock);
    long number = g_number;
    LeaveCriticalSection(&g_credentialsLock);
    return number;
}
