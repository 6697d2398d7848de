#include "settings.h"

#include "app.h"
#include "credentials.h"
#include "settings_rules.h"

namespace {

// A UTF-16 unit takes at most three bytes in any ANSI code page, UTF-8 included.
const int kAnsiValueSize = 3 * kQuotedValueSize;

// The file is read and written through the UTF-16 calls, since only they can
// name a file in a folder the ANSI code page cannot spell; the values go
// through the ANSI code page on the way, so the file holds the same bytes as
// ever. The read has room for the quotation marks a value may be wrapped in,
// so that they do not count against its 255 bytes; storing cuts it to 255.
void readValue(const WCHAR* section, const WCHAR* key, char (&value)[kAnsiValueSize]) {
    WCHAR wide[kQuotedValueSize] = {};
    if (g_settingsPath[0])
        GetPrivateProfileStringW(section, key, L"", wide, kQuotedValueSize, g_settingsPath);
    WideCharToMultiByte(CP_ACP, 0, wide, -1, value, kAnsiValueSize, NULL, NULL);
}

bool writeValue(const WCHAR* key, const char* value) {
    char text[kQuotedValueSize];
    profileValueToWrite(text, value);
    WCHAR wide[kQuotedValueSize] = {};
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kQuotedValueSize);
    return !g_settingsPath[0] || WritePrivateProfileStringW(kProgramNameW, key, wide, g_settingsPath);
}

}  // namespace

void deriveSettingsPath() {
    DWORD length = GetModuleFileNameW(NULL, g_settingsPath, MAX_PATH);
    settingsPathFromModulePath(g_settingsPath, length, MAX_PATH);
}

void loadCredentials() {
    char username[kAnsiValueSize] = {};
    char password[kAnsiValueSize] = {};
    readValue(kProgramNameW, L"username", username);
    readValue(kProgramNameW, L"password", password);
    storeCredentials(username, password);
}

void loadServiceAddress(char* address) {
    char value[kAnsiValueSize] = {};
    readValue(kProgramNameW, L"service", value);
    lstrcpynA(address, value, kCredentialSize);
}

bool saveCredentials(const char* username, const char* password) {
    storeCredentials(username, password);
    bool written = writeValue(L"username", username);
    return writeValue(L"password", password) && written;
}

bool loadFurtherAccount(unsigned number, char* address, char* username, char* password) {
    WCHAR section[kSectionNameSize];
    accountSectionName(section, number);
    // Any key at all makes the section there; one with none is as none.
    WCHAR keys[4];
    if (!g_settingsPath[0] || !GetPrivateProfileSectionW(section, keys, 4, g_settingsPath))
        return false;
    char value[kAnsiValueSize] = {};
    readValue(section, L"service", value);
    lstrcpynA(address, value, kCredentialSize);
    readValue(section, L"username", value);
    lstrcpynA(username, value, kCredentialSize);
    readValue(section, L"password", value);
    lstrcpynA(password, value, kCredentialSize);
    return true;
}
